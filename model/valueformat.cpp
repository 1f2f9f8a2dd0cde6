#include "model/valueformat.h"

QString fixedPoint(qint64 value, int decimals)
{
    qint64 scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    // Negated in unsigned arithmetic, so that the most negative value works too.
    const quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
    const QString text = decimals > 0
        ? QStringLiteral("%1.%2").arg(magnitude / scale).arg(magnitude % scale, decimals, 10, QLatin1Char('0'))
        : QString::number(magnitude);
    return value < 0 ? QLatin1Char('-') + text : text;
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
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
