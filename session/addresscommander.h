#pragma once

#include "model/result.h"
#include "protocol/addresscommands.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QTimer;

// The pack's own commands for its bus ID and port protocols, sent outside
// monitoring, and the only owner of what they wait for: the answer to a
// read, the confirmation of a set (which the pack must give within
// ConfirmTimeoutMs, or the change counts as not made).
class AddressCommander : public QObject
{
    Q_OBJECT
public:
    // How long a set command waits for the pack to confirm it.
    static constexpr int ConfirmTimeoutMs = 1000;

    // `send` puts a frame on the line (monitoring stopped, the port opened
    // anew); a failure carries the system's reason.
    using Sender = std::function<Result(const QByteArray &frame)>;
    explicit AddressCommander(Sender send, QObject *parent = nullptr);

    // ReadId, ReadRs485Protocol or ReadCanProtocol. False (and sendFailed)
    // when the frame could not be sent.
    bool read(AddressCommands::Code code);
    // SetId, SetRs485Protocol or SetCanProtocol with `value`.
    bool set(AddressCommands::Code code, quint8 value);

    // An answer while not monitoring, as the session hands it over.
    void answered(const QByteArray &frame);

signals:
    // The pack's ID (-1: the answer carried none; an ID outside 1..64 is
    // passed on as it came).
    void idRead(int id);
    void protocolsRead(AddressCommands::Code code, const AddressCommands::ProtocolList &list);
    void setConfirmed(AddressCommands::Code code);
    void setUnconfirmed();
    void sendFailed(const QString &reason);

private:
    bool send(const QByteArray &frame);

    Sender m_send;
    QTimer *m_confirmTimer;
};
