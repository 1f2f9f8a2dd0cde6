// The command line: valid combinations, refusals naming the option, the program on a bad value.
#include "app/options.h"
#include "model/addresslist.h"
#include "support/helpers.h"
#include "support/e2e.h"
#include <QtTest>

class TestOptions : public QObject
{
    Q_OBJECT
    static Options parse(const QStringList &args) { return Options::parse(QStringList{"packscope"} + args); }
private slots:
    void valid_data()
    {
        // options: what was taken, in a line
        columns<QStringList, QString>("args", "options");
        QTest::newRow("nothing") << QStringList{} << " 0 0 0";
        QTest::newRow("all") << QStringList{"--port", "tty0", "--baud", "56000", "--address", "1", "--monitor"}
                             << "tty0 56000 1 0 monitor";
        QTest::newRow("toolkit options left to the application")
            << QStringList{"-platform", "offscreen", "--port", "ttyS1", "-style=fusion", "-reverse"} << "ttyS1 0 0 0";
        QTest::newRow("datalog job") << QStringList{"--port", "ttyUSB0", "--read-datalog", "679-680", "--fast", "--export",
                                                    "f.xlsx", "--poll-ms", "250"}
                                     << "ttyUSB0 0 0 250 datalog 679-680 f.xlsx fast";
        QTest::newRow("parameter job") << QStringList{"--port", "ttyUSB0", "--read-set", "pack.json", "--poll-ms", "200"}
                                       << "ttyUSB0 0 0 200 read set pack.json";
        QTest::newRow("scan, every ID") << QStringList{"--port", "p", "--scan"} << "p 0 0 0 scan 1-64";
        QTest::newRow("scan of a range") << QStringList{"--port", "p", "--baud", "9600", "--scan", "3-7"} << "p 9600 0 0 scan 3-7";
        QTest::newRow("service") << QStringList{"--service", "--port", "p", "--address", "3,1-2", "--mqtt", "mqtt://b",
                                                "--log-frames"}
                                 << "p 0 1 0 service 3 ids mqtt://b frames";
        QTest::newRow("service from its settings") << QStringList{"--service", "--config", "s.conf"} << " 0 0 0 service 0 ids s.conf";
    }
    void valid()
    {
        QFETCH(QStringList, args);
        const Options o = parse(args);
        QCOMPARE(o.outcome, Options::Run);
        QTEST(QStringLiteral("%1 %2 %3 %4").arg(o.port).arg(o.baud).arg(o.address).arg(o.pollMs) + (o.monitor ? " monitor" : "")
                  + (o.readDatalog ? QStringLiteral(" datalog %1-%2 %3").arg(o.datalogBegin).arg(o.datalogEnd).arg(o.exportFile) : "")
                  + (o.fast ? " fast" : "") + (o.isParameterJob() ? " read set " + o.readSet : "")
                  + (o.scan ? QStringLiteral(" scan %1-%2").arg(o.scanFirst).arg(o.scanLast) : "")
                  + (o.service ? QStringLiteral(" service %1 ids").arg(o.addresses.size()) : "")
                  + (o.mqttUrl.isEmpty() ? "" : " " + o.mqttUrl) + (o.configFile.isEmpty() ? "" : " " + o.configFile)
                  + (o.logFrames ? " frames" : ""),
              "options");
    }
    // --address as a list: ascending, each ID once.
    void addressLists_data()
    {
        columns<QString, QString>("value", "ids");
        QTest::newRow("one") << "64" << "64";
        QTest::newRow("list") << "1,3,7" << "1,3,7";
        QTest::newRow("range and one") << "1-4,9" << "1-4,9";
        QTest::newRow("doubled, unordered, blanks") << " 7, 3,3 ,1-2" << "1-3,7";
        QTest::newRow("two in a row stay a list") << "5,6" << "5,6";
    }
    void addressLists()
    {
        QFETCH(QString, value);
        const Options o = parse({"--port", "p", "--monitor", "--address", value});
        QCOMPARE(o.outcome, Options::Run);
        QTEST(AddressList::text(o.addresses), "ids");
    }
    void exits_data()
    {
        columns<QStringList, int, QString>("args", "outcome", "shows");
        const int bad = Options::ExitError, ok = Options::ExitOk;
        QTest::newRow("baud 1199") << QStringList{"--baud", "1199"} << bad << "--baud";
        QTest::newRow("address 0") << QStringList{"--address", "0"} << bad << "--address";
        QTest::newRow("address 65") << QStringList{"--port", "ttyUSB0", "--address", "65"} << bad << "--address";
        QTest::newRow("address 5.0") << QStringList{"--address", "5.0"} << bad << "--address";
        QTest::newRow("address range past 64") << QStringList{"--address", "1-65"} << bad << "ID 65 is outside 1..64";
        QTest::newRow("address range backwards") << QStringList{"--address", "4-2"} << bad << "runs backwards";
        QTest::newRow("address list with a gap") << QStringList{"--address", "1,,3"} << bad << "--address '1,,3'";
        QTest::newRow("address list for a set") << QStringList{"--port", "p", "--read-set", "a", "--address", "1,3"} << bad
                                                << "one pack";
        QTest::newRow("port empty") << QStringList{"--port="} << bad << "--port";
        QTest::newRow("option as port") << QStringList{"--port", "--monitor"} << bad << "--port needs a value";
        QTest::newRow("option as data folder") << QStringList{"--data-dir", "--port", "p"} << bad << "--data-dir needs a value";
        QTest::newRow("poll 5") << QStringList{"--poll-ms", "5"} << bad << "--poll-ms";
        QTest::newRow("positional argument") << QStringList{"COM3"} << bad << "COM3";
        QTest::newRow("help-all") << QStringList{"--help-all"} << ok << "--port";
        const QStringList withPort{"--port", "ttyUSB0", "--export", "log.xlsx"};
        QTest::newRow("datalog from 0") << withPort + QStringList{"--read-datalog", "0-5"} << bad << "--read-datalog";
        QTest::newRow("datalog past 680") << withPort + QStringList{"--read-datalog", "1-681"} << bad << "--read-datalog";
        QTest::newRow("datalog backwards") << withPort + QStringList{"--read-datalog", "9-8"} << bad << "--read-datalog";
        QTest::newRow("datalog one number") << withPort + QStringList{"--read-datalog", "5"} << bad << "--read-datalog";
        QTest::newRow("datalog without export") << QStringList{"--port", "p", "--read-datalog", "1-2"} << bad << "--export";
        QTest::newRow("datalog without port") << QStringList{"--read-datalog", "1-2", "--export", "f"} << bad << "--port";
        QTest::newRow("fast alone") << QStringList{"--fast"} << bad << "--read-datalog";
        QTest::newRow("set without port") << QStringList{"--write-set", "a.json"} << bad << "--port";
        QTest::newRow("read and write set") << QStringList{"--port", "p", "--read-set", "a", "--write-set", "b"} << bad << "together";
        QTest::newRow("set while monitoring") << QStringList{"--port", "p", "--read-set", "a", "--monitor"} << bad << "--monitor";
        QTest::newRow("scan from 0") << QStringList{"--port", "p", "--scan", "0-5"} << bad << "--scan range";
        QTest::newRow("scan past 64") << QStringList{"--port", "p", "--scan", "60-65"} << bad << "--scan range";
        QTest::newRow("scan backwards") << QStringList{"--port", "p", "--scan", "9-8"} << bad << "--scan range";
        QTest::newRow("scan without port") << QStringList{"--scan"} << bad << "--scan needs --port";
        QTest::newRow("scan while monitoring") << QStringList{"--port", "p", "--scan", "--monitor"} << bad << "alone";
        QTest::newRow("mqtt without service") << QStringList{"--port", "p", "--mqtt", "mqtt://b"} << bad << "go with --service";
        QTest::newRow("log frames without service") << QStringList{"--port", "p", "--log-frames"} << bad << "go with --service";
        QTest::newRow("service without port or settings") << QStringList{"--service"} << bad << "needs --port or --config";
        QTest::newRow("service while monitoring") << QStringList{"--service", "--port", "p", "--monitor"} << bad
                                                  << "--monitor cannot be used with --service";
        QTest::newRow("service and a job") << QStringList{"--service", "--port", "p", "--read-set", "f"} << bad
                                           << "--read-set cannot be used with --service";
        QTest::newRow("option as settings file") << QStringList{"--service", "--config", "--port", "p"} << bad
                                                 << "--config needs a value";
    }
    void exits()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, shows);
        const Options o = parse(args);
        QTEST(int(o.outcome), "outcome");
        QVERIFY2(o.message.contains(shows), qPrintable(o.message));
    }
    void programRefusesBadValue()
    {
        QTemporaryDir dir;
        const ProgramRun r = runProgram(copyProgram(dir), {"--address", "99"}, QProcessEnvironment::systemEnvironment(),
                                        dir.path());
        QVERIFY2(r.code == 2 && r.out.isEmpty() && r.err.contains("--address"), qPrintable(r.err));
        QVERIFY(QDir(dir.path()).entryList({"*.db"}).isEmpty());
    }
};
QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
