#include "session/bmssession.h"

#include "protocol/frames.h"
#include "protocol/recordread.h"
#include "model/livedata.h"
#include "model/monitordata.h"

#include <QTimer>
#include <memory>

BmsSession::BmsSession(LinkPort *port, QObject *parent)
    : QObject(parent), m_link(new SerialLink(port, this)), m_writer(new ParameterWriter(this)),
      m_datalog(new DatalogReader(this)),
      m_commands(new AddressCommander(
          [this](const QByteArray &frame) { return sendCommand(frame); },
          this))
{
    m_images.resize(65);
    m_online.resize(65);
    m_answered.resize(65);
    m_link->setImageSource([this](quint8 id) -> BmsLiveData & { return image(id); });
    m_link->setWriteFrameSource([this] { return m_writer->frame(); });
    m_link->setRecordFrameSource([this] { return m_datalog->requestFrame(); });
    connect(m_link, &SerialLink::answerReceived, this, &BmsSession::dispatch);
    connect(m_link, &SerialLink::writeAbandoned, m_writer, &ParameterWriter::notAcknowledged);
    connect(m_link, &SerialLink::readRefused, this, &BmsSession::readRefused);
    connect(m_link, &SerialLink::wentOffline, this, [this](quint8 id) {
        if (id < m_answered.size() && !m_answered[id]) {
            m_answered[id] = true;
            emit packNotAnswering(id);
        }
        setOnline(id, false);
        if (id == selectedPack()) {
            m_writer->forgetPack();
            emit offline();
        }
    });
    connect(m_link, &SerialLink::portLost, this, [this](const QString &name, const QString &reason, bool watching) {
        m_writer->forgetPack();
        allOffline();
        if (!watching)
            m_monitoring = false;
        emit portLost(name, reason, watching);
    });
    connect(m_link, &SerialLink::portRecovered, this, &BmsSession::portRecovered);
    connect(m_link, &SerialLink::turnChanged, this, &BmsSession::cycleChanged);
    connect(m_link, &SerialLink::frameSent, this, &BmsSession::frameSent);
    connect(m_link, &SerialLink::frameTaken, this, &BmsSession::frameTaken);
    connect(m_link, &SerialLink::frameTimerExpired, this, &BmsSession::burstEnded);
    connect(m_link, &SerialLink::countersChanged, this, &BmsSession::countersChanged);
    // The fast pace: the writer's next frame after the line's gap.
    connect(m_writer, &ParameterWriter::nextSoon, this, &BmsSession::pollAfterGap);
}

