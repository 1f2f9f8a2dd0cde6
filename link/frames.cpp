#include "link/frames.h"

#include "link/crc16.h"
#include "model/monitordata.h"

#include <QString>

namespace Frames {

QByteArray readRequest(quint8 address, quint16 start, quint16 count)
{
    QByteArray frame(8, '\0');
    frame[0] = char(address);
    frame[1] = char(ReadHolding);
    frame[2] = char(start >> 8);
    frame[3] = char(start & 0xFF);
    frame[4] = char(count >> 8);
    frame[5] = char(count & 0xFF);
    sealFrame(frame);
    return frame;
}

QByteArray identityRead(quint8 address)
{
    return readRequest(address, Reg::IdentityStart, Reg::IdentityCount);
}

QByteArray monitorRead(quint8 address)
{
    return readRequest(address, Reg::MonitorStart, Reg::MonitorCount);
}

QByteArray parameterRead(quint8 address)
{
    return readRequest(address, Reg::ParameterStart, Reg::ParameterCount);
}

QByteArray recordRead(quint8 address, int record)
{
    return readRequest(address, quint16((record + 15) << 5), 0x1C);
}

QByteArray writeRegisters(quint8 address, quint16 reg, const quint16 *values, int count)
{
    QByteArray frame(9 + 2 * count, '\0');
    frame[0] = char(address);
    frame[1] = char(WriteMultiple);
    frame[2] = char(reg >> 8);
    frame[3] = char(reg & 0xFF);
    frame[4] = char(count >> 8);
    frame[5] = char(count & 0xFF);
    frame[6] = char(2 * count);
    for (int i = 0; i < count; ++i) {
        frame[7 + 2 * i] = char(values[i] >> 8);
        frame[8 + 2 * i] = char(values[i] & 0xFF);
    }
    sealFrame(frame);
    return frame;
}

int registersAskedFor(quint16 requestKind)
{
    switch (requestKind) {
    case IdentityRead: return Reg::IdentityCount;
    case MonitorRead: return Reg::MonitorCount;
    case ParameterRead: return Reg::ParameterCount;
    case DatalogRead: return 28;
    default: return 0;
    }
}

QByteArray addressed(QByteArray frame, quint8 address)
{
    if (!frame.isEmpty())
        frame[0] = char(address);
    sealFrame(frame);
    return frame;
}

int expectedLength(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return -1;
    const quint8 function = quint8(bytes[1]);
    if (function == WriteMultiple)
        return 8;
    if (function & 0x80)
        return 5;
    if (bytes.size() < 3)
        return -1;
    return quint8(bytes[2]) + 5;
}

Burst classifyBurst(const QByteArray &held, quint8 selectedAddress)
{
    if (held.isEmpty())
        return Burst::Incomplete;
    const quint8 first = quint8(held[0]);
    if (first != selectedAddress && first != CommandAddress)
        return Burst::NotForUs;
    const int expected = expectedLength(held);
    if (expected < 0 || held.size() < expected)
        return Burst::Incomplete;
    return Burst::Complete;
}

Check checkAnswer(const QByteArray &frame)
{
    if (frame.size() != expectedLength(frame))
        return Check::BadLength;
    return crcMatches(frame) ? Check::Ok : Check::BadCrc;
}

bool answerFitsRead(const QByteArray &frame, quint16 requestKind)
{
    const int registers = registersAskedFor(requestKind);
    return registers > 0 && frame.size() > 2 && quint8(frame[2]) == 2 * registers;
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

bool ackFitsWrite(const QByteArray &ack, const QByteArray &request)
{
    return ack.size() >= 6 && request.size() >= 6 && functionCode(ack) == WriteMultiple
           && functionCode(request) == WriteMultiple && ack.mid(2, 4) == request.mid(2, 4);
}

} // namespace Frames
