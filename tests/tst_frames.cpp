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

// A function-3 answer from `address` with `dataBytes` data bytes.
QByteArray readAnswer(quint8 address, int dataBytes)
{
    QByteArray body;
    body.append(char(address)).append(char(0x03)).append(char(dataBytes));
    for (int i = 0; i < dataBytes; ++i)
        body.append(char(i * 7 + 1));
    return sealed(body);
}

// How far a burst gets: dropped unchecked, dropped by a check, or accepted.
enum Outcome { NotForUs = -3, Incomplete = -2, Accepted = 0, BadLength = 1, BadCrc = 2 };

int outcome(const QByteArray &held, quint8 selected)
{
    switch (Frames::classifyBurst(held, selected)) {
    case Frames::Burst::NotForUs: return NotForUs;
    case Frames::Burst::Incomplete: return Incomplete;
    case Frames::Burst::Complete: break;
    }
    switch (Frames::checkAnswer(held)) {
    case Frames::Check::Ok: return Accepted;
    case Frames::Check::BadLength: return BadLength;
    case Frames::Check::BadCrc: return BadCrc;
    }
    return -100;
}
} // namespace

class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void expectedLength_data();
    void expectedLength();
    void framing_data();
    void framing();
    void exceptionAnswersReachDispatcher();
    void answerFitsRead_data();
    void answerFitsRead();
    void addressedRestampsAndReseals();
    void hexText();
};

void TestFrames::expectedLength_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length");
    QTest::newRow("nothing") << QByteArray() << -1;
    QTest::newRow("address only") << hex("01") << -1;
    QTest::newRow("read, no byte count yet") << hex("0103") << -1;
    QTest::newRow("read of 39 registers") << hex("01034E") << 83;
    QTest::newRow("read, byte count 0") << hex("010300") << 5;
    QTest::newRow("read, byte count 255") << hex("0103FF") << 260;
    QTest::newRow("write ack, two bytes known") << hex("0110") << 8;
    QTest::newRow("write ack, register high byte 2") << hex("01100200") << 8;
    QTest::newRow("write ack, register high byte FF") << hex("0110FF") << 8;
    QTest::newRow("exception 0x83, two bytes known") << hex("0183") << 5;
    QTest::newRow("exception 0x83 code 2") << hex("018302") << 5;
    QTest::newRow("exception 0x90 code 1") << hex("019001") << 5;
    QTest::newRow("exception 0x83 code 0") << hex("018300") << 5;
    QTest::newRow("address page answer") << hex("100201") << 6;
}

void TestFrames::expectedLength()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, length);
    QCOMPARE(Frames::expectedLength(bytes), length);
}

void TestFrames::framing_data()
{
    QTest::addColumn<QByteArray>("held");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("result");

    const QByteArray monitor = readAnswer(1, 78);
    QTest::newRow("monitoring answer") << monitor << 1 << int(Accepted);
    QTest::newRow("monitoring answer, one byte short") << monitor.left(82) << 1 << int(Incomplete);
    QTest::newRow("monitoring answer + stray byte") << monitor + hex("00") << 1 << int(BadLength);
    QTest::newRow("monitoring answer, other address") << monitor << 2 << int(NotForUs);
    QByteArray corrupt = monitor;
    corrupt[40] = char(corrupt[40] ^ 0x01);
    QTest::newRow("monitoring answer, bit flipped") << corrupt << 1 << int(BadCrc);
    QByteArray crcSwapped = monitor;
    crcSwapped[81] = monitor[82];
    crcSwapped[82] = monitor[81];
    QTest::newRow("CRC high byte first") << crcSwapped << 1 << int(BadCrc);
    QTest::newRow("answer from address 64") << readAnswer(64, 46) << 64 << int(Accepted);
    QTest::newRow("read answer, byte count 0") << readAnswer(1, 0) << 1 << int(Accepted);
    QTest::newRow("empty") << QByteArray() << 1 << int(Incomplete);
    QTest::newRow("address byte only") << hex("01") << 1 << int(Incomplete);
    QTest::newRow("wrong first byte") << hex("0203020000") << 1 << int(NotForUs);
    QTest::newRow("echo of our request, other address") << hex("01030000002705D0") << 5 << int(NotForUs);
    QTest::newRow("echo of our request") << hex("01030000002705D0") << 1 << int(BadLength);
    QTest::newRow("read answer, address 16") << readAnswer(16, 78) << 16 << int(Accepted);

    // Answers of the address page start with 0x10 whatever address is selected.
    const QByteArray idAnswer = sealed(hex("10020105"));
    QTest::newRow("0x10 answer, address 1") << idAnswer << 1 << int(Accepted);
    QTest::newRow("0x10 answer, address 5") << idAnswer << 5 << int(Accepted);
    QTest::newRow("0x10 answer, address 64") << idAnswer << 64 << int(Accepted);
    QTest::newRow("0x10 answer, incomplete") << idAnswer.left(5) << 5 << int(Incomplete);

    // Write acknowledgements are 8 bytes whatever their third byte says.
    const QByteArray ack = hex("0110020000010071");
    QTest::newRow("write ack, register 0x0200") << ack << 1 << int(Accepted);
    QTest::newRow("write ack, 7 of 8 bytes") << ack.left(7) << 1 << int(Incomplete);
    QTest::newRow("write ack + stray byte") << ack + hex("00") << 1 << int(BadLength);
    const QByteArray ack43 = sealed(hex("011000430001"));
    QTest::newRow("write ack, register 67") << ack43 << 1 << int(Accepted);
    QTest::newRow("write ack, register 0xFF00") << sealed(hex("0110FF000001")) << 1 << int(Accepted);

    // Standard Modbus exception answers: address, code | 0x80, code, CRC.
    QTest::newRow("exception 0x83 code 2") << hex("018302C0F1") << 1 << int(Accepted);
    QTest::newRow("exception 0x90 code 1") << hex("0190018DC0") << 1 << int(Accepted);
    QTest::newRow("exception 0x83 code 0") << hex("0183004130") << 1 << int(Accepted);
    QTest::newRow("exception 0x83 code 4") << sealed(hex("018304")) << 1 << int(Accepted);
    QTest::newRow("exception, 4 of 5 bytes") << hex("018302C0") << 1 << int(Incomplete);
    QTest::newRow("exception + stray byte") << hex("018302C0F100") << 1 << int(BadLength);
    QTest::newRow("exception, bad CRC") << hex("018302F1C0") << 1 << int(BadCrc);
    QTest::newRow("exception, other address") << sealed(hex("028302")) << 1 << int(NotForUs);
}

