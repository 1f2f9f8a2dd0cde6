#pragma once

#include "store/tablerows.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>

// The recorded-data tables (history samples in `total`, BMS log records in
// `record`): their shown columns and headers, the insert statement, the
// sort keys and their indexes, and how a stored value is shown.
namespace RecordTable {

struct Column
{
    QString name;    // column name in SQL; a fixed text, never data
    QString chinese; // header in Chinese
    QString english; // header in English
    Rule rule;
};

struct Definition
{
    QString connectionName;  // the named connection holding the table
    QString table;           // table name; a fixed text
    QString createStatement; // re-creates the table after Clear
    // What belongs to the table besides it (triggers, indexes, summaries),
    // set up again after start-up's and Clear's create; may be empty.
    std::function<bool(QSqlDatabase)> companions;
    // The shown columns, in table order after `id`: the table's row as
    // store/tablerows.h lists it.
    QVector<Column> columns;

    int columnCount() const { return columns.size(); }
    QStringList chineseHeaders() const;
    QStringList englishHeaders() const;
    // "select id,<every column>" with no clause; the row's values follow id.
    QString selectList() const;
    // The bound insert of every column, one '?' per column.
    QString insertStatement() const;
    // The SQL expression that orders by column `column` as it is shown in
    // `language`: the stored number for number columns, the packed value for
    // a record's date and time, the shown text for status and heater.
    QString sortKey(int column, int language) const;
    // Name of the index that serves sortKey(column, language).
    QString sortIndexName(int column, int language) const;
};

// Table `total` of connection1: one row per monitoring sample, 40 columns.
const Definition &history();
// Table `record` of connection2: one row per record read from the BMS's
// log, 31 columns.
const Definition &datalog();

// The text shown for a stored value under `rule`; status and heater texts
// depend on `language` (0 Chinese, 1 English, otherwise empty).
QString displayText(Rule rule, const QVariant &stored, int language);
// The same text appended to `out` (no temporary strings: the export's way).
void appendDisplayText(QString &out, Rule rule, const QVariant &stored, int language);
// True when a status cell shows the protection state (drawn on red).
bool isProtectionStatus(const QVariant &stored);

} // namespace RecordTable
