#include "model/monitordata.h"

#include <algorithm>

void storeRegisters(const QByteArray &frame, int start, BmsLiveData &live)
{
    if (frame.size() < 3)
        return;
    // The data end where the CRC begins, whatever the byte count claims.
    const int byteCount = quint8(frame[2]);
    const int available = std::min(byteCount, frame.size() - 5);
    const int n = available / 2;
    constexpr int imageSize = int(sizeof live.registerImage / sizeof live.registerImage[0]);
    for (int i = 0; i < n && start + i < imageSize; ++i) {
        live.registerImage[start + i] =
            quint16(quint8(frame[3 + 2 * i]) << 8 | quint8(frame[4 + 2 * i]));
    }
}

void storeReadAnswer(const QByteArray &frame, BmsLiveData &live)
{
    switch (live.requestKind) {
    case IdentityRead:
        storeRegisters(frame, Reg::IdentityStart, live);
        break;
    case MonitorRead:
        storeRegisters(frame, Reg::MonitorStart, live);
        break;
    default:
        break;
    }
}

int cellCount(const BmsLiveData &live)
{
    return std::min<int>(live.registerImage[Reg::CellCount], MaxCells);
}

CellExtremes cellVoltageExtremes(const BmsLiveData &live)
{
    CellExtremes e;
    const int c = cellCount(live);
    for (int i = 0; i < c; ++i) {
        const quint16 v = live.registerImage[Reg::CellVoltage + i];
        e.max = std::max(e.max, v);
        e.min = std::min(e.min, v);
    }
    return e;
}

qint8 sensorTemp(int sensor, const BmsLiveData &live)
{
    const quint16 word = live.registerImage[sensor <= 2 ? Reg::SensorTemp12 : Reg::SensorTemp34];
    const bool high = (sensor % 2) == 1;
    return qint8(quint8(high ? word >> 8 : word & 0xFF));
}

TemperatureExtremes temperatureExtremes(const BmsLiveData &live)
{
    const qint8 a = sensorTemp(1, live);
    const qint8 b = sensorTemp(2, live);
    return {std::max(a, b), std::min(a, b)};
}

qint16 signedRegister(int reg, const BmsLiveData &live)
{
    return qint16(live.registerImage[reg]);
}

qint16 packCurrent(const BmsLiveData &live)
{
    return signedRegister(Reg::PackCurrent, live);
}

QByteArray registerBytes(int firstRegister, int byteCount, const BmsLiveData &live)
{
    QByteArray bytes(byteCount, '\0');
    for (int i = 0; i < byteCount; ++i) {
        const quint16 word = live.registerImage[firstRegister + i / 2];
        bytes[i] = char(i % 2 == 0 ? word >> 8 : word & 0xFF);
    }
    return bytes;
}

QString registerText(int firstRegister, int byteCount, const BmsLiveData &live)
{
    QByteArray bytes = registerBytes(firstRegister, byteCount, live);
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QString::fromUtf8(bytes);
}

QString modelText(const BmsLiveData &live)
{
    return registerText(Reg::ModelText, Reg::ModelTextBytes, live);
}

QString versionText(const BmsLiveData &live)
{
    return registerText(Reg::VersionText, Reg::VersionTextBytes, live);
}

QString serialText(const BmsLiveData &live)
{
    return registerText(Reg::SerialText, Reg::SerialTextBytes, live);
}
