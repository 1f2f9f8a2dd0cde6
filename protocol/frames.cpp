#include "protocol/frames.h"

#include "protocol/crc16.h"
#include "protocol/registers.h"

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


bool isCommandRequest(const QByteArray &request)
{
    return request.size() >= 5 && quint8(request[0]) == CommandAddress && request.size() == 5 + quint8(request[2]);
}

Reply replyTo(const QByteArray &answer, const QByteArray &request)
{
    if (answer.size() < 5 || request.size() < 5)
        return Reply::Unrelated;
    const quint8 function = functionCode(answer);
    if (isCommandRequest(request)) {
        const bool same = quint8(answer[0]) == CommandAddress && function == functionCode(request);
        return same ? Reply::Answer : Reply::Unrelated;
    }
    if (answer[0] != request[0] || request.size() < 8)
        return Reply::Unrelated;
    const quint8 asked = functionCode(request);
    if (function == (asked | 0x80))
        return Reply::Refusal;
    if (function != asked)
        return Reply::Unrelated;
    if (asked == ReadHolding) {
        const int registers = quint8(request[4]) << 8 | quint8(request[5]);
        return quint8(answer[2]) == 2 * registers ? Reply::Answer : Reply::Unrelated;
    }
    if (asked == WriteMultiple)
        return answer.mid(2, 4) == request.mid(2, 4) ? Reply::Answer : Reply::Unrelated;
    return Reply::Answer;
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace Frames
