#include "slaveresponder.h"

#include "protocol/crc16.h"

#include <algorithm>

namespace {

constexpr quint8 ReadHolding = 0x03;
constexpr quint8 WriteSingle = 0x06;
constexpr quint8 WriteMultiple = 0x10;
constexpr int MaxReadCount = 125;
constexpr int MaxWriteCount = 123;

// The BMS's own commands (first byte 0x10).
enum Command : quint8 {
    ReadId = 0x02,
    ReadRs485Protocol = 0x03,
    ReadCanProtocol = 0x04,
    SetRs485Protocol = 0x05,
    SetCanProtocol = 0x06,
    SetId = 0x07,
};
constexpr int ProtocolNameBytes = 10;

quint16 word(const QByteArray &frame, int at)
{
    return quint16(quint8(frame[at]) << 8 | quint8(frame[at + 1]));
}

void appendWord(QByteArray &frame, quint16 value)
{
    frame.append(char(value >> 8));
    frame.append(char(value & 0xFF));
}

QByteArray sealed(QByteArray frame)
{
    frame.append(2, '\0');
    sealFrame(frame);
    return frame;
}

// The length of a Modbus request from its function code (and, for the
// multiple writes, its byte count); 0 while it cannot be told yet, -1 for
// function codes a master does not send.
int modbusLength(const QByteArray &held)
{
    if (held.size() < 2)
        return 0;
    const quint8 function = quint8(held[1]);
    if (function >= 1 && function <= 6)
        return 8;
    if (function == 15 || function == 16)
        return held.size() < 7 ? 0 : 9 + quint8(held[6]);
    return -1;
}

// A read of the first 28 registers of a record slot (record n at register
// (n + 15) * 32).
bool isRecordRead(const QByteArray &request)
{
    return request.size() == 8 && quint8(request[1]) == ReadHolding && word(request, 4) == 28
           && word(request, 2) >= 512 && word(request, 2) % 32 == 0;
}

bool isCommand(quint8 code)
{
    return code >= ReadId && code <= SetId;
}

} // namespace

SlaveResponder::SlaveResponder(BmsModel &model, quint8 address, const SlaveFaults &faults, quint32 seed)
    : m_model(model), m_address(address), m_configuredAddress(address), m_faults(faults), m_random(seed),
      m_spoilRandom(seed ^ 0x5eed5u)
{
}

QByteArray SlaveResponder::exception(quint8 address, quint8 function, quint8 code)
{
    QByteArray frame;
    frame.append(char(address));
    frame.append(char(function | 0x80));
    frame.append(char(code));
    return sealed(frame);
}

QVector<int> SlaveResponder::candidateLengths(bool &needMore) const
{
    QVector<int> lengths;
    needMore = false;
    if (m_held.size() < 2) {
        needMore = true;
        return lengths;
    }
    const quint8 first = quint8(m_held[0]);
    const quint8 function = quint8(m_held[1]);
    const int modbus = modbusLength(m_held);
    if (modbus == 0)
        needMore = true;
    else if (modbus > 0)
        lengths.append(modbus);
    if (first == CommandByte && isCommand(function)) {
        if (m_held.size() < 3)
            needMore = true;
        else
            lengths.append(5 + quint8(m_held[2]));
    }
    std::sort(lengths.begin(), lengths.end());
    return lengths;
}

QVector<LinePiece> SlaveResponder::receive(const QByteArray &bytes, qint64 nowMs)
{
    QVector<LinePiece> out;
    if (!m_held.isEmpty() && nowMs - m_lastArrival > ResyncSilenceMs)
        m_held.clear();
    m_lastArrival = nowMs;
    m_held.append(bytes);

    struct Served
    {
        QByteArray request, answer;
        QVector<LinePiece> pieces;
        Spoil spoil;
    };
    QVector<Served> served;
    int answered = 0;
    while (!m_held.isEmpty()) {
        bool needMore = false;
        const QVector<int> lengths = candidateLengths(needMore);
        int taken = 0;
        bool waiting = needMore;
        for (int length : lengths) {
            if (m_held.size() < length) {
                waiting = true;
                continue;
            }
            if (crcMatches(m_held.left(length))) {
                taken = length;
                break;
            }
        }
        if (taken == 0) {
            if (waiting)
                break; // the rest of a frame may still come
            // No frame starts here (bad CRC, noise): slide on by one byte.
            m_held.remove(0, 1);
            continue;
        }
        const QByteArray request = m_held.left(taken);
        m_held.remove(0, taken);
        const QByteArray plain = m_faults.silent ? QByteArray() : answer(request, nowMs);
        if (onExchange)
            onExchange(request, plain);
        if (!plain.isEmpty()) {
            const Spoil spoil = drawSpoil(request);
            QVector<LinePiece> pieces;
            if (spoil == Spoil::Exception)
                pieces = withFaults(exception(m_address, quint8(request[1]), DeviceFailure));
            else if (spoil != Spoil::Silent)
                pieces = withFaults(plain);
            applySpoil(pieces, spoil);
            if (!pieces.isEmpty())
                ++answered;
            served.append({request, plain, pieces, spoil});
            out += pieces;
            if (m_faults.recordsTwice && isRecordRead(request))
                out.append({RepeatGapMs, plain});
        }
    }
    if (onServed) {
        for (const Served &s : served)
            onServed(s.request, s.answer, s.pieces, answered > 1 && !s.pieces.isEmpty() ? Spoil::Joined : s.spoil);
    }
    return out;
}

