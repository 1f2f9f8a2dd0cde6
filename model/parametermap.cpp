#include "model/parametermap.h"
#include "model/valueformat.h"

#include "protocol/frames.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>

namespace Param {
namespace {

enum G { CUV, COV, UV, OV, UCT, UDT, OCT, ODT, OCC, ODC, PCB_OT, AVG_OT, AVG_UT, BALANCE, HEATING, TIME_SET };

const QVector<Field> &table()
{
    static const QVector<Field> t{
        {45, "BMS_TIME", "BMS 时间", "BMS Time", Scale::Clock, "", TIME_SET, -1},
        {56, "BALANCE_OPEN_V", "均衡启动电压", "Balance Vol", Scale::Milli, "V", BALANCE, 3400},
        {57, "BALANCE_OPEN_V_DELTA", "均衡启动压差", "Balance Diff", Scale::Plain, "mV", BALANCE, 40},
        {58, "LOW_CAP", "低容量告警", "Low Capcity Warn", Scale::Plain, "%", BALANCE, 10},
        {61, "CUVW", "单串欠压警告", "Cell UV Warn", Scale::Milli, "V", CUV, 2500},
        {62, "CUVP", "单串欠压保护", "Cell UV Protect", Scale::Milli, "V", CUV, 2300},
        {63, "CUVR", "单串欠压恢复", "Cell UV Release", Scale::Milli, "V", CUV, 3100},
        {64, "UVW", "整组欠压警告", "Pack UV Warn", Scale::Centi, "V", UV, 4500},
        {65, "UVP", "整组欠压保护", "Pack UV Protect", Scale::Centi, "V", UV, 4320},
        {66, "UVR", "整组欠压恢复", "Pack UV Release", Scale::Centi, "V", UV, 4800},
        {67, "COVW", "单串过压警告", "Cell OV Warn", Scale::Milli, "V", COV, 3800},
        {68, "COVP", "单串过压保护", "Cell OV Protect", Scale::Milli, "V", COV, 3900},
        {69, "COVR", "单串过压恢复", "Cell OV Release", Scale::Milli, "V", COV, 3450},
        {70, "OVW", "整组过压警告", "Pack OV Warn", Scale::Centi, "V", OV, 5920},
        {71, "OVP", "整组过压保护", "Pack OV Protect", Scale::Centi, "V", OV, 6000},
        {72, "OVR", "整组过压恢复", "Pack OV Release", Scale::Centi, "V", OV, 5520},
        {76, "OCC_CNT", "充电过流次数", "Charge OC Times", Scale::Plain, "", OCC, 5},
        {77, "ODC_CNT", "放电过流次数", "Discharge OC Times", Scale::Plain, "", ODC, 5},
        {78, "OCCR", "充电过流恢复", "Charge OC Release", Scale::Plain, "s", OCC, 180},
        {79, "ODCR", "放电过流恢复", "Discharge OC Release", Scale::Plain, "s", ODC, 60},
        {80, "OCC_I", "充电过流1", "Charge OC1 Protect", Scale::Centi, "A", OCC, 6200},
        {81, "ODC_I", "放电过流1", "Discharge OC1 Protect", Scale::Centi, "A", ODC, 6200},
        {82, "LD", "短路电流", "Load Short Current", Scale::Centi, "A", ODC, 20000},
        {83, "OCC_II", "充电过流2", "Charge OC2 Protect", Scale::Centi, "A", OCC, 8000},
        {84, "ODC_II", "放电过流2", "Discharge OC2 Protect", Scale::Centi, "A", ODC, 8000},
        {85, "OCC_I_DELAY", "充电过流1延时", "Charge OC1 Delay", Scale::Plain, "s", OCC, 10},
        {86, "OCC_II_DELAY", "充电过流2延时", "Charge OC2 Delay", Scale::Plain, "s", OCC, 3},
        {87, "ODC_I_DELAY", "放电过流1延时", "Discharge OC1 Delay", Scale::Plain, "s", ODC, 10},
        {88, "ODC_II_DELAY", "放电过流2延时", "Discharge OC2 Delay", Scale::Plain, "s", ODC, 3},
        {90, "UCTW", "充电低温警告", "Charge UT Warn", Scale::Temp, "℃", UCT, 48},
        {91, "UCTP", "充电低温保护", "Charge UT Protect", Scale::Temp, "℃", UCT, 45},
        {92, "UCTR", "充电低温恢复", "Charge UT Release", Scale::Temp, "℃", UCT, 50},
        {93, "OCTW", "充电高温警告", "Charge OT Warn", Scale::Temp, "℃", OCT, 115},
        {94, "OCTP", "充电高温保护", "Charge OT Protect", Scale::Temp, "℃", OCT, 120},
        {95, "OCTR", "充电高温恢复", "Charge OT Release", Scale::Temp, "℃", OCT, 110},
        {96, "UDTW", "放电低温警告", "Disarge UT Warn", Scale::Temp, "℃", UDT, 35},
        {97, "UDTP", "放电低温保护", "Disarge UT Protect", Scale::Temp, "℃", UDT, 30},
        {98, "UDTR", "放电低温恢复", "Disarge UT Release", Scale::Temp, "℃", UDT, 40},
        {99, "ODTW", "放电高温警告", "Disarge OT Warn", Scale::Temp, "℃", ODT, 120},
        {100, "ODTP", "放电高温保护", "Disarge OT Protect", Scale::Temp, "℃", ODT, 125},
        {101, "ODTR", "放电高温恢复", "Disarge OT Release", Scale::Temp, "℃", ODT, 115},
        {102, "PCB_OTW", "PCB高温警告", "PCB OT Warn", Scale::Temp, "℃", PCB_OT, 150},
        {103, "PCB_OTP", "PCB高温保护", "PCB OT Protect", Scale::Temp, "℃", PCB_OT, 155},
        {104, "PCB_OTR", "PCB高温恢复", "PCB OT Release", Scale::Temp, "℃", PCB_OT, 130},
        {128, "HEATING_ON", "加热开启温度", "Heat Opening", Scale::Temp, "℃", HEATING, -1},
        {129, "HEATING_OFF", "加热关闭温度", "Heat Off", Scale::Temp, "℃", HEATING, -1},
        {130, "AVG_UTW", "环境温度低警告", "Ambient UT Warn", Scale::Temp, "℃", AVG_UT, 30},
        {131, "AVG_UTP", "环境温度低保护", "Ambient UT Protect", Scale::Temp, "℃", AVG_UT, 25},
        {132, "AVG_UTR", "环境温度低恢复", "Ambient UT Release", Scale::Temp, "℃", AVG_UT, 35},
        {133, "AVG_OTW", "环境温度高警告", "Ambient OT Warn", Scale::Temp, "℃", AVG_OT, 115},
        {134, "AVG_OTP", "环境温度高保护", "Ambient OT Protect", Scale::Temp, "℃", AVG_OT, 120},
        {135, "AVG_OTR", "环境温度高恢复", "Ambient OT Release", Scale::Temp, "℃", AVG_OT, 110},
    };
    return t;
}

// The chain flattened: (group, register) in the order a sequence visits them.
struct Step
{
    int group;
    quint16 reg;
};
const QVector<Step> &flatChain()
{
    static const QVector<Step> steps = [] {
        QVector<Step> s;
        for (int g = 0; g < groups().size(); ++g)
            for (quint16 r : groups()[g].chain)
                s.append({g, r});
        return s;
    }();
    return steps;
}

QLocale cLocale()
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    return c;
}

} // namespace

