#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// The packs of one RS485 line share table `total`; a row belongs to the
// pack whose serial number it carries in BMS_ISDN. The history page and the
// trend pick a pack by that serial.
namespace PackList {

// The name of the serial's column in SQL.
QString column();

// Creates the index on the serial when it is missing. It lets a pack's rows
// be found without reading the others, the list of serials be read with one
// lookup per pack, and it is the index a header-click sort by the serial
// uses, so it costs nothing more than that sort did.
bool ensureIndex(QSqlDatabase db);

// The serials stored in `total`, in text order, without the empty one (a
// sample taken before the pack's identity was read). One index lookup per
// serial, whatever the size of the table. Empty when the query fails.
QStringList serials(QSqlDatabase db, bool *ok = nullptr);

// The serial of a history row (one value per HistoryRow field).
QString serialOf(const QVector<QVariant> &values);

// Inserts `serial` into the sorted list `into` unless it is there or empty;
// returns the position it was inserted at, or -1.
int insertSorted(QStringList &into, const QString &serial);

} // namespace PackList
