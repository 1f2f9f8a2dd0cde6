// Decoding read answers into the register image, and the values derived
// from it: signed fields, sensor temperatures, extremes and identity texts.
#include "link/crc16.h"
#include "model/monitordata.h"

#include <QtTest>
#include <cstdlib>

namespace {
// A function-3 answer from address 1 carrying `data` (byte count = its size).
QByteArray answer(const QByteArray &data)
{
    QByteArray frame;
    frame.append(char(0x01)).append(char(0x03)).append(char(data.size())).append(data);
    frame.append(2, '\0');
    sealFrame(frame);
    return frame;
}

// Register values as they travel: big-endian.
QByteArray words(const QVector<quint16> &values)
{
    QByteArray bytes;
    for (const quint16 v : values)
        bytes.append(char(v >> 8)).append(char(v & 0xFF));
    return bytes;
}

// `count` registers whose values tell their position: base + i.
QByteArray numbered(int count, quint16 base)
{
    QVector<quint16> values;
    for (int i = 0; i < count; ++i)
        values.append(quint16(base + i));
    return words(values);
}

// A text padded with zeros to `length` bytes.
QByteArray text(const QByteArray &chars, int length)
{
    QByteArray bytes = chars.left(length);
    bytes.append(length - bytes.size(), '\0');
    return bytes;
}

constexpr quint16 Untouched = 0xBEEF;

void fillImage(BmsLiveData &live)
{
    for (quint16 &r : live.registerImage)
        r = Untouched;
    for (quint16 &r : live.recordRegisters)
        r = Untouched;
}
} // namespace

class TestMonitorData : public QObject
{
    Q_OBJECT

private slots:
    void monitoringAnswerFillsMonitorArea();
    void identityAnswerFillsIdentityArea();
    void otherKindsStoreNothing_data();
    void otherKindsStoreNothing();
    void shortAndOddByteCounts_data();
    void shortAndOddByteCounts();
    void shorterAnswerKeepsEarlierValues();
    void longerAnswerIsStoredWhole();
    void dataEndBeforeTheCrc();
    void storingNeverPassesTheImage();
    void signedFields();
    void sensorTemperatures();
    void cellExtremes_data();
    void cellExtremes();
    void identityTexts();
    void textsFillingTheirLength();
};

void TestMonitorData::monitoringAnswerFillsMonitorArea()
{
    BmsLiveData live;
    fillImage(live);
    live.requestKind = MonitorRead;
    storeReadAnswer(answer(numbered(39, 0x1000)), live);
    for (int r = 0; r <= 38; ++r)
        QCOMPARE(live.registerImage[r], quint16(0x1000 + r));
    QCOMPARE(live.registerImage[39], Untouched);
    QCOMPARE(live.registerImage[105], Untouched);
}

void TestMonitorData::identityAnswerFillsIdentityArea()
{
    BmsLiveData live;
    fillImage(live);
    live.requestKind = IdentityRead;
    storeReadAnswer(answer(numbered(23, 0x2000)), live);
    QCOMPARE(live.registerImage[104], Untouched);
    for (int r = 105; r <= 127; ++r)
        QCOMPARE(live.registerImage[r], quint16(0x2000 + r - 105));
    QCOMPARE(live.registerImage[128], Untouched);
    QCOMPARE(live.registerImage[0], Untouched);
}

void TestMonitorData::otherKindsStoreNothing_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("parameter read") << int(ParameterRead);
    QTest::newRow("parameter write") << int(ParameterWrite);
    QTest::newRow("record read") << int(DatalogRead);
    QTest::newRow("unknown") << 7;
}

void TestMonitorData::otherKindsStoreNothing()
{
    QFETCH(int, kind);
    BmsLiveData live;
    fillImage(live);
    live.requestKind = quint16(kind);
    storeReadAnswer(answer(numbered(91, 1)), live);
    for (const quint16 r : live.registerImage)
        QCOMPARE(r, Untouched);
}

void TestMonitorData::shortAndOddByteCounts_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QVector<quint16>>("stored");
    QTest::newRow("byte count 0") << QByteArray() << QVector<quint16>{};
    QTest::newRow("byte count 1") << QByteArray::fromHex("AA") << QVector<quint16>{};
    QTest::newRow("byte count 2") << QByteArray::fromHex("1234") << QVector<quint16>{0x1234};
    QTest::newRow("byte count 5") << QByteArray::fromHex("123456789A") << QVector<quint16>{0x1234, 0x5678};
    QTest::newRow("high bit set") << QByteArray::fromHex("FF38") << QVector<quint16>{0xFF38};
}

