#pragma once

#include "model/livedata.h"

#include <QByteArray>
#include <QtGlobal>

// One poll tick, decided without a port or a timer. The tick looks at
// nextRequest and the number of requests that went unanswered, updates
// requestKind, nextRequest and the count, and says what to do.
struct TickDecision
{
    enum Action {
        Send,           // write `frame` (address stamped, CRC sealed) and log it
        GoOffline,      // five requests found no answer: show the link lost, send nothing
        AbandonWrite,   // three write frames found no answer: close the progress box, send nothing
        Nothing,        // no request of a known kind is pending
    };
    Action action = Nothing;
    QByteArray frame;
};

// The number of unanswered requests after which the BMS counts as silent,
// and after which a parameter write is given up.
constexpr int SilentAfter = 5;
constexpr int WriteTriesMax = 3;

// writeFrame is the parameter page's prepared write frame (used when
// nextRequest is ParameterWrite), recordFrame the datalog page's prepared
// record read (DatalogRead).
TickDecision decideTick(BmsLiveData &live, quint8 &unansweredCount, quint8 address,
                        const QByteArray &writeFrame, const QByteArray &recordFrame);

// Several packs on one line share the poll period in equal turns. A turn
// must hold the longest exchange the tick can start (the parameter read: 8
// bytes out, 187 back, ten bits a byte on the wire) and the pack's own delay
// before it answers; where the period split by the number of packs is
// shorter, the turn is that long and the cycle stretches. One pack has the
// whole period, as it always had.
constexpr int PackDelayMs = 40;
int minTurnMs(qint32 baud);
int turnMs(int pollMs, int packs, qint32 baud);
// The length of turn `turnIndex` of a cycle whose turns are `turnMs` long
// on average: where the turns fit the period they share it to the
// millisecond (62 or 63 ms each for 16 packs in 1000 ms), so that a cycle
// takes the period exactly; a stretched cycle's turns are all `turnMs`.
int turnLengthMs(int turnMs, int pollMs, int packs, int turnIndex);

// The longest time a pack of the line took to answer lately (from its
// request to the end of its answer, and a margin), which the turns must
// leave it. A slow answer counts for five to ten minutes: a pack that is
// always slow keeps its longer turns without losing answers, while one
// slow answer (a pack busy writing its parameters) no longer slows every
// pack's sampling for good.
class SlowestAnswer
{
public:
    static constexpr qint64 WindowMs = 300000;
    // An answer at `nowMs` took `tookMs`.
    void note(qint64 nowMs, int tookMs);
    // The longest answer of the last five to ten minutes at `nowMs`.
    int ms(qint64 nowMs);
    void reset(qint64 nowMs) { m_current = m_previous = 0, m_windowStart = nowMs; }

private:
    void age(qint64 nowMs);
    int m_current = 0;
    int m_previous = 0;
    qint64 m_windowStart = 0;
};

// The regular turns' timetable. Each turn is due one turn length after the
// one before it, however long the sending took, so that every pack is
// sampled once a period: not a little more often (a timer firing early) nor
// less (each turn's small delays adding up over a cycle). A turn that starts
// more than a turn late (a busy window, quick frames in between), or
// clearly early (called by hand), starts the timetable again from then.
// After a request the next turn never comes before `needMs`, the time its
// answer may take.
class TurnTimetable
{
public:
    // A turn starts at `nowMs`; returns when the next one may start (its
    // time in the timetable, or later to leave this turn's answer its time).
    qint64 next(qint64 nowMs, int lengthMs, int needMs);
    // The next turn is due at `dueMs` (the start, a quick frame sent).
    void setDue(qint64 dueMs) { m_due = dueMs; }

private:
    qint64 m_due = -1;
};

// Where one answer ends on a line without frame markers: after `silenceMs`
// of silence. Times come from the caller, so the boundary can be tested with
// a clock the test controls; the window drives it from a monotonic clock and
// a precise timer.
class SilenceGate
{
public:
    static constexpr int DefaultSilenceMs = 20;
    explicit SilenceGate(int silenceMs = DefaultSilenceMs) : m_silenceMs(silenceMs) {}

    // Bytes arrived at `nowMs`. Returns true when a silence of silenceMs or
    // more came before them, i.e. the bytes held so far end an answer of
    // their own and must be judged before these are added.
    bool arrival(qint64 nowMs);
    // True when bytes are pending and the line has been silent long enough.
    bool expired(qint64 nowMs) const;
    // Milliseconds until expiry (0 when expired or idle).
    int remaining(qint64 nowMs) const;
    void reset() { m_pending = false; }
    bool pending() const { return m_pending; }
    // When the latest bytes arrived.
    qint64 lastArrival() const { return m_lastArrival; }
    int silenceMs() const { return m_silenceMs; }

private:
    int m_silenceMs;
    bool m_pending = false;
    qint64 m_lastArrival = 0;
};
