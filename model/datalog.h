#pragma once

#include <QString>
#include <QVariant>
#include <QVector>
#include <QtGlobal>

// The records of the BMS's own log as the datalog page reads them: the
// range fields' rules and the row stored for one record.
namespace Datalog {

// The range fields read as unsigned numbers (0 when not a number).
quint32 fieldNumber(const QString &text);

// Leaving the begin field: a begin above the end becomes the end, and a
// begin of 0 becomes 1. Returns the field's new text.
QString clampBegin(const QString &begin, const QString &end);
// Leaving the end field: above 680 becomes 680, below the begin becomes the
// begin (never above 680), 0 becomes 1. Returns the field's new text.
QString clampEnd(const QString &end, const QString &begin);

struct Range
{
    quint32 begin = 0;
    quint32 end = 0;
    int count() const { return end >= begin ? int(end - begin + 1) : 0; }
};
// The range a Start reads. A field being edited has not been clamped yet:
// an empty begin means 1, an empty end the begin; then both clamps apply,
// end first, so that 1 <= begin <= end <= 680. The fields are updated.
Range startRange(QString &begin, QString &end);

// The 31 values stored for record `record` in column order: the record
// number, the packed date and time as its unsigned decimal text, state,
// heater, the three flag words, voltage, signed current, SOC, the four
// signed 8-bit temperatures, the 16 cells, and the pack's serial number.
// `regs` holds the record's 28 registers.
QVector<QVariant> recordValues(int record, const quint16 *regs, const QString &serial);

// "Record 5 of 680, about 1:15 left" in language 1, its Chinese in 0;
// msLeft < 0 leaves the time out.
QString progressText(int position, int total, qint64 msLeft, int language);
// The time the rest of `total` records will take at the pace of the `done`
// read in `elapsedMs`; -1 before the first.
inline qint64 msLeft(qint64 elapsedMs, int done, int total)
{
    return done > 0 ? elapsedMs * (total - done) / done : -1;
}

} // namespace Datalog
