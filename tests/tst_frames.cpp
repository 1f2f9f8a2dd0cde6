// CRC-16/MODBUS, the request frames the tool sends byte for byte, recognising,
// cutting and checking answers (first byte, length rule, CRC, exceptions), and
// which answer belongs to the request in flight.
#include "link/frames.h"
#include "support/helpers.h"
#include <QtTest>

namespace {
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
    void checksum()
    {
        QCOMPARE(crc16Modbus("123456789"), quint16(0x4B37)); // the check string
        QCOMPARE(crc16Modbus(hex("010300000027")), quint16(0xD005));
        QCOMPARE(crc16Modbus(QByteArray()), quint16(0xFFFF));
    }
    // Requests of other kinds are checked where they are made (polling,
    // datalog page, address commands).
    void requestFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");
        const quint16 one = 3300, two[2] = {0x1234, 0xABCD};
        QTest::newRow("address 64") << Frames::monitorRead(64) << hex("4003000000270AC1");
        QTest::newRow("write 67=3300") << Frames::writeRegisters(1, 67, &one, 1) << hex("011000430001020CE4ADE8");
        QTest::newRow("write two") << Frames::writeRegisters(1, 45, two, 2).left(11) << hex("0110002D0002041234ABCD");
        QTest::newRow("record 0") << Frames::recordRead(1, 0) << hex("010301E0001C4409");
    }
    void requestFrames()
    {
        QFETCH(QByteArray, frame);
        QTEST(frame, "expected");
    }
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
        QTEST(int(outcome(held, quint8(selected))), "result");
        if (held.size() == 5 && outcome(held, quint8(selected)) == Accepted)
            QVERIFY(Frames::isException(held));
    }
    // Which frame answers the request in flight: the frames are literal
    // bytes (requests as sent; answers with their CRC left at zero, which
    // this decision does not look at, but for the acknowledgements). A write
    // acknowledgement counts only for the frame in flight.
    void replyToRequest_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("reply");
        const int answer = int(Frames::Reply::Answer), refusal = int(Frames::Reply::Refusal),
                  unrelated = int(Frames::Reply::Unrelated);
        const QByteArray identity = hex("010300690017D5D8"), monitor = hex("01030000002705D0"),
                         write67 = hex("011000430001020CE4ADE8"), clock = hex("0110002D0002046B1A9AF5A72A"),
                         readId = hex("1002007165");
        QTest::newRow("identity 46") << readAnswer(1, 46) << identity << answer;
        QTest::newRow("monitoring 78") << readAnswer(1, 78) << monitor << answer;
        QTest::newRow("late monitoring answer, identity asked") << readAnswer(1, 78) << identity << unrelated;
        QTest::newRow("other address") << readAnswer(2, 78) << monitor << unrelated;
        QTest::newRow("read refused") << hex("0183020000") << monitor << refusal;
        QTest::newRow("other function refused") << hex("0190020000") << monitor << unrelated;
        QTest::newRow("echo of register 67") << hex("011000430001F01D") << write67 << answer;
        QTest::newRow("echo of register 68") << hex("01100044000141DC") << write67 << unrelated;
        QTest::newRow("acknowledgement of two registers") << hex("0110004300020000") << write67 << unrelated;
        QTest::newRow("clock frame") << hex("0110002D0002D1C1") << clock << answer;
        QTest::newRow("clock frame, one register echoed") << hex("0110002D000191C0") << clock << unrelated;
        QTest::newRow("acknowledgement, nothing in flight") << hex("011000430001F01D") << QByteArray() << unrelated;
        QTest::newRow("acknowledgement, a read in flight") << hex("011000430001F01D") << monitor << unrelated;
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
};

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
