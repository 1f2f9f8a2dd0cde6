// Start-up: the two databases next to the executable, their tables, and what
// happens when one of them cannot be opened.
#include "gui/dialogs.h"
#include "app/startup.h"
#include "support/simprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

    QList<Dialogs::Request> boxes;

    static void dropConnections()
    {
        for (const QString &name : QSqlDatabase::connectionNames()) {
            { QSqlDatabase::database(name, false).close(); }
            QSqlDatabase::removeDatabase(name);
        }
    }

    static QStringList tables(const QString &file)
    {
        QStringList names;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("probe"));
            db.setDatabaseName(file);
            if (db.open()) {
                QSqlQuery q(db);
                q.exec(QStringLiteral("select name from sqlite_master where type='table' and name not like 'sqlite_%'"));
                while (q.next())
                    names << q.value(0).toString();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("probe"));
        return names;
    }

private slots:
    void init()
    {
        boxes.clear();
        Dialogs::setHook([this](const Dialogs::Request &r, QString *) {
            boxes << r;
            return int(QMessageBox::Cancel);
        });
    }
    void cleanup()
    {
        Dialogs::clearHook();
        dropConnections();
    }

    void firstRunCreatesBothTablesAndSecondRunKeepsRows()
    {
        QTemporaryDir dir;
        QVERIFY(Startup::openDatabases(dir.path()));
        QCOMPARE(tables(dir.filePath("my1.db")), (QStringList{"total", "total_minute"})); // and the trend's summary
        QCOMPARE(tables(dir.filePath("my2.db")), QStringList{"record"});
        {
            QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection1")));
            QVERIFY(q.exec(QStringLiteral("insert into total(time) values('2026-12-06 10:00:00')")));
        }
        dropConnections();
        QVERIFY(Startup::openDatabases(dir.path()));
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection1")));
        QVERIFY(q.exec(QStringLiteral("select count(*) from total")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QVERIFY(boxes.isEmpty());
    }

    void unopenableFirstDatabaseStopsBeforeTheSecond_data()
    {
        QTest::addColumn<QString>("broken");
        QTest::addColumn<QString>("title");
        QTest::newRow("my1.db") << "my1.db" << "Cannot open database1";
        QTest::newRow("my2.db") << "my2.db" << "Cannot open database2";
    }
    void unopenableFirstDatabaseStopsBeforeTheSecond()
    {
        QFETCH(QString, broken);
        QFETCH(QString, title);
        QTemporaryDir dir;
        // A directory where the database file should be cannot be opened.
        QVERIFY(QDir(dir.path()).mkdir(broken));
        QVERIFY(!Startup::openDatabases(dir.path()));
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(boxes[0].title, title);
        // The usual text, then the file and the reason.
        QVERIFY(boxes[0].text.startsWith(QStringLiteral("Unable to establish a database connection.\n") + dir.filePath(broken) + ": "));
        QCOMPARE(boxes[0].parent, nullptr);
        if (broken == QLatin1String("my1.db"))
            QVERIFY(!QFile::exists(dir.filePath("my2.db")));
    }

    void programEndsWithCode1WhenMy1CannotBeOpened()
    {
        QTemporaryDir binDir;
        const QString exe = binDir.filePath("packscope");
        QVERIFY(QFile::copy(QStringLiteral(PACKSCOPE_PATH), exe));
        QVERIFY(QDir(binDir.path()).mkdir("my1.db"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("PACKSCOPE_ANSWER_DIALOGS"), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        p.start(exe, QStringList());
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardError().contains("box \"Cannot open database1\": Unable to establish a database connection."));
        QVERIFY(!QFile::exists(binDir.filePath("my2.db")));
    }

    void databasesLiveNextToTheExecutableWhateverTheWorkingDirectory()
    {
        QTemporaryDir binDir, workDir;
        const QString exe = binDir.filePath("packscope");
        QVERIFY(QFile::copy(QStringLiteral(PACKSCOPE_PATH), exe));
        QProcess p;
        p.setWorkingDirectory(workDir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(exe, QStringList());
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(tables(binDir.filePath("my2.db")).contains(QStringLiteral("record")), 30000);
        p.kill();
        p.waitForFinished();
        QCOMPARE(tables(binDir.filePath("my1.db")), (QStringList{"total", "total_minute"}));
        QVERIFY(QDir(workDir.path()).entryList(QDir::Files).isEmpty());
    }

    // A monitoring run stopped by SIGTERM quits as a closed window does: exit
    // code 0, its link figures on stderr, the answers the simulator logged as
    // served stored.
    void terminatedMonitoringRunQuitsCleanly()
    {
        QTemporaryDir binDir;
        const QString exe = binDir.filePath("packscope"), served = binDir.filePath("served.log");
        QVERIFY(QFile::copy(QStringLiteral(PACKSCOPE_PATH), exe));
        SimProcess sim;
        QVERIFY2(sim.start({"--served-log", served}), qPrintable(sim.errorString()));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("PACKSCOPE_ANSWER_DIALOGS"), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        p.start(exe, {"--port", sim.deviceName(), "--monitor", "--poll-ms", "100"});
        auto servedLines = [&served] {
            QFile f(served);
            return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(servedLines() >= 4, 30000);
        p.terminate();
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardError().contains("packscope: Sent "));
        sim.stop();
        QFile f(served);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QVERIFY(lines.first().contains(" ok 010300690017")); // the identity read first
        int monitorAnswers = 0;
        for (const QByteArray &line : lines)
            monitorAnswers += line.contains(" ok 01030000002705d0 ");
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(binDir.filePath("my1.db"));
        QVERIFY(db.open());
        {
            QSqlQuery count(db);
            QVERIFY(count.exec(QStringLiteral("select count(*) from total")) && count.next());
            // Every answer but perhaps the one in flight at the signal.
            QVERIFY2(count.value(0).toInt() >= monitorAnswers - 1 && count.value(0).toInt() <= monitorAnswers,
                     qPrintable(QStringLiteral("%1 rows, %2 answers").arg(count.value(0).toInt()).arg(monitorAnswers)));
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
