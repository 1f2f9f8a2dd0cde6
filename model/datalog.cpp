#include "model/datalog.h"

#include "protocol/recordread.h"
#include "model/valueformat.h"

namespace Datalog {

namespace {

QString duration(qint64 ms)
{
    const qint64 s = (ms + 999) / 1000;
    const qint64 h = s / 3600;
    const auto two = [](qint64 v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(two(s / 60 % 60), two(s % 60));
    return QStringLiteral("%1:%2").arg(s / 60).arg(two(s % 60));
}

} // namespace

quint32 fieldNumber(const QString &text) { return text.toUInt(nullptr, 10); }

QString clampBegin(const QString &begin, const QString &end)
{
    QString b = begin;
    if (fieldNumber(b) > fieldNumber(end))
        b = end;
    if (fieldNumber(b) == 0)
        b = QStringLiteral("1");
    return b;
}

QString clampEnd(const QString &end, const QString &begin)
{
    const QString last = QString::number(RecordRead::LastRecord);
    QString e = end;
    if (fieldNumber(e) < fieldNumber(begin))
        e = begin;
    // Never past the last record, also when a begin above it was copied.
    if (fieldNumber(e) > quint32(RecordRead::LastRecord))
        e = last;
    if (fieldNumber(e) == 0)
        e = QStringLiteral("1");
    return e;
}

Range startRange(QString &begin, QString &end)
{
    if (begin.isEmpty())
        begin = QStringLiteral("1");
    if (end.isEmpty())
        end = begin;
    end = clampEnd(end, begin);
    begin = clampBegin(begin, end);
    return Range{fieldNumber(begin), fieldNumber(end)};
}

QVector<QVariant> recordValues(int record, const quint16 *regs, const QString &serial)
{
    const auto reg = [regs](int r) { return QVariant(int(regs[r])); };
    const auto high = [regs](int r) { return QVariant(int(qint8(quint8(regs[r] >> 8)))); };
    const auto low = [regs](int r) { return QVariant(int(qint8(quint8(regs[r] & 0xFF)))); };
    const quint32 time = quint32(regs[0]) << 16 | regs[1];
    QVector<QVariant> v;
    v.reserve(31);
    v << record << QString::number(time) << int(regs[2] & 0x000F) << int(regs[2] >> 15) << reg(3) << reg(4)
      << reg(5) << reg(6) << int(qint16(regs[7])) << reg(8) << high(9) << low(9) << high(10) << low(10);
    for (int k = 0; k < 16; ++k)
        v << reg(12 + k);
    v << storedText(serial);
    return v;
}

QString progressText(int position, int total, qint64 msLeft, int language)
{
    if (msLeft < 0)
        return pickText(language, QStringLiteral("第 %1 条，共 %2 条").arg(position).arg(total),
                        QStringLiteral("Record %1 of %2").arg(position).arg(total));
    return pickText(language, QStringLiteral("第 %1 条，共 %2 条，剩余约 %3").arg(position).arg(total).arg(duration(msLeft)),
                    QStringLiteral("Record %1 of %2, about %3 left").arg(position).arg(total).arg(duration(msLeft)));
}

} // namespace Datalog
