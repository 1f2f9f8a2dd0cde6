#pragma once

#include <QByteArray>
#include <QtGlobal>

// The read of one record of the BMS's own log, and how an answer is matched
// to the read it answers. RTU answers carry no register address, so the
// record an answer belongs to is the one named by the request it answers.
namespace RecordRead {

constexpr int FirstRecord = 1;
constexpr int LastRecord = 680;
constexpr int Registers = 28; // of a 32-register slot per record

// First register of record n: (n + 15) * 32, cut to 16 bits.
quint16 startRegister(quint32 record);

// The 8-byte read of record n as the page prepares it (slave address 1; the
// poll tick puts the chosen address in its place and seals it again).
QByteArray requestFrame(quint32 record);

// The record that a request frame reads: its start register read back into
// a record number, or 0 when the frame is no read of a whole record slot
// (another read, a write, nothing at all).
int recordOfRequest(const QByteArray &request);


// The gap before a read that follows an answer at once: 3.5 characters of
// 11 bits (start, 8 data, parity or second stop, stop) at `baud`, in whole
// milliseconds rounded up, at least 1.
int fastGapMs(int baud);

} // namespace RecordRead
