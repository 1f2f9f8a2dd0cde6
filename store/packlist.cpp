#include "store/packlist.h"

#include "store/recordtable.h"
#include "store/tablerows.h"

#include <QSqlQuery>

#include <algorithm>

namespace PackList {

QString column() { return HistoryRow::name(HistoryRow::BmsIsdn); }

bool ensureIndex(QSqlDatabase db)
{
    QSqlQuery q(db);
    return q.exec(QStringLiteral("create index if not exists %1 on total(%2)")
                      .arg(RecordTable::history().sortIndexName(HistoryRow::BmsIsdn, 0), column()));
}

QStringList serials(QSqlDatabase db, bool *ok)
{
    // Each step asks the index for the next serial after the last one: a
    // handful of lookups instead of a pass over every row.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool done = q.exec(QStringLiteral("with recursive s(v) as (select min(%1) from total where %1>'' "
                                            "union all select (select min(%1) from total where %1>v) from s "
                                            "where v is not null) select v from s where v is not null")
                                 .arg(column()));
    QStringList out;
    while (done && q.next())
        out << q.value(0).toString();
    if (ok)
        *ok = done;
    return out;
}

QString serialOf(const QVector<QVariant> &values)
{
    return values.size() == HistoryRow::Count ? values.at(HistoryRow::BmsIsdn).toString() : QString();
}

int insertSorted(QStringList &into, const QString &serial)
{
    if (serial.isEmpty())
        return -1;
    const auto at = std::lower_bound(into.begin(), into.end(), serial,
                                     [](const QString &a, const QString &b) { return a.compare(b) < 0; });
    if (at != into.end() && *at == serial)
        return -1;
    const int index = int(at - into.begin());
    into.insert(index, serial);
    return index;
}

} // namespace PackList
