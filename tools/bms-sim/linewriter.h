#pragma once

#include "slaveresponder.h"

#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>
#include <functional>

// Puts answer pieces on the line in order, each after its delay, so that an
// answer split into pieces keeps its gaps and a later answer never overtakes
// the rest of an earlier one.
class LineWriter : public QObject
{
    Q_OBJECT
public:
    using Sink = std::function<void(const QByteArray &)>;
    explicit LineWriter(Sink sink, QObject *parent = nullptr);

    void enqueue(const QVector<LinePiece> &pieces);
    bool idle() const { return m_queue.isEmpty() && m_wire.isEmpty(); }

    // Times the line like a real one at `baud`: every byte takes 11 bits
    // (start, 8 data, 2 stop or parity) on the wire, an answer starts
    // `turnaroundMs` after the request, and a piece's delay counts from the
    // end of the piece before it. 0 writes every piece at once (a
    // pseudo-terminal's speed).
    void setLineTiming(int baud, int turnaroundMs);

private:
    struct WireByte
    {
        qint64 dueNs;
        char byte;
    };

    void writeDue();
    void putOnWire(const QByteArray &bytes);
    void drainWire();
    int msUntilWireFree() const;

    Sink m_sink;
    QQueue<LinePiece> m_queue;
    QTimer m_timer;
    qint64 m_byteNs = 0;
    int m_turnaroundMs = 0;
    QElapsedTimer m_clock;
    QQueue<WireByte> m_wire;
    qint64 m_wireFreeNs = 0;
    QTimer m_drain;
};
