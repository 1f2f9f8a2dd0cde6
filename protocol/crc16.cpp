#include "protocol/crc16.h"

quint16 crc16Modbus(const quint8 *data, int length)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

quint16 crc16Modbus(const QByteArray &bytes)
{
    return crc16Modbus(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size());
}

void sealFrame(QByteArray &frame)
{
    const int n = frame.size();
    if (n < 3)
        return;
    const quint16 crc = crc16Modbus(reinterpret_cast<const quint8 *>(frame.constData()), n - 2);
    frame[n - 2] = char(crc & 0xFF);
    frame[n - 1] = char(crc >> 8);
}

bool crcMatches(const QByteArray &frame)
{
    const int n = frame.size();
    if (n < 3)
        return false;
    const quint16 crc = crc16Modbus(reinterpret_cast<const quint8 *>(frame.constData()), n - 2);
    return quint8(frame[n - 2]) == (crc & 0xFF) && quint8(frame[n - 1]) == (crc >> 8);
}
