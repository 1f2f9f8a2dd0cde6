#pragma once

#include <QByteArray>
#include <QtGlobal>

// Modbus RTU frames of the tool: the requests it sends and the rules by which
// an answer is recognised in the receive buffer and accepted.
namespace Frames {

constexpr quint8 ReadHolding = 0x03;
constexpr quint8 WriteMultiple = 0x10;
// First byte of the answers to the BMS's own address and protocol commands.
constexpr quint8 CommandAddress = 0x10;

// An 8-byte read of `count` holding registers from `start`, sealed.
QByteArray readRequest(quint8 address, quint16 start, quint16 count);
QByteArray identityRead(quint8 address);
QByteArray monitorRead(quint8 address);
QByteArray parameterRead(quint8 address);
// Write of `count` (1 or 2) registers from `reg` with their values, sealed.
QByteArray writeRegisters(quint8 address, quint16 reg, const quint16 *values, int count);

// Puts the address into byte 0 and the CRC into the last two bytes.
QByteArray addressed(QByteArray frame, quint8 address);

// What the bytes held when the line fell silent amount to.
enum class Burst {
    NotForUs,   // first byte is neither the selected address nor 0x10
    Incomplete, // fewer bytes than the length rule asks for
    Complete,   // at least a whole answer: hand it to the checks
};
Burst classifyBurst(const QByteArray &held, quint8 selectedAddress);

// The length an answer must have, judged from its first three bytes: 8 for a
// write acknowledgement (function 0x10), 5 for a Modbus exception answer
// (function code with bit 7 set), otherwise byte count + 5. -1 while fewer
// bytes than needed to tell are known.
int expectedLength(const QByteArray &bytes);

enum class Check { Ok, BadLength, BadCrc };
// Length and CRC check of a taken burst.
Check checkAnswer(const QByteArray &frame);

inline quint8 functionCode(const QByteArray &frame) { return frame.size() > 1 ? quint8(frame[1]) : 0; }
inline bool isException(const QByteArray &frame) { return (functionCode(frame) & 0x80) != 0; }


// How an accepted frame relates to the request in flight (the frame last
// sent, as sent). RTU frames carry no transaction number, so an answer is
// known by what it echoes: a read answer by its byte count, a write
// acknowledgement by its echoed register and count, a command answer by its
// code. Anything else is late, doubled or stray.
enum class Reply {
    Answer,    // the answer to the request
    Refusal,   // a Modbus exception answer to it
    Unrelated, // not an answer to this request
};
Reply replyTo(const QByteArray &answer, const QByteArray &request);

// True for the BMS's own address and protocol commands (first byte 0x10,
// five or six bytes), as opposed to a Modbus request to slave 16.
bool isCommandRequest(const QByteArray &request);

// Upper-case hexadecimal bytes separated by single blanks.
QString hexText(const QByteArray &bytes);

} // namespace Frames
