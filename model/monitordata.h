#pragma once

#include "model/livedata.h"
#include "protocol/registers.h"

#include <QByteArray>
#include <QString>

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