QByteArray SlaveResponder::answer(const QByteArray &request, qint64 nowMs)
{
    if (request.size() < 4)
        return QByteArray();
    const quint8 first = quint8(request[0]);
    const quint8 function = quint8(request[1]);
    // A frame starting with 0x10 is one of the BMS's own commands unless it
    // is a Modbus request to slave 16 of the right length.
    if (first == m_address && request.size() == modbusLength(request)) {
        switch (function) {
        case ReadHolding:
            return readAnswer(request, nowMs);
        case WriteMultiple:
            return writeAnswer(request, nowMs);
        case WriteSingle:
            return writeSingleAnswer(request, nowMs);
        default:
            return exception(m_address, function, IllegalFunction);
        }
    }
    if (first == CommandByte && isCommand(function) && request.size() == 5 + quint8(request[2]))
        return commandAnswer(request);
    return QByteArray(); // another slave's request
}

QByteArray SlaveResponder::readAnswer(const QByteArray &request, qint64 nowMs)
{
    const int start = word(request, 2);
    const int count = word(request, 4);
    if (count < 1 || count > MaxReadCount)
        return exception(m_address, ReadHolding, IllegalDataValue);
    if (start + count > BmsModel::RegisterCount || m_faults.readException)
        return exception(m_address, ReadHolding, IllegalDataAddress);
    m_model.prepareRead(start, count, nowMs);
    QByteArray frame;
    frame.append(char(m_address));
    frame.append(char(ReadHolding));
    frame.append(char(2 * count));
    for (int i = 0; i < count; ++i)
        appendWord(frame, m_model.reg(start + i));
    return sealed(frame);
}

QByteArray SlaveResponder::writeAnswer(const QByteArray &request, qint64 nowMs)
{
    const int start = word(request, 2);
    const int count = word(request, 4);
    const int byteCount = quint8(request[6]);
    if (count < 1 || count > MaxWriteCount || byteCount != 2 * count)
        return exception(m_address, WriteMultiple, IllegalDataValue);
    if (start + count > BmsModel::RegisterCount)
        return exception(m_address, WriteMultiple, IllegalDataAddress);
    // A BMS that refuses parameter changes (locked, or busy) says so with a
    // device failure and keeps its registers.
    if (m_faults.writeException)
        return exception(m_address, WriteMultiple, DeviceFailure);
    QVector<quint16> values(count);
    for (int i = 0; i < count; ++i)
        values[i] = word(request, 7 + 2 * i);
    m_model.writeRegisters(start, values, nowMs);
    // The pack took the write; its acknowledgement is lost on the way back.
    if (m_faults.writeNoAck)
        return QByteArray();
    QByteArray ack = request.left(6);
    if (m_faults.wrongEcho) {
        const quint16 other = quint16(start + 1);
        ack[2] = char(other >> 8);
        ack[3] = char(other & 0xFF);
    }
    return sealed(ack);
}

QByteArray SlaveResponder::writeSingleAnswer(const QByteArray &request, qint64 nowMs)
{
    if (m_faults.writeException)
        return exception(m_address, WriteSingle, DeviceFailure);
    m_model.writeRegisters(word(request, 2), {word(request, 4)}, nowMs);
    return request; // the echo of the request is the acknowledgement
}

QByteArray SlaveResponder::commandAnswer(const QByteArray &request)
{
    const quint8 code = quint8(request[1]);
    QByteArray frame;
    frame.append(char(CommandByte));
    frame.append(char(code));
    auto protocolList = [&frame, this](int current, const QStringList &names) {
        frame.append(char(2 + ProtocolNameBytes * names.size()));
        frame.append(char(current));
        frame.append(char(qMin(255, names.size() + m_faults.protocolCountSurplus)));
        for (const QString &name : names) {
            QByteArray field = name.toLatin1().left(ProtocolNameBytes);
            field.append(QByteArray(ProtocolNameBytes - field.size(), '\0'));
            frame.append(field);
        }
    };
    const quint8 value = request.size() > 5 ? quint8(request[3]) : 0;
    if (m_faults.ignoreSetCommands && code >= SetRs485Protocol && code <= SetId)
        return QByteArray();
    switch (code) {
    case ReadId:
        frame.append(char(1));
        frame.append(char(m_configuredAddress));
        break;
    case ReadRs485Protocol:
        protocolList(m_model.rs485Protocol, m_model.rs485ProtocolNames);
        break;
    case ReadCanProtocol:
        protocolList(m_model.canProtocol, m_model.canProtocolNames);
        break;
    case SetRs485Protocol:
        if (value < m_model.rs485ProtocolNames.size())
            m_model.rs485Protocol = value;
        frame.append(char(0));
        break;
    case SetCanProtocol:
        if (value < m_model.canProtocolNames.size())
            m_model.canProtocol = value;
        frame.append(char(0));
        break;
    case SetId:
        // The new ID is stored at once and reported by ReadId; Modbus
        // requests reach the pack at it once the pack has been restarted.
        if (value >= 1 && value <= 247)
            m_configuredAddress = value;
        frame.append(char(0));
        break;
    default:
        return QByteArray();
    }
    return sealed(frame);
}

