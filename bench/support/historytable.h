#pragma once

#include <QSqlDatabase>
#include <QtGlobal>

// Shared by the recorded-data benchmarks: the same table of `rows`
// plausible samples a second apart, stored by SQLite itself in one
// transaction, so that their figures compare.
bool fillHistoryTable(QSqlDatabase db, qint64 rows);
