#include "publish/mqttpublisher.h"

#include "model/monitordata.h"
#include "publish/packjson.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int KeepAliveS = 30;
constexpr int Qos = 1;

void initLibrary()
{
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    Q_UNUSED(done);
}

} // namespace

Result MqttPublisher::parseUrl(const QString &url, Broker *broker)
{
    const QString text = url.trimmed();
    if (text.isEmpty())
        return Result::failure(QStringLiteral("no broker URL given"));
    const int separator = text.indexOf(QLatin1String("://"));
    const QString scheme = separator < 0 ? QString() : text.left(separator).toLower();
    if (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))
        return Result::failure(QStringLiteral("'%1': use mqtt://host[:port] or mqtts://host[:port]").arg(url));
    QString rest = text.mid(separator + 3);
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    if (rest.contains(QLatin1Char('@')))
        return Result::failure(
            QStringLiteral("'%1': the user and password go in the settings, not in the URL").arg(url));
    if (rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('?')) || rest.contains(QLatin1Char('#')))
        return Result::failure(QStringLiteral("'%1': a broker URL has no path").arg(url));
    // A host name or IPv4 address, or an IPv6 address in brackets; then
    // perhaps a port.
    QString host, port;
    bool hostOk = true;
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = rest.indexOf(QLatin1Char(']'));
        host = rest.mid(1, close - 1);
        const QString after = close < 0 ? QStringLiteral("?") : rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            hostOk = false;
        port = after.mid(1);
        for (const QChar c : host)
            hostOk = hostOk && (c.isDigit() || QStringLiteral("abcdefABCDEF:.").contains(c));
    } else {
        const int colon = rest.indexOf(QLatin1Char(':'));
        host = colon < 0 ? rest : rest.left(colon);
        port = colon < 0 ? QString() : rest.mid(colon + 1);
        for (const QChar c : host)
            hostOk = hostOk && c.unicode() < 128 && (c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_'));
    }
    if (host.isEmpty())
        return Result::failure(QStringLiteral("'%1' names no host").arg(url));
    if (!hostOk)
        return Result::failure(QStringLiteral("'%1': '%2' is not a host name or address").arg(url, host));
    const bool tls = scheme == QLatin1String("mqtts");
    int number = tls ? 8883 : 1883;
    if (!port.isNull()) {
        bool ok = !port.isEmpty() && std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); });
        number = ok ? port.toInt(&ok) : 0;
        if (!ok || number < 1 || number > 65535)
            return Result::failure(QStringLiteral("'%1': the port must be a number from 1 to 65535").arg(url));
    }
    if (broker)
        *broker = {tls, host.toLower(), number};
    return Result();
}

MqttPublisher::MqttPublisher(QObject *parent)
    : QObject(parent), m_miscTimer(new QTimer(this)), m_retryTimer(new QTimer(this)), m_graceTimer(new QTimer(this))
{
    initLibrary();
    m_miscTimer->setInterval(1000);
    connect(m_miscTimer, &QTimer::timeout, this, &MqttPublisher::onMisc);
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &MqttPublisher::connectNow);
    m_graceTimer->setSingleShot(true);
    connect(m_graceTimer, &QTimer::timeout, this, &MqttPublisher::finishStop);
}

MqttPublisher::~MqttPublisher() { destroyClient(); }

Result MqttPublisher::setBroker(const QString &url, const QString &user, const QString &password,
                                const QString &caFile, const QString &serviceId)
{
    Broker broker;
    const Result parsed = parseUrl(url, &broker);
    if (!parsed.ok())
        return parsed;
    if (broker.tls && caFile.isEmpty())
        return Result::failure(QStringLiteral("'%1': mqtts needs a CA file to check the broker with").arg(url));
    if (!caFile.isEmpty() && !(QFileInfo(caFile).isFile() && QFileInfo(caFile).isReadable()))
        return Result::failure(QStringLiteral("cannot read the CA file %1").arg(caFile));
    if (serviceId.trimmed().isEmpty())
        return Result::failure(QStringLiteral("no service id given"));
    m_url = url.trimmed();
    m_broker = broker;
    m_user = user.toUtf8();
    m_password = password.toUtf8();
    m_caFile = broker.tls ? QFile::encodeName(caFile) : QByteArray();
    m_serviceId = serviceId;
    m_clientId = serviceId.toUtf8();
    m_serviceKey = PackJson::serviceKey(serviceId);
    return Result();
}

