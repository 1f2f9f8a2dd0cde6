#include "linewriter.h"

LineWriter::LineWriter(Sink sink, QObject *parent) : QObject(parent), m_sink(std::move(sink))
{
    // The gaps decide whether the master joins pieces into one frame (under
    // 20 ms) or not: a coarse timer would blur them.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &LineWriter::writeDue);
    m_drain.setTimerType(Qt::PreciseTimer);
    connect(&m_drain, &QTimer::timeout, this, &LineWriter::drainWire);
}

void LineWriter::setLineTiming(int baud, int turnaroundMs)
{
    m_byteNs = baud > 0 ? 11 * qint64(1000000000) / baud : 0;
    m_turnaroundMs = baud > 0 ? turnaroundMs : 0;
    m_clock.start();
}

void LineWriter::putOnWire(const QByteArray &bytes)
{
    qint64 t = qMax(m_clock.nsecsElapsed(), m_wireFreeNs);
    for (char byte : bytes) {
        t += m_byteNs;
        m_wire.enqueue({t, byte});
    }
    m_wireFreeNs = t;
    if (!m_drain.isActive())
        m_drain.start(1);
}

void LineWriter::drainWire()
{
    // Every byte whose time on the wire is over reaches the other end.
    const qint64 now = m_clock.nsecsElapsed();
    QByteArray arrived;
    while (!m_wire.isEmpty() && m_wire.head().dueNs <= now)
        arrived.append(m_wire.dequeue().byte);
    if (!arrived.isEmpty())
        m_sink(arrived);
    if (m_wire.isEmpty())
        m_drain.stop();
}

int LineWriter::msUntilWireFree() const
{
    const qint64 left = m_wireFreeNs - m_clock.nsecsElapsed();
    return left > 0 ? int((left + 999999) / 1000000) : 0;
}

void LineWriter::enqueue(const QVector<LinePiece> &pieces)
{
    const bool wasIdle = m_queue.isEmpty();
    for (const LinePiece &piece : pieces)
        m_queue.enqueue(piece);
    if (wasIdle && !m_queue.isEmpty()) {
        // The first piece of an answer goes out at once (or after the
        // line's turnaround); its delay counts only behind an earlier piece.
        m_queue.head().delayMs = m_turnaroundMs;
        writeDue();
    }
}

void LineWriter::writeDue()
{
    // Write every piece that is due now, then wait for the next one.
    while (!m_queue.isEmpty() && m_queue.head().delayMs <= 0) {
        if (m_byteNs > 0)
            putOnWire(m_queue.dequeue().bytes);
        else
            m_sink(m_queue.dequeue().bytes);
    }
    if (!m_queue.isEmpty()) {
        m_timer.start(m_queue.head().delayMs + (m_byteNs > 0 ? msUntilWireFree() : 0));
        m_queue.head().delayMs = 0;
    }
}