const QVector<Group> &groups()
{
    static const QVector<Group> g{
        {"CUV", "单串欠压", "Cell UV", {61, 62, 63}},
        {"COV", "单串过压", "Cell OV", {67, 68, 69}},
        {"UV", "整组欠压", "Pack UV", {64, 65, 66}},
        {"OV", "整组过压", "Pack OV", {70, 71, 72}},
        {"UCT", "充电低温", "Charge UT", {90, 91, 92}},
        {"UDT", "放电低温", "Disarge UT", {96, 97, 98}},
        {"OCT", "充电高温", "Charge OT", {93, 94, 95}},
        {"ODT", "放电高温", "Disarge OT", {99, 100, 101}},
        {"OCC", "充电过流", "Charge OC", {80, 85, 83, 86, 78, 76}},
        {"ODC", "放电过流", "Discharge OC", {81, 87, 84, 88, 79, 77, 82}},
        {"PCB_OT", "PCB高温", "PCB OT", {102, 103, 104}},
        {"AVG_OT", "环境温度高", "Ambient OT", {133, 134, 135}},
        {"AVG_UT", "环境温度低", "Ambient UT", {130, 131, 132}},
        {"BALANCE", "均衡", "Balance", {56, 57, 58}},
        {"HEATING_ON_OFF", "加热开关温度", "Heating Switch", {128, 129}},
        {"TIME_SET", "时间设置", "DateTime Setting", {45}},
    };
    return g;
}

