#pragma once

#include "model/language.h"

#include "store/recordtable.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>


// A table model that shows a recorded-data table (history samples in
// `total`, BMS log records in `record`, defined in store/recordtable.h)
// newest first without ever holding all of it.
//
// A soak test writes a sample a second for weeks, so a table reaches
// hundreds of thousands or millions of rows. The model therefore keeps only
// the blocks of rows that the view has asked for and lets SQLite do the
// ordering: the default order is "newest first" (descending id), a header
// click orders by the stored value of a column (an index per sorted column
// keeps deep pages cheap). Rows stored after the last load or sort are shown
// on top of that order, newest first.


// What a view of a recorded-data table shows at one moment, enough to walk
// its rows again in the shown order from another connection or thread: the
// export reads through this.
struct RecordViewSnapshot
{
    const RecordTable::Definition *definition = nullptr;
    QString databaseName;   // file of the database
    int language = 0;
    int sortColumn = -1;    // -1: newest first
    int sortLanguage = 0;   // language whose texts ordered status and heater
    Qt::SortOrder sortOrder = Qt::DescendingOrder;
    QString filterColumn;   // empty: every row; else only rows whose
    QVariant filterValue;   // column filterColumn holds filterValue
    qint64 orderedMaxId = 0;     // rows up to this id are in the sort order
    QVector<qint64> freshIds;    // rows stored since, oldest first; shown on top
    qint64 rowCount = 0;

    // Steps through the shown rows from top to bottom on `db`. `row` gets
    // the row's values (id first, then the shown columns) and returns false
    // to stop. Returns false when a query fails or `row` stopped the walk.
    bool forEachRow(QSqlDatabase db, const std::function<bool(const QVector<QVariant> &values)> &row) const;
};

class RecordTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The language of headers, shown texts and sort keys (Chinese until set).
    int language() const { return languageIndex(m_language); }
    void setLanguage(Language language) { m_language = language; }
    RecordTableModel(const RecordTable::Definition &definition, QObject *parent = nullptr);

    const RecordTable::Definition &definition() const { return m_def; }
    QSqlDatabase database() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Shows the whole table again newest first, with the headers and texts
    // of the current language. "select error!" when the table cannot be read.
    void reload();
    // Orders the shown rows by `column` (a view column); creates the
    // column's index the first time. Later rows still come on top.
    void sortByColumn(int column, Qt::SortOrder order);
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // Shows only the rows whose view column `column` holds `value` (bound,
    // never pasted into a statement); -1 shows every row again. Sorting,
    // paging, new rows on top and the snapshot follow the filter. Reloads
    // the view newest first.
    void setFilter(int column, const QVariant &value);
    int filterColumn() const { return m_filterColumn; }
    QVariant filterValue() const { return m_filterValue; }

    // Stores one row (one value per column, bound, never pasted into the
    // statement) and shows it on top. On failure writes "insert error!" to
    // the debug output, shows nothing and returns -1; otherwise the row's id.
    qint64 appendRow(const QVector<QVariant> &values);
    // The two halves of appendRow. storeRow stores without showing and
    // returns the new id, or -1 with the database's error in `error`.
    qint64 storeRow(const QVector<QVariant> &values, QSqlError *error = nullptr);
    // Shows a row stored under `id` on top of the view.
    void showStoredRow(qint64 id, const QVector<QVariant> &values);

    // Drops and re-creates the table; the view is empty and the next row
    // gets id 1. When the drop fails ("drop error!"; a missing table is
    // created) the view shows whatever the table then holds.
    void clearTable();

    // Lets go of the prepared insert, before the connection is reopened.
    void forgetStatements();

    // The stored id of a shown row (-1 when unknown).
    qint64 idAt(int row) const;
    RecordViewSnapshot snapshot() const;

    // Rows fetched from the database at once while the view scrolls.
    static constexpr int BlockRows = 128;

private:
    using Row = QVector<QVariant>; // id, then one value per column

    struct Block
    {
        QVector<Row> rows;
        quint64 lastUse = 0;
    };

    const Row *rowAt(int row) const;
    const Block &orderedBlock(int block) const;
    void fetchOrderedBlock(int block, Block &into) const;
    void readRows(QSqlQuery &query, QVector<Row> &into) const;
    void forgetRows();
    void foldFreshRows();
    void resetToNewestFirst();
    void ensureSortIndex(int column);
    void countRowsExactly();
    void recoverFromGaps();
    // " <filter> and" (with a trailing blank) or empty, and its bound value.
    QString filterAnd() const;
    void bindFilter(QSqlQuery &query) const;
    bool matchesFilter(const QVector<QVariant> &values) const;

    const RecordTable::Definition &m_def;
    QString m_orderedSelect; // select list of the ordered part

    int m_sortColumn = -1;
    int m_filterColumn = -1;
    QVariant m_filterValue;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    int m_sortLanguage = 0;
    qint64 m_orderedMaxId = 0;  // newest id of the ordered part
    qint64 m_orderedCount = 0;  // rows in the ordered part
    // Ids of the ordered part are known to run without gaps from
    // m_orderedMaxId down (the table is only appended to and dropped whole),
    // so a row's id follows from its position; a gap left by someone else's
    // delete is noticed on fetch and the model falls back to counting.
    bool m_contiguous = true;
    bool m_recoveryPending = false;
    bool m_countExact = false; // m_orderedCount was counted, not inferred
    QVector<qint64> m_freshIds; // stored since the last load or sort

    QSqlQuery m_insert; // the prepared insert of every column
    bool m_insertPrepared = false;

    mutable QHash<int, Block> m_blocks;
    mutable QHash<qint64, Row> m_freshRows;
    mutable quint64 m_useClock = 0;
    Language m_language = Language::Chinese;
};
