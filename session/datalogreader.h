#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

// The walk through the BMS's own record log, one record read a tick (or, at
// the fast pace, as soon as the last answer is in), and the only owner of
// its state: the range, the record awaited, the answers taken. An answer is
// taken only as the record its request asked for, and only while that read
// is the one awaited; a late repetition of the last answer met by a read
// sent at once is read again on a tick. Whoever stores records listens to
// recordRead; the page and the command line show progress from it.
class DatalogReader : public QObject
{
    Q_OBJECT
public:
    explicit DatalogReader(QObject *parent = nullptr);

    // The fast pace: the next read after the line's gap, not the tick.
    void setFast(bool on) { m_fast = on; }
    bool fast() const { return m_fast; }

    // Reads records begin..end (checked by the caller) from the next tick.
    void start(int begin, int end);
    // Asks for nothing more; an answer still on its way is taken when it
    // comes (its read was sent). ended(false) follows.
    void stop();
    bool isReading() const { return m_reading; }

    // The read for the tick (8 bytes, address 1, sealed).
    QByteArray requestFrame() const { return m_requestFrame; }
    // An answer to the record read `request`, as the dispatcher hands it.
    void answered(const QByteArray &request, const QByteArray &frame);
    // Right after an answer: the next read may go out at once.
    bool wantsPollSoon() const;

    int total() const { return m_total; }
    int done() const { return m_done; }
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }
    quint16 currentRecord() const { return m_current; }
    quint16 endRecord() const { return m_end; }

signals:
    // Record `record` is in the live data's record registers.
    void recordRead(int record);
    // A record was taken or the walk moved on.
    void progress();
    // The walk ended: its last record was taken (true) or it was stopped.
    void ended(bool complete);

private:
    enum class Answer { None, Accepted, Rejected };
    void take(const QByteArray &request, const QByteArray &frame);
    void prepareNext();
    void finish(bool complete);

    QByteArray m_requestFrame;
    quint16 m_current = 0; // next record to prepare
    quint16 m_end = 0;     // last record of the running read
    bool m_reading = false;
    bool m_fast = false;
    int m_awaited = 0;       // record of the prepared read, 0 when none
    bool m_awaitFast = false; // that read may go out at once after an answer
    Answer m_answer = Answer::None;
    int m_answerRecord = 0;
    QByteArray m_lastAnswerData; // registers of the last record taken
    int m_total = 0;
    int m_done = 0;
    QElapsedTimer m_clock;
};
