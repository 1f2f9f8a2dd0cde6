#pragma once

#include "model/livedata.h"
#include "model/result.h"
#include "publish/outbox.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;
struct mosquitto;

// Publishes the packs' samples to an MQTT broker (QoS 1), with Home
// Assistant discovery, through libmosquitto driven by this thread's event
// loop: the client's socket is watched by socket notifiers, a timer runs its
// keep-alive, and no thread of the library's own is started.
//
// Topics (PackJson names them): packscope/<serial>/state, one JSON message a
// sample; packscope/<serial>/availability, retained "online" or "offline";
// packscope/<service id>/availability, retained "online", and "offline" by
// the client's last will when the service dies without saying goodbye;
// packscope/<service id>/status, retained JSON (connected, queued, lost,
// last error); homeassistant/.../config, the retained discovery messages.
//
// Nothing is lost while the broker is away: every message waits in the
// outbox (bounded; see Outbox) and is sent in order once a connection is
// back; reconnecting waits 1 s, then twice as long after every failure, up
// to 60 s. A message leaves the outbox on its PUBACK only: one the broker
// did not acknowledge before the connection broke is sent again, first. So
// a message the broker took but whose acknowledgement was lost with the
// connection arrives twice; QoS 1 cannot tell, and the state message's
// "seq" lets a consumer see it.
class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    struct Broker
    {
        bool tls = false;
        QString host;
        int port = 0;
    };
    // mqtt://host[:port] (1883) or mqtts://host[:port] (8883); a host name,
    // an IPv4 address or an IPv6 one in brackets. Anything else (another
    // scheme, a path, user or password in the URL, a port that is not a
    // number from 1 to 65535) is refused with the reason.
    static Result parseUrl(const QString &url, Broker *broker);

    explicit MqttPublisher(QObject *parent = nullptr);
    ~MqttPublisher() override;

    // The broker and who we are to it. mqtts needs a CA file that can be
    // read. `serviceId` is the client id and names the service's topics.
    // Refused (nothing changes) with the reason.
    Result setBroker(const QString &url, const QString &user, const QString &password, const QString &caFile,
                     const QString &serviceId);
    QString url() const { return m_url; }
    QString serviceId() const { return m_serviceId; }

    // Connects, and keeps reconnecting until stop().
    void start();
    // Says goodbye: every pack online and the service "offline", waits up
    // to `graceMs` for the broker to take what is queued, disconnects, and
    // emits stopped() (at once when not connected; what was queued is then
    // given up).
    void stop(int graceMs = 3000);
    bool isRunning() const { return m_running; }

    // Pack `id` answered its identity read: its discovery messages and its
    // availability "online". A different pack at the same ID (another
    // serial) makes the earlier one "offline" first.
    void packOnline(quint8 id, const BmsLiveData &live);
    // Pack `id` stopped answering: its availability "offline".
    void packOffline(quint8 id, const QString &serial);
    // One sample of pack `id` taken at `time`: its state message.
    void sample(quint8 id, const BmsLiveData &live, const QString &time);

    bool isConnected() const { return m_connected; }
    int queued() const { return m_outbox.size(); }
    qint64 lost() const { return m_outbox.lost(); }
    qint64 queuedBytes() const { return m_outbox.bytes(); }
    QString lastError() const { return m_lastError; }
    // One line for a status bar: "MQTT connected", "MQTT disconnected
    // (Connection refused), 120 queued".
    QString statusText() const;
    void setQueueCapacity(int messages) { m_outbox = Outbox(messages); }

    // Messages handed to the client and not yet acknowledged, at most.
    static constexpr int Window = 16;
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LastRetryMs = 60000;

signals:
    // Connected or not, the number queued, the last error: see statusText().
    void statusChanged();
    // A change of state worth a line in a log: connected, disconnected,
    // queueing, the backlog sent, the outbox full.
    void logLine(const QString &line);
    void stopped();

private:
    struct Pack
    {
        QByteArray key;
        QByteArray stateTopic;
        QByteArray availabilityTopic;
        quint64 seq = 0;
        bool online = false;
    };

    Pack &pack(quint8 id, const QString &serial);
    void push(const QByteArray &topic, const QByteArray &payload, bool retain);
    void connectNow();
    // After every call into the client: its callbacks' news, a lost
    // connection, more to send, whether to watch for writing.
    void afterLoop(int rc);
    void onReadable();
    void onWritable();
    void onMisc();
    void pump();
    void publishDirect(const QByteArray &topic, const QByteArray &payload);
    void dropConnection(const QString &reason);
    void destroyClient();
    void scheduleRetry();
    void setError(const QString &error);
    void changed();
    void finishStop();
    QString reasonOf(int rc) const;

    static void onConnectCallback(mosquitto *, void *self, int rc);
    static void onDisconnectCallback(mosquitto *, void *self, int rc);
    static void onPublishCallback(mosquitto *, void *self, int mid);
    static void onLogCallback(mosquitto *, void *self, int level, const char *text);

    QString m_url;
    Broker m_broker;
    QByteArray m_user, m_password, m_caFile, m_clientId, m_serviceKey;
    QString m_serviceId;

    mosquitto *m_client = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_miscTimer;
    QTimer *m_retryTimer;
    QTimer *m_graceTimer;
    int m_retryMs = FirstRetryMs;

    Outbox m_outbox;
    QMap<quint8, Pack> m_packs;
    bool m_running = false;
    bool m_stopping = false;
    bool m_connected = false;
    bool m_backlog = false;     // messages waited for this connection
    bool m_full = false;        // the outbox gave messages up in this outage
    int m_connack = -1;         // the CONNACK's code, set by the callback
    bool m_disconnected = false;// set by the callback
    QString m_lastError;
    QString m_libraryError; // the library's last error line (TLS's reason)
};
