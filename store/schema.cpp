#include "store/schema.h"

#include <QSqlDatabase>
#include <QSqlQuery>

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

bool openDatabase(const QString &connectionName, const QString &fileName, const QString &createStatement)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(fileName);
    if (!db.open())
        return false;
    // SQLite opens lazily: make sure the file is really a database.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("pragma schema_version;")))
        return false;
    probe.finish(); // an unfinished statement would keep the journal mode from changing
    // A sample a second for weeks: write-ahead logging with normal syncing
    // makes each insert a short append instead of two synced journal
    // writes. A power cut may lose the last samples; the file stays sound.
    QSqlQuery pragmas(db);
    pragmas.exec(QStringLiteral("pragma journal_mode=WAL;"));
    pragmas.exec(QStringLiteral("pragma synchronous=NORMAL;"));
    QSqlQuery create(db);
    create.exec(createStatement); // fails harmlessly when the table exists
    return true;
}

} // namespace Schema
