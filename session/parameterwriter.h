#pragma once

#include "model/parameterrules.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
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
// A sequence starts with a request: the groups and their new values. The
// values the pack will hold afterwards (the new ones with what the pack holds
// in the other groups, read first when not known) are checked against the
// plausibility rules, and a set's model against the pack's; whoever asked
// decides on what stands against the write. Then the writer builds the
// frames; the link sends them on its ticks (or, at the fast pace, as soon as
// the previous one is acknowledged) and the answers come back through the
// calls below. It owns the live data's next request while a sequence runs:
// the read before, the write, the read-back.
class ParameterWriter : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Idle,
        PreReading,  // the pack's parameters are read before the checks
        Checking,    // the checks run once the read's dispatch has returned
        Writing,
        ReadingBack,
    };
    enum class End {
        Written,         // every register acknowledged and read back equal
        NotAcknowledged, // a frame went out three times without an acknowledgement
        Refused,         // the BMS answered a frame with an exception
        ReadBackDiffers, // acknowledged, but the pack holds another value
        LinkLost,        // the port was lost or the BMS fell silent
        Stopped,         // monitoring stopped, the window closed, a signal
        Cancelled,       // not sent: what stood against it was not accepted
    };

    // What is to be written: the groups (bit i = group i of the map, in
    // chain order) and the new value of each of their registers; the clock
    // from the PC's as of when its frame is built, or as given; the model a
    // set file was read from (empty: none).
    struct Request
    {
        unsigned mask = 0;
        QHash<quint16, quint16> values;
        bool clockFromPc = false;
        QString setModel;
    };

    // What stands against a write: rules the values would break together,
    // or a set read from another model than the pack's.
    struct Concerns
    {
        QVector<Param::Violation> broken;
        QString setModel, packModel; // set when they differ
        bool isEmpty() const { return broken.isEmpty() && setModel.isEmpty(); }
        // One line each, with field names or with labels in `language`.
        QStringList lines(bool fieldNames, int language = 1) const;
    };
    // Decides on concerns: true writes anyway, false sends nothing.
    using Confirm = std::function<bool(const Concerns &)>;

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

    // Starts a sequence: the checks at once when the pack's parameters are
    // known, else after reading them. False, and nothing changes, while a
    // sequence runs or when the groups hold no register. `confirm` is asked
    // only when something stands against the write; without it, nothing is
    // sent then.
    bool request(const Request &request, Confirm confirm = nullptr);
    State state() const { return m_state; }
    // The groups of the sequence under way (or last run).
    unsigned requestedGroups() const { return m_request.mask; }
    // The register image's parameters are no longer known to be the pack's
    // (the link came up anew or went away).
    void forgetPack() { m_packKnown = false; }
    bool packKnown() const { return m_packKnown; }
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
    // A parameter read answer was stored into `image`: the pack's values
    // are known; a sequence waiting for them goes on once the dispatch has
    // returned, a read-back is compared.
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
    void checkAndWrite();
    void finish(End end);

    State m_state = State::Idle;
    Report m_report;
    Request m_request;
    Confirm m_confirm;
    bool m_packKnown = false;
    bool m_clockFromPc = false;
    bool m_fast = false;
    QDateTime m_clockSent; // when the clock frame was last built
    std::function<QDateTime()> m_clock;
};
