#pragma once

#include "model/livedata.h"

#include "model/language.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QVariant>
#include <QWidget>

class QComboBox;
class QTableView;
class RecordTableModel;
class SampleQueue;
namespace Ui { class HistoryMonitoring; }

// The history page: every monitoring sample, stored in table `total` of
// connection1 and shown newest first. The view pages rows in from the
// database as they scroll into sight, so a table of weeks of samples opens
// and grows as fast as an empty one.
class HistoryMonitoring : public QWidget
{
    Q_OBJECT
public:
    // The language of the page's texts, set before languageSwich() is
    // emitted; the form's own texts are the Chinese ones.
    void setLanguage(Language language);
    Language language() const { return m_language; }

    explicit HistoryMonitoring(QWidget *parent = nullptr);
    ~HistoryMonitoring() override;

    // Time text of the next sample; written by the dispatcher.
    QString sampleTime;
    // Stores the values just decoded into the live data as one row and shows
    // it on top.
    void insertSample();
    // The sample of one pack of the line (its image), at sampleTime.
    void insertSample(const BmsLiveData &live);

    // The values of one sample from the live data, in column order.
    QVector<QVariant> sampleValues() const;

    QTableView *tableView() const;
    RecordTableModel *model() const { return m_model; }
    // Where samples wait while the database does not take them.
    SampleQueue *queue() const { return m_queue; }
    bool lastSortDescending() const { return m_lastSortDescending; }

    // The pack selector: "All" first, then every serial stored in `total`,
    // in text order; a serial shows only that pack's rows.
    QComboBox *packBox() const;
    // The serial shown, empty for every pack.
    QString shownPack() const;

    QStringList chineseHeaders;
    QStringList englishHeaders;

    static const char *const HeaderStyle;

signals:
    void languageSwich();
    // A sample has been stored in table `total` under `id` (possibly later
    // than it was taken, when it had to wait for the database); `values` are
    // its columns in table order after `id`.
    void sampleStored(qint64 id, const QVector<QVariant> &values);

public slots:
    void sortByColumn(int n);
    void languageChange();
    void on_saveBtn_clicked();
    void on_clearBtn_clicked();

private:
    void loadTable();
    void applyHeaderStyle();
    void fitColumns();
    void listPacks();
    void showPack(int index);
    void notePack(const QVector<QVariant> &values);

    Ui::HistoryMonitoring *ui;
    RecordTableModel *m_model;
    SampleQueue *m_queue;
    bool m_lastSortDescending = false;
    QStringList m_packs; // the selector's serials, after "All"
    QSqlDatabase database;
    Language m_language = Language::Chinese;
};
