#include "publish/outbox.h"

#include <algorithm>

void Outbox::push(const QByteArray &topic, const QByteArray &payload, bool retain)
{
    m_messages.push_back({topic, payload, retain, 0});
    m_bytes += payload.size();
    if (size() > m_capacity)
        dropOne();
}

void Outbox::dropOne()
{
    // The oldest waiting sample goes first: a sample an hour old is worth
    // less than a pack's availability or its device description.
    const auto waiting = m_messages.begin() + m_inFlight;
    auto victim = std::find_if(waiting, m_messages.end(), [](const Message &m) { return !m.retain; });
    if (victim == m_messages.end())
        victim = waiting;
    if (victim == m_messages.end())
        return; // everything is in flight
    m_bytes -= victim->payload.size();
    m_messages.erase(victim);
    ++m_lost;
}

Outbox::Message *Outbox::next(int window)
{
    if (m_inFlight >= window || m_inFlight >= size())
        return nullptr;
    return &m_messages[size_t(m_inFlight)];
}

void Outbox::handedOver(Message *message, int mid)
{
    message->mid = mid;
    ++m_inFlight;
}

bool Outbox::acknowledge(int mid)
{
    const auto inFlightEnd = m_messages.begin() + m_inFlight;
    const auto it = std::find_if(m_messages.begin(), inFlightEnd, [mid](const Message &m) { return m.mid == mid; });
    if (it == inFlightEnd)
        return false;
    m_bytes -= it->payload.size();
    m_messages.erase(it);
    --m_inFlight;
    return true;
}

void Outbox::resendAll()
{
    for (int i = 0; i < m_inFlight; ++i)
        m_messages[size_t(i)].mid = 0;
    m_inFlight = 0;
}
