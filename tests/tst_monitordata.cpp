// Decoding read answers into the register image, the identity texts, the operating state's
// text. Numbers as texts, signed fields and extremes: on the pages that show them.
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "support/helpers.h"
#include <QtTest>
#include <numeric>

namespace {
constexpr quint16 Untouched = 0xBEEF;
using Words = QVector<quint16>;

// A function-3 answer from address 1 carrying `data` (byte count = its size).
QByteArray answer(const QByteArray &data) { return sealed(QByteArray::fromHex("0103") + char(data.size()) + data); }
Words counting(int count) { Words v(count); std::iota(v.begin(), v.end(), quint16(0x1000)); return v; }
} // namespace

class TestMonitorData : public QObject
{
    Q_OBJECT
private slots:
    void store_data()
    {
        columns<int, QByteArray, int, Words>("kind", "frame", "first", "stored");
        const int monitor = MonitorRead;
        QTest::newRow("monitoring, 78 bytes") << monitor << readAnswer(1, counting(39)) << 0 << counting(39);
        QTest::newRow("identity, 46 bytes") << int(IdentityRead) << readAnswer(1, counting(23)) << 105 << counting(23);
        QTest::newRow("parameter read") << int(ParameterRead) << readAnswer(1, counting(91)) << 0 << Words{};
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
        storeRegisters(readAnswer(1, counting(100)), 500, live);
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
    // Charge wins over discharge, discharge over protection, protection over limiting.
    void operatingState()
    {
        QStringList zh, en;
        for (quint16 status : {0x000F, 0x0006, 0x000C, 0x0008, 0xFFF0}) {
            zh << operatingStateText(status, 0), en << operatingStateText(status, 1);
            QVERIFY(operatingStateText(status, 2).isEmpty());
        }
        QCOMPARE(zh.join('|'), QStringLiteral("充电|放电|保护|充电限流|静置"));
        QCOMPARE(en.join('|'), QStringLiteral("Charge|Discharge|Protection|Charge current limiting|Standby"));
    }
};

QTEST_APPLESS_MAIN(TestMonitorData)
#include "tst_monitordata.moc"
