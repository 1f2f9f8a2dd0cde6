// Recognising, cutting and checking answers: first byte, length rule, CRC,
// exception answers, and the match of a read answer with the read in flight.
#include "link/crc16.h"
#include "link/frames.h"
#include <QtTest>

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QByteArray sealed(QByteArray body)
{
    body.append(2, '\0');
    sealFrame(body);
    return body;
}

QByteArray readAnswer(quint8 address, int dataBytes)
{
    QByteArray body;
    body.append(char(address)).append(char(0x03)).append(char(dataBytes));
    for (int i = 0; i < dataBytes; ++i)
        body.append(char(i * 7 + 1));
    return sealed(body);
}

// How far a burst gets: dropped unchecked, dropped by a check, or accepted.
enum Outcome { NotForUs, Incomplete, Accepted, BadLength, BadCrc };

Outcome outcome(const QByteArray &held, quint8 selected)
{
    const Frames::Burst burst = Frames::classifyBurst(held, selected);
    if (burst != Frames::Burst::Complete)
        return burst == Frames::Burst::NotForUs ? NotForUs : Incomplete;
    const Frames::Check check = Frames::checkAnswer(held);
    return check == Frames::Check::Ok ? Accepted : check == Frames::Check::BadLength ? BadLength : BadCrc;
}
} // namespace

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void framing_data()
    {
        QTest::addColumn<QByteArray>("held");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("result");
        const QByteArray monitor = readAnswer(1, 78);
        QByteArray corrupt = monitor;
        corrupt[40] = char(corrupt[40] ^ 0x01);
        QTest::newRow("monitoring answer") << monitor << 1 << int(Accepted);
        QTest::newRow("one byte short") << monitor.left(82) << 1 << int(Incomplete);
        QTest::newRow("stray byte after answer") << monitor + hex("00") << 1 << int(BadLength);
        QTest::newRow("bit flipped") << corrupt << 1 << int(BadCrc);
        QTest::newRow("wrong first byte") << monitor << 2 << int(NotForUs);
        QTest::newRow("address byte only") << hex("01") << 1 << int(Incomplete);
        // Answers of the address page start with 0x10 whatever address is selected.
        const QByteArray idAnswer = sealed(hex("10020105"));
        QTest::newRow("0x10 answer, address 1") << idAnswer << 1 << int(Accepted);
        QTest::newRow("0x10 answer, address 64") << idAnswer << 64 << int(Accepted);
        QTest::newRow("0x10 answer, incomplete") << idAnswer.left(5) << 5 << int(Incomplete);
        // Write acknowledgements are 8 bytes whatever their third byte says.
        const QByteArray ack = hex("0110020000010071");
        QTest::newRow("write ack, register 0x0200") << ack << 1 << int(Accepted);
        QTest::newRow("write ack, 7 of 8") << ack.left(7) << 1 << int(Incomplete);
        // Exception answers: address, code | 0x80, code, CRC.
        QTest::newRow("exception 0x83 code 2") << hex("018302C0F1") << 1 << int(Accepted);
        QTest::newRow("exception 0x83 code 0") << hex("0183004130") << 1 << int(Accepted);
        QTest::newRow("exception 0x90 code 1") << hex("0190018DC0") << 1 << int(Accepted);
        QTest::newRow("exception, 4 of 5") << hex("018302C0") << 1 << int(Incomplete);
        QTest::newRow("exception, bad CRC") << hex("018302F1C0") << 1 << int(BadCrc);
    }
    void framing()
    {
        QFETCH(QByteArray, held);
        QFETCH(int, selected);
        QFETCH(int, result);
        QCOMPARE(int(outcome(held, quint8(selected))), result);
        if (result == Accepted && held.size() == 5)
            QVERIFY(Frames::isException(held));
    }
    // Which frame answers the request in flight: the frames are literal
    // bytes (requests of the Parts; answers with their CRC left at zero,
    // which this decision does not look at).
    void replyToRequest_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("reply");
        const int answer = int(Frames::Reply::Answer), refusal = int(Frames::Reply::Refusal),
                  unrelated = int(Frames::Reply::Unrelated);
        const QByteArray identity = hex("010300690017D5D8"), monitor = hex("01030000002705D0"),
                         write67 = hex("011000430001020CE4ADE8"), readId = hex("1002007165");
        QTest::newRow("identity 46") << readAnswer(1, 46) << identity << answer;
        QTest::newRow("monitoring 78") << readAnswer(1, 78) << monitor << answer;
        QTest::newRow("late monitoring answer, identity asked") << readAnswer(1, 78) << identity << unrelated;
        QTest::newRow("other address") << readAnswer(2, 78) << monitor << unrelated;
        QTest::newRow("read refused") << hex("0183020000") << monitor << refusal;
        QTest::newRow("other function refused") << hex("0190020000") << monitor << unrelated;
        QTest::newRow("write acknowledged") << hex("0110004300010000") << write67 << answer;
        QTest::newRow("acknowledgement of another register") << hex("0110004400010000") << write67 << unrelated;
        QTest::newRow("acknowledgement of two registers") << hex("0110004300020000") << write67 << unrelated;
        QTest::newRow("write refused") << hex("0190040000") << write67 << refusal;
        QTest::newRow("read answer to a write") << readAnswer(1, 2) << write67 << unrelated;
        QTest::newRow("command answered") << hex("10020105 0000") << readId << answer;
        QTest::newRow("other command") << hex("10030105 0000") << readId << unrelated;
        QTest::newRow("read answer to a command") << readAnswer(1, 2) << readId << unrelated;
        // A read of slave 16 is a Modbus request, not a command.
        QTest::newRow("slave 16 read") << readAnswer(16, 78) << hex("100300000027 0691") << answer;
    }
    void replyToRequest()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, request);
        QTEST(int(Frames::replyTo(answer, request)), "reply");
    }
    // A write acknowledgement counts only for the frame in flight.
    void ackFitsWrite_data()
    {
        QTest::addColumn<QByteArray>("ack");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("fits");
        const QByteArray write67 = hex("011000430001020CE4ADE8");
        QTest::newRow("echo of register 67") << hex("011000430001F01D") << write67 << true;
        QTest::newRow("echo of register 68") << hex("01100044000141DC") << write67 << false;
        QTest::newRow("clock frame, one register echoed") << hex("0110002D000191C0") << hex("0110002D0002046B1A9AF5A72A") << false;
        QTest::newRow("clock frame") << hex("0110002D0002D1C1") << hex("0110002D0002046B1A9AF5A72A") << true;
        QTest::newRow("nothing in flight") << hex("011000430001F01D") << QByteArray() << false;
        QTest::newRow("a read in flight") << hex("011000430001F01D") << hex("01030000002705D0") << false;
    }
    void ackFitsWrite()
    {
        QFETCH(QByteArray, ack);
        QFETCH(QByteArray, request);
        QTEST(Frames::replyTo(ack, request) == Frames::Reply::Answer, "fits");
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
