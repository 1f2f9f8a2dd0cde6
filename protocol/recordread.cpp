#include "protocol/recordread.h"

#include "protocol/crc16.h"
#include "protocol/frames.h"

namespace RecordRead {

quint16 startRegister(quint32 record) { return quint16((record + 15u) << 5); }

QByteArray requestFrame(quint32 record)
{
    return Frames::readRequest(1, startRegister(record), Registers);
}

int recordOfRequest(const QByteArray &request)
{
    if (request.size() != 8 || quint8(request[1]) != Frames::ReadHolding || !crcMatches(request))
        return 0;
    const quint16 start = quint16(quint8(request[2]) << 8 | quint8(request[3]));
    const quint16 count = quint16(quint8(request[4]) << 8 | quint8(request[5]));
    if (count != Registers || start % 32 != 0)
        return 0;
    const int record = start / 32 - 15;
    return record >= FirstRecord && record <= LastRecord ? record : 0;
}

int fastGapMs(int baud)
{
    if (baud <= 0)
        return 1;
    // 3.5 characters * 11 bits * 1000 ms = 38500 bit-milliseconds.
    const qint64 ms = (38500 + qint64(baud) - 1) / baud;
    return int(qMax<qint64>(1, ms));
}

} // namespace RecordRead
