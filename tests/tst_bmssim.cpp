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
const QByteArray Read67 = hex("01030043000175DE"), Answer67 = hex("0103020ED8BC7E"); // 3800
const QByteArray Write67 = hex("011000430001020CE4ADE8"), Ack67 = hex("011000430001F01D"); // 3300
} // namespace

class TstBmsSim : public QObject
{
    Q_OBJECT
private slots:
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

    // What goes on the line (pieces and their delays) and whether the write
    // is kept: refused and unheard writes are not, spoilt acknowledgements are.
    void faults_data()
    {
        columns<QByteArray, QList<int>, QByteArray, int>("request", "delays", "line", "reg67");
        QTest::newRow("bad CRC") << Read67 << QList<int>{0} << hex("0103020ED8BC81") << 3800;
        QTest::newRow("stray byte") << Read67 << QList<int>{0} << Answer67 << 3800;
        QTest::newRow("wrong address") << Read67 << QList<int>{0} << hex("0203020ED8F87E") << 3800;
        QTest::newRow("split") << Read67 << QList<int>{0, 5, 5} << Answer67 << 3800;
        QTest::newRow("exception to writes") << Write67 << QList<int>{0} << hex("0190044DC3") << 3800;
        QTest::newRow("silent") << Write67 << QList<int>{} << QByteArray() << 3800;
        QTest::newRow("never acknowledged") << Write67 << QList<int>{} << QByteArray() << 3300;
        QTest::newRow("acknowledged twice") << Write67 << QList<int>{0, SlaveResponder::DuplicateAckDelayMs}
                                            << Ack67 + Ack67 << 3300;
        QTest::newRow("wrong register echoed") << Write67 << QList<int>{0} << hex("01100044000141DC") << 3300;
    }
    void faults()
    {
        QFETCH(QByteArray, request);
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
        QTEST(f.strayEvery ? joined(pieces).chopped(1) : joined(pieces), "line"); // the stray byte is random
        QTEST(int(model.reg(67)), "reg67");
        if (model.reg(67) == 3300)
            QCOMPARE(joined(slave.receive(Read67, 10)), hex("0103020CE4BD0F"));
    }

    // Half the answers spoiled, each kind seen; an answer reaches the line
    // intact (one piece, unchanged) exactly when it was not spoiled.
    void spoiledAnswers()
    {
        BmsModel model(1, ClockStart);
        SlaveFaults f;
        f.spoilPercent = 50;
        SlaveResponder slave(model, 1, f, 9);
        QMap<Spoil, int> seen;
        int wrong = 0;
        slave.onServed = [&](const QByteArray &, const QByteArray &answer, const QVector<LinePiece> &pieces, Spoil spoil) {
            ++seen[spoil];
            wrong += (pieces.size() == 1 && pieces[0].bytes == answer) != (spoil == Spoil::None);
            wrong += spoil == Spoil::Exception && joined(pieces) != hex("01830440F3"); // device failure
            wrong += spoil == Spoil::Split && (pieces.size() != 2 || pieces[1].delayMs <= 20); // past the frame silence
        };
        for (int i = 0; i < 200; ++i)
            slave.receive(Read67, 1000 * i);
        QCOMPARE(wrong, 0);
        QCOMPARE(seen.size(), 6);
        QVERIFY2(seen[Spoil::None] > 60 && seen[Spoil::None] < 140, qPrintable(QString::number(seen[Spoil::None])));
        // Two requests read in one burst: their answers run together on the line.
        SlaveResponder plain(model, 1, SlaveFaults());
        plain.onServed = slave.onServed;
        seen.clear();
        plain.receive(Read67 + Read67, 300000);
        QCOMPARE(seen.value(Spoil::Joined), 2);
    }

    // The pack charges, discharges and gets below 0 °C; its record log holds
    // every state, heater and flag bit, negative values and months of dates,
    // and record reads are answered twice on request.
    void packAndRecordLog()
    {
        BmsModel model(1, ClockStart);
        bool charge = false, discharge = false, negative = false;
        for (qint64 ms = 0; ms < 200 * 1000; ms += 1000) {
            model.prepareRead(0, 39, ms);
            BmsLiveData live;
            for (int r = 0; r < 39; ++r)
                live.registerImage[r] = model.reg(r);
            charge |= packCurrent(live) > 0, discharge |= packCurrent(live) < 0;
            negative |= std::min({sensorTemp(1, live), sensorTemp(2, live), sensorTemp(3, live), sensorTemp(4, live)}) < 0;
        }
        QVERIFY(charge && discharge && negative);

        const auto r = [&](int n, int i) { return model.reg((n + 15) * 32 + i); };
        quint16 bits[4] = {};
        int minCurrent = 0, minTemp = 0;
        for (int n = 1; n <= BmsModel::RecordCount; ++n) {
            for (int k = 0; k < 4; ++k)
                bits[k] |= r(n, 2 + k); // status, then the three flag words
            minCurrent = qMin(minCurrent, int(qint16(r(n, 7))));
            minTemp = std::min({minTemp, int(qint8(r(n, 9) >> 8)), int(qint8(r(n, 10) & 0xFF))});
        }
        QCOMPARE(QString::asprintf("%x %x %x %x", bits[0], bits[1], bits[2], bits[3]), QStringLiteral("800f ffff ffff ffff"));
        QVERIFY(minCurrent < 0 && minTemp < 0);
        const auto time = [&](int n) { return BmsModel::clockTime(quint32(r(n, 0)) << 16 | r(n, 1)); };
        QCOMPARE(time(1), QDateTime(QDate(2025, 6, 1), QTime(0, 0)));
        QVERIFY(time(680) > QDateTime(QDate(2025, 11, 1), QTime(0, 0)));

        SlaveFaults twice;
        twice.recordsTwice = true;
        SlaveResponder slave(model, 1, twice);
        const QVector<LinePiece> record = slave.receive(hex("01030200001C45BB"), 1000);
        QVERIFY(record.size() == 2 && record[1].bytes == record[0].bytes && record[1].delayMs == SlaveResponder::RepeatGapMs);
        QCOMPARE(slave.receive(hex("01030000002705D0"), 2000).size(), 1); // other reads once
    }
};
QTEST_GUILESS_MAIN(TstBmsSim)
#include "tst_bmssim.moc"
