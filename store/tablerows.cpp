#include "store/tablerows.h"

#include "model/monitordata.h"
#include "model/valueformat.h"

#include <cstddef>
#include <iterator>

using RecordTable::Rule;
using RecordTable::RowColumn;

namespace {

// A list's entries name their field, so that the compiler can hold the
// fields and the entries together: an entry moved, left out or added
// without its field stops the build.
template <typename Entry, std::size_t N>
constexpr bool inFieldOrder(const Entry (&entries)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        if (std::size_t(entries[i].field) != i)
            return false;
    }
    return true;
}

} // namespace

namespace HistoryRow {

namespace {

// What a sample is taken from: the registers just read and the time.
struct Source
{
    const BmsLiveData &live;
    const QString &time;
};

using Take = QVariant (*)(const Source &);

template <int R>
QVariant word(const Source &s)
{
    return int(s.live.registerImage[R]);
}

template <int R>
QVariant signedWord(const Source &s)
{
    return int(signedRegister(R, s.live));
}

template <int Sensor>
QVariant sensor(const Source &s)
{
    return int(sensorTemp(Sensor, s.live));
}

QVariant sampleTime(const Source &s) { return storedText(s.time); }
// The operating state is the low four bits; the heater is bit 15.
QVariant state(const Source &s) { return int(s.live.registerImage[Reg::StatusWord] & 0x000F); }
QVariant heater(const Source &s) { return int((s.live.registerImage[Reg::StatusWord] >> 15) & 1); }
QVariant current(const Source &s) { return int(packCurrent(s.live)); }
QVariant model(const Source &s) { return storedText(modelText(s.live)); }
QVariant version(const Source &s) { return storedText(versionText(s.live)); }
QVariant serial(const Source &s) { return storedText(serialText(s.live)); }

struct Entry
{
    Field field;
    RowColumn column;
    Take take;
};

constexpr Entry List[] = {
    {Time, {"time", "varchar(20)", "时间", "Date_Time", Rule::Text}, sampleTime},
    {Status, {"Status", "int", "状态", "Status", Rule::StatusText}, state},
    {Heater, {"Heater", "int", "加热", "Heater", Rule::HeaterText}, heater},
    {Warning, {"Warning", "int", "警告", "Warning", Rule::Hex4}, word<Reg::WarningBits>},
    {Protection, {"protection", "int", "保护", "protection", Rule::Hex4}, word<Reg::ProtectionBits>},
    {ErrorCode, {"Error_Code", "int", "错误码", "ErrorEode", Rule::Hex4}, word<Reg::ErrorBits>},
    {CycleNum, {"CycleNum", "int", "循环次数", "CycleNum", Rule::Decimal}, word<Reg::CycleCount>},
    {Current, {"Current_I", "int", "电流", "Current_I", Rule::Hundredths}, current},
    {MaxCurrent, {"MAX_Curren", "int", "最大允许电流", "MAX_Curren", Rule::Decimal}, word<Reg::MaxChargeCurrent>},
    {TotalVoltage, {"Total_Voltage", "int", "总电压", "Total_Voltage", Rule::Hundredths}, word<Reg::TotalVoltage>},
    {Soc, {"SOC", "int", "SOC", "SOC", Rule::Decimal}, word<Reg::Soc>},
    {Soh, {"SOH", "int", "SOH", "SOH", Rule::Decimal}, word<Reg::Soh>},
    {TempPcb, {"Temp_PCB", "int", "PCB温度", "Temp_PCB", Rule::Decimal}, signedWord<Reg::PcbTemp>},
    {TempInternal, {"Temp_internal", "int", "内部温度", "Temp_internal", Rule::Decimal}, signedWord<Reg::AmbientTemp>},
    {TempMax, {"Temp_MAX", "int", "最大温度", "Temp_MAX", Rule::Decimal}, word<Reg::ReportedMaxTemp>},
    {Temp01, {"Temp_01", "int", "温度01", "Temp_01", Rule::Decimal}, sensor<1>},
    {Temp02, {"Temp_02", "int", "温度02", "Temp_02", Rule::Decimal}, sensor<2>},
    {Temp03, {"Temp_03", "int", "温度03", "Temp_03", Rule::Decimal}, sensor<3>},
    {Temp04, {"Temp_04", "int", "温度04", "Temp_04", Rule::Decimal}, sensor<4>},
    {Cell01, {"Vol_Cell01", "int", "电压01", "Vol_Cell01", Rule::Thousandths}, word<Reg::CellVoltage + 0>},
    {Cell02, {"Vol_Cell02", "int", "电压02", "Vol_Cell02", Rule::Thousandths}, word<Reg::CellVoltage + 1>},
    {Cell03, {"Vol_Cell03", "int", "电压03", "Vol_Cell03", Rule::Thousandths}, word<Reg::CellVoltage + 2>},
    {Cell04, {"Vol_Cell04", "int", "电压04", "Vol_Cell04", Rule::Thousandths}, word<Reg::CellVoltage + 3>},
    {Cell05, {"Vol_Cell05", "int", "电压05", "Vol_Cell05", Rule::Thousandths}, word<Reg::CellVoltage + 4>},
    {Cell06, {"Vol_Cell06", "int", "电压06", "Vol_Cell06", Rule::Thousandths}, word<Reg::CellVoltage + 5>},
    {Cell07, {"Vol_Cell07", "int", "电压07", "Vol_Cell07", Rule::Thousandths}, word<Reg::CellVoltage + 6>},
    {Cell08, {"Vol_Cell08", "int", "电压08", "Vol_Cell08", Rule::Thousandths}, word<Reg::CellVoltage + 7>},
    {Cell09, {"Vol_Cell09", "int", "电压09", "Vol_Cell09", Rule::Thousandths}, word<Reg::CellVoltage + 8>},
    {Cell10, {"Vol_Cell10", "int", "电压10", "Vol_Cell10", Rule::Thousandths}, word<Reg::CellVoltage + 9>},
    {Cell11, {"Vol_Cell11", "int", "电压11", "Vol_Cell11", Rule::Thousandths}, word<Reg::CellVoltage + 10>},
    {Cell12, {"Vol_Cell12", "int", "电压12", "Vol_Cell12", Rule::Thousandths}, word<Reg::CellVoltage + 11>},
    {Cell13, {"Vol_Cell13", "int", "电压13", "Vol_Cell13", Rule::Thousandths}, word<Reg::CellVoltage + 12>},
    {Cell14, {"Vol_Cell14", "int", "电压14", "Vol_Cell14", Rule::Thousandths}, word<Reg::CellVoltage + 13>},
    {Cell15, {"Vol_Cell15", "int", "电压15", "Vol_Cell15", Rule::Thousandths}, word<Reg::CellVoltage + 14>},
    {Cell16, {"Vol_Cell16", "int", "电压16", "Vol_Cell16", Rule::Thousandths}, word<Reg::CellVoltage + 15>},
    {Capacity, {"Capacity", "int", "容量", "Capacity", Rule::Tenths}, word<Reg::FullCapacity>},
    {Remaining, {"Remaining", "int", "剩余容量", "Remaining", Rule::Decimal}, word<Reg::RemainCapacity>},
    {BatteryMode, {"Battery_Mode", "varchar(25)", "电池模块", "Battery_Mode", Rule::Text}, model},
    {BmsVersion, {"BMS_Version", "varchar(7)", "版本号", "BMS_Version", Rule::Text}, version},
    {BmsIsdn, {"BMS_ISDN", "varchar(17)", "序列号", "BMS_ISDN", Rule::Text}, serial},
};
static_assert(std::size(List) == Count && inFieldOrder(List), "one entry per history field, in field order");
static_assert(Cells == MaxCells, "the history stores every cell register of the monitoring read");

} // namespace

const RowColumn &column(int field) { return List[field].column; }

QString name(int field) { return QString::fromLatin1(List[field].column.name); }

QVector<QVariant> values(const BmsLiveData &live, const QString &time)
{
    const Source source{live, time};
    QVector<QVariant> row;
    row.reserve(Count);
    for (const Entry &e : List)
        row.append(e.take(source));
    return row;
}

} // namespace HistoryRow

