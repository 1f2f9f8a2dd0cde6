#pragma once

#include "model/result.h"

#include <QString>
#include <QVector>

// The packs of one RS485 line are named by their bus IDs (1..64), as a list
// a technician types: "1,3,7", "1-4,9", blanks allowed around the parts.
// The IDs come back in ascending order, each once (a pack is polled once per
// cycle however often it is named).
namespace AddressList {

constexpr int FirstId = 1;
constexpr int LastId = 64;

// Reads `text` into `ids`; refuses, with the reason, an empty list, a part
// that is not a number or a range, a range backwards, or an ID outside
// 1..64. `ids` is left alone on failure.
Result parse(const QString &text, QVector<quint8> *ids);

// The shortest text of `ids` (ascending, each once): runs of three or more
// as ranges, "1-4,9"; "1,2" stays a list.
QString text(const QVector<quint8> &ids);

} // namespace AddressList
