#include "link/polling.h"

#include "protocol/frames.h"
#include "protocol/registers.h"

TickDecision decideTick(BmsLiveData &live, quint8 &unansweredCount, quint8 address,
                        const QByteArray &writeFrame, const QByteArray &recordFrame)
{
    TickDecision d;
    QByteArray frame;
    switch (live.nextRequest) {
    case IdentityRead:
        frame = Frames::identityRead(address);
        live.requestKind = IdentityRead;
        break;
    case MonitorRead:
        frame = Frames::monitorRead(address);
        live.requestKind = MonitorRead;
        break;
    case ParameterRead:
        frame = Frames::parameterRead(address);
        live.requestKind = ParameterRead;
        break;
    case ParameterWrite:
        frame = writeFrame; // requestKind stays: a write is no read
        break;
    case DatalogRead:
        frame = recordFrame;
        live.requestKind = DatalogRead;
        break;
    default:
        return d;
    }

    if (unansweredCount >= SilentAfter) {
        unansweredCount = 0;
        live.nextRequest = IdentityRead;
        d.action = TickDecision::GoOffline;
        return d;
    }
    if (live.nextRequest == ParameterWrite && unansweredCount >= WriteTriesMax) {
        unansweredCount = 0;
        live.nextRequest = MonitorRead;
        d.action = TickDecision::AbandonWrite;
        return d;
    }
    if (frame.size() < 4) // nothing prepared yet
        return d;
    ++unansweredCount;
    d.action = TickDecision::Send;
    d.frame = Frames::addressed(frame, address);
    return d;
}

int minTurnMs(qint32 baud)
{
    const qint64 bits = qint64(8 + 5 + 2 * Reg::ParameterCount) * 10;
    const qint32 rate = baud > 0 ? baud : 9600;
    return int((bits * 1000 + rate - 1) / rate) + PackDelayMs;
}

int turnMs(int pollMs, int packs, qint32 baud)
{
    if (packs <= 1)
        return pollMs;
    return qMax(pollMs / packs, minTurnMs(baud));
}

int turnLengthMs(int turnMs, int pollMs, int packs, int turnIndex)
{
    if (packs <= 1 || qint64(turnMs) * packs > pollMs)
        return turnMs;
    const qint64 k = turnIndex % packs;
    return int((k + 1) * pollMs / packs - k * pollMs / packs);
}

void SlowestAnswer::age(qint64 nowMs)
{
    if (nowMs - m_windowStart < WindowMs)
        return;
    m_previous = nowMs - m_windowStart < 2 * WindowMs ? m_current : 0;
    m_current = 0;
    m_windowStart = nowMs;
}

void SlowestAnswer::note(qint64 nowMs, int tookMs)
{
    age(nowMs);
    m_current = qMax(m_current, tookMs);
}

int SlowestAnswer::ms(qint64 nowMs)
{
    age(nowMs);
    return qMax(m_current, m_previous);
}

qint64 TurnTimetable::next(qint64 nowMs, int lengthMs, int needMs)
{
    const bool onTime = m_due >= 0 && nowMs >= m_due - lengthMs / 2 && nowMs - m_due <= lengthMs;
    m_due = (onTime ? m_due : nowMs) + lengthMs;
    // A tick that came late may have to leave this answer a little more
    // time; the timetable stays where it was, and the turns after catch up.
    return qMax(m_due, nowMs + needMs);
}

bool SilenceGate::arrival(qint64 nowMs)
{
    const bool endsPrevious = m_pending && nowMs - m_lastArrival >= m_silenceMs;
    m_pending = true;
    m_lastArrival = nowMs;
    return endsPrevious;
}

bool SilenceGate::expired(qint64 nowMs) const
{
    return m_pending && nowMs - m_lastArrival >= m_silenceMs;
}

int SilenceGate::remaining(qint64 nowMs) const
{
    if (!m_pending)
        return 0;
    const qint64 left = m_lastArrival + m_silenceMs - nowMs;
    return left > 0 ? int(left) : 0;
}
