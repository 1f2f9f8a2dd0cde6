#pragma once

#include "model/result.h"

#include <QString>
#include <QVector>

// A list of slave addresses as a person writes it: "1,3,7" or "1-4,9"
// (spaces allowed around the parts). Every ID is 1..64 and counted once, in
// the order written. Anything else is refused with the reason; `ids` is
// then left as it was.
Result parseAddressList(const QString &text, QVector<quint8> *ids);
