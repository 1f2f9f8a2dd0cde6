#pragma once

#include "model/language.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QStringList>
#include <QWidget>

#include "session/bmssession.h"

class QTableView;
class RecordTableModel;
class SampleQueue;
namespace Ui { class BmsDatalog; }

// The datalog page: the records the BMS keeps in its own memory (numbers 1
// to 680), read one per poll tick into table `record` of connection2 and
// shown newest first on the same paged table model as the history.
//
// Reading is woven into the polling by the session's DatalogReader: Start
// hands it the range; each record it takes is stored here (a record the
// database does not take now waits in the queue and is stored in order
// once it does); its progress and end are shown here.
class BmsDatalog : public QWidget
{
    Q_OBJECT
public:
    // The language of the page's texts, set before languageSwich() is
    // emitted; the form's own texts are the Chinese ones.
    void setLanguage(Language language);
    Language language() const { return m_language; }

    explicit BmsDatalog(QWidget *parent = nullptr);
    ~BmsDatalog() override;

    // The record walk is the session's; the page starts and stops it, stores
    // what it reads and shows its progress. Set once, before use.
    void setSession(BmsSession *session);
    DatalogReader *reader() const { return m_reader; }

    void enableReadButton();
    void disableReadButton();

    bool isReading() const;
    // The "Fast" box: the next read goes out as soon as an answer is taken.
    bool fastRead() const;
    void setFastRead(bool fast);
    // Puts texts into the range fields as if typed (not yet clamped).
    void setRangeText(const QString &begin, const QString &end);

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
    void loadTable();
    void applyHeaderStyle();
    void fitColumns();
    void setButtonText();
    void finishRun(bool complete);
    void insertRecord(int record);
    void showProgress();

    Ui::BmsDatalog *ui;
    RecordTableModel *m_model;
    SampleQueue *m_queue;
    bool m_lastSortDescending = false;
    QSqlDatabase database;
    DatalogReader *m_reader = nullptr;
    Language m_language = Language::Chinese;
};