int groupCount() { return groups().size(); }
int timeSetGroup() { return TIME_SET; }

int groupIndex(const QString &name)
{
    for (int i = 0; i < groups().size(); ++i)
        if (name == QLatin1String(groups()[i].name))
            return i;
    return -1;
}

const QVector<Field> &fields() { return table(); }

const Field *fieldByName(const QString &name)
{
    for (const Field &f : table())
        if (name == QLatin1String(f.name))
            return &f;
    return nullptr;
}

QString fieldText(Scale scale, quint16 value)
{
    switch (scale) {
    case Scale::Milli:
        return fixedPoint(value, 3);
    case Scale::Centi:
        return fixedPoint(value, 2);
    case Scale::Temp:
        return QString::number(int(qint16(value)) - 50);
    case Scale::Plain:
        return QString::number(value);
    case Scale::Clock:
        break;
    }
    return QString();
}

Parsed parseField(Scale scale, const QString &text)
{
    Parsed p;
    const QLocale c = cLocale();
    bool ok = false;
    if (scale == Scale::Clock) {
        static const QString form = QStringLiteral("yyyy-MM-dd hh:mm:ss");
        const QDateTime t = QDateTime::fromString(text, form);
        // fromString takes some texts that do not read back as written;
        // only the exact form counts.
        if (!t.isValid() || t.toString(form) != text || t.date().year() < 2000 || t.date().year() > 2063) {
            p.error = Parsed::BadClock;
            return p;
        }
        const quint32 code = clockCode(text);
        p.value = quint16(code >> 16);
        p.low = quint16(code & 0xFFFF);
        return p;
    }
    if (scale == Scale::Milli || scale == Scale::Centi) {
        const float x = c.toFloat(text, &ok);
        if (!ok || !std::isfinite(x)) {
            p.error = Parsed::NotNumber;
            return p;
        }
        if (x < 0) {
            p.error = Parsed::Negative;
            return p;
        }
        // A half goes up: the +5 before the division by 10 rounds to the
        // nearest unit, computed in single precision as the BMS's own
        // tools do, so a text is stored as the pack expects it.
        const float scaled = (x * (scale == Scale::Milli ? 10000.0f : 1000.0f) + 5.0f) / 10.0f;
        if (scaled >= 65536.0f) {
            p.error = Parsed::TooLarge;
            return p;
        }
        p.value = quint16(scaled);
        return p;
    }
    const qlonglong n = c.toLongLong(text, &ok);
    if (!ok) {
        c.toDouble(text, &ok);
        p.error = ok ? Parsed::Fraction : Parsed::NotNumber;
        return p;
    }
    if (scale == Scale::Plain) {
        if (n < 0)
            p.error = Parsed::Negative;
        else if (n > 65535)
            p.error = Parsed::TooLarge;
        else
            p.value = quint16(n);
        return p;
    }
    // Temp: the register holds n + 50, read back as a signed 16-bit number.
    if (n + 50 < -32768 || n + 50 > 32767) {
        p.error = Parsed::NotStorable;
        return p;
    }
    p.value = quint16(qint16(n + 50));
    return p;
}

