#pragma once

#include "model/livedata.h"

#include <QByteArray>
#include <QString>

// Register addresses of the monitoring read (registers 0..38) and of the
// identity texts (105..127).
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

constexpr int MaxCells = 16;

// Stores a function-3 answer (address, 3, byte count N, data, CRC) into
// registerImage at the start register of the read named by requestKind
// (identity or monitoring read); answers to other reads are left alone.
void storeReadAnswer(const QByteArray &frame, BmsLiveData &live = liveData());

// Stores the data of a function-3 answer from register `start` on; an odd
// last data byte is ignored, registers past the image are never touched.
void storeRegisters(const QByteArray &frame, int start, BmsLiveData &live);

struct CellExtremes
{
    quint16 max = 0;
    quint16 min = 65535;
    bool valid() const { return max >= min; }
};
struct TemperatureExtremes
{
    qint8 max = 0;
    qint8 min = 0;
};

// The number of cells the pack reports, never more than the 16 the
// monitoring read carries.
int cellCount(const BmsLiveData &live = liveData());

// Highest and lowest voltage of the first cellCount cells (0 and 65535 when
// there are none).
CellExtremes cellVoltageExtremes(const BmsLiveData &live = liveData());
// Higher and lower temperature of sensors 1 and 2.
TemperatureExtremes temperatureExtremes(const BmsLiveData &live = liveData());

// Signed views of the registers.
qint16 packCurrent(const BmsLiveData &live = liveData());
qint16 signedRegister(int reg, const BmsLiveData &live = liveData());
// Temperature of sensor 1..4 (signed bytes of registers 33 and 34).
qint8 sensorTemp(int sensor, const BmsLiveData &live = liveData());

// The bytes of registers laid out high byte first, byteCount bytes long.
QByteArray registerBytes(int firstRegister, int byteCount, const BmsLiveData &live = liveData());
// A text of the register image: bytes high byte first, cut at the first zero
// byte, decoded as UTF-8.
QString registerText(int firstRegister, int byteCount, const BmsLiveData &live = liveData());
QString modelText(const BmsLiveData &live = liveData());
QString versionText(const BmsLiveData &live = liveData());
QString serialText(const BmsLiveData &live = liveData());
