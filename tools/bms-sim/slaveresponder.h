#pragma once

#include "bmsmodel.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QVector>
#include <QtGlobal>
#include <functional>

// The faults the slave can put into its answers, to exercise the master's
// framing and checks. A count K means every Kth answer (0: never).
struct SlaveFaults
{
    bool silent = false;        // cut requests, answer nothing, store nothing
    int badCrcEvery = 0;        // last CRC byte inverted
    int strayEvery = 0;         // one extra byte right after the answer
    int wrongAddressEvery = 0;  // answer from another slave address
    int splitGapMs = 0;         // every answer in three pieces this far apart
    bool writeException = false; // refuse function-16 writes with an exception
    bool readException = false;  // refuse function-3 reads with an exception
    int protocolCountSurplus = 0; // protocol lists claim this many records more than they carry
    bool ignoreSetCommands = false; // neither act on nor answer the ID and protocol set commands
    bool recordsTwice = false;  // every read of a log record answered twice
    bool writeNoAck = false;     // store function-16 writes, never acknowledge them
    bool ackTwice = false;       // acknowledge every write again, DuplicateAckDelayMs later
    bool wrongEcho = false;      // acknowledge writes echoing the next register
    int spoilPercent = 0;        // chance (0..100) that a Modbus answer is spoiled,
                                 // the kind of spoiling drawn at random
};

// How one answer was spoiled by `spoilPercent` (None: sent as it is).
enum class Spoil {
    None,
    BadCrc,    // last CRC byte inverted
    Stray,     // 1..3 noise bytes before or after the answer, without a pause
    Split,     // two pieces with a pause longer than the master's frame silence
    Silent,    // no answer at all
    Exception, // a device-failure exception instead of the answer
    // Not drawn: requests that came in one burst (a master that did not
    // wait, or a simulator too busy to read) are answered back to back,
    // and the answers run into one burst on the line.
    Joined,
};
const char *spoilName(Spoil spoil);

// A stretch of bytes to put on the line, `delayMs` after the previous one.
struct LinePiece
{
    int delayMs = 0;
    QByteArray bytes;
};

// The slave side of the bus: cuts requests out of the received byte stream
// by their own length rules, checks their CRC, answers those addressed to it
// from the model and applies the configured faults. Works on byte arrays
// and caller-supplied times only, so it runs without a port.
class SlaveResponder
{
public:
    // Modbus exception codes.
    enum Exception : quint8 {
        IllegalFunction = 0x01,
        IllegalDataAddress = 0x02,
        IllegalDataValue = 0x03,
        DeviceFailure = 0x04,
    };
    // First byte of the BMS's own ID and protocol commands.
    static constexpr quint8 CommandByte = 0x10;
    // Bytes held longer than this without the rest of their frame arriving
    // are dropped: the next byte after such a silence starts a new frame.
    static constexpr int ResyncSilenceMs = 50;
    // The repeated answer to a record read follows the first after this
    // silence, long enough for the master to take them as two answers.
    static constexpr int RepeatGapMs = 30;
    static constexpr int DuplicateAckDelayMs = 300;
    // The pause inside a split answer: well beyond the master's 20 ms.
    static constexpr int SpoilSplitGapMs = 50;

    SlaveResponder(BmsModel &model, quint8 address, const SlaveFaults &faults = {}, quint32 seed = 1);

    // Bytes received at `nowMs` (milliseconds since the start). Returns what
    // to write in answer, in order; empty when nothing is to be answered.
    QVector<LinePiece> receive(const QByteArray &bytes, qint64 nowMs);

    // The plain answer to one whole request (CRC already checked), before
    // any fault; empty when the request gets no answer.
    QByteArray answer(const QByteArray &request, qint64 nowMs);

    quint8 address() const { return m_address; }
    void setAddress(quint8 address) { m_address = m_configuredAddress = address; }
    // The ID stored by the last confirmed SetId; the pack answers Modbus
    // requests at it only after a restart.
    quint8 configuredAddress() const { return m_configuredAddress; }
    // The pack is switched off and on again: it takes its stored ID.
    void restart() { m_address = m_configuredAddress; }
    SlaveFaults &faults() { return m_faults; }
    int answersGiven() const { return m_answers; }
    // Bytes held that do not yet make a whole request.
    int pendingBytes() const { return m_held.size(); }

    // Told about every whole request cut from the stream and what was
    // answered (empty: nothing), for a running commentary.
    std::function<void(const QByteArray &request, const QByteArray &answer)> onExchange;
    // Told about every answer given, after its faults: the plain answer, the
    // pieces put on the line (empty: none) and how it was spoiled. The
    // answer reached the line intact when it went as one piece equal to
    // `answer`.
    std::function<void(const QByteArray &request, const QByteArray &answer, const QVector<LinePiece> &pieces,
                       Spoil spoil)>
        onServed;

    static QByteArray exception(quint8 address, quint8 function, quint8 code);

private:
    // Frame lengths the held bytes could have, shortest first; `needMore`
    // is set when a length cannot be told yet.
    QVector<int> candidateLengths(bool &needMore) const;
    QByteArray readAnswer(const QByteArray &request, qint64 nowMs);
    QByteArray writeAnswer(const QByteArray &request, qint64 nowMs);
    QByteArray writeSingleAnswer(const QByteArray &request, qint64 nowMs);
    QByteArray commandAnswer(const QByteArray &request);
    QVector<LinePiece> withFaults(QByteArray frame);
    Spoil drawSpoil(const QByteArray &request);
    void applySpoil(QVector<LinePiece> &pieces, Spoil spoil);

    BmsModel &m_model;
    quint8 m_address;
    quint8 m_configuredAddress;
    SlaveFaults m_faults;
    QRandomGenerator m_random;
    QRandomGenerator m_spoilRandom;
    QByteArray m_held;
    qint64 m_lastArrival = 0;
    int m_answers = 0;
};
