#pragma once

#include "slaveresponder.h"

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
    bool idle() const { return m_queue.isEmpty(); }

private:
    void writeDue();

    Sink m_sink;
    QQueue<LinePiece> m_queue;
    QTimer m_timer;
};
