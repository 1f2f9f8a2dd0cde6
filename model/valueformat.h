#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>

// Fixed-point display of raw register integers: "%1.%2" with the remainder
// zero-filled to `decimals` digits; a negative value keeps its minus sign
// also when the whole part is 0 (-50 hundredths -> "-0.50").
QString fixedPoint(qint64 value, int decimals);

// Four upper-case hexadecimal digits, zero-filled ("000A").
QString hex4(quint16 value);

// The same texts appended to `out` without temporary strings: the export
// formats tens of millions of fields this way.
void appendFixedPoint(QString &out, qint64 value, int decimals);
void appendHex4(QString &out, quint16 value);
// Decimal digits of `value`, zero-filled on the left to at least minDigits.
void appendUnsigned(QString &out, quint64 value, int minDigits = 1);
// The BMS's packed clock (years since 2000 in bits 26.., then month, day,
// hour, minute and second in 4, 5, 5, 6 and 6 bits) as
// "yyyy-MM-dd hh:mm:ss", fields as stored, unchecked.
void appendPackedClock(QString &out, quint32 packed);

// Operating state of a status word (bit 0 charge, 1 discharge, 2 protection,
// 3 charge current limiting, else standby) in language 0 (Chinese) or 1
// (English); empty for any other language.
QString operatingStateText(quint16 statusWord, int language);

// Picks the Chinese (language 0) or English (language 1) text of a pair;
// any other language gives an empty string.
inline QString pickText(int language, const QString &chinese, const QString &english)
{
    return language == 0 ? chinese : language == 1 ? english : QString();
}

// A text as the recorded tables store it: one never set goes in as an empty
// text, not as NULL.
inline QVariant storedText(const QString &text)
{
    return text.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(text);
}
