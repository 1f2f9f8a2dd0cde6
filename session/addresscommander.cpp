#include "session/addresscommander.h"

#include <QTimer>

using namespace AddressCommands;

AddressCommander::AddressCommander(Sender send, QObject *parent)
    : QObject(parent), m_send(std::move(send)), m_confirmTimer(new QTimer(this))
{
    m_confirmTimer->setSingleShot(true);
    m_confirmTimer->setInterval(ConfirmTimeoutMs);
    connect(m_confirmTimer, &QTimer::timeout, this, &AddressCommander::setUnconfirmed);
}

bool AddressCommander::send(const QByteArray &frame)
{
    const Result sent = m_send(frame);
    if (sent.ok())
        return true;
    emit sendFailed(sent.error());
    return false;
}

bool AddressCommander::read(Code code) { return send(readRequest(code)); }

bool AddressCommander::set(Code code, quint8 value)
{
    if (!send(setRequest(code, value)))
        return false;
    // Started once the frame is out: a box about an unopenable port may
    // have held the send up.
    m_confirmTimer->start();
    return true;
}

void AddressCommander::answered(const QByteArray &frame)
{
    if (frame.size() < 2)
        return;
    const Code code = Code(quint8(frame[1]));
    switch (code) {
    case ReadId:
        emit idRead(idFromAnswer(frame));
        break;
    case ReadRs485Protocol:
    case ReadCanProtocol:
        emit protocolsRead(code, parseProtocolList(frame));
        break;
    case SetRs485Protocol:
    case SetCanProtocol:
    case SetId:
        m_confirmTimer->stop();
        emit setConfirmed(code);
        break;
    }
}