namespace DatalogRow {

namespace {

struct Entry
{
    Field field;
    RowColumn column;
};

constexpr Entry List[] = {
    {RecordId, {"Recordid", "int", "记录数", "RecoidID", Rule::Decimal}},
    {Time, {"time", "varchar(20)", "时间", "Date_Time", Rule::PackedDateTime}},
    {Status, {"Status", "int", "状态", "Status", Rule::StatusText}},
    {Heater, {"Heater", "int", "加热", "Heater", Rule::HeaterText}},
    {Warning, {"Warning", "int", "警告", "Warning", Rule::Hex4}},
    {Protection, {"protection", "int", "保护", "protection", Rule::Hex4}},
    {ErrorCode, {"Error_Code", "int", "错误码", "ErrorEode", Rule::Hex4}},
    {TotalVoltage, {"Total_Voltage", "int", "总电压", "Total_Voltage", Rule::Hundredths}},
    {TotalCurrent, {"Total_Current", "int", "总电流", "Total_Current", Rule::Hundredths}},
    {Soc, {"SOC", "int", "SOC", "SOC", Rule::Decimal}},
    {Temp01, {"Temp_01", "int", "温度01", "Temp_01", Rule::Decimal}},
    {Temp02, {"Temp_02", "int", "温度02", "Temp_02", Rule::Decimal}},
    {Temp03, {"Temp_03", "int", "温度03", "Temp_03", Rule::Decimal}},
    {Temp04, {"Temp_04", "int", "温度04", "Temp_04", Rule::Decimal}},
    {Cell01, {"Vol_Cell01", "int", "电压01", "Vol_Cell01", Rule::Thousandths}},
    {Cell02, {"Vol_Cell02", "int", "电压02", "Vol_Cell02", Rule::Thousandths}},
    {Cell03, {"Vol_Cell03", "int", "电压03", "Vol_Cell03", Rule::Thousandths}},
    {Cell04, {"Vol_Cell04", "int", "电压04", "Vol_Cell04", Rule::Thousandths}},
    {Cell05, {"Vol_Cell05", "int", "电压05", "Vol_Cell05", Rule::Thousandths}},
    {Cell06, {"Vol_Cell06", "int", "电压06", "Vol_Cell06", Rule::Thousandths}},
    {Cell07, {"Vol_Cell07", "int", "电压07", "Vol_Cell07", Rule::Thousandths}},
    {Cell08, {"Vol_Cell08", "int", "电压08", "Vol_Cell08", Rule::Thousandths}},
    {Cell09, {"Vol_Cell09", "int", "电压09", "Vol_Cell09", Rule::Thousandths}},
    {Cell10, {"Vol_Cell10", "int", "电压10", "Vol_Cell10", Rule::Thousandths}},
    {Cell11, {"Vol_Cell11", "int", "电压11", "Vol_Cell11", Rule::Thousandths}},
    {Cell12, {"Vol_Cell12", "int", "电压12", "Vol_Cell12", Rule::Thousandths}},
    {Cell13, {"Vol_Cell13", "int", "电压13", "Vol_Cell13", Rule::Thousandths}},
    {Cell14, {"Vol_Cell14", "int", "电压14", "Vol_Cell14", Rule::Thousandths}},
    {Cell15, {"Vol_Cell15", "int", "电压15", "Vol_Cell15", Rule::Thousandths}},
    {Cell16, {"Vol_Cell16", "int", "电压16", "Vol_Cell16", Rule::Thousandths}},
    {BmsIsdn, {"BMS_ISDN", "varchar(17)", "序列号", "BMS_ISDN", Rule::Text}},
};
static_assert(std::size(List) == Count && inFieldOrder(List), "one entry per datalog field, in field order");

} // namespace

const RowColumn &column(int field) { return List[field].column; }

QString name(int field) { return QString::fromLatin1(List[field].column.name); }

} // namespace DatalogRow
