#include "model/addresslist.h"

#include <QRegularExpression>

Result parseAddressList(const QString &text, QVector<quint8> *ids)
{
    static const QRegularExpression part(QStringLiteral("^\\s*(\\d{1,3})\\s*(?:-\\s*(\\d{1,3})\\s*)?$"));
    const QString refused = QStringLiteral("'%1': use IDs 1..64 as a list like 1,3,7 or 1-4,9").arg(text);
    QVector<quint8> found;
    for (const QString &piece : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = part.match(piece);
        if (!m.hasMatch())
            return Result::failure(refused);
        const int first = m.captured(1).toInt();
        const int last = m.captured(2).isEmpty() ? first : m.captured(2).toInt();
        if (first < 1 || last > 64 || first > last)
            return Result::failure(refused);
        for (int id = first; id <= last; ++id)
            if (!found.contains(quint8(id)))
                found << quint8(id);
    }
    if (ids)
        *ids = found;
    return Result();
}
