#pragma once

#include <QObject>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVector>
#include <deque>

class QTimer;
class RecordTableModel;

// Stores the rows of a recorded-data table (a history sample a second, a
// record of the BMS's log) so that a database fault loses none of them:
// a row that cannot be stored waits in memory, in order, and is stored as
// soon as the database takes writes again, before any newer row. Inserts
// never wait long (the connection's busy timeout is short); a failed one is
// tried again with the next row and every few seconds.
//
// A read-only file needs its connection reopened once it is writable again
// (SQLite keeps a connection read-only that was opened so); the queue does
// that before it retries after such a fault.
class SampleQueue : public QObject
{
    Q_OBJECT
public:
    enum class Fault { None, ReadOnly, DiskFull, Locked, Other };

    // At least an hour of samples at one a second.
    static constexpr int DefaultCapacity = 7200;
    static constexpr int RetryMs = 2000;

    explicit SampleQueue(RecordTableModel *model, int capacity = DefaultCapacity, QObject *parent = nullptr);

    // Stores `values` (one per column) after the rows still waiting, and
    // shows each row on top of the model's view as it is stored.
    void submit(const QVector<QVariant> &values);
    // Tries the waiting rows now.
    void retry();
    // Empties the table, the rows still waiting for it included.
    void clearTable();

    int waiting() const { return int(m_waiting.size()); }
    // Rows given up because the queue was full (the oldest go first).
    qint64 lost() const { return m_lost; }
    Fault fault() const { return m_fault; }
    // The database's own words for the last fault.
    QString faultText() const { return m_faultText; }

    // The kind of fault an insert error stands for.
    static Fault classify(const QSqlError &error);

signals:
    void stored(qint64 id, const QVector<QVariant> &values);
    // The fault or the number of waiting rows changed.
    void stateChanged();

private:
    bool flush();
    void setFault(Fault fault, const QString &text);
    bool reopen();

    RecordTableModel *m_model;
    int m_capacity;
    std::deque<QVector<QVariant>> m_waiting;
    qint64 m_lost = 0;
    Fault m_fault = Fault::None;
    QString m_faultText;
    QTimer *m_retryTimer;
};