QString BmsSession::sampleTime() const
{
    const QDateTime now = m_clock ? m_clock() : QDateTime::currentDateTime();
    return now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

BmsLiveData &BmsSession::image(quint8 id)
{
    if (id == selectedPack() || id >= m_images.size())
        return liveData();
    if (!m_images[id])
        m_images[id] = std::make_unique<BmsLiveData>();
    return *m_images[id];
}

const BmsLiveData &BmsSession::packData(quint8 id) const
{
    return const_cast<BmsSession *>(this)->image(id);
}

quint8 BmsSession::packSharingSerial(quint8 id) const
{
    const QString serial = serialText(packData(id));
    for (const quint8 other : m_link->addresses()) {
        if (other != id && isPackOnline(other) && serialText(packData(other)) == serial)
            return other;
    }
    return 0;
}

void BmsSession::setOnline(quint8 id, bool online)
{
    if (id >= m_online.size() || m_online[id] == online)
        return;
    m_online[id] = online;
    if (online)
        m_answered[id] = true;
    if (!online)
        emit packOffline(id);
}

void BmsSession::allOffline()
{
    for (const quint8 id : m_link->addresses())
        setOnline(id, false);
}

void BmsSession::setAddresses(const QVector<quint8> &ids)
{
    const quint8 before = selectedPack();
    m_link->setAddresses(ids);
    const quint8 now = selectedPack();
    if (now != before) {
        // The newly selected pack's image becomes the live data block.
        if (!m_images[before])
            m_images[before] = std::make_unique<BmsLiveData>();
        *m_images[before] = liveData();
        liveData() = m_images[now] ? *m_images[now] : BmsLiveData{};
    }
}

bool BmsSession::selectPack(quint8 id)
{
    const quint8 before = selectedPack();
    if (id == before)
        return true;
    if (!m_link->addresses().contains(id) || m_writer->busy() || m_datalog->isReading())
        return false;
    // The pack left behind is only read from now on: a parameter read it
    // was waiting for becomes a monitoring read.
    BmsLiveData &left = liveData();
    if (left.nextRequest != IdentityRead)
        left.nextRequest = MonitorRead;
    if (!m_images[before])
        m_images[before] = std::make_unique<BmsLiveData>();
    *m_images[before] = left;
    liveData() = m_images[id] ? *m_images[id] : BmsLiveData{};
    m_link->selectAddress(id);
    // What the writer knew of the pack's parameters was the other pack's.
    m_writer->forgetPack();
    emit packSelected(id);
    return true;
}

Result BmsSession::start()
{
    m_link->resetCounters();
    m_answered.fill(false);
    const Result started = m_link->start();
    if (started.ok())
        m_monitoring = true;
    return started;
}

void BmsSession::stop()
{
    // A record read ends with the link (an answer on its way is lost).
    m_datalog->stop();
    m_link->stop();
    m_writer->forgetPack();
    m_monitoring = false;
    allOffline();
}

void BmsSession::stopAfterAnswer(std::function<void()> stopped)
{
    if (!m_monitoring || !m_link->holdForAnswer()) {
        stop();
        stopped();
        return;
    }
    auto done = std::make_shared<bool>(false);
    auto connection = std::make_shared<QMetaObject::Connection>();
    const auto finish = [this, stopped, done, connection] {
        if (*done)
            return;
        *done = true;
        QObject::disconnect(*connection);
        stop();
        stopped();
    };
    // The end of the next burst: the answer (dispatched by then), or bytes
    // of no use; or no answer within the time one may take.
    *connection = connect(m_link, &SerialLink::frameTimerExpired, this, finish);
    QTimer::singleShot(m_link->answerWaitMs(), this, finish);
}

void BmsSession::readParameters(bool soon)
{
    if (m_writer->busy())
        return;
    liveData().nextRequest = ParameterRead;
    if (soon)
        pollAfterGap();
}

void BmsSession::pollAfterGap() { m_link->pollSoon(RecordRead::fastGapMs(m_link->baudRate())); }

Result BmsSession::sendCommand(const QByteArray &frame)
{
    emit commandSending();
    if (m_monitoring)
        stop();
    return m_link->sendCommand(frame);
}

void BmsSession::dispatch(const QByteArray &frame)
{
    if (!m_monitoring) {
        m_commands->answered(frame);
        return;
    }
    const quint8 function = Frames::functionCode(frame);
    // The link hands over only an answer from the pack it asked.
    const quint8 id = quint8(frame[0]);
    if (id != selectedPack()) {
        BmsLiveData &pack = image(id);
        if (function != Frames::ReadHolding)
            return;
        if (pack.requestKind == IdentityRead) {
            storeReadAnswer(frame, pack);
            pack.nextRequest = MonitorRead;
            setOnline(id, true);
            emit packOnline(id);
        } else if (pack.requestKind == MonitorRead) {
            storeReadAnswer(frame, pack);
            emit packSampleRead(id);
        } else {
            pack.nextRequest = MonitorRead;
        }
        return;
    }
    BmsLiveData &live = liveData();
    if (function == Frames::ReadHolding) {
        switch (live.requestKind) {
        case IdentityRead:
            storeReadAnswer(frame);
            m_writer->forgetPack(); // a pack (back) online may hold anything
            live.nextRequest = MonitorRead;
            setOnline(id, true);
            emit online();
            emit packOnline(id);
            break;
        case MonitorRead:
            storeReadAnswer(frame);
            emit sampleRead();
            emit packSampleRead(id);
            break;
        case ParameterRead:
            // Back to monitoring, unless the answer starts a write (the
            // read before it) or a write's read-back ends.
            storeRegisters(frame, Reg::ParameterStart, live);
            live.nextRequest = MonitorRead;
            emit parametersRead();
            m_writer->parametersRead(live.registerImage);
            break;
        case DatalogRead:
            // The record an answer carries is the one its request asked for.
            m_datalog->answered(m_link->answeredRequest(), frame);
            if (m_datalog->wantsPollSoon())
                pollAfterGap();
            break;
        default:
            break;
        }
    } else if (function == Frames::WriteMultiple) {
        // The writer moves on, or reads back after the last frame; it
        // reports the end of the sequence itself.
        m_writer->acknowledged(frame);
    } else {
        // A refused write: the sequence ends here, and the ticks go back to
        // monitoring rather than repeat the refused frame.
        live.nextRequest = MonitorRead;
        m_writer->refused(frame.size() > 2 ? quint8(frame[2]) : 0);
    }
}
