#pragma once

#include <QByteArray>
#include <QtGlobal>

// CRC-16/MODBUS: start 0xFFFF, reflected polynomial 0xA001, no final XOR.
// On the wire the CRC is the one field sent low byte first.
quint16 crc16Modbus(const quint8 *data, int length);
quint16 crc16Modbus(const QByteArray &bytes);

// Computes the CRC over all bytes but the last two and stores it there,
// low byte first. Frames shorter than three bytes are left alone.
void sealFrame(QByteArray &frame);

// True when the last two bytes hold the CRC of the bytes before them.
bool crcMatches(const QByteArray &frame);
