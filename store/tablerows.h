#pragma once

#include "model/livedata.h"

#include <QString>
#include <QVariant>
#include <QVector>

// The rows of the two recorded tables, each column named once: its name and
// declared type in SQL, its headers, how a stored value is shown, and for the
// history where the value comes from.
//
// The create statements (store/schema.cpp) are fixed texts that existing
// database files and other tools rely on, so they stay as they are; these
// lists follow them column for column, and a test holds the two together.
// Everything else that writes or reads a row (the insert, the table view and
// its export, the trend's queries and its summary trigger, the benchmarks'
// tables) takes its columns from here, by field, never by a position of its
// own.
namespace RecordTable {

// How a stored value is shown in a cell (and written by the export).
enum class Rule {
    Text,           // the stored text
    Decimal,        // the number in decimal
    Hundredths,     // 1234 -> 12.34, -50 -> -0.50
    Thousandths,    // 3301 -> 3.301
    Tenths,         // 1005 -> 100.5
    Hex4,           // 171 -> 00AB
    StatusText,     // operating state of the low four status bits
    HeaterText,     // 0 off, otherwise on
    PackedDateTime, // 32-bit packed date and time of a BMS log record
};

// One column of a recorded table (after `id`, which SQLite assigns).
struct RowColumn
{
    const char *name;    // column name in SQL
    const char *type;    // declared type, as the create statement has it
    const char *chinese; // header in Chinese (UTF-8)
    const char *english; // header in English
    Rule rule;
};

} // namespace RecordTable

// Table `total`: one row per monitoring sample.
namespace HistoryRow {

// The columns in table order; a field is its column's position in the row
// after `id`. The numbered temperatures and cells follow each other.
enum Field : int {
    Time, Status, Heater, Warning, Protection, ErrorCode, CycleNum, Current, MaxCurrent, TotalVoltage, Soc, Soh,
    TempPcb, TempInternal, TempMax,
    Temp01, Temp02, Temp03, Temp04,
    Cell01, Cell02, Cell03, Cell04, Cell05, Cell06, Cell07, Cell08,
    Cell09, Cell10, Cell11, Cell12, Cell13, Cell14, Cell15, Cell16,
    Capacity, Remaining, BatteryMode, BmsVersion, BmsIsdn,
    Count
};
constexpr int Temps = Temp04 - Temp01 + 1;
constexpr int Cells = Cell16 - Cell01 + 1;

const RecordTable::RowColumn &column(int field);
// The column's name in SQL.
QString name(int field);

// The row stored for the sample held in `live`, taken at `time` (the PC's
// local clock as "yyyy-MM-dd hh:mm:ss"): one value per field, in order.
QVector<QVariant> values(const BmsLiveData &live, const QString &time);

} // namespace HistoryRow

// Table `record`: one row per record read from the BMS's own log. Its values
// are put together by Datalog::recordValues, in this order.
namespace DatalogRow {

enum Field : int {
    RecordId, Time, Status, Heater, Warning, Protection, ErrorCode, TotalVoltage, TotalCurrent, Soc,
    Temp01, Temp02, Temp03, Temp04,
    Cell01, Cell02, Cell03, Cell04, Cell05, Cell06, Cell07, Cell08,
    Cell09, Cell10, Cell11, Cell12, Cell13, Cell14, Cell15, Cell16,
    BmsIsdn,
    Count
};

const RecordTable::RowColumn &column(int field);
QString name(int field);

} // namespace DatalogRow
