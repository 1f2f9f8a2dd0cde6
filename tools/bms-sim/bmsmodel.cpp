#include "bmsmodel.h"

#include "model/monitordata.h"

#include <QtMath>
#include <algorithm>
#include <cmath>

namespace {

// Parameter registers as the pack leaves the factory: thresholds in mV,
// 10 mV, 10 mA, seconds, counts, or degC + 50.
struct Default
{
    int reg;
    quint16 value;
};
constexpr Default FactoryParameters[] = {
    {56, 3400}, {57, 40}, {58, 10},
    {61, 2500}, {62, 2300}, {63, 3100},
    {64, 4500}, {65, 4320}, {66, 4800},
    {67, 3800}, {68, 3900}, {69, 3450},
    {70, 5920}, {71, 6000}, {72, 5520},
    {76, 5}, {77, 5}, {78, 180}, {79, 60}, {80, 6200}, {81, 6200}, {82, 20000},
    {83, 8000}, {84, 8000}, {85, 10}, {86, 3}, {87, 10}, {88, 3},
    {90, 48}, {91, 45}, {92, 50}, {93, 115}, {94, 120}, {95, 110},
    {96, 35}, {97, 30}, {98, 40}, {99, 120}, {100, 125}, {101, 115},
    {102, 150}, {103, 155}, {104, 130},
    {128, 50}, {129, 60}, // heater on below 0 degC, off from 10 degC
    {130, 30}, {131, 25}, {132, 35}, {133, 115}, {134, 120}, {135, 110},
};

constexpr int ClockHigh = 45;
constexpr int ClockLow = 46;
constexpr int CovWarn = 67;
constexpr int CuvWarn = 61;
constexpr int OvWarn = 70;
constexpr int UvWarn = 64;
constexpr int LowCapacity = 58;
constexpr int ChargeUtWarn = 90;
constexpr int DischargeUtWarn = 96;
constexpr int HeaterOn = 128;
constexpr int AmbientUtWarn = 130;
constexpr int AmbientOtWarn = 133;

// Bits of the status word and of the flag words.
constexpr quint16 StatusCharging = 0x0001;
constexpr quint16 StatusDischarging = 0x0002;
constexpr quint16 StatusProtection = 0x0004;
constexpr quint16 StatusCurrentLimit = 0x0008;
constexpr quint16 StatusHeater = 0x8000;
constexpr quint16 FlagPackOv = 1u << 0;
constexpr quint16 FlagCellOv = 1u << 1;
constexpr quint16 FlagPackUv = 1u << 2;
constexpr quint16 FlagCellUv = 1u << 3;
constexpr quint16 FlagChargeOc = 1u << 4;
constexpr quint16 FlagAmbient = 1u << 6;
constexpr quint16 FlagChargeUt = 1u << 10;
constexpr quint16 FlagDischargeUt = 1u << 11;
constexpr quint16 FlagLowCapacity = 1u << 12;

constexpr double SocLow = 55.0;     // percent at the start of every charge
constexpr double SocPerSecond = 0.5;
constexpr int ChargeCurrent = 2000;   // 20.00 A
constexpr int LimitedCurrent = 1000;  // 10.00 A near the end of a charge
constexpr int DischargeCurrent = -3000;
constexpr double CurrentLimitFrom = 0.8; // share of the charge phase at full current
constexpr int AmbientMeanC = 2;
constexpr int AmbientSwingC = 10;
constexpr int AmbientPeriodS = 150;
constexpr int FirstCycleCount = 236;

quint32 mix(quint32 x)
{
    // A small integer hash: the same inputs always give the same "noise",
    // so the pack's values depend on the time alone.
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

} // namespace

int BmsModel::State::totalCentiVolt() const
{
    int sum = 0;
    for (int mv : cellMv)
        sum += mv;
    return (sum + 5) / 10;
}

int BmsModel::State::minSensor() const
{
    return *std::min_element(std::begin(sensor), std::end(sensor));
}

int BmsModel::State::maxSensor() const
{
    return *std::max_element(std::begin(sensor), std::end(sensor));
}

BmsModel::BmsModel(quint32 seed, const QDateTime &clockStart)
    : m_regs(RegisterCount, 0), m_seed(seed), m_clockBase(clockStart)
{
    // Cells differ a little from each other, by up to 12 mV either way.
    for (int i = 0; i < Cells; ++i)
        m_cellOffsetMv[i] = int(noise(0xCE11u, quint32(i)) % 25) - 12;
    setIdentity(QStringLiteral("PS16S-100AH"), QStringLiteral("V1.2.0"), QStringLiteral("PS2026120600001"));
    fillParameters();
    storeMonitoring(stateAt(0));
    fillRecords();
}

quint32 BmsModel::noise(quint32 a, quint32 b) const
{
    return mix(m_seed * 0x9E3779B9u ^ mix(a ^ mix(b + 0x632BE5ABu)));
}

void BmsModel::storeText(int firstRegister, int bytes, const QString &text)
{
    QByteArray raw = text.toUtf8().left(bytes);
    raw.append(QByteArray(bytes - raw.size(), '\0'));
    for (int i = 0; i < bytes / 2; ++i)
        m_regs[firstRegister + i] = quint16(quint8(raw[2 * i]) << 8 | quint8(raw[2 * i + 1]));
}

void BmsModel::setIdentity(const QString &model, const QString &version, const QString &serial)
{
    storeText(Reg::ModelText, Reg::ModelTextBytes, model);
    storeText(Reg::VersionText, Reg::VersionTextBytes, version);
    storeText(Reg::SerialText, Reg::SerialTextBytes, serial);
}

void BmsModel::fillParameters()
{
    for (const Default &d : FactoryParameters)
        m_regs[d.reg] = d.value;
}

BmsModel::Phase BmsModel::phaseAt(qint64 elapsedMs)
{
    const qint64 inCycle = (elapsedMs / 1000) % CycleS;
    if (inCycle < ChargeEndS)
        return Phase::Charge;
    if (inCycle < DischargeStartS)
        return Phase::RestAfterCharge;
    if (inCycle < DischargeEndS)
        return Phase::Discharge;
    return Phase::RestAfterDischarge;
}

BmsModel::State BmsModel::stateAt(qint64 elapsedMs) const
{
    State s;
    const qint64 ms = std::max<qint64>(0, elapsedMs);
    const quint32 second = quint32(ms / 1000);
    const double t = double(ms) / 1000.0;
    const double inCycle = std::fmod(t, CycleS);
    s.cycle = int(ms / (CycleS * 1000));
    s.phase = phaseAt(ms);

    // State of charge: up during the charge, down by as much during the
    // discharge, so every cycle starts where the last one did.
    const double swing = ChargeEndS * SocPerSecond;
    switch (s.phase) {
    case Phase::Charge:
        s.soc = SocLow + inCycle * SocPerSecond;
        break;
    case Phase::RestAfterCharge:
        s.soc = SocLow + swing;
        break;
    case Phase::Discharge:
        s.soc = SocLow + swing - (inCycle - DischargeStartS) * swing / (DischargeEndS - DischargeStartS);
        break;
    case Phase::RestAfterDischarge:
        s.soc = SocLow;
        break;
    }

    // Current, with a ripple of up to 0.3 A either way while it flows.
    const int ripple = int(noise(0xC0FFEEu, second) % 61) - 30;
    const bool limiting = s.phase == Phase::Charge && inCycle >= ChargeEndS * CurrentLimitFrom;
    // Now and then (every third cycle) the charge ends with the charge
    // over-current protection tripped; it is released before the discharge.
    const bool tripped = s.phase == Phase::RestAfterCharge && s.cycle % 3 == 2;
    switch (s.phase) {
    case Phase::Charge:
        s.current = (limiting ? LimitedCurrent : ChargeCurrent) + ripple;
        s.status = StatusCharging | (limiting ? StatusCurrentLimit : 0);
        break;
    case Phase::Discharge:
        s.current = DischargeCurrent + ripple;
        s.status = StatusDischarging;
        break;
    default:
        s.current = 0;
        break;
    }
    if (tripped) {
        s.status |= StatusProtection;
        s.protections |= FlagChargeOc;
    }

    // Cells: open-circuit voltage by SOC, plus the drop over the cell's
    // resistance (1 mOhm), its own offset and a little measuring noise.
    const double ocv = 3250.0 + (s.soc - 50.0) * 5.0;
    const double ir = s.current / 100.0; // mV at 1 mOhm
    double sum = 0;
    for (int i = 0; i < Cells; ++i) {
        const int jitter = int(noise(quint32(i) + 0x100u, second) % 5) - 2;
        s.cellMv[i] = int(std::lround(ocv + ir)) + m_cellOffsetMv[i] + jitter;
        sum += s.cellMv[i];
    }
    // Passive balancing during the charge: cells more than 5 mV above the
    // average are bled.
    const double average = sum / Cells;
    if (s.phase == Phase::Charge) {
        for (int i = 0; i < Cells; ++i)
            if (s.cellMv[i] > average + 5)
                s.balancing |= quint16(1u << i);
    }

    // Temperatures: the ambient swings around 2 degC between -8 and 12,
    // starting on its way down; the cells warm with the current.
    const double ambient = AmbientMeanC - AmbientSwingC * std::sin(2 * M_PI * t / AmbientPeriodS);
    s.ambient = int(std::lround(ambient));
    const int heating = std::abs(s.current) / 1000; // 1 degC per 10 A
    static constexpr int SensorOffset[4] = {0, 1, 2, -1};
    for (int k = 0; k < 4; ++k)
        s.sensor[k] = s.ambient + SensorOffset[k] + heating;
    s.pcb = s.ambient + 6 + std::abs(s.current) / 800;
    if (s.minSensor() < paramTemp(HeaterOn))
        s.status |= StatusHeater;

    // Warnings against the thresholds held in the parameter registers.
    const int total = s.totalCentiVolt();
    const int maxCell = *std::max_element(std::begin(s.cellMv), std::end(s.cellMv));
    const int minCell = *std::min_element(std::begin(s.cellMv), std::end(s.cellMv));
    if (total > m_regs[OvWarn])
        s.warnings |= FlagPackOv;
    if (maxCell > m_regs[CovWarn])
        s.warnings |= FlagCellOv;
    if (total < m_regs[UvWarn])
        s.warnings |= FlagPackUv;
    if (minCell < m_regs[CuvWarn])
        s.warnings |= FlagCellUv;
    if (s.ambient < paramTemp(AmbientUtWarn) || s.ambient > paramTemp(AmbientOtWarn))
        s.warnings |= FlagAmbient;
    if (s.phase == Phase::Charge && s.minSensor() < paramTemp(ChargeUtWarn))
        s.warnings |= FlagChargeUt;
    if (s.phase == Phase::Discharge && s.minSensor() < paramTemp(DischargeUtWarn))
        s.warnings |= FlagDischargeUt;
    if (s.soc < m_regs[LowCapacity])
        s.warnings |= FlagLowCapacity;
    return s;
}

void BmsModel::storeMonitoring(const State &s)
{
    auto temp8 = [](int c) { return quint8(qint8(qBound(-128, c, 127))); };
    m_regs[Reg::TotalVoltage] = quint16(s.totalCentiVolt());
    m_regs[Reg::PackCurrent] = quint16(qint16(s.current));
    for (int i = 0; i < Cells; ++i)
        m_regs[Reg::CellVoltage + i] = quint16(s.cellMv[i]);
    m_regs[Reg::PcbTemp] = quint16(qint16(s.pcb));
    m_regs[Reg::AmbientTemp] = quint16(qint16(s.ambient));
    m_regs[Reg::ReportedMaxTemp] = quint16(qint16(s.maxSensor()));
    m_regs[Reg::RemainCapacity] = quint16(std::lround(s.soc * FullCapacityDeciAh / 1000.0));
    m_regs[Reg::MaxChargeCurrent] = 50;
    m_regs[Reg::Soh] = 98;
    m_regs[Reg::Soc] = quint16(std::lround(s.soc));
    m_regs[Reg::StatusWord] = s.status;
    m_regs[Reg::WarningBits] = s.warnings;
    m_regs[Reg::ProtectionBits] = s.protections;
    m_regs[Reg::ErrorBits] = s.errors;
    m_regs[Reg::CycleCount] = quint16(FirstCycleCount + s.cycle);
    m_regs[Reg::SensorTemp12] = quint16(temp8(s.sensor[0]) << 8 | temp8(s.sensor[1]));
    m_regs[Reg::SensorTemp34] = quint16(temp8(s.sensor[2]) << 8 | temp8(s.sensor[3]));
    m_regs[Reg::CellCount] = Cells;
    m_regs[Reg::FullCapacity] = FullCapacityDeciAh;
    m_regs[Reg::CellMarkBits] = s.balancing;
}

void BmsModel::fillRecords()
{
    // The log as a pack brings it back from the field: a snapshot every
    // 7 h 13 min 17 s from 2025-06-01 on, so the dates step through half a
    // year. The cells and SOC come from the pack's cycle at staggered times;
    // state, heater and flags run through every bit, currents are negative
    // while discharging and the temperatures span -20..45 degC. The log
    // does not depend on the start time, so a test can work out any record.
    static constexpr quint16 States[8] = {StatusCharging, StatusDischarging, StatusProtection, StatusCurrentLimit,
                                          0, StatusCharging | StatusCurrentLimit,
                                          StatusDischarging | StatusProtection, 0x000F};
    const QDateTime first(QDate(2025, 6, 1), QTime(0, 0));
    auto temp8 = [](int c) { return quint16(quint8(qint8(qBound(-128, c, 127)))); };
    for (int n = 1; n <= RecordCount; ++n) {
        const State s = stateAt(qint64(n) * 37 * 1000);
        const quint32 time = clockCode(first.addSecs(qint64(n - 1) * (7 * 3600 + 13 * 60 + 17)));
        const quint16 status = quint16(States[n % 8] | (n % 3 == 0 ? StatusHeater : 0));
        int current = 0;
        if (status & StatusCharging)
            current = 500 + (n * 37) % 2500;
        else if (status & StatusDischarging)
            current = -(1 + (n * 53) % 3000); // down to -0.01 A
        int sensor[4];
        for (int k = 0; k < 4; ++k)
            sensor[k] = (n * 7 + k * 11) % 66 - 20;
        const int base = (n + 15) * 32;
        quint16 *r = m_regs.data() + base;
        r[0] = quint16(time >> 16);
        r[1] = quint16(time & 0xFFFF);
        r[2] = status;
        r[3] = n % 4 == 0 ? quint16(1u << (n / 4 % 16)) : 0;
        r[4] = (status & StatusProtection) ? quint16(1u << (n / 8 % 16)) : 0;
        r[5] = n % 10 == 0 ? quint16(1u << (n / 10 % 16)) : 0;
        r[6] = quint16(s.totalCentiVolt());
        r[7] = quint16(qint16(current));
        r[8] = quint16(std::lround(s.soc));
        r[9] = quint16(temp8(sensor[0]) << 8 | temp8(sensor[1]));
        r[10] = quint16(temp8(sensor[2]) << 8 | temp8(sensor[3]));
        r[11] = 0;
        for (int i = 0; i < Cells; ++i)
            r[12 + i] = quint16(s.cellMv[i]);
    }
}

void BmsModel::prepareRead(int start, int count, qint64 elapsedMs)
{
    const int end = start + count; // exclusive
    if (start < Reg::MonitorStart + Reg::MonitorCount && end > Reg::MonitorStart)
        storeMonitoring(stateAt(elapsedMs));
    if (m_clockRuns && start <= ClockLow && end > ClockHigh) {
        const quint32 code = clockCode(m_clockBase.addMSecs(elapsedMs - m_clockBaseMs));
        m_regs[ClockHigh] = quint16(code >> 16);
        m_regs[ClockLow] = quint16(code & 0xFFFF);
    }
}

void BmsModel::writeRegisters(int start, const QVector<quint16> &values, qint64 elapsedMs)
{
    for (int i = 0; i < values.size() && start + i < RegisterCount; ++i)
        m_regs[start + i] = values[i];
    const int end = start + values.size();
    if (start <= ClockLow && end > ClockHigh) {
        // The clock runs on from the time written; a date that cannot be
        // stands still as written.
        const QDateTime set = clockTime(quint32(m_regs[ClockHigh]) << 16 | m_regs[ClockLow]);
        m_clockRuns = set.isValid();
        if (m_clockRuns) {
            m_clockBase = set;
            m_clockBaseMs = elapsedMs;
        }
    }
}

quint32 BmsModel::clockCode(const QDateTime &time)
{
    const QDate d = time.date();
    const QTime t = time.time();
    const quint32 year = quint32(qBound(0, d.year() - 2000, 63));
    return year << 26 | quint32(d.month()) << 22 | quint32(d.day()) << 17 | quint32(t.hour()) << 12
           | quint32(t.minute()) << 6 | quint32(t.second());
}

QDateTime BmsModel::clockTime(quint32 code)
{
    const QDate date(int(code >> 26) + 2000, int(code >> 22 & 15), int(code >> 17 & 31));
    const QTime time(int(code >> 12 & 31), int(code >> 6 & 63), int(code & 63));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time);
}

QStringList BmsModel::rs485Protocols()
{
    // "MODBUS-RTU" fills its 10-byte name field exactly.
    return {QStringLiteral("MODBUS-RTU"), QStringLiteral("SIM-485A"), QStringLiteral("SIM-485B")};
}

QStringList BmsModel::canProtocols()
{
    return {QStringLiteral("CAN-STD"), QStringLiteral("CAN-EXT")};
}
