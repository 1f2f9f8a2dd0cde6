#include "support/historytable.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdio>

bool fillHistoryTable(QSqlDatabase db, qint64 rows)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "insert into total(time,Status,Heater,Warning,protection,Error_Code,CycleNum,Current_I,MAX_Curren,"
        "Total_Voltage,SOC,SOH,Temp_PCB,Temp_internal,Temp_MAX,Temp_01,Temp_02,Temp_03,Temp_04,Vol_Cell01,"
        "Vol_Cell02,Vol_Cell03,Vol_Cell04,Vol_Cell05,Vol_Cell06,Vol_Cell07,Vol_Cell08,Vol_Cell09,Vol_Cell10,"
        "Vol_Cell11,Vol_Cell12,Vol_Cell13,Vol_Cell14,Vol_Cell15,Vol_Cell16,Capacity,Remaining,Battery_Mode,"
        "BMS_Version,BMS_ISDN) "
        "with recursive c(x) as (select 1 union all select x+1 from c where x<?) "
        "select datetime(1700000000+x,'unixepoch'),x%16,x%2,x%65536,(x*7)%65536,x%16,x/100,(x*37)%4001-2000,100,"
        "4800+(x*13)%600,x%101,100,25,26,30,20,21,22,23,3300+x%50,3301,3302,3303,3304,3305,3306,3307,3308,3309,"
        "3310,3311,3312,3313,3314,3315,1000,80,'PACK-48V-100AH-MODEL-XYZ','V1.2.3','SN0123456789ABCD' from c"));
    q.addBindValue(rows);
    db.transaction();
    if (!q.exec()) {
        std::fprintf(stderr, "fill failed: %s\n", qPrintable(q.lastError().text()));
        return false;
    }
    db.commit();
    QSqlQuery(db).exec(QStringLiteral("pragma wal_checkpoint(TRUNCATE)"));
    return true;
}
