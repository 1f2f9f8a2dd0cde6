#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>
#include <functional>

// One parameter write sequence, from its first frame to the read-back that
// proves it, and the only owner of its state. Writing a pack's protection
// thresholds is the one act of the tool that can damage a battery, so a
// sequence never ends silently: it ends written (every register
// acknowledged and read back equal), or with a report of why not and how
// far it got.
//
// The writer builds the frames; the link sends them on its ticks (or, at the
// fast pace, as soon as the previous one is acknowledged) and the answers
// come back through the calls below. It owns the live data's next request
// while a sequence runs: the write, then the read-back.
class ParameterWriter : public QObject
{
    Q_OBJECT
public:
    enum class State { Idle, Writing, ReadingBack };
    enum class End {
        Written,         // every register acknowledged and read back equal
        NotAcknowledged, // a frame went out three times without an acknowledgement
        Refused,         // the BMS answered a frame with an exception
        ReadBackDiffers, // acknowledged, but the pack holds another value
        LinkLost,        // the port was lost or the BMS fell silent
        Stopped,         // monitoring stopped, the window closed, a signal
    };

    struct Step
    {
        quint16 reg = 0;
        int count = 1;         // 2 for the clock (registers 45 and 46)
        quint16 values[2] = {};
    };

    struct Report
    {
        End end = End::Written;
        QVector<Step> steps; // the whole sequence, in order
        int acknowledged = 0; // steps acknowledged, from the first
        quint8 code = 0;      // Refused: the exception code
        // ReadBackDiffers: the register that differs and what it holds.
        quint16 differingReg = 0;
        quint16 readValue[2] = {};
        QString detail; // LinkLost and Stopped: what happened, as given
        bool success() const { return end == End::Written; }
        int registerCount() const;
        int registersWritten() const;
        // One paragraph: what happened, how many registers of how many were
        // written and which, which were not, and what that leaves in the
        // pack. With field names (the command line) or with the fields'
        // labels in language 0 (Chinese) or 1 (English).
        QString text(bool fieldNames, int language = 1) const;
    };

    explicit ParameterWriter(QObject *parent = nullptr);

    // The PC's clock, read when the clock frame is built; tests put their own.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    // Fast pace: the next frame goes out as soon as the previous one is
    // acknowledged (nextSoon), not on the next tick.
    void setFast(bool on) { m_fast = on; }
    bool fast() const { return m_fast; }

    // Starts a sequence over the ticked groups (bit i = group i of the map,
    // in chain order) with the values `image` holds for their registers.
    // With clockFromPc the clock frame carries the PC's time as of when the
    // frame is built. False, and nothing changes, while a sequence runs or
    // when the groups hold no register.
    bool start(unsigned ticked, const quint16 *image, bool clockFromPc);
    State state() const { return m_state; }
    bool busy() const { return m_state != State::Idle; }
    // Registers a sequence over `ticked` writes, the clock counting two.
    static int registerCount(unsigned ticked);

    // The frame the tick sends now (slave address 1, sealed); empty unless
    // a frame is waiting for its acknowledgement.
    QByteArray frame();

    // The answers, as the dispatcher hands them over.
    void acknowledged(const QByteArray &answer);
    void refused(quint8 code);
    // The tick gave up on the frame after three sends.
    void notAcknowledged();
    // A parameter read answer was stored into `image`.
    void parametersRead(const quint16 *image);
    // Ends a running sequence from outside; `detail` says what happened.
    void stop(End why, const QString &detail);

signals:
    // A frame was acknowledged: `done` of `total` frames.
    void progress(int done, int total);
    // Fast pace: the next request may go out after the line's gap.
    void nextSoon();
    void ended(const ParameterWriter::Report &report);

private:
    void finish(End end);

    State m_state = State::Idle;
    Report m_report;
    bool m_clockFromPc = false;
    bool m_fast = false;
    QDateTime m_clockSent; // when the clock frame was last built
    std::function<QDateTime()> m_clock;
};
