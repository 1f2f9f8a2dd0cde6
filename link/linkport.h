#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

// The byte pipe under the link: a serial port in the tool, a fake in the
// tests. The link only opens, closes, writes, reads, and hears about
// failures that end the connection (an adapter pulled out, a device taken
// away, an I/O error).
class LinkPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens `name` (a port name such as ttyUSB0, a device path, or a
    // symbolic link to a device; on Windows a name such as COM3) at `baud`,
    // 8N1, no flow control. On failure errorString() says why, in the
    // system's words.
    virtual bool open(const QString &name, qint32 baud) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Queues the bytes for the line. False when the port refused them.
    virtual bool write(const QByteArray &bytes) = 0;
    virtual QByteArray readAll() = 0;
    // Takes in bytes that have arrived but not been announced yet (the
    // event loop was busy): readyRead follows at once if there are any.
    virtual void pull() {}
    virtual QString errorString() const = 0;
    // Whether the device `name` stands for is present now. Used while a lost
    // port is watched, so that the tool does not try to open what is not there.
    // On Linux the device file; on Windows the system's list of COM ports.
    virtual bool isPresent(const QString &name) const = 0;

    // The path that a port name stands for on Linux: names without a
    // directory are devices under /dev, as the serial-port module takes them.
    static QString devicePath(const QString &name);

signals:
    void readyRead();
    // The connection is broken: unplugged, permission withdrawn, read or
    // write error. Sent once per failure; the port stays open until closed.
    void failed(const QString &reason);
};

// The port of the tool: QSerialPort.
class SerialLinkPort : public LinkPort
{
    Q_OBJECT
public:
    explicit SerialLinkPort(QObject *parent = nullptr);

    bool open(const QString &name, qint32 baud) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    bool write(const QByteArray &bytes) override;
    QByteArray readAll() override { return m_port.readAll(); }
    void pull() override;
    QString errorString() const override { return m_port.errorString(); }
    bool isPresent(const QString &name) const override;

    // Errors of the serial-port module that end the connection.
    static bool isFatal(QSerialPort::SerialPortError error);
    // What a failure says in the log and the warning: the kind of error,
    // then the system's text when it has one.
    static QString failureReason(QSerialPort::SerialPortError error, const QString &systemText);

private:
    QSerialPort m_port;
    bool m_failed = false;
};
