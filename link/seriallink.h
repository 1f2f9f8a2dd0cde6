#pragma once

#include "link/linkport.h"
#include "link/polling.h"
#include "link/ringbuffer.h"
#include "model/livedata.h"
#include "model/result.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>
#include <functional>

class QTimer;

// What the link has seen since monitoring last started.
struct LinkCounters
{
    quint64 sent = 0;       // requests written to the port
    quint64 taken = 0;      // answers dispatched
    quint64 noAnswer = 0;   // requests that found no answer before the next one
    quint64 crcErrors = 0;  // frames that failed their length or CRC check
    quint64 exceptions = 0; // Modbus exception answers
    quint64 dropped = 0;    // late, doubled or stray frames
};

// The serial link to the BMS: the port, the once-a-second poll, the frame
// timer and the silence that ends an answer, the receive buffer, the count
// of unanswered requests and the request in flight. It decides what each
// tick sends (from nextRequest in the live data), cuts answers out of the
// line, checks them and hands at most one answer per request to whoever
// listens to answerReceived. Pages ask for requests through the live data
// and the frame sources; they never touch the port.
//
// A port that breaks while monitoring (an adapter pulled out) is closed at
// once and, unless told otherwise, watched once a second under the same
// name or path until it comes back; monitoring then resumes by itself.
class SerialLink : public QObject
{
    Q_OBJECT
public:
    // Takes ownership of `port`; null makes a SerialLinkPort.
    explicit SerialLink(LinkPort *port = nullptr, QObject *parent = nullptr);

    void setPortName(const QString &name) { m_portName = name; }
    QString portName() const { return m_portName; }
    void setBaudRate(qint32 baud) { m_baud = baud; }
    qint32 baudRate() const { return m_baud; }
    // The packs on the line, polled in turn (1..64 each, at least one).
    // One pack is polled once a period; several share the period in equal
    // turns, each long enough for the longest exchange at the baud rate,
    // so that a cycle stretches beyond the period where the line cannot
    // carry it. Set before start().
    void setAddress(quint8 address) { setAddresses({address}); }
    void setAddresses(const QVector<quint8> &addresses);
    QVector<quint8> addresses() const;
    // The pack that writes, record reads and the extra ticks are for; the
    // first of the list unless chosen.
    void selectAddress(quint8 address);
    quint8 address() const { return m_selected; }
    // Where each pack's request state lives (nextRequest, requestKind):
    // liveData() for every pack unless the session keeps one per pack.
    using ImageSource = std::function<BmsLiveData &(quint8 address)>;
    void setImageSource(ImageSource source) { m_image = std::move(source); }
    // One pack's turn and the whole cycle, in milliseconds.
    int turnMs() const;
    int cycleMs() const { return qMax(turnMs() * int(m_packs.size()), m_pollMs); }
    // The turns are as long as a slow pack needs, not as the line needs.
    bool turnsFitSlowPack() const { return m_packs.size() > 1 && m_slowestMs > ::turnMs(m_pollMs, m_packs.size(), m_baud); }
    // The poll period; 1000 ms on a real bus, shorter on test rigs.
    void setPollInterval(int ms);
    int pollInterval() const { return m_pollMs; }
    // The clock that measures the silence ending a frame (milliseconds,
    // monotonic); tests put a clock of their own here.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    // The frames the pages prepare: the parameter write in progress and the
    // next record read.
    using FrameSource = std::function<QByteArray()>;
    void setWriteFrameSource(FrameSource source) { m_writeFrame = std::move(source); }
    void setRecordFrameSource(FrameSource source) { m_recordFrame = std::move(source); }

    // Opens the port and starts polling with the identity read. A failure
    // carries the system's reason for a port that cannot be opened.
    Result start();
    // Closes the port and stops everything, also the watch for a lost port.
    void stop();
    // Sends nothing more but still takes the answer of the request in
    // flight, if any; true when there is one. `answerWaitMs` is how long it
    // may take.
    bool holdForAnswer();
    int answerWaitMs() const { return turnMs() + SilenceGate::DefaultSilenceMs + 30; }
    // True from start() until stop(), also while a lost port is watched.
    bool isMonitoring() const { return m_state != Idle; }
    // True while a lost port is watched for its return.
    bool isWaitingForPort() const { return m_state == Waiting; }
    // Why the port was lost, or could not be opened, last.
    QString errorString() const { return m_error; }

    // Sends one frame of the address page outside monitoring: reopens the
    // port, seals the CRC and writes. Fails when the port could not be
    // opened or refused the frame (nothing is then logged as sent).
    Result sendCommand(QByteArray frame);

    // Runs one extra poll tick `delayMs` from now, if no request is in
    // flight then and the link still monitors (the datalog's fast read).
    void pollSoon(int delayMs);

    // Whether a lost port is watched and monitoring resumed when it is back.
    void setAutoReconnect(bool on) { m_autoReconnect = on; }
    bool autoReconnect() const { return m_autoReconnect; }

