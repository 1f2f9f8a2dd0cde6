#include "model/addresslist.h"

#include <QStringList>

#include <algorithm>

namespace AddressList {

namespace {
bool readId(const QString &part, int *id)
{
    bool ok = false;
    const QString trimmed = part.trimmed();
    // Digits only: toInt() would also take "+3" and " 3".
    if (trimmed.isEmpty() || !std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c.isDigit(); }))
        return false;
    *id = trimmed.toInt(&ok);
    return ok;
}
} // namespace

Result parse(const QString &text, QVector<quint8> *ids)
{
    const QString all = text.trimmed();
    if (all.isEmpty())
        return Result::failure(QStringLiteral("no ID given"));
    bool seen[LastId + 1] = {};
    for (const QString &part : all.split(QLatin1Char(','))) {
        const int dash = part.indexOf(QLatin1Char('-'));
        int first = 0;
        int last = 0;
        const bool read = dash < 0 ? readId(part, &first) && readId(part, &last)
                                   : readId(part.left(dash), &first) && readId(part.mid(dash + 1), &last);
        if (!read)
            return Result::failure(QStringLiteral("'%1' is neither an ID nor a range like 1-4").arg(part.trimmed()));
        for (const int id : {first, last}) {
            if (id < FirstId || id > LastId)
                return Result::failure(QStringLiteral("ID %1 is outside %2..%3").arg(id).arg(FirstId).arg(LastId));
        }
        if (last < first)
            return Result::failure(QStringLiteral("the range %1 runs backwards").arg(part.trimmed()));
        for (int id = first; id <= last; ++id)
            seen[id] = true;
    }
    ids->clear();
    for (int id = FirstId; id <= LastId; ++id) {
        if (seen[id])
            ids->append(quint8(id));
    }
    return Result();
}

QString text(const QVector<quint8> &ids)
{
    QStringList parts;
    for (int i = 0; i < ids.size();) {
        int j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1)
            ++j;
        if (j - i >= 2) {
            parts << QStringLiteral("%1-%2").arg(ids[i]).arg(ids[j]);
        } else {
            for (int k = i; k <= j; ++k)
                parts << QString::number(ids[k]);
        }
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}

} // namespace AddressList