void TestMonitorData::shortAndOddByteCounts()
{
    QFETCH(QByteArray, data);
    QFETCH(QVector<quint16>, stored);
    BmsLiveData live;
    fillImage(live);
    live.requestKind = MonitorRead;
    storeReadAnswer(answer(data), live);
    for (int r = 0; r < stored.size(); ++r)
        QCOMPARE(live.registerImage[r], stored[r]);
    QCOMPARE(live.registerImage[stored.size()], Untouched);
}

void TestMonitorData::shorterAnswerKeepsEarlierValues()
{
    BmsLiveData live;
    live.requestKind = MonitorRead;
    storeReadAnswer(answer(numbered(39, 100)), live);
    storeReadAnswer(answer(words({7, 8})), live);
    QCOMPARE(live.registerImage[0], quint16(7));
    QCOMPARE(live.registerImage[1], quint16(8));
    QCOMPARE(live.registerImage[2], quint16(102));
    QCOMPARE(live.registerImage[38], quint16(138));
}

void TestMonitorData::longerAnswerIsStoredWhole()
{
    // The largest answer (byte count 254, 127 registers) from the highest
    // start register reaches register 231.
    BmsLiveData live;
    fillImage(live);
    live.requestKind = IdentityRead;
    storeReadAnswer(answer(numbered(127, 0x3000)), live);
    QCOMPARE(live.registerImage[105], quint16(0x3000));
    QCOMPARE(live.registerImage[231], quint16(0x3000 + 126));
    QCOMPARE(live.registerImage[232], Untouched);
}

void TestMonitorData::dataEndBeforeTheCrc()
{
    // A byte count larger than the data carried never turns the CRC into a
    // register value.
    BmsLiveData live;
    fillImage(live);
    QByteArray frame = QByteArray::fromHex("01034E12345678");
    frame.append(2, '\0');
    sealFrame(frame);
    storeRegisters(frame, 0, live);
    QCOMPARE(live.registerImage[0], quint16(0x1234));
    QCOMPARE(live.registerImage[1], quint16(0x5678));
    QCOMPARE(live.registerImage[2], Untouched);
    storeRegisters(QByteArray::fromHex("0103"), 0, live);
    storeRegisters(QByteArray::fromHex("01030200"), 0, live);
    QCOMPARE(live.registerImage[0], quint16(0x1234));
}

void TestMonitorData::storingNeverPassesTheImage()
{
    // recordRegisters lies right behind registerImage: it shows any overrun.
    BmsLiveData live;
    fillImage(live);
    storeRegisters(answer(numbered(100, 1)), 500, live);
    QCOMPARE(live.registerImage[500], quint16(1));
    QCOMPARE(live.registerImage[511], quint16(12));
    for (const quint16 r : live.recordRegisters)
        QCOMPARE(r, Untouched);
}

void TestMonitorData::signedFields()
{
    BmsLiveData live;
    live.requestKind = MonitorRead;
    QByteArray data = numbered(39, 0);
    data[2] = char(0xFF); // packCurrent
    data[3] = char(0x38);
    data[36] = char(0xFF); // pcbTemp -10
    data[37] = char(0xF6);
    storeReadAnswer(answer(data), live);
    QCOMPARE(live.registerImage[Reg::PackCurrent], quint16(0xFF38));
    QCOMPARE(int(packCurrent(live)), -200);
    QCOMPARE(int(signedRegister(Reg::PcbTemp, live)), -10);
    QCOMPARE(int(signedRegister(Reg::TotalVoltage, live)), 0);
}

void TestMonitorData::sensorTemperatures()
{
    BmsLiveData live;
    live.requestKind = MonitorRead;
    QByteArray data = numbered(39, 0);
    data[2 * Reg::SensorTemp12] = char(0xFB);
    data[2 * Reg::SensorTemp12 + 1] = char(0x19);
    data[2 * Reg::SensorTemp34] = char(0x80);
    data[2 * Reg::SensorTemp34 + 1] = char(0x7F);
    data[2 * Reg::ReportedMaxTemp] = 0;
    data[2 * Reg::ReportedMaxTemp + 1] = char(99);
    storeReadAnswer(answer(data), live);

    QCOMPARE(int(sensorTemp(1, live)), -5);
    QCOMPARE(int(sensorTemp(2, live)), 25);
    QCOMPARE(int(sensorTemp(3, live)), -128);
    QCOMPARE(int(sensorTemp(4, live)), 127);

    // Sensors 3 and 4 and the reported maximum take no part.
    TemperatureExtremes t = temperatureExtremes(live);
    QCOMPARE(int(t.max), 25);
    QCOMPARE(int(t.min), -5);
    QCOMPARE(std::abs(int(t.max) - int(t.min)), 30);

    // Full signed range; the order of the two sensors does not matter.
    live.registerImage[Reg::SensorTemp12] = 0x7F80;
    t = temperatureExtremes(live);
    QCOMPARE(int(t.max), 127);
    QCOMPARE(int(t.min), -128);
    QCOMPARE(std::abs(int(t.max) - int(t.min)), 255);

    live.registerImage[Reg::SensorTemp12] = 0x1414;
    t = temperatureExtremes(live);
    QCOMPARE(int(t.max), 20);
    QCOMPARE(int(t.min), 20);
}

