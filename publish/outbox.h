#pragma once

#include <QByteArray>
#include <deque>

// The messages on their way to the broker, oldest first: what waits while
// the broker is away, and what was handed to the client but not yet
// acknowledged (QoS 1: a message counts as sent on its PUBACK only).
//
// Messages leave in order from the front, at most a window of them in
// flight at a time; the messages in flight are always the first ones. A
// lost connection puts them back to waiting, so that the next connection
// sends them again, in order, before anything newer.
//
// The outbox is bounded: past its capacity the oldest waiting state
// message (not retained) is given up and counted, never one in flight;
// retained messages (availability, discovery) go only when nothing else is
// left to give up. Payloads are kept as the compact bytes that go on the
// wire, and topics share their bytes (Qt's implicit sharing) with the
// publisher's own copy, so a message costs its payload and little more.
class Outbox
{
public:
    struct Message
    {
        QByteArray topic;
        QByteArray payload;
        bool retain = false;
        int mid = 0; // the client's message id while in flight, else 0
    };

    // 16 packs at one sample a second for 75 minutes.
    static constexpr int DefaultCapacity = 72000;

    explicit Outbox(int capacity = DefaultCapacity) : m_capacity(capacity > 0 ? capacity : 1) {}

    void push(const QByteArray &topic, const QByteArray &payload, bool retain);
    // The next message to hand over while fewer than `window` are in
    // flight, else null. Give it its id with handedOver().
    Message *next(int window);
    void handedOver(Message *message, int mid);
    // The broker acknowledged `mid`; false when no message in flight has it.
    bool acknowledge(int mid);
    // The connection is gone: every message in flight waits again.
    void resendAll();

    int size() const { return int(m_messages.size()); }
    int inFlight() const { return m_inFlight; }
    bool isEmpty() const { return m_messages.empty(); }
    // Messages given up because the outbox was full.
    qint64 lost() const { return m_lost; }
    // Payload bytes held.
    qint64 bytes() const { return m_bytes; }
    int capacity() const { return m_capacity; }
    const Message &at(int i) const { return m_messages[size_t(i)]; }

private:
    void dropOne();

    std::deque<Message> m_messages;
    int m_capacity;
    int m_inFlight = 0;
    qint64 m_lost = 0;
    qint64 m_bytes = 0;
};
