// The datalog read end to end against the simulator: records, export, repeated answers, a silent
// pack and Stop mid-run, the command line.
#include "model/livedata.h"
#include "pages/bmsdatalog.h"
#include "store/recordtablemodel.h"
#include "store/tableexport.h"
#include "support/e2e.h"
#include "support/helpers.h"

#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QByteArray HeaderLine =
    "记录数\t时间\t状态\t加热\t警告\t保护\t错误码\t总电压\t总电流\tSOC\t温度01\t温度02\t温度03\t温度04\t"
    "电压01\t电压02\t电压03\t电压04\t电压05\t电压06\t电压07\t电压08\t电压09\t电压10\t电压11\t电压12\t电压13\t"
    "电压14\t电压15\t电压16\t序列号\t\r\n";
const char *const Serial = "O'Hara-9";

// Records 1..3 as the simulator holds them, exported in English.
const QByteArray Line[] = {
    "1\t2025-06-01 00:00:00\tDischarge\toff\t0000\t0000\t0000\t52.56\t-0.54\t64\t-13\t-2\t9\t20\t3.278\t"
    "3.290\t3.300\t3.285\t3.278\t3.300\t3.282\t3.287\t3.277\t3.275\t3.289\t3.284\t3.282\t3.276\t3.283\t3.292\tO'Hara-9\t\r\n",
    "2\t2025-06-01 07:13:17\tProtection\toff\t0000\t0001\t0000\t53.26\t0.00\t62\t-6\t5\t16\t27\t3.322\t"
    "3.334\t3.343\t3.331\t3.321\t3.340\t3.329\t3.332\t3.320\t3.320\t3.333\t3.329\t3.326\t3.319\t3.328\t3.336\tO'Hara-9\t\r\n",
    "3\t2025-06-01 14:26:34\tCharge current limiting\ton\t0000\t0000\t0000\t52.00\t0.00\t57\t1\t12\t23\t34\t3.245\t"
    "3.254\t3.261\t3.251\t3.242\t3.261\t3.249\t3.255\t3.240\t3.242\t3.255\t3.248\t3.248\t3.243\t3.248\t3.257\tO'Hara-9\t\r\n",
};

QString outLine(const char *hex) { return E2e::Out + QString::fromLatin1(QByteArray::fromHex(hex).toHex(' ').toUpper()); }
} // namespace

class TestE2eDatalog : public QObject
{
    Q_OBJECT

    E2e e;
    BmsDatalog *page() const { return e.window->datalogPage(); }
    int rows() const { return page()->model()->rowCount(); }
    QString cell(int row, int column) const { return page()->model()->index(row, column).data().toString(); }
    QStringList outLines() const { return e.linesOf(E2e::Out); }
    QPushButton *button() const { return child<QPushButton>(page(), "pushButton"); }

    bool online(const QStringList &args = {}) { return e.monitor(QStringList{"--serial", Serial} + args, 100) && e.online(); }
    void read(int begin, int end) { page()->setRangeText(QString::number(begin), QString::number(end)), button()->click(); }

private slots:
    void init() { QSqlQuery(QSqlDatabase::database(QStringLiteral("connection2"))).exec(QStringLiteral("delete from record")); }
    void cleanup()
    {
        QVERIFY2(e.boxes.isEmpty(), qPrintable(e.boxes.join('\n')));
        e.reset();
    }