    // Requests to the selected pack that found no answer in a row.
    quint8 unansweredCount() const;
    // The frame last sent, as sent; empty once its answer was dispatched.
    const QByteArray &requestInFlight() const { return m_inFlight; }
    // The request that the answer being dispatched belongs to (the datalog
    // takes the record number from it).
    const QByteArray &answeredRequest() const { return m_answered; }
    const LinkCounters &counters() const { return m_counters; }
    void resetCounters();

public slots:
    // One poll tick.
    void vsSerialSend();
    // The selected pack's turn out of order (the fast pace, a record walk).
    void pollSelected();
    // Bytes arrived.
    void vsSerialRead();
    // The line fell silent.
    void onFrameTimeout();

signals:
    void frameSent(const QByteArray &frame);
    // Every burst taken for checking, before its checks.
    void frameTaken(const QByteArray &bytes);
    // The line fell silent and the held bytes were dealt with.
    void frameTimerExpired();
    // An answer to the request in flight, checked; at most one per request.
    void answerReceived(const QByteArray &frame);
    // The BMS refused a read with a Modbus exception answer; the read counts
    // as unanswered.
    void readRefused(quint8 function, quint8 code);
    // Five requests in a row to the pack at `address` found no answer.
    void wentOffline(quint8 address);
    // Three write frames found no answer.
    void writeAbandoned();
    // The port broke; it is closed. `watching` tells whether the link waits
    // for it to come back.
    void portLost(const QString &portName, const QString &reason, bool watching);
    // The lost port is back and monitoring goes on.
    void portRecovered(const QString &portName);
    void countersChanged();
    // The turns follow a slow pack's answers, or no longer need to: they
    // are now `turnMs` long.
    void turnChanged(int turnMs);

private:
    enum State { Idle, Monitoring, Waiting };

    bool openPort();
    void sendFrame(const QByteArray &frame, int packIndex);
    // Cuts the held bytes as one burst and judges it; without a silence
    // seen only when they already make a whole answer.
    void takeHeld(bool silenceSeen);
    void takeFrame(const QByteArray &bytes);
    // A whole answer from the pack polled before the one in flight.
    void noteLateAnswer(const QByteArray &bytes);
    // The bytes just taken answer the request sent at `sentMs`: the turns
    // follow the slowest answers of late.
    void noteAnswerTime(qint64 sentMs);
    // The timetable starts again: the next regular turn comes at `dueMs` on
    // the link's clock.
    void startTurnTimer(qint64 dueMs);
    // The poll timer fires at `dueMs` on the link's clock.
    void armTurnTimer(qint64 dueMs);
    // The time an answer may take: no turn comes sooner after a request.
    int answerTimeMs() const;
    void onPortFailed(const QString &reason);
    void tryReconnect();
    // Empties the receive side and forgets the request in flight.
    void resetReceive();
    // Polling from the identity read on, one period from now.
    void beginMonitoring();
    // Writes a request and makes it the one in flight; false when the port
    // refused it.
    bool writeRequest(const QByteArray &frame);
    // One tick for pack `index` of the list.
    void poll(int index);
    int selectedIndex() const;

    struct Pack
    {
        quint8 address = 1;
        quint8 unanswered = 0;
    };

    LinkPort *m_port;
    QTimer *m_pollTimer;
    QTimer *m_frameTimer;
    QTimer *m_watchTimer;
    QTimer *m_soonTimer;
    RingBuffer m_rxBuffer{300};
    SilenceGate m_gate;
    QElapsedTimer m_elapsed;
    std::function<qint64()> m_clock;
    FrameSource m_writeFrame;
    FrameSource m_recordFrame;

    QString m_portName;
    qint32 m_baud = 115200;
    QVector<Pack> m_packs{Pack{}};
    quint8 m_selected = 1;
    int m_turn = 0;           // the pack the next regular tick polls
    int m_inFlightPack = -1;  // the pack the request in flight went to
    qint64 m_lastRegularMs = 0;   // when the last regular turn began (m_clock)
    bool m_soonAfterTurn = false; // quick frames wait for that turn's answer
    int m_soonDelayMs = 0;
    // The last two requests sent (address and when), to know a late answer
    // from the pack asked before, and the time each answer took.
    struct Sent
    {
        quint8 address = 0;
        qint64 ms = 0;
    };
    Sent m_lastSent;
    Sent m_previousSent;
    int m_slowestMs = 0; // the turns' share of m_slowest, as last told
    qint64 m_heldEndMs = 0; // when the last byte of the bytes taken arrived
    SlowestAnswer m_slowest;
    TurnTimetable m_timetable;
    ImageSource m_image;
    int m_pollMs = 1000;
    bool m_autoReconnect = true;

    State m_state = Idle;
    QByteArray m_inFlight;
    QByteArray m_answered;
    bool m_dispatching = false;
    QString m_error;
    LinkCounters m_counters;
};
