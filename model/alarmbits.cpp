#include "model/alarmbits.h"

#include "protocol/registers.h"

#include <iterator>

namespace AlarmBits {

namespace {

// Bits 0..11 of the warning and the protection word.
#define PACKSCOPE_COMMON_BITS                                   \
    {"pack_ov", "整组过压", "Pack OV"},                         \
    {"cell_ov", "单体电池过压", "Cell OV"},                     \
    {"pack_uv", "整组欠压", "Pack UV"},                         \
    {"cell_uv", "单体电池欠压", "Cell UV"},                     \
    {"charge_oc", "充电过流", "Charge OC"},                     \
    {"discharge_oc", "放电过流", "Discharge OC"},               \
    {"ambient_temperature", "环境温度异常", "Temp Anmaly"},     \
    {"mos_ot", "MOS温度高", "MOS OT"},                          \
    {"charge_ot", "充电高温", "Charge OT"},                     \
    {"discharge_ot", "放电高温", "Disharge OT"},                \
    {"charge_ut", "充电低温", "Charge UT"},                     \
    {"discharge_ut", "放电低温", "Discharge UT"}

constexpr Bit WarningBits[] = {
    PACKSCOPE_COMMON_BITS,
    {"low_capacity", "容量过低", "Low Capacity"},
    {"other_error", "其他错误", "Other Error"},
};
constexpr Bit ProtectionBits[] = {
    PACKSCOPE_COMMON_BITS,
    {"float_charge_stopped", "浮充停止", "Float Stoped"},
    {"discharge_short_circuit", "放电短路", "Discharge SC"},
};
#undef PACKSCOPE_COMMON_BITS
constexpr Bit ErrorBits[] = {
    {"voltage_sensing", "电压检测故障", "Voltage Error"},
    {"temperature_sensing", "温度检测故障", "Temperature Error"},
    {"current_sensing", "电流检测故障", "Current Error"},
    {"cell_unbalance", "电压不均衡", "Cell Unbalance"},
};

const List Lists[] = {
    {WarningBits, int(std::size(WarningBits)), Reg::WarningBits},
    {ProtectionBits, int(std::size(ProtectionBits)), Reg::ProtectionBits},
    {ErrorBits, int(std::size(ErrorBits)), Reg::ErrorBits},
};

const char *const Unnamed[16] = {"bit0", "bit1", "bit2", "bit3", "bit4", "bit5", "bit6", "bit7",
                                 "bit8", "bit9", "bit10", "bit11", "bit12", "bit13", "bit14", "bit15"};

} // namespace

const List &bits(Group group) { return Lists[int(group)]; }

const char *key(Group group, int bit)
{
    const List &list = bits(group);
    return bit < list.count ? list.bits[bit].key : Unnamed[bit & 15];
}

} // namespace AlarmBits
