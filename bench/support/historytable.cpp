#include "support/historytable.h"

#include "store/tablerows.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <cstdio>

namespace {

// The value of each history field for row number x, as an SQL expression.
QString fieldValue(int field, int packs)
{
    using namespace HistoryRow;
    if (field >= Temp01 && field <= Temp04)
        return QString::number(20 + field - Temp01);
    if (field == Cell01)
        return QStringLiteral("3300+x%50");
    if (field > Cell01 && field <= Cell16)
        return QString::number(3300 + field - Cell01);
    switch (Field(field)) {
    case Time: return QStringLiteral("datetime(1700000000+x,'unixepoch')");
    case Status: return QStringLiteral("x%16");
    case Heater: return QStringLiteral("x%2");
    case Warning: return QStringLiteral("x%65536");
    case Protection: return QStringLiteral("(x*7)%65536");
    case ErrorCode: return QStringLiteral("x%16");
    case CycleNum: return QStringLiteral("x/100");
    case Current: return QStringLiteral("(x*37)%4001-2000");
    case MaxCurrent: return QStringLiteral("100");
    case TotalVoltage: return QStringLiteral("4800+(x*13)%600");
    case Soc: return QStringLiteral("x%101");
    case Soh: return QStringLiteral("100");
    case TempPcb: return QStringLiteral("25");
    case TempInternal: return QStringLiteral("26");
    case TempMax: return QStringLiteral("30");
    case Capacity: return QStringLiteral("1000");
    case Remaining: return QStringLiteral("80");
    case BatteryMode: return QStringLiteral("'PACK-48V-100AH-MODEL-XYZ'");
    case BmsVersion: return QStringLiteral("'V1.2.3'");
    case BmsIsdn:
        return packs > 1 ? QStringLiteral("'SN0123456789AB'||printf('%02d',x%") + QString::number(packs) + QLatin1Char(')')
                         : QStringLiteral("'SN0123456789ABCD'");
    default: return QString();
    }
}

} // namespace

bool fillHistoryTable(QSqlDatabase db, qint64 rows, int packs)
{
    QStringList names, values;
    for (int f = 0; f < HistoryRow::Count; ++f) {
        names << HistoryRow::name(f);
        values << fieldValue(f, packs);
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("insert into total(%1) "
                             "with recursive c(x) as (select 1 union all select x+1 from c where x<?) "
                             "select %2 from c")
                  .arg(names.join(QLatin1Char(',')), values.join(QLatin1Char(','))));
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
