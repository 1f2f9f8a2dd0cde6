// The link end to end against the simulator: what the page shows, the request sequence,
// offline and back, which spoilt answers are dropped.
#include "model/monitordata.h"
#include "pages/bmsmonitoring.h"
#include "support/e2e.h"
#include "support/helpers.h"
#include <QtTest>

namespace {
const QString &Out = E2e::Out, &In = E2e::In;
// Bytes of a logged line ("IN←◆01 03 ..." holds (length + 1) / 3 bytes).
int lineBytes(const QString &line) { return (line.size() - (line.startsWith(Out) ? Out : In).size() + 1) / 3; }
QString volts(quint16 v, int scale) { return QString::asprintf(scale == 100 ? "%d.%02d" : "%d.%03d", v / scale, v % scale); }
QStringList repeated(const QString &line, int times) { return QVector<QString>(times, line).toList(); }
} // namespace

class TstE2eLink : public QObject
{
    Q_OBJECT
    E2e e;

    QString field(const QString &names) const { return texts(e.window->monitoringPage(), names); }
    QStringList afterLastIn() const { return e.lines().mid(e.lines().lastIndexOf(QRegularExpression(In + ".*")) + 1); }

private slots:
    void cleanup()
    {
        QVERIFY2(e.boxes.isEmpty(), qPrintable(e.boxes.join('\n'))); // no box is expected here
        e.reset();
    }
    // At slave address 5: every frame both ways starts with 0x05.
    void pollsGoOfflineAndComeBack()
    {
        const QString identity = QStringLiteral("OUT→◇05 03 00 69 00 17 D4 5C");
        const QString monitor = QStringLiteral("OUT→◇05 03 00 00 00 27 04 54");
        QVERIFY(e.monitor({"--address", "5", "--model", "PSX-16S 280Ah", "--version-text", "V3.1", "--serial", "SN-E2E-0042"},
                          0, 5));
        QTRY_VERIFY_WITH_TIMEOUT(e.count(In) >= 2, E2e::Deadline);
        const QStringList log = e.lines();
        QCOMPARE(log[0], identity);
        QVERIFY2(log[1].startsWith(In + QStringLiteral("05 03 2E")) && lineBytes(log[1]) == 51, qPrintable(log[1]));
        QCOMPARE(log[2], monitor);
        QVERIFY2(log[3].startsWith(In + QStringLiteral("05 03 4E")) && lineBytes(log[3]) == 83, qPrintable(log[3]));
        QCOMPARE(e.comState(), QStringLiteral("Online"));
        QCOMPARE(field("model|ver|serial_num"), QStringLiteral("PSX-16S 280Ah|V3.1|SN-E2E-0042"));
        QTRY_VERIFY_WITH_TIMEOUT(field("vol") == volts(liveData().registerImage[Reg::TotalVoltage], 100), E2e::Deadline);
        QStringList cells, shown;
        for (int i = 0; i < 16; ++i)
            cells << QStringLiteral("cell_%1").arg(i + 1), shown << volts(liveData().registerImage[Reg::CellVoltage + i], 1000);
        QCOMPARE(field(cells.join('|')), shown.join('|'));

        // A silent BMS: five requests go unanswered, the sixth tick sends
        // nothing and shows the link offline, the next sends the identity read.
        QVERIFY(e.sim.send(QStringLiteral("silent on")));
        QTRY_COMPARE_WITH_TIMEOUT(e.comState(), QStringLiteral("Offline"), E2e::Deadline);
        QVERIFY(afterLastIn().size() <= 6);
        QTRY_VERIFY_WITH_TIMEOUT(afterLastIn().size() >= 6, E2e::Deadline);
        QCOMPARE(afterLastIn().mid(0, 6), repeated(monitor, 5) << identity);

        // The BMS speaks again: the identity answer brings the link back and
        // the monitoring reads resume.
        QVERIFY(e.sim.send(QStringLiteral("silent off")));
        QVERIFY(e.online());
        const int inBefore = e.count(In);
        QTRY_VERIFY_WITH_TIMEOUT(e.count(In) >= inBefore + 2, E2e::Deadline);
        QCOMPARE(e.linesOf(Out).last(), monitor);
        for (const QString &line : e.lines())
            QVERIFY2(line.startsWith(Out + "05") || line.startsWith(In + "05"), qPrintable(line));
    }
    void answersDropped_data()
    {
        columns<QStringList, bool, int>("arguments", "logged", "extraBytes");
        // logged: taken whole, then refused; else never a whole answer
        QTest::newRow("bad CRC") << QStringList{"--bad-crc", "1"} << true << 0;
        QTest::newRow("stray byte") << QStringList{"--stray", "1"} << true << 1;
        QTest::newRow("wrong address") << QStringList{"--wrong-address", "1"} << false << 0;
        QTest::newRow("answers in pieces 60 ms apart") << QStringList{"--split-gap", "60"} << false << 0;
    }
    void answersDropped()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, logged);
        QFETCH(int, extraBytes);
        QVERIFY(e.monitor(arguments));
        QTRY_VERIFY_WITH_TIMEOUT(e.count(Out) >= 3 && (!logged || e.count(In) >= 2), E2e::Deadline);
        const QStringList requests = e.linesOf(Out), received = e.linesOf(In);
        const int sent = requests.size();
        QCOMPARE(requests, repeated(QStringLiteral("OUT→◇01 03 00 69 00 17 D5 D8"), sent));
        QCOMPARE(int(e.window->unansweredCount()), sent);
        QVERIFY(logged ? received.size() == sent || received.size() == sent - 1 : received.isEmpty());
        for (const QString &line : received) {
            QVERIFY2(line.startsWith(In + QStringLiteral("01 03 2E")), qPrintable(line));
            QCOMPARE(lineBytes(line), 51 + extraBytes);
        }
    }
};
QTEST_MAIN(TstE2eLink)
#include "tst_e2e_link.moc"
