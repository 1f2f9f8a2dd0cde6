#pragma once

#include "pseudoterminal.h"
#include "support/helpers.h"

#include <QByteArray>
#include <QVector>

// The far end of a pseudo-terminal line, driven by the test itself: it
// collects the frames the tool sends and writes whatever answer the test
// wants, byte for byte.
class FakeBms
{
public:
    bool open() { return m_pty.open(); }
    QString deviceName() const { return m_pty.slaveName(); }

    // Everything the tool has written since the last call.
    QByteArray takeWritten();
    // Waits (processing events) until the tool has written at least `count`
    // bytes in total since the last take; returns them.
    QByteArray waitForBytes(int count, int timeoutMs = 20000);

    // Writes `frame` after putting its CRC into the last two bytes.
    void answer(QByteArray frame);
    // Writes bytes exactly as given.
    void writeRaw(const QByteArray &bytes) { m_pty.write(bytes); }

private:
    PseudoTerminal m_pty;
    QByteArray m_pending;
};
