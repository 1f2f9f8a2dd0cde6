#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QStringList>
#include <QWidget>

class QTableView;
class RecordTableModel;
class SampleQueue;
namespace Ui { class BmsDatalog; }

// The datalog page: the records the BMS keeps in its own memory (numbers 1
// to 680), read one per poll tick into table `record` of connection2 and
// shown newest first on the same paged table model as the history.
//
// Reading is woven into the polling: Start sets nextRequest to DatalogRead
// and prepares the first record's read; the poll tick sends it; the
// dispatcher hands the answer back (storeRecordAnswer, insertRecord,
// prepareNextRequest), which prepares the next record until the range is
// done. An answer is stored only as the record its request asked for, and
// only while that read is the one the page waits for.
class BmsDatalog : public QWidget
{
    Q_OBJECT
public:
    explicit BmsDatalog(QWidget *parent = nullptr);
    ~BmsDatalog() override;

    // The prepared 8-byte record read for the poll tick.
    QByteArray requestFrame() const { return m_requestFrame; }

    void enableReadButton();
    void disableReadButton();

    // The request that the answer about to be handed over answers, as it was
    // sent; set by the dispatcher before storeRecordAnswer.
    void setAnsweredRequest(const QByteArray &request) { m_answeredRequest = request; }
    void storeRecordAnswer(const QByteArray &frame);
    void insertRecord();
    void prepareNextRequest();

    bool isReading() const { return m_reading; }
    // The "Fast" box: the next read goes out as soon as an answer is taken.
    bool fastRead() const;
    void setFastRead(bool fast);
    // True right after an answer when the next record's read may go out at
    // once rather than on the next tick.
    bool wantsPollSoon() const;
    // Puts texts into the range fields as if typed (not yet clamped).
    void setRangeText(const QString &begin, const QString &end);
    quint16 currentRecord() const { return m_currentRecord; }
    quint16 endRecord() const { return m_endRecord; }

    QTableView *tableView() const;
    RecordTableModel *model() const { return m_model; }
    // Where records wait while the database does not take them.
    SampleQueue *queue() const { return m_queue; }
    bool lastSortDescending() const { return m_lastSortDescending; }

    QStringList chineseHeaders;
    QStringList englishHeaders;

signals:
    void languageSwich();
    // Record `record` was stored under row id `id` (later than it was read
    // when it had to wait for the database).
    void recordStored(int record, qint64 id);
    // The read ended: its last record was taken (true) or it was stopped.
    void readingEnded(bool complete);

public slots:
    void on_pushButton_clicked();
    void sortByColumn(int n);
    void languageChange();
    void on_saveBtn_clicked();
    void on_clearBtn_clicked();
    void on_begin_num_le_editingFinished();
    void on_end_num_le_editingFinished();

private:
    enum class Answer { None, Accepted, Rejected };

    void loadTable();
    void applyHeaderStyle();
    void fitColumns();
    void setButtonText();
    void finishRun(bool complete);
    void showProgress();

    Ui::BmsDatalog *ui;
    RecordTableModel *m_model;
    SampleQueue *m_queue;
    bool m_lastSortDescending = false;
    QSqlDatabase database;
    QByteArray m_requestFrame;
    quint16 m_currentRecord = 0; // next record to prepare
    quint16 m_endRecord = 0;     // last record of the running read

    bool m_reading = false;
    int m_awaitedRecord = 0;     // record of the prepared read, 0 when none
    bool m_awaitFast = false;    // that read may go out at once after an answer
    QByteArray m_answeredRequest;
    Answer m_answer = Answer::None;
    int m_answerRecord = 0;
    QByteArray m_lastAnswerData; // registers of the last record taken
    int m_runTotal = 0;
    int m_runDone = 0;
    QElapsedTimer m_runClock;
};