QVector<LinePiece> SlaveResponder::withFaults(QByteArray frame)
{
    ++m_answers;
    auto every = [this](int k) { return k > 0 && m_answers % k == 0; };
    if (every(m_faults.wrongAddressEvery)) {
        // Any address but ours and 0x10 (which the tool takes from any pack).
        quint8 other = quint8(m_address % 247 + 1);
        if (other == CommandByte)
            other = quint8(other + 1);
        frame[0] = char(other);
        sealFrame(frame);
    }
    if (every(m_faults.badCrcEvery))
        frame[frame.size() - 1] = char(quint8(frame[frame.size() - 1]) ^ 0xFF);

    QVector<LinePiece> pieces;
    if (m_faults.splitGapMs > 0 && frame.size() >= 3) {
        const int third = frame.size() / 3;
        pieces.append({0, frame.left(third)});
        pieces.append({m_faults.splitGapMs, frame.mid(third, third)});
        pieces.append({m_faults.splitGapMs, frame.mid(2 * third)});
    } else {
        pieces.append({0, frame});
    }
    // In the same write as the answer: a pause before it, stretched by a
    // busy machine past the master's frame silence, would make the answer
    // whole again.
    if (every(m_faults.strayEvery))
        pieces.last().bytes.append(char(m_random.bounded(256)));
    // A late copy of a write acknowledgement, as from a repeated request.
    if (m_faults.ackTwice && frame.size() == 8 && quint8(frame[1]) == WriteMultiple)
        pieces.append({DuplicateAckDelayMs, frame});
    return pieces;
}

const char *spoilName(Spoil spoil)
{
    switch (spoil) {
    case Spoil::None:
        return "ok";
    case Spoil::BadCrc:
        return "badcrc";
    case Spoil::Stray:
        return "stray";
    case Spoil::Split:
        return "split";
    case Spoil::Silent:
        return "silent";
    case Spoil::Exception:
        return "exception";
    case Spoil::Joined:
        return "joined";
    }
    return "?";
}

Spoil SlaveResponder::drawSpoil(const QByteArray &request)
{
    // Only Modbus answers are spoiled; the BMS's own commands go as they are.
    const bool modbus = request.size() >= 8 && quint8(request[0]) == m_address && request.size() == modbusLength(request);
    if (!modbus || m_faults.spoilPercent <= 0 || int(m_spoilRandom.bounded(100u)) >= m_faults.spoilPercent)
        return Spoil::None;
    static const Spoil kinds[] = {Spoil::BadCrc, Spoil::Stray, Spoil::Split, Spoil::Silent, Spoil::Exception};
    return kinds[m_spoilRandom.bounded(int(sizeof kinds / sizeof kinds[0]))];
}

void SlaveResponder::applySpoil(QVector<LinePiece> &pieces, Spoil spoil)
{
    if (pieces.isEmpty())
        return;
    QByteArray &first = pieces.first().bytes;
    switch (spoil) {
    case Spoil::BadCrc: {
        QByteArray &last = pieces.last().bytes;
        if (!last.isEmpty())
            last[last.size() - 1] = char(quint8(last[last.size() - 1]) ^ 0xFF);
        break;
    }
    case Spoil::Stray: {
        // Noise on the line right next to the answer: the master sees one
        // burst that is not a frame.
        QByteArray noise;
        const int n = 1 + int(m_spoilRandom.bounded(3u));
        for (int i = 0; i < n; ++i)
            noise.append(char(m_spoilRandom.bounded(256u)));
        if (m_spoilRandom.bounded(2u) == 0)
            first.prepend(noise);
        else
            pieces.last().bytes.append(noise);
        break;
    }
    case Spoil::Split:
        if (first.size() >= 2) {
            const int cut = 1 + int(m_spoilRandom.bounded(quint32(first.size() - 1)));
            const QByteArray rest = first.mid(cut);
            first.truncate(cut);
            pieces.insert(1, LinePiece{SpoilSplitGapMs, rest});
        }
        break;
    case Spoil::None:
    case Spoil::Silent:
    case Spoil::Exception:
    case Spoil::Joined:
        break;
    }
}
