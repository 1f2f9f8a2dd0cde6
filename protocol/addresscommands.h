#pragma once

#include "protocol/frames.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The BMS's own commands for its bus ID and the protocols of its RS485 and
// CAN ports. Requests and answers start with the byte 0x10 instead of a
// slave address, so a pack answers them whatever its ID; an answer is 0x10,
// the command code, a byte count N, N data bytes and the CRC.
namespace AddressCommands {

constexpr quint8 FirstByte = Frames::CommandAddress;

enum Code : quint8 {
    ReadId = 0x02,
    ReadRs485Protocol = 0x03,
    ReadCanProtocol = 0x04,
    SetRs485Protocol = 0x05,
    SetCanProtocol = 0x06,
    SetId = 0x07,
};

// Length of a protocol name record in a list answer: ASCII padded with zero
// bytes, no terminating zero when the name fills all of it.
constexpr int NameBytes = 10;
// The IDs a pack can be given.
constexpr int MinId = 1;
constexpr int MaxId = 64;


// 0x10, the read code, 0x00 and the CRC: 5 bytes.
QByteArray readRequest(Code code);
// 0x10, the set code, 0x01, the value, then two zero bytes where the CRC
// goes: the CRC is computed when the frame is sent.
QByteArray setRequest(Code code, quint8 value);

// The data bytes of an answer: the N that its third byte announces, as far
// as the frame holds them before its CRC.
QByteArray answerData(const QByteArray &frame);

// The ID in an answer to ReadId; -1 when it carries no data.
int idFromAnswer(const QByteArray &frame);

// An answer to ReadRs485Protocol or ReadCanProtocol, read within its bytes:
// a count larger than the records present lists only those that fit.
struct ProtocolList
{
    QStringList names;
    int current = -1;  // index of the current protocol; -1 when outside the list
    int announced = 0; // the count as the answer states it
};
ProtocolList parseProtocolList(const QByteArray &frame);

// What the ID editor shows after the user's edit: "64" for a number above
// 64, otherwise the text as typed.
QString limitedIdText(const QString &text);

// The ID to send for the editor's text: 1..64, or -1 for anything else.
int idToSend(const QString &text);

} // namespace AddressCommands
