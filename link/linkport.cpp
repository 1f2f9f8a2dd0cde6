#include "link/linkport.h"

#include <QFileInfo>
#ifdef Q_OS_WIN
#include <QSerialPortInfo>
#endif

QString LinkPort::devicePath(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./"))
        || name.startsWith(QLatin1String("../")))
        return name;
    return QStringLiteral("/dev/") + name;
}

SerialLinkPort::SerialLinkPort(QObject *parent) : LinkPort(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &LinkPort::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        // The module may report the same broken device again and again
        // (every read and write notification fails) until it is closed.
        if (!isFatal(error) || m_failed || !m_port.isOpen())
            return;
        m_failed = true;
        emit failed(failureReason(error, m_port.errorString()));
    });
}

QString SerialLinkPort::failureReason(QSerialPort::SerialPortError error, const QString &systemText)
{
    // The module's text comes from errno, which for a vanished device is
    // often 0 ("Unknown error") or left over from an earlier call; the kind
    // of error is what can be relied on, the system's text follows it.
    QString kind;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        kind = QStringLiteral("device not found");
        break;
    case QSerialPort::PermissionError:
        kind = QStringLiteral("permission denied");
        break;
    case QSerialPort::WriteError:
        kind = QStringLiteral("write failed");
        break;
    case QSerialPort::ReadError:
        kind = QStringLiteral("read failed");
        break;
    case QSerialPort::ResourceError:
        kind = QStringLiteral("device removed or no longer available");
        break;
    default:
        return systemText;
    }
    if (systemText.isEmpty() || systemText == QLatin1String("Unknown error"))
        return kind;
    return kind + QStringLiteral(" (") + systemText + QLatin1Char(')');
}

bool SerialLinkPort::isFatal(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
        return true;
    default:
        return false;
    }
}

bool SerialLinkPort::open(const QString &name, qint32 baud)
{
    m_port.close();
    m_failed = false;
    m_port.setPortName(name);
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    m_port.setBaudRate(baud, QSerialPort::AllDirections);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setStopBits(QSerialPort::OneStop);
    return true;
}

void SerialLinkPort::pull()
{
    if (!m_port.isOpen() || m_failed)
        return;
    // Reads what the system holds and announces it; nothing there is no
    // error for the link.
    if (!m_port.waitForReadyRead(0))
        m_port.clearError();
}

void SerialLinkPort::close()
{
    m_port.close();
    m_failed = false;
}

bool SerialLinkPort::write(const QByteArray &bytes)
{
    if (!m_port.isOpen() || m_failed || m_port.write(bytes) != bytes.size())
        return false;
    // Out on the line now, not when the event loop next comes round: a busy
    // window would otherwise hold a request back until the next one joins
    // it, and the BMS's two answers would run into one.
    m_port.flush();
    return true;
}

bool SerialLinkPort::isPresent(const QString &name) const
{
#ifdef Q_OS_WIN
    // Windows has no device files: a COM port is present when the system
    // lists it (a USB adapter plugged in again comes back under its name).
    // The name may be given in the device namespace's form, \\.\COM10.
    QString wanted = name;
    if (wanted.startsWith(QLatin1String("\\\\.\\")))
        wanted = wanted.mid(4);
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        if (port.portName().compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
#else
    // A symbolic link (/dev/serial/by-id/...) counts when its target exists.
    return QFileInfo::exists(devicePath(name));
#endif
}
