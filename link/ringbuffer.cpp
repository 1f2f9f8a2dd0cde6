#include "link/ringbuffer.h"

#include <algorithm>
#include <cstring>

RingBuffer::RingBuffer(quint32 capacity)
    : m_capacity(capacity), m_storage(new quint8[capacity ? capacity : 1]())
{
}

quint32 RingBuffer::heldLocked() const
{
    if (m_empty)
        return 0;
    if (m_full)
        return m_capacity;
    return m_readPos < m_writePos ? m_writePos - m_readPos
                                  : m_writePos + m_capacity - m_readPos;
}

quint32 RingBuffer::write(const quint8 *source, quint32 length)
{
    if (length == 0 || m_capacity == 0)
        return 0;
    QWriteLocker locker(&m_lock);
    if (m_full)
        return 0;
    const quint32 k = std::min(length, m_capacity - heldLocked());
    const quint32 first = std::min(k, m_capacity - m_writePos);
    std::memcpy(m_storage.get() + m_writePos, source, first);
    std::memcpy(m_storage.get(), source + first, k - first);
    m_writePos = (m_writePos + k) % m_capacity;
    if (k > 0)
        m_empty = false;
    if (m_writePos == m_readPos && !m_empty)
        m_full = true;
    return k;
}

quint32 RingBuffer::read(quint8 *destination, quint32 length)
{
    if (length == 0)
        return 0;
    QWriteLocker locker(&m_lock);
    if (m_empty)
        return 0;
    const quint32 k = std::min(length, heldLocked());
    const quint32 first = std::min(k, m_capacity - m_readPos);
    std::memcpy(destination, m_storage.get() + m_readPos, first);
    std::memcpy(destination + first, m_storage.get(), k - first);
    m_readPos = (m_readPos + k) % m_capacity;
    m_full = false;
    if (m_readPos == m_writePos)
        m_empty = true;
    return k;
}

quint32 RingBuffer::available() const
{
    QReadLocker locker(&m_lock);
    return heldLocked();
}

void RingBuffer::clear()
{
    QWriteLocker locker(&m_lock);
    m_readPos = m_writePos = 0;
    m_empty = true;
    m_full = false;
}

bool RingBuffer::isEmpty() const
{
    QReadLocker locker(&m_lock);
    return m_empty;
}

bool RingBuffer::isFull() const
{
    QReadLocker locker(&m_lock);
    return m_full;
}

quint32 RingBuffer::readPosition() const
{
    QReadLocker locker(&m_lock);
    return m_readPos;
}

quint32 RingBuffer::writePosition() const
{
    QReadLocker locker(&m_lock);
    return m_writePos;
}
