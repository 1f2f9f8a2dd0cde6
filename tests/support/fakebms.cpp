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
