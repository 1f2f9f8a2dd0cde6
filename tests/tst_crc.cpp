// CRC-16/MODBUS and the byte-exact request frames that the tool sends.
#include "link/crc16.h"
#include "link/frames.h"

#include <QtTest>

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
} // namespace

class TestCrc : public QObject
{
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void sealStoresLowByteFirst();
    void sealIgnoresFramesTooShort();
    void crcMatches_data();
    void crcMatches();
    void requestFrames_data();
    void requestFrames();
    void commandFramesSealed_data();
    void commandFramesSealed();
    void writeOfTwoRegisters();
    void recordStartWrapsAt65536();
};

void TestCrc::checksum_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint16>("crc");
    QTest::newRow("monitoring read") << hex("010300000027") << quint16(0xD005);
    QTest::newRow("read id command") << hex("100200") << quint16(0x6571);
    QTest::newRow("empty") << QByteArray() << quint16(0xFFFF);
    // Standard check value of CRC-16/MODBUS.
    QTest::newRow("check string") << QByteArray("123456789") << quint16(0x4B37);
    QTest::newRow("one zero byte") << hex("00") << quint16(0x40BF);
    QTest::newRow("high bytes") << hex("FFFF") << quint16(0x0000);
}

void TestCrc::checksum()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint16, crc);
    QCOMPARE(crc16Modbus(bytes), crc);
    QCOMPARE(crc16Modbus(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size()), crc);
}

void TestCrc::sealStoresLowByteFirst()
{
    QByteArray frame = hex("0103000000270000");
    sealFrame(frame);
    QCOMPARE(frame, hex("01030000002705D0"));
    // Whatever the CRC bytes held before, they are computed again.
    QByteArray stale = hex("100200FFFF");
    sealFrame(stale);
    QCOMPARE(stale, hex("1002007165"));
}

void TestCrc::sealIgnoresFramesTooShort()
{
    QByteArray two = hex("0103");
    sealFrame(two);
    QCOMPARE(two, hex("0103"));
    QByteArray none;
    sealFrame(none);
    QVERIFY(none.isEmpty());
}

void TestCrc::crcMatches_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("matches");
    QTest::newRow("good") << hex("01030000002705D0") << true;
    QTest::newRow("bytes swapped") << hex("010300000027D005") << false;
    QTest::newRow("data bit flipped") << hex("01030000002605D0") << false;
    QTest::newRow("exception with code 0") << hex("0183004130") << true;
    QTest::newRow("too short") << hex("FFFF") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestCrc::crcMatches()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, matches);
    QCOMPARE(::crcMatches(frame), matches);
}

void TestCrc::requestFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("identity read") << Frames::identityRead(1) << hex("0103006900 17D5D8");
    QTest::newRow("monitoring read") << Frames::monitorRead(1) << hex("01030000002705D0");
    QTest::newRow("parameter read") << Frames::parameterRead(1) << hex("0103002D005B9438");
    QTest::newRow("monitoring read, address 5") << Frames::monitorRead(5) << hex("05030000002704 54");
    QTest::newRow("monitoring read, address 64") << Frames::monitorRead(64) << hex("4003000000270AC1");
    const quint16 value = 3300;
    QTest::newRow("write register 67 = 3300")
        << Frames::writeRegisters(1, 67, &value, 1) << hex("01100043000102 0CE4ADE8");
    QTest::newRow("record 1 from register 512") << Frames::recordRead(1, 1) << hex("01030200001C45BB");
    QTest::newRow("record 0 from register 480") << Frames::recordRead(1, 0) << hex("010301E0001C4409");
    QTest::newRow("record 680") << Frames::recordRead(1, 680) << hex("010356E0001C547D");
    QTest::newRow("read request helper") << Frames::readRequest(1, 0, 39) << hex("01030000002705D0");
}

void TestCrc::requestFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(Frames::hexText(frame), Frames::hexText(expected));
}

void TestCrc::commandFramesSealed_data()
{
    QTest::addColumn<QByteArray>("prepared");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("read current ID") << hex("1002000000") << hex("1002007165");
    QTest::newRow("read RS485 protocols") << hex("1003000000") << hex("10030070F5");
    QTest::newRow("read CAN protocols") << hex("1004000000") << hex("10040072C5");
}

void TestCrc::commandFramesSealed()
{
    QFETCH(QByteArray, prepared);
    QFETCH(QByteArray, expected);
    sealFrame(prepared);
    QCOMPARE(prepared, expected);
    QVERIFY(::crcMatches(prepared));
}

void TestCrc::writeOfTwoRegisters()
{
    const quint16 values[2] = {0x1234, 0xABCD};
    const QByteArray frame = Frames::writeRegisters(1, 45, values, 2);
    QCOMPARE(frame.size(), 13);
    QCOMPARE(frame.left(11), hex("0110002D0002041234ABCD"));
    QVERIFY(::crcMatches(frame));
}

void TestCrc::recordStartWrapsAt65536()
{
    // (2033 + 15) * 32 = 65536, which wraps to register 0.
    QCOMPARE(Frames::recordRead(1, 2033).mid(2, 2), hex("0000"));
}

QTEST_APPLESS_MAIN(TestCrc)
#include "tst_crc.moc"
