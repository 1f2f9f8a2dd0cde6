#include "support/simprocess.h"

#include <QDeadlineTimer>

SimProcess::~SimProcess()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool SimProcess::start(const QStringList &arguments, int timeoutMs)
{
    stop();
    m_device.clear();
    m_error.clear();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(BMS_SIM_PATH), arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || !m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            m_error = isRunning() ? QStringLiteral("bms-sim named no device in time")
                                  : QStringLiteral("bms-sim ended with exit code %1").arg(m_process.exitCode());
            stop();
            return false;
        }
    }
    const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (!line.startsWith(QLatin1String("DEVICE "))) {
        m_error = QStringLiteral("bms-sim said \"%1\" instead of its device").arg(line);
        stop();
        return false;
    }
    m_device = line.mid(7);
    return true;
}

bool SimProcess::send(const QString &controlLine)
{
    if (!isRunning())
        return false;
    const QByteArray bytes = controlLine.toLocal8Bit() + '\n';
    if (m_process.write(bytes) != bytes.size())
        return false;
    // The line is buffered; make sure it left before the caller goes on.
    m_process.waitForBytesWritten(3000);
    return m_process.bytesToWrite() == 0;
}

QVector<quint16> SimProcess::registers(int start, int count)
{
    if (!send(QStringLiteral("registers %1 %2").arg(start).arg(count)))
        return {};
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        while (m_process.canReadLine()) {
            const QStringList words = QString::fromLocal8Bit(m_process.readLine()).simplified().split(QLatin1Char(' '));
            if (words.size() != count + 2 || words[0] != QLatin1String("REGISTERS") || words[1].toInt() != start)
                continue;
            QVector<quint16> values;
            for (int i = 0; i < count; ++i)
                values << quint16(words[i + 2].toUInt());
            return values;
        }
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return {};
}

void SimProcess::stop()
{
    if (!isRunning())
        return;
    send(QStringLiteral("quit"));
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}