    // Every record read answered twice. 1..1 stores one row and hands back to monitoring reads;
    // 679..680 go on top, newer first; after Clear, 1..3 are stored once each, with their own data.
    void readsStopsAndLosses()
    {
        QVERIFY(online({"--answer-twice"}));
        read(1, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!page()->isReading(), E2e::Deadline);
        QVERIFY(rows() == 1 && liveData().nextRequest == MonitorRead);
        const QString recordRead = outLine("01030200001C45BB");
        QTRY_VERIFY_WITH_TIMEOUT(outLines().indexOf(recordRead) >= 0
                                     && outLines().indexOf(recordRead) + 1 < outLines().size(), E2e::Deadline);
        QCOMPARE(outLines().at(outLines().indexOf(recordRead) + 1), outLine("010300000027 05D0"));
        QCOMPARE(outLines().count(recordRead), 1);
        read(679, 680);
        QTRY_VERIFY_WITH_TIMEOUT(!page()->isReading(), E2e::Deadline);
        QCOMPARE(cell(0, 0) + ',' + cell(1, 0) + ',' + cell(2, 0), QStringLiteral("680,679,1"));
        child<QPushButton>(page(), "clearBtn")->click();
        read(1, 3);
        QTRY_VERIFY_WITH_TIMEOUT(!page()->isReading(), E2e::Deadline);
        QTemporaryDir dir;
        QVERIFY(TableExport::exportRows(page()->model()->snapshot(), page()->chineseHeaders, 31, dir.filePath("f")).ok());
        QCOMPARE(readFile(dir.filePath("f")), HeaderLine + Line[2] + Line[1] + Line[0]);
        QCOMPARE(page()->model()->idAt(2), qint64(1)); // ids start again after Clear

        // A silent pack abandons a run, which the button then stops; Stop ends a run at once.
        QSignalSpy lost(e.window.get(), &MainWindow::linkLost);
        QSignalSpy back(e.window.get(), &MainWindow::linkOnline);
        read(1, 680);
        QTRY_VERIFY_WITH_TIMEOUT(rows() >= 5, E2e::Deadline);
        QVERIFY(e.sim.send("silent on"));
        QVERIFY(lost.wait(E2e::Deadline));
        QVERIFY(!button()->isEnabled());
        QCOMPARE(button()->text(), QStringLiteral("Stop Reading"));
        const int atLoss = rows();
        QVERIFY(e.sim.send("silent off"));
        QVERIFY(back.wait(E2e::Deadline));
        QVERIFY(button()->isEnabled());
        QCOMPARE(liveData().nextRequest, quint16(MonitorRead));
        QTest::qWait(300);
        QCOMPARE(rows(), atLoss);
        button()->click();
        QVERIFY(!page()->isReading());

        read(1, 680);
        QTRY_VERIFY_WITH_TIMEOUT(rows() >= atLoss + 2, E2e::Deadline);
        button()->click();
        const int atStop = rows();
        QCOMPARE(liveData().nextRequest, quint16(MonitorRead));
        QCOMPARE(button()->text(), QStringLiteral("Start Reading"));
        QTest::qWait(600); // six ticks: monitoring reads only
        QVERIFY(rows() <= atStop + 1); // at most the answer that was on its way
    }

    void commandLine_data()
    {
        columns<QStringList, QString, int, QString>("simArguments", "exportName", "exitCode", "says");
        QTest::newRow("read and export") << QStringList{} << "out.xlsx" << 0 << "2 records read";
        QTest::newRow("silent pack") << QStringList{"--silent"} << "out.xlsx" << 1
                                     << "no answer from the BMS at ID 1 on {device} at 115200 baud: check the ID, the baud rate and the wiring";
        // Refused before the first record is asked for.
        QTest::newRow("unwritable export") << QStringList{} << "missing/out.xlsx" << 1
                                           << "cannot write {file}: No such file or directory";
    }
    void commandLine()
    {
        QFETCH(QStringList, simArguments);
        QFETCH(QString, says);
        QFETCH(QString, exportName);
        QVERIFY(e.sim.start(QStringList{"--serial", Serial} + simArguments));
        QTemporaryDir dir;
        says.replace("{device}", e.sim.deviceName()).replace("{file}", dir.filePath(exportName));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // no window, whatever the display
        const ProgramRun r = runProgram(copyProgram(dir), {"--port", e.sim.deviceName(), "--read-datalog", "1-2",
                                        "--export", dir.filePath(exportName), "--poll-ms", "100"}, env);
        QVERIFY2(r.err.trimmed().split('\n').last().contains(says), qPrintable(r.err)); // the reason ends the report
        QTEST(r.code, "exitCode");
        QVERIFY(r.code || r.err.contains("Record 2 of 2"));
        QVERIFY(exportName == "out.xlsx" || !r.err.contains("reading records"));
        QCOMPARE(readFile(dir.filePath("out.xlsx")),
                 r.code ? QByteArray("<unreadable>") : HeaderLine + Line[1] + Line[0]);
    }