void TestFrames::framing()
{
    QFETCH(QByteArray, held);
    QFETCH(int, selected);
    QFETCH(int, result);
    QCOMPARE(outcome(held, quint8(selected)), result);
}

void TestFrames::exceptionAnswersReachDispatcher()
{
    // An accepted exception answer is told apart by its function code, which
    // sends it to the failure path rather than to a read or write handler.
    for (const QByteArray &frame : {hex("018302C0F1"), hex("0190018DC0"), hex("0183004130")}) {
        QCOMPARE(Frames::checkAnswer(frame), Frames::Check::Ok);
        QVERIFY(Frames::isException(frame));
        QVERIFY(Frames::functionCode(frame) != Frames::ReadHolding);
        QVERIFY(Frames::functionCode(frame) != Frames::WriteMultiple);
    }
    QVERIFY(!Frames::isException(readAnswer(1, 78)));
    QVERIFY(!Frames::isException(hex("0110020000010071")));
}

void TestFrames::answerFitsRead_data()
{
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("fits");

    QTest::newRow("identity 46") << 46 << int(IdentityRead) << true;
    QTest::newRow("monitoring 78") << 78 << int(MonitorRead) << true;
    QTest::newRow("parameters 182") << 182 << int(ParameterRead) << true;
    QTest::newRow("record 56") << 56 << int(DatalogRead) << true;

    // Late answers to an earlier read.
    QTest::newRow("monitoring 78 while parameters asked") << 78 << int(ParameterRead) << false;
    QTest::newRow("identity 46 while monitoring asked") << 46 << int(MonitorRead) << false;
    QTest::newRow("monitoring 78 while identity asked") << 78 << int(IdentityRead) << false;
    QTest::newRow("parameters 182 while monitoring asked") << 182 << int(MonitorRead) << false;
    QTest::newRow("record 56 while monitoring asked") << 56 << int(MonitorRead) << false;
    QTest::newRow("monitoring 78 while record asked") << 78 << int(DatalogRead) << false;

    QTest::newRow("identity, one register short") << 44 << int(IdentityRead) << false;
    QTest::newRow("identity, odd count") << 47 << int(IdentityRead) << false;
    QTest::newRow("monitoring, one register more") << 80 << int(MonitorRead) << false;
    QTest::newRow("byte count 0") << 0 << int(MonitorRead) << false;
    QTest::newRow("write is no read") << 0 << int(ParameterWrite) << false;
    QTest::newRow("unknown kind") << 78 << 7 << false;
}

void TestFrames::answerFitsRead()
{
    QFETCH(int, dataBytes);
    QFETCH(int, kind);
    QFETCH(bool, fits);
    QCOMPARE(Frames::answerFitsRead(readAnswer(1, dataBytes), quint16(kind)), fits);
}

void TestFrames::addressedRestampsAndReseals()
{
    const QByteArray prepared = hex("01100043000102 0CE4 0000");
    const QByteArray sent = Frames::addressed(prepared, 5);
    QCOMPARE(sent.size(), prepared.size());
    QCOMPARE(sent.left(9), hex("05100043000102 0CE4"));
    QVERIFY(crcMatches(sent));
    QCOMPARE(Frames::addressed(Frames::monitorRead(1), 5), hex("05030000002704 54"));
    QVERIFY(Frames::addressed(QByteArray(), 5).isEmpty());
}

void TestFrames::hexText()
{
    QCOMPARE(Frames::hexText(hex("01030000002705D0")), QStringLiteral("01 03 00 00 00 27 05 D0"));
    QCOMPARE(Frames::hexText(hex("0A")), QStringLiteral("0A"));
    QCOMPARE(Frames::hexText(QByteArray()), QString());
}

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
