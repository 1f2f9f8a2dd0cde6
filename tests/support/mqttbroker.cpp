#include "support/mqttbroker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port nobody listens on now: the system's choice for a socket bound to
// port 0.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

} // namespace

QString mosquittoProgram(const QString &name)
{
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
}

// Its log goes to a file in its folder; its complaint about running as root
// is no news to a test.
MqttBroker::MqttBroker() { m_process.setStandardErrorFile(QProcess::nullDevice()); }

MqttBroker::~MqttBroker() { stop(); }

bool MqttBroker::start()
{
    if (!m_port)
        m_port = freePort();
    const QString config = m_dir.filePath(QStringLiteral("broker.conf"));
    QFile file(config);
    // Started by root, mosquitto would become user "mosquitto", who may not
    // write the test's folder: it stays who started it.
    const passwd *user = ::getpwuid(::getuid());
    const QByteArray text = QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence true\n"
                                           "persistence_location %2/\nlog_dest file %2/broker.log\nuser %3\n")
                                .arg(m_port)
                                .arg(m_dir.path(), QString::fromLocal8Bit(user ? user->pw_name : "root"))
                                .toLocal8Bit()
                            + (m_logEverything ? "log_type all\n" : "")
                            + (m_tls.size() == 2 ? QStringLiteral("certfile %1\nkeyfile %2\n").arg(m_tls[0], m_tls[1]).toLocal8Bit()
                                                 : QByteArray());
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        m_error = file.errorString();
        return false;
    }
    file.close();
    m_process.start(mosquittoProgram(QStringLiteral("mosquitto")), {QStringLiteral("-c"), config});
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(20000);
    while (!accepts(m_port)) {
        if (deadline.hasExpired() || !isRunning()) {
            m_error = QStringLiteral("mosquitto does not listen on port %1").arg(m_port);
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

void MqttBroker::stop()
{
    if (!isRunning())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

MqttSubscriber::~MqttSubscriber() { stop(); }

bool MqttSubscriber::start(int port, const QStringList &topics, const QString &clientId)
{
    QStringList arguments{"-h", "127.0.0.1", "-p", QString::number(port), "-i", clientId, "-c", "-q", "1",
                          "-F", "%r %t %p"};
    for (const QString &topic : topics)
        arguments << QStringLiteral("-t") << topic;
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(mosquittoProgram(QStringLiteral("mosquitto_sub")), arguments);
    return m_process.waitForStarted(10000);
}

const QVector<MqttSubscriber::Message> &MqttSubscriber::messages()
{
    m_pending += m_process.readAllStandardOutput();
    int end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        const int space = line.indexOf(' ', 2);
        if (line.size() < 3 || space < 0)
            continue;
        m_messages.append({line.startsWith('1'), QString::fromUtf8(line.mid(2, space - 2)), line.mid(space + 1)});
    }
    return m_messages;
}

QList<QByteArray> MqttSubscriber::payloads(const QString &topic)
{
    QList<QByteArray> found;
    for (const Message &m : messages())
        if (m.topic == topic)
            found << m.payload;
    return found;
}

void MqttSubscriber::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}
