// Start-up: the two databases, one that cannot be opened, the data folder chosen, SIGTERM.
#include "app/appinfo.h"
#include "app/startup.h"
#include "gui/dialogs.h"
#include "support/e2e.h"
#include "support/helpers.h"

#include <QtSql>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void dropConnections()
{
    for (const QString &name : QSqlDatabase::connectionNames()) {
        { QSqlDatabase::database(name, false).close(); }
        QSqlDatabase::removeDatabase(name);
    }
}

// The first column of `sql` run on the database `file`.
QStringList query(const QString &file, const char *sql)
{
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
        db.setDatabaseName(file);
        QSqlQuery q = db.open() ? QSqlQuery(db) : QSqlQuery();
        for (q.exec(QLatin1String(sql)); q.next();)
            values << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
    return values;
}

const char *const Tables = "select name from sqlite_master where type='table' and name not like 'sqlite_%'";

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    QList<Dialogs::Request> boxes;

private slots:
    void init()
    {
        boxes.clear();
        Dialogs::setHook([this](const Dialogs::Request &r, QString *) { return boxes << r, int(QMessageBox::Cancel); });
    }
    void cleanup() { Dialogs::clearHook(), dropConnections(); }

    void firstRunCreatesBothTablesAndSecondRunKeepsRows()
    {
        QTemporaryDir dir;
        QVERIFY(Startup::openDatabases(dir.path()));
        // my1.db also holds the trend's per-minute summary.
        QCOMPARE(query(dir.filePath("my1.db"), Tables) + query(dir.filePath("my2.db"), Tables),
                 QStringList({"total", "total_minute", "record"}));
        QVERIFY(QSqlQuery(QSqlDatabase::database(QStringLiteral("connection1")))
                    .exec(QStringLiteral("insert into total(time) values('2026-12-06 10:00:00')")));
        dropConnections();
        QVERIFY(Startup::openDatabases(dir.path()));
        QCOMPARE(query(dir.filePath("my1.db"), "select count(*) from total"), QStringList("1"));
        QVERIFY(boxes.isEmpty());
    }

    void unopenableFirstDatabaseStopsBeforeTheSecond_data()
    {
        columns<QString, QString>("broken", "title");
        QTest::newRow("my1.db") << "my1.db" << "Cannot open database1";
        QTest::newRow("my2.db") << "my2.db" << "Cannot open database2";
    }
    void unopenableFirstDatabaseStopsBeforeTheSecond()
    {
        QFETCH(QString, broken);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(broken));
        QVERIFY(!Startup::openDatabases(dir.path()));
        QVERIFY(boxes.size() == 1 && boxes[0].icon == QMessageBox::Critical && !boxes[0].parent);
        QTEST(boxes[0].title, "title");
        QVERIFY(boxes[0].text.startsWith("Unable to establish a database connection.\n" + dir.filePath(broken) + ": "));
        QCOMPARE(QFile::exists(dir.filePath("my2.db")), broken == "my2.db");
    }

    void folderChoice_data()
    {
        columns<QString, QString, bool, QString>("requested", "program", "writable", "chosen");
        const QString user = QStringLiteral("user /home/tech/.local/share/packscope");
        QTest::newRow("read-only folder") << "" << "/opt/tools/packscope" << false << user;
        QTest::newRow("/usr/bin, writable by root") << "" << "/usr/bin" << true << user;
        QTest::newRow("/usr/local/bin") << "" << "/usr/local/bin" << true << user;
        QTest::newRow("/usrlocal is not /usr") << "" << "/usrlocal/bin" << true << "beside /usrlocal/bin";
        QTest::newRow("--data-dir over writable") << "/srv/bms/" << "/opt/p" << true << "command /srv/bms";
        QTest::newRow("--data-dir relative") << "data" << "/usr/bin" << false << "command " + QDir::currentPath() + "/data";
    }
    void folderChoice()
    {
        QFETCH(QString, requested);
        QFETCH(QString, program);
        QFETCH(bool, writable);
        const auto d = AppInfo::chooseDataFolder(requested, program, writable, "/home/tech/.local/share/packscope");
        QTEST(QStringList({"command", "beside", "user"}).at(d.source) + ' ' + d.path, "chosen");
    }

    // Beside the program whatever the working directory, for a user who may write there, else in the
    // user's own folder; a my1.db that cannot be opened ends the program with code 1.
    void dataBesideTheProgram()
    {
        QTemporaryDir bin, work, data;
        const QString exe = copyProgram(bin);
        QCOMPARE(::chmod(QFile::encodeName(bin.path()).constData(), 0755), 0);
        QVERIFY(QDir(bin.path()).mkdir("my1.db"));
        const QProcessEnvironment env = withEnv("PACKSCOPE_ANSWER_DIALOGS", "1", withEnv("XDG_DATA_HOME", data.path()));
        QVERIFY(runProgram(exe, {"--help"}, env).out.contains("kept in " + bin.path() + "\n"));
        const ProgramRun r = runProgram(exe, {}, withEnv("QT_QPA_PLATFORM", "offscreen", env), work.path());
        QVERIFY2(r.code == 1 && r.err.contains("box \"Cannot open database1\": Unable to establish a database connection."),
                 qPrintable(r.err));
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (geteuid() != 0 || setpriv.isEmpty())
            QSKIP("needs root and setpriv to run the program as another user");
        const QString out = runProgram(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", exe, "--help"}, env).out;
        if (out.isEmpty())
            QSKIP("cannot run the program as an unprivileged user here");
        QVERIFY2(out.contains("kept in " + data.filePath("packscope") + "\n"), qPrintable(out));
    }

    // SIGTERM quits as a closed window does: code 0, link figures on stderr, every answer stored
    // but the one in flight, in the --data-dir folder (created) and nowhere else. A window
    // had chosen ID 5 at 9600 baud: this run, naming its port, polls ID 1 at 115200 and
    // leaves the window's choices as they were.
    void terminatedMonitoringRunQuitsCleanly()
    {
        QTemporaryDir bin, work;
        const QString exe = copyProgram(bin), served = work.filePath("served.log"), folder = work.filePath("new/folder");
        SimProcess sim;
        QVERIFY2(sim.start({"--served-log", served}), qPrintable(sim.errorString()));
        const QByteArray windowChoices = "[General]\naddress=5\nbaud=9600\nlanguage=0\nport=/dev/ttyUSB7\n";
        QVERIFY(QDir(work.path()).mkpath("packscope"));
        QFile conf(work.filePath("packscope/packscope.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write(windowChoices) > 0);
        conf.close();
        QProcess p;
        p.setWorkingDirectory(work.path());
        p.setProcessEnvironment(withEnv("PACKSCOPE_ANSWER_DIALOGS", "1",
                                        withEnv("XDG_CONFIG_HOME", work.path(), withEnv("QT_QPA_PLATFORM", "offscreen"))));
        p.start(exe, {"--port", sim.deviceName(), "--monitor", "--poll-ms", "100", "--data-dir", folder});
        const auto monitorAnswers = [&served] { return readFile(served).count(" ok 01030000002705d0 "); };
        QTRY_VERIFY_WITH_TIMEOUT(monitorAnswers() >= 4, 30000);
        p.terminate();
        QVERIFY(p.waitForFinished(30000));
        QVERIFY(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0);
        QVERIFY(p.readAllStandardError().contains("packscope: Sent "));
        sim.stop();
        const int answers = monitorAnswers();
        const int rows = query(folder + "/my1.db", "select count(*) from total").value(0, "-1").toInt();
        QVERIFY2(rows >= answers - 1 && rows <= answers, qPrintable(QStringLiteral("%1 rows, %2 answers").arg(rows).arg(answers)));
        QCOMPARE(QDir(work.path()).entryList({"*.db"}) + QDir(bin.path()).entryList({"*.db"}), QStringList());
        QCOMPARE(readFile(conf.fileName()), windowChoices);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
