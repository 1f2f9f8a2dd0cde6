// Decoding read answers into the register image, and the values derived
// from it: signed fields, sensor temperatures, extremes and identity texts.
#include "link/crc16.h"
#include "model/monitordata.h"
#include <QtTest>
#include <numeric>

namespace {
constexpr quint16 Untouched = 0xBEEF;
using Words = QVector<quint16>;

QByteArray sealed(QByteArray frame) { frame.append(2, '\0'); sealFrame(frame); return frame; }
// A function-3 answer from address 1 carrying `data` (byte count = its size).
QByteArray answer(const QByteArray &data) { return sealed(QByteArray::fromHex("0103") + char(data.size()) + data); }
Words counting(int count) { Words v(count); std::iota(v.begin(), v.end(), quint16(0x1000)); return v; }
QByteArray bigEndian(const Words &values)
{
    QByteArray bytes;
    for (const quint16 v : values)
        bytes.append(char(v >> 8)).append(char(v));
    return bytes;
}
} // namespace

class TestMonitorData : public QObject
{
    Q_OBJECT
private slots:
    void store_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("first");
        QTest::addColumn<Words>("stored");
        const int monitor = MonitorRead;
        QTest::newRow("monitoring, 78 bytes") << monitor << answer(bigEndian(counting(39))) << 0 << counting(39);
        QTest::newRow("identity, 46 bytes") << int(IdentityRead) << answer(bigEndian(counting(23))) << 105 << counting(23);
        QTest::newRow("parameter read") << int(ParameterRead) << answer(bigEndian(counting(91))) << 0 << Words{};
        QTest::newRow("byte count 1") << monitor << answer(QByteArray::fromHex("AA")) << 0 << Words{};
        QTest::newRow("high byte first") << monitor << answer(QByteArray::fromHex("1234")) << 0 << Words{0x1234};
        QTest::newRow("byte count 5") << monitor << answer(QByteArray::fromHex("123456789A")) << 0 << Words{0x1234, 0x5678};
        // A byte count larger than the frame carries never turns the CRC into a value.
        QTest::newRow("byte count past the data") << monitor << sealed(QByteArray::fromHex("01034E12345678")) << 0
                                                  << Words{0x1234, 0x5678};
    }
    void store()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, frame);
        QFETCH(int, first);
        QFETCH(Words, stored);
        BmsLiveData live;
        std::fill(std::begin(live.registerImage), std::end(live.registerImage), Untouched);
        std::fill(std::begin(live.recordRegisters), std::end(live.recordRegisters), Untouched);
        live.requestKind = quint16(kind);
        storeReadAnswer(frame, live);
        for (int r = 0; r < 512; ++r)
            QCOMPARE(live.registerImage[r], r >= first && r < first + stored.size() ? stored[r - first] : Untouched);
        // recordRegisters lies right behind the image: it would show an overrun.
        storeRegisters(answer(bigEndian(counting(100))), 500, live);
        QCOMPARE(live.registerImage[511], quint16(0x100B));
        QCOMPARE(live.recordRegisters[0], Untouched);
    }
    void signedValues()
    {
        BmsLiveData live;
        live.registerImage[Reg::PackCurrent] = 0xFF38;
        live.registerImage[Reg::SensorTemp12] = 0xFB19;
        live.registerImage[Reg::SensorTemp34] = 0x807F; // sensors 3 and 4 take no part in the extremes
        QCOMPARE(int(packCurrent(live)), -200);
        QCOMPARE(QVector<int>({sensorTemp(1, live), sensorTemp(2, live), sensorTemp(3, live), sensorTemp(4, live)}),
                 QVector<int>({-5, 25, -128, 127}));
        const auto extremes = [&] { return QVector<int>{temperatureExtremes(live).max, temperatureExtremes(live).min}; };
        QCOMPARE(extremes(), QVector<int>({25, -5}));
        live.registerImage[Reg::SensorTemp12] = 0x7F80;
        QCOMPARE(extremes(), QVector<int>({127, -128}));
    }
    void cellExtremes_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<Words>("cells");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("scanned");
        QTest::newRow("no cells") << 0 << Words{3300} << 0 << 65535 << 0;
        QTest::newRow("three cells") << 3 << Words{3300, 3310, 3295, 5000, 1} << 3310 << 3295 << 3;
        QTest::newRow("unsigned compare") << 2 << Words{40000, 3000} << 40000 << 3000 << 2;
        // Only sixteen cell fields exist: register 18 (huge here) is never a cell.
        QTest::newRow("count 20 held to 16") << 20 << (Words(15, 3300) << 3290) << 3300 << 3290 << 16;
    }
    void cellExtremes()
    {
        QFETCH(int, count);
        QFETCH(Words, cells);
        BmsLiveData live;
        live.registerImage[Reg::CellCount] = quint16(count);
        std::copy(cells.begin(), cells.end(), live.registerImage + Reg::CellVoltage);
        live.registerImage[Reg::PcbTemp] = 65000;
        QTEST(cellCount(live), "scanned");
        QTEST(int(cellVoltageExtremes(live).max), "max");
        QTEST(int(cellVoltageExtremes(live).min), "min");
    }
    void identityTexts()
    {
        BmsLiveData live;
        live.requestKind = IdentityRead;
        live.registerImage[128] = 0x5858; // no zero after the serial number
        storeReadAnswer(answer(QByteArray::fromHex("41420043") + QByteArray(20, 0) + QByteArray("V2.01\0", 6)
                               + "SN20240001234567"), live);
        QCOMPARE(modelText(live), QStringLiteral("AB"));
        QCOMPARE(versionText(live), QStringLiteral("V2.01"));
        QCOMPARE(serialText(live), QStringLiteral("SN20240001234567"));
        storeReadAnswer(answer("PACK-48V-100AH-16S-LFP01V1.2.3"), live);
        QCOMPARE(modelText(live), QStringLiteral("PACK-48V-100AH-16S-LFP01"));
        QCOMPARE(versionText(live), QStringLiteral("V1.2.3"));
    }
};

QTEST_APPLESS_MAIN(TestMonitorData)
#include "tst_monitordata.moc"