void MqttPublisher::start()
{
    if (m_running || m_url.isEmpty())
        return;
    m_running = true;
    m_stopping = false;
    m_retryMs = FirstRetryMs;
    connectNow();
}

void MqttPublisher::stop(int graceMs)
{
    if (!m_running || m_stopping)
        return;
    m_stopping = true;
    m_retryTimer->stop();
    // A clean disconnect sends no last will: the goodbyes are said here.
    for (Pack &p : m_packs) {
        if (p.online)
            push(p.availabilityTopic, PackJson::offline(), true);
        p.online = false;
    }
    push(PackJson::serviceAvailabilityTopic(m_serviceKey), PackJson::offline(), true);
    if (!m_connected) {
        finishStop();
        return;
    }
    pump();
    m_graceTimer->start(graceMs);
}

void MqttPublisher::finishStop()
{
    m_graceTimer->stop();
    if (m_client && m_connected) {
        mosquitto_disconnect(m_client);
        mosquitto_loop_write(m_client, 1);
    }
    destroyClient();
    const int left = m_outbox.size();
    m_connected = false;
    m_running = false;
    m_stopping = false;
    if (left > 0)
        emit logLine(QStringLiteral("MQTT: stopped with %1 message(s) not delivered").arg(left));
    changed();
    emit stopped();
}

MqttPublisher::Pack &MqttPublisher::pack(quint8 id, const QString &serial)
{
    Pack &p = m_packs[id];
    const QByteArray key = PackJson::packKey(serial, id);
    if (p.key != key) {
        // Another pack at this ID (or its first sample): the earlier one
        // says goodbye, the new one counts from 1.
        if (p.online)
            push(p.availabilityTopic, PackJson::offline(), true);
        p = Pack();
        p.key = key;
        p.stateTopic = PackJson::stateTopic(key);
        p.availabilityTopic = PackJson::availabilityTopic(key);
    }
    return p;
}

void MqttPublisher::packOnline(quint8 id, const BmsLiveData &live)
{
    if (!m_running || m_stopping)
        return;
    Pack &p = pack(id, serialText(live));
    for (const PackJson::Message &m : PackJson::discovery(id, live, m_serviceId))
        push(m.topic, m.payload, m.retain);
    push(p.availabilityTopic, PackJson::online(), true);
    p.online = true;
}

void MqttPublisher::packOffline(quint8 id, const QString &serial)
{
    if (!m_running || m_stopping)
        return;
    Pack &p = pack(id, serial);
    push(p.availabilityTopic, PackJson::offline(), true);
    p.online = false;
}

void MqttPublisher::sample(quint8 id, const BmsLiveData &live, const QString &time)
{
    if (!m_running || m_stopping)
        return;
    Pack &p = pack(id, serialText(live));
    push(p.stateTopic, PackJson::state(id, live, time, ++p.seq), false);
}

void MqttPublisher::push(const QByteArray &topic, const QByteArray &payload, bool retain)
{
    const qint64 lostBefore = m_outbox.lost();
    m_outbox.push(topic, payload, retain);
    if (m_outbox.lost() != lostBefore && !m_full) {
        m_full = true;
        emit logLine(QStringLiteral("MQTT: %1 messages queued, the outbox is full: the oldest samples are given up")
                         .arg(m_outbox.size()));
    }
    if (m_connected)
        pump();
    else
        changed();
}

