#include "model/valueformat.h"

void appendUnsigned(QString &out, quint64 value, int minDigits)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    for (int i = n; i < minDigits; ++i)
        out += QLatin1Char('0');
    while (n)
        out += QLatin1Char(digits[--n]);
}

void appendPackedClock(QString &out, quint32 packed)
{
    appendUnsigned(out, (packed >> 26) + 2000, 4);
    out += QLatin1Char('-');
    appendUnsigned(out, (packed >> 22) & 0xF, 2);
    out += QLatin1Char('-');
    appendUnsigned(out, (packed >> 17) & 0x1F, 2);
    out += QLatin1Char(' ');
    appendUnsigned(out, (packed >> 12) & 0x1F, 2);
    out += QLatin1Char(':');
    appendUnsigned(out, (packed >> 6) & 0x3F, 2);
    out += QLatin1Char(':');
    appendUnsigned(out, packed & 0x3F, 2);
}

void appendFixedPoint(QString &out, qint64 value, int decimals)
{
    quint64 scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    // Negated in unsigned arithmetic, so that the most negative value works too.
    const quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
    if (value < 0)
        out += QLatin1Char('-');
    appendUnsigned(out, magnitude / scale);
    if (decimals > 0) {
        out += QLatin1Char('.');
        appendUnsigned(out, magnitude % scale, decimals);
    }
}

void appendHex4(QString &out, quint16 value)
{
    static const char hex[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += QLatin1Char(hex[(value >> shift) & 0xF]);
}

QString fixedPoint(qint64 value, int decimals)
{
    QString text;
    appendFixedPoint(text, value, decimals);
    return text;
}

QString hex4(quint16 value)
{
    QString text;
    appendHex4(text, value);
    return text;
}

QString operatingStateText(quint16 statusWord, int language)
{
    if (statusWord & 0x0001)
        return pickText(language, QStringLiteral("充电"), QStringLiteral("Charge"));
    if (statusWord & 0x0002)
        return pickText(language, QStringLiteral("放电"), QStringLiteral("Discharge"));
    if (statusWord & 0x0004)
        return pickText(language, QStringLiteral("保护"), QStringLiteral("Protection"));
    if (statusWord & 0x0008)
        return pickText(language, QStringLiteral("充电限流"), QStringLiteral("Charge current limiting"));
    return pickText(language, QStringLiteral("静置"), QStringLiteral("Standby"));
}
