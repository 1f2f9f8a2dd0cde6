#pragma once

#include <QSqlDatabase>
#include <QtGlobal>

// Shared by the recorded-data benchmarks: the same table of `rows`
// plausible samples a second apart, stored by SQLite itself in one
// transaction, so that their figures compare.
// With `packs` above 1 the rows are those of that many packs polled in
// turn (serials ...00, ...01, ...), each a second after the one before.
bool fillHistoryTable(QSqlDatabase db, qint64 rows, int packs = 1);
