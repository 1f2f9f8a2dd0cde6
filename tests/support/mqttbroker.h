#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

// A mosquitto broker of the test's own on a free local port, anonymous,
// with its persistence in a folder of its own: stopped and started again,
// it keeps the retained messages and the QoS 1 messages queued for a
// persistent subscriber, as a broker restarted by its service manager does.
class MqttBroker
{
public:
    MqttBroker();
    ~MqttBroker(); // stops it
    MqttBroker(const MqttBroker &) = delete;
    MqttBroker &operator=(const MqttBroker &) = delete;

    // Starts it (on the same port as before after a stop) and waits until
    // it takes connections. False with errorString() when it does not.
    bool start();
    // SIGTERM (it saves its messages), then waits for its end.
    void stop();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // Every packet in its log (log_type all), set before start().
    void setLogEverything(bool on) { m_logEverything = on; }
    // TLS only, with this certificate and key (mqtts), set before start().
    void setTls(const QString &certFile, const QString &keyFile) { m_tls = QStringList{certFile, keyFile}; }
    QString logFile() const { return m_dir.filePath(QStringLiteral("broker.log")); }
    int port() const { return m_port; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port); }
    QString errorString() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    bool m_logEverything = false;
    QStringList m_tls;
    QString m_error;
};

// mosquitto_sub on the broker with a persistent session (QoS 1, a client
// id of its own): what it receives, a message a line, also across a
// restart of the broker (it reconnects by itself).
class MqttSubscriber
{
public:
    struct Message
    {
        bool retained = false;
        QString topic;
        QByteArray payload;
    };

    ~MqttSubscriber();
    bool start(int port, const QStringList &topics, const QString &clientId = QStringLiteral("packscope-test-sub"));
    // Every message received so far, in order.
    const QVector<Message> &messages();
    // The payloads received on `topic`, in order.
    QList<QByteArray> payloads(const QString &topic);
    void stop();

private:
    QProcess m_process;
    QByteArray m_pending;
    QVector<Message> m_messages;
};

// The path of a mosquitto program (mosquitto, mosquitto_sub), empty when it
// is not installed.
QString mosquittoProgram(const QString &name);
