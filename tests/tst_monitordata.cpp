// Decoding read answers into the register image, the identity texts, and the
// display of values: fixed point, hexadecimal words, the operating state.
// Signed fields, temperatures and extremes are checked on the real-time page.
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "support/helpers.h"
#include <QtTest>
#include <limits>
#include <numeric>

namespace {
constexpr quint16 Untouched = 0xBEEF;
using Words = QVector<quint16>;

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
        columns<int, QByteArray, int, Words>("kind", "frame", "first", "stored");
        const int monitor = MonitorRead;
        QTest::newRow("monitoring, 78 bytes") << monitor << answer(bigEndian(counting(39))) << 0 << counting(39);
        QTest::newRow("identity, 46 bytes") << int(IdentityRead) << answer(bigEndian(counting(23))) << 105 << counting(23);
        QTest::newRow("parameter read") << int(ParameterRead) << answer(bigEndian(counting(91))) << 0 << Words{};
        QTest::newRow("byte count 1") << monitor << answer(QByteArray::fromHex("AA")) << 0 << Words{};
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
    void identityTexts()
    {
        BmsLiveData live;
        live.requestKind = IdentityRead;
        live.registerImage[128] = 0x5858; // no zero after the serial number
        storeReadAnswer(answer(QByteArray::fromHex("41420043") + QByteArray(20, 0) + QByteArray("V2.01\0", 6)
                               + "SN20240001234567"), live);
        QCOMPARE(modelText(live) + '|' + versionText(live) + '|' + serialText(live), QStringLiteral("AB|V2.01|SN20240001234567"));
        storeReadAnswer(answer("PACK-48V-100AH-16S-LFP01V1.2.3"), live);
        QCOMPARE(modelText(live) + '|' + versionText(live), QStringLiteral("PACK-48V-100AH-16S-LFP01|V1.2.3"));
    }
    void fixedPoint_data()
    {
        columns<qint64, int, QString>("value", "decimals", "text");
        QTest::newRow("52.34") << qint64(5234) << 2 << "52.34";
        QTest::newRow("-0.05 keeps its sign") << qint64(-5) << 2 << "-0.05";
        QTest::newRow("thousandths zero-filled") << qint64(45) << 3 << "0.045";
        QTest::newRow("whole negative") << qint64(-40) << 0 << "-40";
        QTest::newRow("i64 minimum") << std::numeric_limits<qint64>::min() << 2 << "-92233720368547758.08";
    }
    void fixedPoint()
    {
        QFETCH(qint64, value);
        QFETCH(int, decimals);
        QTEST(::fixedPoint(value, decimals), "text");
    }
    void hex4() { QCOMPARE(::hex4(10) + ::hex4(65535), QStringLiteral("000AFFFF")); }
    void operatingState_data()
    {
        columns<int, QString, QString>("status", "chinese", "english");
        QTest::newRow("charge wins") << 0x000F << QStringLiteral("充电") << "Charge";
        QTest::newRow("discharge over protection") << 0x0006 << QStringLiteral("放电") << "Discharge";
        QTest::newRow("protection over limiting") << 0x000C << QStringLiteral("保护") << "Protection";
        QTest::newRow("limiting") << 0x0008 << QStringLiteral("充电限流") << "Charge current limiting";
        QTest::newRow("none, other bits ignored") << 0xFFF0 << QStringLiteral("静置") << "Standby";
    }
    void operatingState()
    {
        QFETCH(int, status);
        QTEST(operatingStateText(quint16(status), 0), "chinese");
        QTEST(operatingStateText(quint16(status), 1), "english");
        QVERIFY(operatingStateText(quint16(status), 2).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestMonitorData)
#include "tst_monitordata.moc"
