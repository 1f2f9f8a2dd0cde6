#include "store/schema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace Schema {

const char *const CreateTotalTable =
    "create table total(id integer primary key autoincrement,time varchar(20),Status int,Heater int,"
    "Warning int,protection int,Error_Code int,CycleNum int,Current_I int,MAX_Curren int,"
    "Total_Voltage int,SOC int,SOH int,Temp_PCB int,Temp_internal int,Temp_MAX int,Temp_01 int,"
    "Temp_02 int,Temp_03 int,Temp_04 int,Vol_Cell01 int,Vol_Cell02 int,Vol_Cell03 int,Vol_Cell04 int,"
    "Vol_Cell05 int,Vol_Cell06 int,Vol_Cell07 int,Vol_Cell08 int,Vol_Cell09 int,Vol_Cell10 int,"
    "Vol_Cell11 int,Vol_Cell12 int,Vol_Cell13 int,Vol_Cell14 int,Vol_Cell15 int,Vol_Cell16 int,"
    "Capacity int,Remaining int,Battery_Mode varchar(25),BMS_Version  varchar(7),BMS_ISDN varchar(17));";

const char *const CreateRecordTable =
    "create table record(id integer primary key autoincrement,Recordid int,time varchar(20),Status int,"
    "Heater int,Warning int,protection int,Error_Code int,Total_Voltage int,Total_Current int,SOC int,"
    "Temp_01 int,Temp_02 int,Temp_03 int,Temp_04 int,Vol_Cell01 int,Vol_Cell02 int,Vol_Cell03 int,"
    "Vol_Cell04 int,Vol_Cell05 int,Vol_Cell06 int,Vol_Cell07 int,Vol_Cell08 int,Vol_Cell09 int,"
    "Vol_Cell10 int,Vol_Cell11 int,Vol_Cell12 int,Vol_Cell13 int,Vol_Cell14 int,Vol_Cell15 int,"
    "Vol_Cell16 int,BMS_ISDN varchar(17));";

const char *const RecreateRecordTable =
    "create table record(id integer primary key autoincrement,Recordid int,time varchar(20),Status int,"
    "Heater int,Warning int,protection int,Error_Code int,Total_Voltage int,Total_Current int,SOC int,"
    "Temp_01 int,Temp_02 int,Temp_03 int,Temp_04 int,Vol_Cell01 int,Vol_Cell02 int,Vol_Cell03 int,"
    "Vol_Cell04 int,Vol_Cell05 int,Vol_Cell06 int,Vol_Cell07 int,Vol_Cell08 int,Vol_Cell09 int,"
    "Vol_Cell10 int,Vol_Cell11 int,Vol_Cell12 int,Vol_Cell13 int,Vol_Cell14 int,Vol_Cell15 int,"
    "Vol_Cell16 int,BMS_ISDN);";

bool configureConnection(QSqlDatabase db)
{
    QSqlQuery pragmas(db);
    bool ok = pragmas.exec(QStringLiteral("pragma synchronous=NORMAL;"));
    ok = pragmas.exec(QStringLiteral("pragma busy_timeout=%1;").arg(BusyTimeoutMs)) && ok;
    return ok;
}

Result openDatabase(const QString &connectionName, const QString &fileName, const QString &createStatement,
                    const QString &table)
{
    auto fail = [&](const QString &why) { return Result::failure(QStringLiteral("%1: %2").arg(fileName, why)); };
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(fileName);
    if (!db.open())
        return fail(db.lastError().text());
    // SQLite opens lazily: make sure the file is really a database.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("pragma schema_version;")))
        return fail(probe.lastError().text());
    probe.finish(); // an unfinished statement would keep the journal mode from changing
    // A sample a second for weeks: write-ahead logging with normal syncing
    // makes each insert a short append instead of two synced journal
    // writes. A power cut may lose the last samples; the file stays sound.
    // A file system that cannot share memory keeps the rollback journal:
    // slower, but the data are kept all the same.
    QSqlQuery journal(db);
    if (!journal.exec(QStringLiteral("pragma journal_mode=WAL;")) || !journal.next())
        qWarning("%s: journal mode not changed: %s", qPrintable(fileName), qPrintable(journal.lastError().text()));
    else if (journal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        qWarning("%s: journal mode stays %s", qPrintable(fileName), qPrintable(journal.value(0).toString()));
    journal.finish();
    configureConnection(db);

    QSqlQuery create(db);
    if (create.exec(createStatement))
        return Result();
    // Failing because the table is there already is what usually happens.
    QSqlQuery exists(db);
    exists.prepare(QStringLiteral("select 1 from sqlite_master where type='table' and name=?"));
    exists.addBindValue(table);
    if (exists.exec() && exists.next())
        return Result();
    return fail(QStringLiteral("cannot create table %1: %2").arg(table, create.lastError().text()));
}

} // namespace Schema
