// The command line: valid combinations, refused values with a message that
// names the option, and the built program's behaviour on a bad value.
#include "app/options.h"

#include <QtTest>

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void valid_data();
    void valid();
    void everyBaudRate();
    void refused_data();
    void refused();
    void helpAndVersion_data();
    void helpAndVersion();
    void programRefusesBadValue_data();
    void programRefusesBadValue();
};

void TestOptions::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("packscope"));
    QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
}

void TestOptions::valid_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("address");
    QTest::addColumn<bool>("monitor");
    QTest::newRow("nothing") << QStringList{} << QString() << 0 << 0 << false;
    QTest::newRow("all") << QStringList{"--port", "ttyUSB0", "--baud", "9600", "--address", "5", "--monitor"}
                         << "ttyUSB0" << 9600 << 5 << true;
    QTest::newRow("with equals signs") << QStringList{"--port=COM3", "--baud=115200", "--address=64"}
                                       << "COM3" << 115200 << 64 << false;
    QTest::newRow("device path") << QStringList{"--port", "/dev/pts/7"} << "/dev/pts/7" << 0 << 0 << false;
    QTest::newRow("lowest address") << QStringList{"--address", "1"} << QString() << 0 << 1 << false;
    QTest::newRow("monitor alone") << QStringList{"--monitor"} << QString() << 0 << 0 << true;
    QTest::newRow("last value counts") << QStringList{"--address", "70", "--address", "7"}
                                       << QString() << 0 << 7 << false;
    QTest::newRow("toolkit options left to the application")
        << QStringList{"-platform", "offscreen", "--port", "ttyS1", "-style=fusion", "-reverse"}
        << "ttyS1" << 0 << 0 << false;
}

void TestOptions::valid()
{
    QFETCH(QStringList, args);
    QFETCH(QString, port);
    QFETCH(int, baud);
    QFETCH(int, address);
    QFETCH(bool, monitor);
    const Options o = Options::parse(QStringList{"packscope"} + args);
    QCOMPARE(o.outcome, Options::Run);
    QCOMPARE(o.port, port);
    QCOMPARE(o.baud, baud);
    QCOMPARE(o.address, address);
    QCOMPARE(o.monitor, monitor);
}

void TestOptions::everyBaudRate()
{
    for (const int rate : {1200, 2400, 4800, 9600, 19200, 38400, 56000, 57600, 115200}) {
        const Options o = Options::parse({"packscope", "--baud", QString::number(rate)});
        QCOMPARE(o.outcome, Options::Run);
        QCOMPARE(o.baud, rate);
    }
}

void TestOptions::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named");
    QTest::newRow("baud 7") << QStringList{"--baud", "7"} << "--baud";
    QTest::newRow("baud 1199") << QStringList{"--baud", "1199"} << "--baud";
    QTest::newRow("baud 0") << QStringList{"--baud", "0"} << "--baud";
    QTest::newRow("baud 230400") << QStringList{"--baud", "230400"} << "--baud";
    QTest::newRow("baud with suffix") << QStringList{"--baud", "9600bps"} << "--baud";
    QTest::newRow("baud empty") << QStringList{"--baud="} << "--baud";
    QTest::newRow("address 0") << QStringList{"--address", "0"} << "--address";
    QTest::newRow("address 65") << QStringList{"--address", "65"} << "--address";
    QTest::newRow("address 99") << QStringList{"--address", "99"} << "--address";
    QTest::newRow("address -1") << QStringList{"--address=-1"} << "--address";
    QTest::newRow("address abc") << QStringList{"--address", "abc"} << "--address";
    QTest::newRow("address 5.0") << QStringList{"--address", "5.0"} << "--address";
    QTest::newRow("address empty") << QStringList{"--address="} << "--address";
    QTest::newRow("port empty") << QStringList{"--port="} << "--port";
    QTest::newRow("port missing value") << QStringList{"--port"} << "port";
    QTest::newRow("baud missing value") << QStringList{"--baud"} << "baud";
    QTest::newRow("address missing value") << QStringList{"--monitor", "--address"} << "address";
    QTest::newRow("unknown option") << QStringList{"--speed", "9600"} << "speed";
    QTest::newRow("positional argument") << QStringList{"COM3"} << "COM3";
    QTest::newRow("bad value among good ones")
        << QStringList{"--port", "ttyUSB0", "--baud", "9600", "--address", "65", "--monitor"} << "--address";
}

void TestOptions::refused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    const Options o = Options::parse(QStringList{"packscope"} + args);
    QCOMPARE(o.outcome, Options::ExitError);
    QVERIFY2(o.message.contains(named), qPrintable(o.message));
}

void TestOptions::helpAndVersion_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("shows");
    QTest::newRow("--help") << QStringList{"--help"} << "--address";
    QTest::newRow("-h") << QStringList{"-h"} << "--baud";
    QTest::newRow("--help-all") << QStringList{"--help-all"} << "--port";
    QTest::newRow("help with other options") << QStringList{"--address", "5", "--help"} << "--monitor";
    QTest::newRow("--version") << QStringList{"--version"} << "9.8.7";
    QTest::newRow("-v") << QStringList{"-v"} << "packscope";
}

void TestOptions::helpAndVersion()
{
    QFETCH(QStringList, args);
    QFETCH(QString, shows);
    const Options o = Options::parse(QStringList{"packscope"} + args);
    QCOMPARE(o.outcome, Options::ExitOk);
    QVERIFY2(o.message.contains(shows), qPrintable(o.message));
}

void TestOptions::programRefusesBadValue_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("bad address") << QStringList{"--address", "99"} << 2 << QString() << "--address";
    QTest::newRow("bad baud") << QStringList{"--baud", "7"} << 2 << QString() << "--baud";
    QTest::newRow("unknown option") << QStringList{"--nonsense"} << 2 << QString() << "nonsense";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--address" << QString();
    QTest::newRow("help-all") << QStringList{"--help-all"} << 0 << "--address" << QString();
    QTest::newRow("version") << QStringList{"--version"} << 0 << "packscope" << QString();
}

void TestOptions::programRefusesBadValue()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    // The program keeps its databases next to itself, so a copy in a fresh
    // directory shows whether this run created any.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath(QStringLiteral("packscope"));
    QVERIFY(QFile::copy(QStringLiteral(PACKSCOPE_PATH), program));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner));

    QProcess process;
    process.setWorkingDirectory(dir.path());
    // No window system at all: these runs must end before one is needed.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    QVERIFY(process.waitForStarted(60000));
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(10000);
        QFAIL("the program did not end");
    }
    const QString stdOut = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString stdErr = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    if (out.isEmpty())
        QVERIFY2(stdOut.isEmpty(), qPrintable(stdOut));
    else
        QVERIFY2(stdOut.contains(out), qPrintable(stdOut));
    if (err.isEmpty())
        QVERIFY2(stdErr.isEmpty(), qPrintable(stdErr));
    else
        QVERIFY2(stdErr.contains(err), qPrintable(stdErr));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("my1.db"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("my2.db"))));
}

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
