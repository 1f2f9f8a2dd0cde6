#include "protocol/addresscommands.h"

#include "protocol/crc16.h"

namespace AddressCommands {

QByteArray readRequest(Code code)
{
    QByteArray frame(5, '\0');
    frame[0] = char(FirstByte);
    frame[1] = char(code);
    sealFrame(frame);
    return frame;
}

QByteArray setRequest(Code code, quint8 value)
{
    QByteArray frame(6, '\0');
    frame[0] = char(FirstByte);
    frame[1] = char(code);
    frame[2] = char(1);
    frame[3] = char(value);
    return frame;
}

QByteArray answerData(const QByteArray &frame)
{
    if (frame.size() < 5)
        return QByteArray();
    const int announced = quint8(frame[2]);
    return frame.mid(3, qMin(announced, frame.size() - 5));
}

int idFromAnswer(const QByteArray &frame)
{
    const QByteArray data = answerData(frame);
    return data.isEmpty() ? -1 : quint8(data[0]);
}

ProtocolList parseProtocolList(const QByteArray &frame)
{
    ProtocolList list;
    const QByteArray data = answerData(frame);
    if (data.size() >= 2)
        list.announced = quint8(data[1]);
    const int fit = data.size() >= 2 ? (data.size() - 2) / NameBytes : 0;
    const int count = qMin(list.announced, fit);
    for (int i = 0; i < count; ++i) {
        QByteArray name = data.mid(2 + i * NameBytes, NameBytes);
        const int zero = name.indexOf('\0');
        if (zero >= 0)
            name.truncate(zero);
        list.names.append(QString::fromLatin1(name));
    }
    if (!data.isEmpty() && quint8(data[0]) < list.names.size())
        list.current = quint8(data[0]);
    return list;
}

QString limitedIdText(const QString &text)
{
    int significant = 0; // where the digits past any leading zeros start
    while (significant < text.size() && text[significant] == QLatin1Char('0'))
        ++significant;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return text;
    }
    // Three significant digits or more are above 64 whatever they are; this
    // also keeps a long run of digits from overflowing the conversion.
    if (text.size() - significant > 2 || text.toInt() > MaxId)
        return QString::number(MaxId);
    return text;
}

int idToSend(const QString &text)
{
    bool ok = false;
    const int id = text.trimmed().toInt(&ok);
    return ok && id >= MinId && id <= MaxId ? id : -1;
}

} // namespace AddressCommands
