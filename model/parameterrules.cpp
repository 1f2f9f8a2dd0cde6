#include "model/parameterrules.h"

#include "model/valueformat.h"

namespace Param {

const QVector<Rule> &rules()
{
    using R = Rule;
    static const QVector<Rule> r{
        // Lower limits: protection at or below the warning, and below the
        // level at which the BMS releases it.
        {R::NotAbove, "CUVP", "CUVW"}, {R::Below, "CUVP", "CUVR"},
        {R::NotAbove, "UVP", "UVW"}, {R::Below, "UVP", "UVR"},
        {R::NotAbove, "UCTP", "UCTW"}, {R::Below, "UCTP", "UCTR"},
        {R::NotAbove, "UDTP", "UDTW"}, {R::Below, "UDTP", "UDTR"},
        {R::NotAbove, "AVG_UTP", "AVG_UTW"}, {R::Below, "AVG_UTP", "AVG_UTR"},
        // Upper limits, the other way round.
        {R::NotBelow, "COVP", "COVW"}, {R::Above, "COVP", "COVR"},
        {R::NotBelow, "OVP", "OVW"}, {R::Above, "OVP", "OVR"},
        {R::NotBelow, "OCTP", "OCTW"}, {R::Above, "OCTP", "OCTR"},
        {R::NotBelow, "ODTP", "ODTW"}, {R::Above, "ODTP", "ODTR"},
        {R::NotBelow, "PCB_OTP", "PCB_OTW"}, {R::Above, "PCB_OTP", "PCB_OTR"},
        {R::NotBelow, "AVG_OTP", "AVG_OTW"}, {R::Above, "AVG_OTP", "AVG_OTR"},
        // Each window between a lower and an upper protection is not empty.
        {R::Below, "CUVP", "COVP"}, {R::Below, "UVP", "OVP"}, {R::Below, "UCTP", "OCTP"},
        {R::Below, "UDTP", "ODTP"}, {R::Below, "AVG_UTP", "AVG_OTP"},
        // Current stages: each stage above the one before, the short circuit
        // above both discharge stages, the second stage acting no later.
        {R::Below, "OCC_I", "OCC_II"}, {R::Below, "ODC_I", "ODC_II"}, {R::Below, "ODC_II", "LD"},
        {R::NotAbove, "OCC_II_DELAY", "OCC_I_DELAY"}, {R::NotAbove, "ODC_II_DELAY", "ODC_I_DELAY"},
        {R::Below, "HEATING_ON", "HEATING_OFF"},
        // Ranges: cell voltages of a lithium cell, temperatures a pack meets.
        {R::Within, "CUVW", nullptr, 1500, 4500}, {R::Within, "CUVP", nullptr, 1500, 4500},
        {R::Within, "CUVR", nullptr, 1500, 4500}, {R::Within, "COVW", nullptr, 1500, 4500},
        {R::Within, "COVP", nullptr, 1500, 4500}, {R::Within, "COVR", nullptr, 1500, 4500},
        {R::Within, "BALANCE_OPEN_V", nullptr, 1500, 4500},
        {R::Within, "UCTW", nullptr, -40, 125}, {R::Within, "UCTP", nullptr, -40, 125},
        {R::Within, "UCTR", nullptr, -40, 125}, {R::Within, "OCTW", nullptr, -40, 125},
        {R::Within, "OCTP", nullptr, -40, 125}, {R::Within, "OCTR", nullptr, -40, 125},
        {R::Within, "UDTW", nullptr, -40, 125}, {R::Within, "UDTP", nullptr, -40, 125},
        {R::Within, "UDTR", nullptr, -40, 125}, {R::Within, "ODTW", nullptr, -40, 125},
        {R::Within, "ODTP", nullptr, -40, 125}, {R::Within, "ODTR", nullptr, -40, 125},
        {R::Within, "PCB_OTW", nullptr, -40, 125}, {R::Within, "PCB_OTP", nullptr, -40, 125},
        {R::Within, "PCB_OTR", nullptr, -40, 125}, {R::Within, "HEATING_ON", nullptr, -40, 125},
        {R::Within, "HEATING_OFF", nullptr, -40, 125}, {R::Within, "AVG_UTW", nullptr, -40, 125},
        {R::Within, "AVG_UTP", nullptr, -40, 125}, {R::Within, "AVG_UTR", nullptr, -40, 125},
        {R::Within, "AVG_OTW", nullptr, -40, 125}, {R::Within, "AVG_OTP", nullptr, -40, 125},
        {R::Within, "AVG_OTR", nullptr, -40, 125},
        {R::Within, "LOW_CAP", nullptr, 0, 100},
    };
    return r;
}

int ruleValue(const Field &field, quint16 value)
{
    return field.scale == Scale::Temp ? int(qint16(value)) - 50 : int(value);
}

namespace {
bool holds(const Rule &r, int a, int b)
{
    switch (r.kind) {
    case Rule::NotAbove: return a <= b;
    case Rule::Below: return a < b;
    case Rule::NotBelow: return a >= b;
    case Rule::Above: return a > b;
    case Rule::Within: return a >= r.lo && a <= r.hi;
    }
    return true;
}

// A bound of a range as its field shows values: 1500 mV as 1.500.
QString boundText(const Field &f, int bound)
{
    switch (f.scale) {
    case Scale::Milli: return fixedPoint(bound, 3);
    case Scale::Centi: return fixedPoint(bound, 2);
    default: return QString::number(bound);
    }
}
} // namespace

QString Violation::text(bool fieldNames, int language) const
{
    auto name = [&](const Field *f, quint16 v) {
        QString t = fieldNames ? QString::fromUtf8(f->name)
                               : QString::fromUtf8(language == 0 ? f->labelZh : f->labelEn);
        t += QLatin1Char(' ') + fieldText(f->scale, v);
        if (!fieldNames && *f->unit)
            t += QLatin1Char(' ') + QString::fromUtf8(f->unit);
        return t;
    };
    const QString first = name(a, valueA);
    const bool zh = !fieldNames && language == 0;
    if (rule->kind == Rule::Within) {
        QString lo = boundText(*a, rule->lo), hi = boundText(*a, rule->hi);
        if (!fieldNames && *a->unit)
            hi += QLatin1Char(' ') + QString::fromUtf8(a->unit);
        return zh ? QStringLiteral("%1 须在 %2 至 %3 之间").arg(first, lo, hi)
                  : QStringLiteral("%1 must be between %2 and %3").arg(first, lo, hi);
    }
    const QString second = name(b, valueB);
    switch (rule->kind) {
    case Rule::NotAbove:
        return zh ? QStringLiteral("%1 不得高于 %2").arg(first, second) : QStringLiteral("%1 must not be above %2").arg(first, second);
    case Rule::Below:
        return zh ? QStringLiteral("%1 须低于 %2").arg(first, second) : QStringLiteral("%1 must be below %2").arg(first, second);
    case Rule::NotBelow:
        return zh ? QStringLiteral("%1 不得低于 %2").arg(first, second) : QStringLiteral("%1 must not be below %2").arg(first, second);
    case Rule::Above:
        return zh ? QStringLiteral("%1 须高于 %2").arg(first, second) : QStringLiteral("%1 must be above %2").arg(first, second);
    case Rule::Within:
        break;
    }
    return QString();
}

QVector<Violation> brokenRules(const quint16 *image, const std::function<bool(quint16 reg)> &written)
{
    QVector<Violation> broken;
    for (const Rule &r : rules()) {
        const Field *a = fieldByName(QLatin1String(r.a));
        const Field *b = r.b ? fieldByName(QLatin1String(r.b)) : nullptr;
        if (!written(a->reg) && !(b && written(b->reg)))
            continue;
        const quint16 va = image[a->reg], vb = b ? image[b->reg] : 0;
        if (holds(r, ruleValue(*a, va), b ? ruleValue(*b, vb) : 0))
            continue;
        Violation v;
        v.rule = &r;
        v.a = a;
        v.b = b;
        v.valueA = va;
        v.valueB = vb;
        broken.append(v);
    }
    return broken;
}

} // namespace Param
