#pragma once

#include <QReadWriteLock>
#include <QtGlobal>
#include <memory>

// Fixed-capacity circular byte buffer. Storage is allocated once; a full
// buffer refuses further writes, a write larger than the free room stores
// what fits. Every operation holds the buffer's own lock, so one producer and
// one consumer may live on different threads.
class RingBuffer
{
public:
    explicit RingBuffer(quint32 capacity);
    RingBuffer(const RingBuffer &) = delete;
    RingBuffer &operator=(const RingBuffer &) = delete;

    quint32 write(const quint8 *source, quint32 length);
    quint32 read(quint8 *destination, quint32 length);
    quint32 available() const;
    void clear();

    bool isEmpty() const;
    bool isFull() const;
    quint32 capacity() const { return m_capacity; }
    quint32 readPosition() const;
    quint32 writePosition() const;

private:
    quint32 heldLocked() const;

    const quint32 m_capacity;
    std::unique_ptr<quint8[]> m_storage;
    quint32 m_readPos = 0;
    quint32 m_writePos = 0;
    bool m_empty = true;
    bool m_full = false;
    mutable QReadWriteLock m_lock;
};
