#include "link/polling.h"

#include "protocol/frames.h"

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
