// CRC-16/MODBUS and the byte-exact request frames that the tool sends.
#include "link/crc16.h"
#include "link/frames.h"

#include <QtTest>

static QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
static QByteArray sealed(QByteArray frame) { sealFrame(frame); return frame; }

class TestCrc : public QObject
{
    Q_OBJECT
private slots:
    void checksum_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("crc");
        QTest::newRow("check string") << QByteArray("123456789") << 0x4B37;
        QTest::newRow("monitoring read") << hex("010300000027") << 0xD005;
        QTest::newRow("empty") << QByteArray() << 0xFFFF;
    }
    void checksum()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, crc);
        QCOMPARE(int(crc16Modbus(bytes)), crc);
    }
    void requestFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");
        const quint16 one = 3300, two[2] = {0x1234, 0xABCD};
        QTest::newRow("identity") << Frames::identityRead(1) << hex("010300690017D5D8");
        QTest::newRow("monitoring") << Frames::monitorRead(1) << hex("01030000002705D0");
        QTest::newRow("parameters") << Frames::parameterRead(1) << hex("0103002D005B9438");
        QTest::newRow("address 5") << Frames::monitorRead(5) << hex("0503000000270454");
        QTest::newRow("address 64") << Frames::monitorRead(64) << hex("4003000000270AC1");
        QTest::newRow("write 67=3300") << Frames::writeRegisters(1, 67, &one, 1) << hex("011000430001020CE4ADE8");
        QTest::newRow("write two") << Frames::writeRegisters(1, 45, two, 2).left(11) << hex("0110002D0002041234ABCD");
        QTest::newRow("record 0") << Frames::recordRead(1, 0) << hex("010301E0001C4409");
        QTest::newRow("record 1") << Frames::recordRead(1, 1) << hex("01030200001C45BB");
        QTest::newRow("record 680") << Frames::recordRead(1, 680) << hex("010356E0001C547D");
        QTest::newRow("read current ID") << sealed(hex("1002000000")) << hex("1002007165");
        QTest::newRow("RS485 protocols") << sealed(hex("1003000000")) << hex("10030070F5");
        QTest::newRow("CAN protocols") << sealed(hex("1004000000")) << hex("10040072C5");
    }
    void requestFrames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);
        QCOMPARE(Frames::hexText(frame), Frames::hexText(expected));
    }
};

QTEST_APPLESS_MAIN(TestCrc)
#include "tst_crc.moc"
