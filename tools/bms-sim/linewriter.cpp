#include "linewriter.h"

LineWriter::LineWriter(Sink sink, QObject *parent) : QObject(parent), m_sink(std::move(sink))
{
    // The gaps decide whether the master joins pieces into one frame (under
    // 20 ms) or not: a coarse timer would blur them.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &LineWriter::writeDue);
}

void LineWriter::enqueue(const QVector<LinePiece> &pieces)
{
    const bool wasIdle = m_queue.isEmpty();
    for (const LinePiece &piece : pieces)
        m_queue.enqueue(piece);
    if (wasIdle && !m_queue.isEmpty()) {
        // The first piece of an answer goes out at once; its delay counts
        // only behind an earlier piece.
        m_queue.head().delayMs = 0;
        writeDue();
    }
}

void LineWriter::writeDue()
{
    // Write every piece that is due now, then wait for the next one.
    while (!m_queue.isEmpty() && m_queue.head().delayMs <= 0)
        m_sink(m_queue.dequeue().bytes);
    if (!m_queue.isEmpty()) {
        m_timer.start(m_queue.head().delayMs);
        m_queue.head().delayMs = 0;
    }
}