QString errorText(Parsed::Error error, int language)
{
    const bool zh = language == 0;
    switch (error) {
    case Parsed::None:
        return QString();
    case Parsed::NotNumber:
        return zh ? QStringLiteral("不是数字") : QStringLiteral("not a number");
    case Parsed::Negative:
        return zh ? QStringLiteral("不能为负数") : QStringLiteral("must not be negative");
    case Parsed::TooLarge:
        return zh ? QStringLiteral("超出寄存器范围") : QStringLiteral("too large for its register");
    case Parsed::Fraction:
        return zh ? QStringLiteral("须为整数") : QStringLiteral("must be a whole number");
    case Parsed::NotStorable:
        return zh ? QStringLiteral("超出温度范围") : QStringLiteral("outside the temperatures the register can hold");
    case Parsed::BadClock:
        return zh ? QStringLiteral("须为 2000-01-01 00:00:00 至 2063-12-31 23:59:59 之间的 yyyy-MM-dd hh:mm:ss")
                  : QStringLiteral("must be a date and time yyyy-MM-dd hh:mm:ss from 2000-01-01 00:00:00 to 2063-12-31 23:59:59");
    }
    return QString();
}

QString clockText(quint16 high, quint16 low)
{
    QString text;
    appendPackedClock(text, quint32(high) << 16 | low);
    return text;
}

quint64 digitsToNumber(const QString &text)
{
    quint64 n = 0;
    bool any = false;
    for (const QChar ch : text) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            continue;
        const quint64 d = quint64(ch.unicode() - '0');
        if (n > (~quint64(0) - d) / 10)
            return 0;
        n = n * 10 + d;
        any = true;
    }
    return any ? n : 0;
}

quint32 clockCode(const QString &text)
{
    const quint64 n = digitsToNumber(text);
    const quint32 second = quint32(n % 100);
    const quint32 minute = quint32(n / 100 % 100);
    const quint32 hour = quint32(n / 10000 % 100);
    const quint32 day = quint32(n / 1000000 % 100);
    const quint32 month = quint32(n / 100000000 % 100);
    const quint32 year = quint32(n / 10000000000ULL);
    return ((year - 2000) << 26) | (month << 22) | (day << 17) | (hour << 12) | (minute << 6) | second;
}

WriteStep nextWrite(quint16 writeRegister, quint32 ticked)
{
    WriteStep s;
    const QVector<Step> &chain = flatChain();
    int at = -1;
    for (int i = 0; i < chain.size(); ++i)
        if (chain[i].reg == writeRegister) {
            at = i;
            break;
        }
    if (at < 0) // end marker, the clock frame's acknowledgement, or nothing known
        return s;
    for (int i = at; i < chain.size(); ++i) {
        if (!(ticked & (1u << chain[i].group)))
            continue;
        s.hasFrame = true;
        s.reg = chain[i].reg;
        s.count = s.reg == ClockHigh ? 2 : 1;
        s.nextRegister = s.reg == ClockHigh ? ClockInFlight : i + 1 < chain.size() ? chain[i + 1].reg : WriteChainDone;
        return s;
    }
    return s;
}

QByteArray writeFrame(const WriteStep &step, const quint16 *image)
{
    if (!step.hasFrame)
        return QByteArray();
    return Frames::writeRegisters(0x01, step.reg, image + step.reg, step.count);
}

QVector<quint16> writeOrder(quint32 ticked)
{
    QVector<quint16> order;
    quint16 reg = ChainStart;
    for (WriteStep s = nextWrite(reg, ticked); s.hasFrame; s = nextWrite(s.nextRegister, ticked))
        order.append(s.reg);
    return order;
}

QVector<Default> factoryDefaults()
{
    QVector<Default> d;
    for (const Field &f : table())
        if (f.factory >= 0)
            d.append({f.reg, quint16(f.factory)});
    return d;
}

} // namespace Param
