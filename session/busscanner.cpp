#include "session/busscanner.h"

#include "link/linkport.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "protocol/frames.h"

#include <QTimer>

BusScanner::BusScanner(LinkPort *port, QObject *parent)
    : QObject(parent), m_port(port ? port : new SerialLinkPort), m_timer(new QTimer(this))
{
    m_port->setParent(this);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &BusScanner::giveUp);
    connect(m_port, &LinkPort::readyRead, this, &BusScanner::bytesArrived);
    connect(m_port, &LinkPort::failed, this, &BusScanner::failed, Qt::QueuedConnection);
}

int BusScanner::timeoutMs(int baud)
{
    // 8 bytes out, 5 + 46 back, 11 bits a byte; the pack's delay (tens of
    // milliseconds) and a busy PC's scheduling on top.
    const int wireMs = int((8 + 51) * 11 * 1000LL / qMax(1, baud));
    return wireMs + 100;
}

Result BusScanner::start(const QString &portName, int baud, int first, int last)
{
    m_found.clear();
    m_result = Result();
    if (!m_port->open(portName, baud))
        return Result::failure(m_port->errorString());
    m_timeoutMs = timeoutMs(baud);
    m_next = first;
    m_last = last;
    m_running = true;
    askNext();
    return Result();
}

void BusScanner::stop()
{
    m_timer->stop();
    m_port->close();
    m_running = false;
}

void BusScanner::askNext()
{
    if (m_next > m_last) {
        stop();
        emit finished();
        return;
    }
    m_current = m_next++;
    m_held.clear();
    m_port->readAll(); // what a late answer left
    if (!m_port->write(Frames::identityRead(quint8(m_current)))) {
        failed(m_port->errorString());
        return;
    }
    m_timer->start(m_timeoutMs);
}

void BusScanner::bytesArrived()
{
    if (!m_running)
        return;
    m_held += m_port->readAll();
    if (Frames::classifyBurst(m_held, quint8(m_current)) != Frames::Burst::Complete)
        return;
    const int length = Frames::expectedLength(m_held);
    const QByteArray answer = m_held.left(length);
    if (length != 5 + 2 * Reg::IdentityCount || Frames::checkAnswer(answer) != Frames::Check::Ok
        || quint8(answer[0]) != m_current || Frames::functionCode(answer) != Frames::ReadHolding)
        return; // not this pack's identity: wait out the time
    m_timer->stop();
    BmsLiveData identity;
    identity.requestKind = IdentityRead;
    storeReadAnswer(answer, identity);
    Pack pack{m_current, modelText(identity), versionText(identity), serialText(identity)};
    m_found.append(pack);
    emit asked(m_current, &m_found.last());
    askNext();
}

void BusScanner::giveUp()
{
    emit asked(m_current, nullptr);
    askNext();
}

void BusScanner::failed(const QString &reason)
{
    if (!m_running)
        return;
    m_result = Result::failure(reason);
    stop();
    emit finished();
}