    // Two jobs on one data folder at once, each on a pack of its own: each file holds the records its job
    // read, newest first, and none of the other's.
    void twoJobsOneFolder()
    {
        constexpr int Records = 100; // a few seconds each, so that the two runs overlap
        const char *const serials[] = {"Alpha-1", "Bravo-2"};
        QTemporaryDir dir;
        const QString program = copyProgram(dir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        SimProcess sims[2];
        QProcess jobs[2];
        for (int j = 0; j < 2; ++j) {
            QVERIFY(sims[j].start({"--serial", serials[j]}));
            jobs[j].setProcessEnvironment(env);
            jobs[j].start(program, {"--port", sims[j].deviceName(), "--read-datalog", QString("1-%1").arg(Records),
                                    "--export", dir.filePath(QString("job%1.xlsx").arg(j)), "--data-dir",
                                    dir.filePath("data"), "--poll-ms", "50", "--fast"});
        }
        for (int j = 0; j < 2; ++j) {
            QVERIFY(jobs[j].waitForFinished(120000));
            QVERIFY2(jobs[j].exitCode() == 0, jobs[j].readAllStandardError().constData());
            const QList<QByteArray> lines = readFile(dir.filePath(QString("job%1.xlsx").arg(j))).split('\n');
            QCOMPARE(lines.size(), Records + 2); // the header, the records, nothing after the last line end
            QCOMPARE(lines[0] + '\n', HeaderLine);
            for (int i = 1; i <= Records; ++i)
                QVERIFY2(lines[i].startsWith(QByteArray::number(Records + 1 - i) + '\t')
                             && lines[i].endsWith(QByteArray("\t") + serials[j] + "\t\r"), lines[i].constData());
        }
    }

    // Three packs on the line: a fast record walk of the selected pack gives
    // way to the others' turns, so that they are still sampled meanwhile.
    void fastWalkLeavesTheOtherPacksSampled()
    {
        QVERIFY(e.start({"--address", "1,3,7", "--byte-time", "115200"}, 300));
        e.window->setSlaveAddresses({1, 3, 7});
        e.window->on_monitorBtn_clicked();
        QVERIFY(e.online());
        const auto rowsOf = [](int id) {
            QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection1")));
            q.prepare(QStringLiteral("select count(*) from total where BMS_ISDN=?"));
            q.addBindValue(QStringLiteral("PS2026120600%1").arg(id, 3, 10, QLatin1Char('0')));
            return q.exec() && q.next() ? q.value(0).toInt() : -1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(3) > 0 && rowsOf(7) > 0, E2e::Deadline);
        page()->setFastRead(true);
        read(1, 300);
        QVERIFY(page()->isReading());
        const int of3 = rowsOf(3), of7 = rowsOf(7);
        QTRY_VERIFY_WITH_TIMEOUT(!page()->isReading(), E2e::Deadline);
        QCOMPARE(rows(), 300);
        // About 17 ms a record on the wire: five seconds, a sample of each
        // pack every 0.3 s; a walk that kept the line to itself leaves none.
        QVERIFY2(rowsOf(3) >= of3 + 3 && rowsOf(7) >= of7 + 3,
                 qPrintable(QStringLiteral("%1 -> %2, %3 -> %4").arg(of3).arg(rowsOf(3)).arg(of7).arg(rowsOf(7))));
    }
};

QTEST_MAIN(TestE2eDatalog)
#include "tst_e2e_datalog.moc"