void MqttPublisher::connectNow()
{
    destroyClient();
    m_connack = -1;
    m_disconnected = false;
    // A client of its own for every connection: what the library kept of
    // the last one is gone, and the outbox alone says what is sent again.
    m_client = mosquitto_new(m_clientId.constData(), true, this);
    if (!m_client) {
        dropConnection(QStringLiteral("cannot make an MQTT client"));
        return;
    }
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_client, &MqttPublisher::onConnectCallback);
    mosquitto_disconnect_callback_set(m_client, &MqttPublisher::onDisconnectCallback);
    mosquitto_publish_callback_set(m_client, &MqttPublisher::onPublishCallback);
    mosquitto_log_callback_set(m_client, &MqttPublisher::onLogCallback);
    m_libraryError.clear();
    if (!m_user.isEmpty())
        mosquitto_username_pw_set(m_client, m_user.constData(), m_password.isEmpty() ? nullptr : m_password.constData());
    const QByteArray willTopic = PackJson::serviceAvailabilityTopic(m_serviceKey);
    const QByteArray offline = PackJson::offline();
    mosquitto_will_set(m_client, willTopic.constData(), offline.size(), offline.constData(), Qos, true);
    if (m_broker.tls) {
        const int rc = mosquitto_tls_set(m_client, m_caFile.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            dropConnection(QStringLiteral("CA file %1: %2").arg(QFile::decodeName(m_caFile), reasonOf(rc)));
            return;
        }
    }
    errno = 0;
    const int rc = mosquitto_connect_async(m_client, m_broker.host.toUtf8().constData(), m_broker.port, KeepAliveS);
    if (rc != MOSQ_ERR_SUCCESS) {
        dropConnection(reasonOf(rc));
        return;
    }
    const int fd = mosquitto_socket(m_client);
    m_readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &MqttPublisher::onReadable);
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &MqttPublisher::onWritable);
    m_writeNotifier->setEnabled(mosquitto_want_write(m_client));
    m_miscTimer->start();
}

void MqttPublisher::onReadable()
{
    if (m_client)
        afterLoop(mosquitto_loop_read(m_client, 1));
}

void MqttPublisher::onWritable()
{
    if (m_client)
        afterLoop(mosquitto_loop_write(m_client, 1));
}

void MqttPublisher::onMisc()
{
    if (m_client)
        afterLoop(mosquitto_loop_misc(m_client));
}

void MqttPublisher::onConnectCallback(mosquitto *, void *self, int rc) { static_cast<MqttPublisher *>(self)->m_connack = rc; }

void MqttPublisher::onDisconnectCallback(mosquitto *, void *self, int) { static_cast<MqttPublisher *>(self)->m_disconnected = true; }

void MqttPublisher::onPublishCallback(mosquitto *, void *self, int mid)
{
    // The service's own status messages are not in the outbox: their
    // acknowledgements find nothing there.
    static_cast<MqttPublisher *>(self)->m_outbox.acknowledge(mid);
}

void MqttPublisher::onLogCallback(mosquitto *, void *self, int level, const char *text)
{
    // OpenSSL's reason for a refused certificate comes only this way.
    if (level & MOSQ_LOG_ERR)
        static_cast<MqttPublisher *>(self)->m_libraryError = QString::fromUtf8(text);
}

void MqttPublisher::afterLoop(int rc)
{
    if (m_connack > 0) {
        QString reason = QString::fromUtf8(mosquitto_connack_string(m_connack));
        if (reason.endsWith(QLatin1Char('.')))
            reason.chop(1);
        dropConnection(QStringLiteral("the broker refused the connection: %1").arg(reason));
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS || m_disconnected || mosquitto_socket(m_client) < 0) {
        dropConnection(rc != MOSQ_ERR_SUCCESS ? reasonOf(rc) : QStringLiteral("the connection was lost"));
        return;
    }
    if (m_connack == 0 && !m_connected) {
        m_connected = true;
        m_retryMs = FirstRetryMs;
        m_full = false;
        const int waiting = m_outbox.size();
        m_backlog = waiting > 0;
        emit logLine(waiting > 0 ? QStringLiteral("MQTT broker %1 connected, sending %2 queued message(s)").arg(m_url).arg(waiting)
                                 : QStringLiteral("MQTT broker %1 connected").arg(m_url));
        m_lastError.clear();
        // The service first, so that it is "online" before its packs.
        publishDirect(PackJson::serviceAvailabilityTopic(m_serviceKey), PackJson::online());
        publishDirect(PackJson::serviceStatusTopic(m_serviceKey),
                      PackJson::serviceStatus(true, waiting, m_outbox.lost(), QString()));
        changed();
    }
    if (m_connected)
        pump();
    // Also while connecting: the TLS handshake and the CONNECT packet
    // want the socket writable at moments of the library's choosing.
    if (m_client && m_writeNotifier)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_client));
}