void TestMonitorData::cellExtremes_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<quint16>>("cells");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("scanned");

    const QVector<quint16> sixteen{3301, 3302, 3303, 3304, 3305, 3306, 3307, 3308,
                                   3309, 3310, 3311, 3312, 3313, 3314, 3315, 3290};
    QTest::newRow("no cells") << 0 << sixteen << 0 << 65535 << 0;
    QTest::newRow("three cells") << 3 << QVector<quint16>{3300, 3310, 3295, 5000, 1} << 3310 << 3295 << 3;
    QTest::newRow("one cell") << 1 << QVector<quint16>{3333, 1, 60000} << 3333 << 3333 << 1;
    QTest::newRow("sixteen cells") << 16 << sixteen << 3315 << 3290 << 16;
    QTest::newRow("unsigned compare") << 2 << QVector<quint16>{40000, 3000} << 40000 << 3000 << 2;
    // Only sixteen cell fields exist: a larger count is held to sixteen, so
    // register 18 (board temperature, here huge) is never taken for a cell.
    QTest::newRow("count 17") << 17 << sixteen << 3315 << 3290 << 16;
    QTest::newRow("count 20") << 20 << sixteen << 3315 << 3290 << 16;
    QTest::newRow("count 65535") << 65535 << sixteen << 3315 << 3290 << 16;
}

void TestMonitorData::cellExtremes()
{
    QFETCH(int, count);
    QFETCH(QVector<quint16>, cells);
    QFETCH(int, max);
    QFETCH(int, min);
    QFETCH(int, scanned);
    BmsLiveData live;
    live.registerImage[Reg::CellCount] = quint16(count);
    for (int i = 0; i < cells.size(); ++i)
        live.registerImage[Reg::CellVoltage + i] = cells[i];
    live.registerImage[Reg::PcbTemp] = 65000;
    live.registerImage[Reg::AmbientTemp] = 2;
    live.registerImage[Reg::ReportedMaxTemp] = 1;

    QCOMPARE(cellCount(live), scanned);
    const CellExtremes e = cellVoltageExtremes(live);
    QCOMPARE(int(e.max), max);
    QCOMPARE(int(e.min), min);
    QCOMPARE(e.valid(), scanned > 0);
    if (count == 3)
        QCOMPARE(int(e.max) - int(e.min), 15);
}

void TestMonitorData::identityTexts()
{
    BmsLiveData live;
    live.requestKind = IdentityRead;
    QByteArray data = QByteArray::fromHex("41420043");
    data.append(text("", 20)); // rest of the model text
    data.append(text("V2.01", 6));
    data.append(text("SN2024", 16));
    QCOMPARE(data.size(), 46);
    storeReadAnswer(answer(data), live);
    QCOMPARE(modelText(live), QStringLiteral("AB"));
    QCOMPARE(versionText(live), QStringLiteral("V2.01"));
    QCOMPARE(serialText(live), QStringLiteral("SN2024"));

    // An empty text and a text decoded as UTF-8.
    live.registerImage[Reg::VersionText] = 0x0031;
    QCOMPARE(versionText(live), QString());
    live.registerImage[Reg::ModelText] = 0xC3A9;
    live.registerImage[Reg::ModelText + 1] = 0x2100;
    QCOMPARE(modelText(live), QStringLiteral("\u00E9!"));
}

void TestMonitorData::textsFillingTheirLength()
{
    // A text with no zero of its own is taken whole and ends at its length,
    // not at the next text's registers.
    BmsLiveData live;
    live.requestKind = IdentityRead;
    QByteArray data;
    data.append(text("PACK-48V-100AH-16S-LFP01", 24));
    data.append(text("V1.2.3", 6));
    data.append(text("SN20240001234567", 16));
    storeReadAnswer(answer(data), live);
    live.registerImage[128] = 0x5858; // whatever follows the serial number
    QCOMPARE(modelText(live), QStringLiteral("PACK-48V-100AH-16S-LFP01"));
    QCOMPARE(versionText(live), QStringLiteral("V1.2.3"));
    QCOMPARE(serialText(live), QStringLiteral("SN20240001234567"));
    QCOMPARE(registerText(Reg::VersionText, 3, live), QStringLiteral("V1."));
}

QTEST_APPLESS_MAIN(TestMonitorData)
#include "tst_monitordata.moc"
