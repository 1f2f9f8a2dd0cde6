#pragma once

#include "link/linkport.h"

#include <QByteArrayList>
#include <utility>

// A port that the test drives: it records what the link writes, feeds it
// bytes as if they had arrived, and fails on request.
class FakeLinkPort : public LinkPort
{
    Q_OBJECT
public:
    using LinkPort::LinkPort;

    bool open(const QString &, qint32) override { return m_open = openOk; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool write(const QByteArray &bytes) override
    {
        if (!writeOk)
            return false;
        written << bytes;
        return true;
    }
    QByteArray readAll() override { return std::exchange(m_incoming, QByteArray()); }
    QString errorString() const override { return QStringLiteral("Input/output error"); }
    bool isPresent(const QString &) const override { return present; }

    // Bytes arrive from the far end.
    void feed(const QByteArray &bytes)
    {
        m_incoming += bytes;
        emit readyRead();
    }
    // Bytes arrive while the event loop is busy: announced only when the
    // link pulls them in.
    void feedQuietly(const QByteArray &bytes) { m_incoming += bytes; }
    void pull() override
    {
        if (!m_incoming.isEmpty())
            emit readyRead();
    }
    // The device goes away under the open port.
    void breakDown() { emit failed(errorString()); }

    bool openOk = true;
    bool writeOk = true;
    bool present = true;
    QByteArrayList written;

private:
    bool m_open = false;
    QByteArray m_incoming;
};
