// The datalog read end to end against the simulator: records, export, repeated answers, a silent
// pack and Stop mid-run, the command line.
#include "bmsmodel.h"
#include "model/livedata.h"
#include "pages/bmsdatalog.h"
#include "store/recordtablemodel.h"
#include "store/tableexport.h"
#include "support/e2e.h"
#include "support/helpers.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>

namespace {
const QByteArray HeaderLine =
    "记录数\t时间\t状态\t加热\t警告\t保护\t错误码\t总电压\t总电流\tSOC\t温度01\t温度02\t温度03\t温度04\t"
    "电压01\t电压02\t电压03\t电压04\t电压05\t电压06\t电压07\t电压08\t电压09\t电压10\t电压11\t电压12\t电压13\t"
    "电压14\t电压15\t电压16\t序列号\t\r\n";
const char *const Serial = "O'Hara-9";

QByteArray fixed(int value, int digits)
{
    const int scale = digits == 2 ? 100 : 1000;
    return QString::asprintf("%s%d.%0*d", value < 0 ? "-" : "", std::abs(value) / scale, digits,
                             std::abs(value) % scale).toUtf8();
}

// The export line of record n as the simulator holds it, in English.
QByteArray expectedLine(int n)
{
    static const BmsModel model;
    const auto r = [n](int i) { return model.reg((n + 15) * 32 + i); };
    const quint32 t = quint32(r(0)) << 16 | r(1);
    const quint16 s = r(2);
    const char *state = s & 1 ? "Charge" : s & 2 ? "Discharge" : s & 4 ? "Protection"
                      : s & 8 ? "Charge current limiting" : "Standby";
    QByteArray line = QString::asprintf("%d\t%04u-%02u-%02u %02u:%02u:%02u\t%s\t%s\t%04X\t%04X\t%04X\t", n,
                                        (t >> 26) + 2000, t >> 22 & 15, t >> 17 & 31, t >> 12 & 31, t >> 6 & 63,
                                        t & 63, state, s & 0x8000 ? "on" : "off", r(3), r(4), r(5))
                          .toUtf8();
    line += fixed(r(6), 2) + '\t' + fixed(qint16(r(7)), 2) + '\t' + QByteArray::number(r(8)) + '\t';
    for (int i : {r(9) >> 8, r(9) & 0xFF, r(10) >> 8, r(10) & 0xFF})
        line += QByteArray::number(qint8(quint8(i))) + '\t';
    for (int k = 0; k < 16; ++k)
        line += fixed(r(12 + k), 3) + '\t';
    return line + Serial + "\t\r\n";
}

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

    bool online(const QStringList &arguments = {}) { return e.monitor(QStringList{"--serial", Serial} + arguments, 100) && e.online(); }
    void read(int begin, int end) { page()->setRangeText(QString::number(begin), QString::number(end)), button()->click(); }
    QByteArray exported(const QString &file) const
    {
        return TableExport::exportRows(page()->model()->snapshot(), page()->chineseHeaders, 31, file)
                       == TableExport::Result::Written ? readFile(file) : QByteArray("<not written>");
    }

private slots:
    void init() { QSqlQuery(QSqlDatabase::database(QStringLiteral("connection2"))).exec(QStringLiteral("delete from record")); }
    void cleanup()
    {
        QVERIFY2(e.boxes.isEmpty(), qPrintable(e.boxes.join('\n')));
        e.reset();
    }

    // 1..1 stores one row and hands back to monitoring reads; 679..680 goes on top, newer first.
    void recordsThenMonitoring()
    {
        QVERIFY(online());
        read(1, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!page()->isReading(), E2e::Deadline);
        QCOMPARE(rows(), 1);
        QCOMPARE(liveData().nextRequest, quint16(MonitorRead));
        const QString recordRead = outLine("01030200001C45BB");
        QTRY_VERIFY_WITH_TIMEOUT(outLines().indexOf(recordRead) >= 0
                                     && outLines().indexOf(recordRead) + 1 < outLines().size(), E2e::Deadline);
        QCOMPARE(outLines().count(recordRead), 1);
        QCOMPARE(outLines().at(outLines().indexOf(recordRead) + 1), outLine("010300000027 05D0"));
        read(679, 680);
        QTRY_VERIFY_WITH_TIMEOUT(!page()->isReading(), E2e::Deadline);
        QCOMPARE(cell(0, 0) + ',' + cell(1, 0) + ',' + cell(2, 0), QStringLiteral("680,679,1"));
    }

    // Every record read answered twice: each record stored once, with its own data.
    void repeatedAnswers()
    {
        QVERIFY(online({"--answer-twice"}));
        read(1, 6);
        QTRY_VERIFY_WITH_TIMEOUT(!page()->isReading(), 30000);
        QTemporaryDir dir;
        QByteArray expected = HeaderLine;
        for (int n = 6; n >= 1; --n)
            expected += expectedLine(n);
        QCOMPARE(exported(dir.filePath("f.xlsx")), expected);
    }

    // A silent pack abandons the run, which the button then stops; Stop ends a run at once.
    void silentPackThenStopMidRun()
    {
        QVERIFY(online());
        QSignalSpy lost(e.window.get(), &MainWindow::linkLost);
        QSignalSpy back(e.window.get(), &MainWindow::linkOnline);
        read(1, 680);
        QTRY_VERIFY_WITH_TIMEOUT(rows() >= 2, E2e::Deadline);
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
        columns<QStringList, int, QString>("simArguments", "exitCode", "says");
        QTest::newRow("read and export") << QStringList{} << 0 << "2 records read";
        QTest::newRow("silent pack") << QStringList{"--silent"} << 1 << "no answer from the BMS";
    }
    void commandLine()
    {
        QFETCH(QStringList, simArguments);
        QFETCH(QString, says);
        QVERIFY(e.sim.start(QStringList{"--serial", Serial} + simArguments));
        QTemporaryDir dir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // no window, whatever the display
        const ProgramRun r = runProgram(copyProgram(dir), {"--port", e.sim.deviceName(), "--read-datalog", "1-2",
                                        "--export", dir.filePath("out.xlsx"), "--poll-ms", "100"}, env);
        QVERIFY2(r.err.trimmed().split('\n').last().contains(says), qPrintable(r.err)); // the reason ends the report
        QTEST(r.code, "exitCode");
        QVERIFY(r.code || r.err.contains("Record 2 of 2"));
        QCOMPARE(readFile(dir.filePath("out.xlsx")),
                 r.code ? QByteArray("<unreadable>") : HeaderLine + expectedLine(2) + expectedLine(1));
    }
};

QTEST_MAIN(TestE2eDatalog)
#include "tst_e2e_datalog.moc"
