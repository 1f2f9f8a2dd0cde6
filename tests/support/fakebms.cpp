#include "support/fakebms.h"

#include "protocol/crc16.h"

#include <QDeadlineTimer>
#include <QtTest>

QByteArray FakeBms::takeWritten()
{
    m_pending += m_pty.readAvailable();
    QByteArray out;
    out.swap(m_pending);
    return out;
}

QByteArray FakeBms::waitForBytes(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_pending.size() < count && !deadline.hasExpired()) {
        m_pending += m_pty.readAvailable();
        if (m_pending.size() < count)
            QTest::qWait(10);
    }
    return takeWritten();
}

void FakeBms::answer(QByteArray frame)
{
    sealFrame(frame);
    m_pty.write(frame);
}

QByteArray readAnswer(quint8 address, const QVector<quint16> &registers)
{
    QByteArray frame;
    frame.append(char(address));
    frame.append(char(0x03));
    frame.append(char(registers.size() * 2));
    for (quint16 r : registers) {
        frame.append(char(r >> 8));
        frame.append(char(r & 0xFF));
    }
    frame.append(2, '\0');
    sealFrame(frame);
    return frame;
}
