#pragma once

// Where the BMS keeps what the tool reads: the holding registers of the
// monitoring read (registers 0..38), the identity texts (105..127) and the
// parameter area (45..135).
namespace Reg {
constexpr int TotalVoltage = 0;     // 0.01 V
constexpr int PackCurrent = 1;      // 0.01 A, signed
constexpr int CellVoltage = 2;      // 2..17, mV
constexpr int PcbTemp = 18;         // degC, signed
constexpr int AmbientTemp = 19;     // degC, signed
constexpr int ReportedMaxTemp = 20; // as sent
constexpr int RemainCapacity = 21;  // Ah
constexpr int MaxChargeCurrent = 22;// A
constexpr int Soh = 23;             // %
constexpr int Soc = 24;             // %
constexpr int StatusWord = 25;
constexpr int WarningBits = 26;
constexpr int ProtectionBits = 27;
constexpr int ErrorBits = 28;
constexpr int CycleCount = 29;
constexpr int SensorTemp12 = 33;    // sensor 1 high byte, sensor 2 low byte
constexpr int SensorTemp34 = 34;    // sensor 3 high byte, sensor 4 low byte
constexpr int CellCount = 36;
constexpr int FullCapacity = 37;    // 0.1 Ah
constexpr int CellMarkBits = 38;

constexpr int MonitorStart = 0;
constexpr int MonitorCount = 39;
constexpr int IdentityStart = 105;
constexpr int IdentityCount = 23;
constexpr int ParameterStart = 45;
constexpr int ParameterCount = 91;

constexpr int ModelText = 105;      // 24 bytes
constexpr int VersionText = 117;    // 6 bytes
constexpr int SerialText = 120;     // 16 bytes
constexpr int ModelTextBytes = 24;
constexpr int VersionTextBytes = 6;
constexpr int SerialTextBytes = 16;
} // namespace Reg
