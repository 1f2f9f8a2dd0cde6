// The simulator's answer logic on fixed bytes: request cutting, answers, faults, the pack.
#include "model/monitordata.h"
#include "bmsmodel.h"
#include "slaveresponder.h"
#include "support/helpers.h"
#include <QtTest>

namespace {
QByteArray joined(const QVector<LinePiece> &pieces)
{
    QByteArray all;
    for (const LinePiece &p : pieces)
        all += p.bytes;
    return all;
}
const QDateTime ClockStart(QDate(2026, 12, 6), QTime(8, 0, 0));
const QByteArray Read67 = hex("01030043000175DE"), Answer67 = hex("0103020ED8BC7E");
const QByteArray Write67 = hex("011000430001020CE4ADE8"); // register 67 = 3300
} // namespace

class TstBmsSim : public QObject
{
    Q_OBJECT
private slots:
    void readsAndWrites()
    {
        BmsModel model(1, ClockStart);
        SlaveResponder slave(model, 1);
        const QByteArray a = joined(slave.receive(hex("01030000002705D0"), 1000));
        QCOMPARE(a.size(), 83);
        QCOMPARE(quint8(a[2]), quint8(78));
        QVERIFY(crcMatches(a));
        QCOMPARE(joined(slave.receive(Write67, 1100)), hex("011000430001F01D"));
        QCOMPARE(joined(slave.receive(Read67, 1200)), hex("0103020CE4BD0F"));
    }
    void requestCutting_data()
    {
        columns<QList<QByteArray>, QList<int>, int>("chunks", "times", "answers");
        QTest::newRow("in two parts") << QList<QByteArray>{Read67.left(3), Read67.mid(3)} << QList<int>{0, 2} << 1;
        QTest::newRow("two in one chunk") << QList<QByteArray>{Read67 + Read67} << QList<int>{0} << 2;
        QTest::newRow("other address before") << QList<QByteArray>{hex("02030000002705E3") + Read67} << QList<int>{0} << 1;
        QTest::newRow("bad CRC before") << QList<QByteArray>{hex("01030000002705D1") + Read67} << QList<int>{0} << 1;
        QTest::newRow("stale start, then silence") << QList<QByteArray>{hex("0110"), Read67} << QList<int>{0, 500} << 1;
        QTest::newRow("rest too late") << QList<QByteArray>{Read67.left(4), Read67.mid(4)} << QList<int>{0, 500} << 0;
    }
    void requestCutting()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<int>, times);
        QFETCH(int, answers);
        BmsModel model(1, ClockStart);
        SlaveResponder slave(model, 1);
        QByteArray all;
        for (int i = 0; i < chunks.size(); ++i)
            all += joined(slave.receive(chunks[i], times[i]));
        QCOMPARE(all, Answer67.repeated(answers));
    }
    // Refused and unheard writes are not kept; writes whose acknowledgement is spoilt are.
    void faults_data()
    {
        // delays: one per piece put on the line; head: how the first piece starts; crcOk: of the first piece
        columns<QByteArray, QList<int>, QByteArray, bool, int>("request", "delays", "head", "crcOk", "reg67");
        const QByteArray ack = hex("011000430001F01D");
        QTest::newRow("bad CRC") << Read67 << QList<int>{0} << Answer67.left(5) << false << 3800;
        QTest::newRow("stray byte") << Read67 << QList<int>{0, SlaveResponder::StrayDelayMs} << Answer67 << true << 3800;
        QTest::newRow("wrong address") << Read67 << QList<int>{0} << QByteArray() << true << 3800;
        QTest::newRow("split") << Read67 << QList<int>{0, 5, 5} << QByteArray() << false << 3800;
        QTest::newRow("exception to writes") << Write67 << QList<int>{0} << hex("019004") << true << 3800;
        QTest::newRow("silent") << Write67 << QList<int>{} << QByteArray() << false << 3800;
        QTest::newRow("never acknowledged") << Write67 << QList<int>{} << QByteArray() << false << 3300;
        QTest::newRow("acknowledged twice") << Write67 << QList<int>{0, SlaveResponder::DuplicateAckDelayMs} << ack + ack
                                            << false << 3300;
        QTest::newRow("wrong register echoed") << Write67 << QList<int>{0} << hex("01100044000141DC") << true << 3300;
    }
    void faults()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, head);
        const QByteArray tag = QTest::currentDataTag();
        SlaveFaults f;
        f.badCrcEvery = tag == "bad CRC";
        f.strayEvery = tag == "stray byte";
        f.wrongAddressEvery = tag == "wrong address";
        f.splitGapMs = tag == "split" ? 5 : 0;
        f.writeException = tag == "exception to writes";
        f.silent = tag == "silent";
        f.writeNoAck = tag == "never acknowledged";
        f.ackTwice = tag == "acknowledged twice";
        f.wrongEcho = tag == "wrong register echoed";
        BmsModel model(1, ClockStart);
        SlaveResponder slave(model, 1, f);
        const QVector<LinePiece> pieces = slave.receive(request, 0);
        QList<int> delays;
        for (const LinePiece &p : pieces)
            delays << p.delayMs;
        QTEST(delays, "delays");
        const QByteArray first = pieces.value(0).bytes;
        QVERIFY(tag == "acknowledged twice" ? joined(pieces) == head : first.startsWith(head));
        if (tag != "acknowledged twice")
            QTEST(crcMatches(first), "crcOk");
        if (tag == "wrong address")
            QVERIFY(first.size() == 7 && quint8(first[0]) != 1 && quint8(first[0]) != 0x10);
        if (tag == "split")
            QCOMPARE(joined(pieces), Answer67);
        QTEST(int(model.reg(67)), "reg67");
        if (model.reg(67) == 3300)
            QCOMPARE(joined(slave.receive(Read67, 10)), hex("0103020CE4BD0F"));
    }

    void spoiledAnswers()
    {
        BmsModel model(1, ClockStart);
        SlaveFaults f;
        f.spoilPercent = 50;
        SlaveResponder slave(model, 1, f, 9);
        QMap<Spoil, int> seen;
        int intact = 0;
        slave.onServed = [&](const QByteArray &, const QByteArray &answer, const QVector<LinePiece> &pieces, Spoil spoil) {
            ++seen[spoil];
            const QByteArray all = joined(pieces);
            const bool whole = pieces.size() == 1 && all == answer;
            intact += whole;
            QCOMPARE(whole, spoil == Spoil::None);
            switch (spoil) {
            case Spoil::None:
                break;
            case Spoil::BadCrc:
                QVERIFY(all.size() == answer.size() && !crcMatches(all) && all.chopped(1) == answer.chopped(1));
                break;
            case Spoil::Stray:
                QVERIFY(all.size() > answer.size() && all.size() <= answer.size() + 3 && all.contains(answer));
                break;
            case Spoil::Split:
                QCOMPARE(pieces.size(), 2);
                QCOMPARE(pieces[1].delayMs, SlaveResponder::SpoilSplitGapMs);
                QCOMPARE(all, answer);
                break;
            case Spoil::Silent:
                QVERIFY(pieces.isEmpty());
                break;
            case Spoil::Exception:
                QCOMPARE(all, hex("01830440F3")); // device failure
                break;
            }
        };
        for (int i = 0; i < 200; ++i)
            slave.receive(Read67, 1000 * i);
        QCOMPARE(seen.size(), 6);
        QVERIFY2(seen[Spoil::None] > 60 && seen[Spoil::None] < 140, qPrintable(QString::number(seen[Spoil::None])));
        QCOMPARE(intact, seen[Spoil::None]);
    }
    void packMovesThroughItsCycle()
    {
        BmsModel model(7, ClockStart);
        bool charge = false, discharge = false, negative = false;
        for (qint64 ms = 0; ms < 200 * 1000; ms += 1000) {
            model.prepareRead(0, 39, ms);
            BmsLiveData live;
            for (int r = 0; r < 39; ++r)
                live.registerImage[r] = model.reg(r);
            charge |= packCurrent(live) > 0;
            discharge |= packCurrent(live) < 0;
            for (int sensor = 1; sensor <= 4; ++sensor)
                negative |= sensorTemp(sensor, live) < 0;
        }
        QVERIFY(charge && discharge && negative);
    }

    // Every state, heater and flag bit, negative values, months of dates; records answered twice on request.
    void recordLog()
    {
        BmsModel model(1, ClockStart);
        quint16 status = 0, flags[3] = {};
        int minCurrent = 0, minTemp = 0;
        for (int n = 1; n <= BmsModel::RecordCount; ++n) {
            const auto r = [&](int i) { return model.reg((n + 15) * 32 + i); };
            status |= r(2), flags[0] |= r(3), flags[1] |= r(4), flags[2] |= r(5);
            minCurrent = qMin(minCurrent, int(qint16(r(7))));
            minTemp = std::min({minTemp, int(qint8(r(9) >> 8)), int(qint8(r(10) & 0xFF))});
        }
        QCOMPARE(QString::number(status, 16) + ' ' + QString::number(flags[0], 16) + ' '
                     + QString::number(flags[1], 16) + ' ' + QString::number(flags[2], 16),
                 QStringLiteral("800f ffff ffff ffff"));
        QVERIFY(minCurrent < 0 && minTemp < 0);
        const auto time = [&](int n) { return quint32(model.reg((n + 15) * 32)) << 16 | model.reg((n + 15) * 32 + 1); };
        QCOMPARE(BmsModel::clockTime(time(1)), QDateTime(QDate(2025, 6, 1), QTime(0, 0)));
        QVERIFY(BmsModel::clockTime(time(680)) > QDateTime(QDate(2025, 11, 1), QTime(0, 0)));

        SlaveFaults twice;
        twice.recordsTwice = true;
        SlaveResponder slave(model, 1, twice);
        const QVector<LinePiece> record = slave.receive(hex("01030200001C45BB"), 1000);
        QCOMPARE(record.size(), 2);
        QCOMPARE(record[1].bytes, record[0].bytes);
        QCOMPARE(record[1].delayMs, SlaveResponder::RepeatGapMs);
        QCOMPARE(slave.receive(hex("01030000002705D0"), 2000).size(), 1); // other reads once
    }
};
QTEST_GUILESS_MAIN(TstBmsSim)
#include "tst_bmssim.moc"