void MqttPublisher::publishDirect(const QByteArray &topic, const QByteArray &payload)
{
    mosquitto_publish(m_client, nullptr, topic.constData(), payload.size(), payload.constData(), Qos, true);
}

void MqttPublisher::pump()
{
    if (!m_client || !m_connected)
        return;
    while (Outbox::Message *m = m_outbox.next(Window)) {
        int mid = 0;
        const int rc = mosquitto_publish(m_client, &mid, m->topic.constData(), m->payload.size(),
                                         m->payload.constData(), Qos, m->retain);
        if (rc != MOSQ_ERR_SUCCESS) {
            // The connection broke under the write: the read side or the
            // timer finds out and reconnects.
            break;
        }
        m_outbox.handedOver(m, mid);
    }
    if (m_backlog && m_outbox.isEmpty()) {
        m_backlog = false;
        emit logLine(QStringLiteral("MQTT: the queued messages are delivered"));
        publishDirect(PackJson::serviceStatusTopic(m_serviceKey),
                      PackJson::serviceStatus(true, 0, m_outbox.lost(), QString()));
        changed();
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_client));
    if (m_stopping && m_outbox.isEmpty())
        QTimer::singleShot(0, this, &MqttPublisher::finishStop);
}

void MqttPublisher::dropConnection(const QString &reason)
{
    const bool wasConnected = m_connected;
    destroyClient();
    m_connected = false;
    m_outbox.resendAll();
    if (m_stopping) {
        finishStop();
        return;
    }
    if (wasConnected)
        emit logLine(QStringLiteral("MQTT broker %1 disconnected: %2; queueing messages, retrying in %3 s")
                         .arg(m_url, reason)
                         .arg(m_retryMs / 1000));
    else if (reason != m_lastError)
        emit logLine(QStringLiteral("MQTT broker %1 not reachable: %2; queueing messages, retrying in %3 s")
                         .arg(m_url, reason)
                         .arg(m_retryMs / 1000));
    m_lastError = reason;
    changed();
    scheduleRetry();
}

void MqttPublisher::scheduleRetry()
{
    m_retryTimer->start(m_retryMs);
    m_retryMs = qMin(m_retryMs * 2, LastRetryMs);
}

void MqttPublisher::destroyClient()
{
    m_miscTimer->stop();
    // The notifiers go before the socket closes, so that they never watch a
    // number the system hands out again.
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_client) {
        mosquitto_destroy(m_client);
        m_client = nullptr;
    }
}

void MqttPublisher::changed() { emit statusChanged(); }

QString MqttPublisher::reasonOf(int rc) const
{
    if (rc == MOSQ_ERR_ERRNO && errno != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    // The library's sentences end in a full stop; ours go on after them.
    QString text = QString::fromUtf8(mosquitto_strerror(rc));
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if ((rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE) && !m_libraryError.isEmpty())
        text += QStringLiteral(" (%1)").arg(m_libraryError);
    return text;
}

QString MqttPublisher::statusText() const
{
    if (!m_running)
        return QString();
    if (m_connected)
        return m_outbox.isEmpty() ? QStringLiteral("MQTT connected")
                                  : QStringLiteral("MQTT connected, %1 queued").arg(m_outbox.size());
    QString text = QStringLiteral("MQTT disconnected");
    if (!m_lastError.isEmpty())
        text += QStringLiteral(" (%1)").arg(m_lastError);
    text += QStringLiteral(", %1 queued").arg(m_outbox.size());
    if (m_outbox.lost() > 0)
        text += QStringLiteral(", %1 given up").arg(m_outbox.lost());
    return text;
}
