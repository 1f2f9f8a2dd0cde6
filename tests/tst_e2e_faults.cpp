// Faults in the field, end to end against the BMS simulator: the adapter
// pulled out and plugged in again, a BMS that refuses every read, a history
// database that is read-only or locked for a while.
#include "app/mainwindow.h"
#include "gui/dialogs.h"
#include "model/livedata.h"
#include "pages/bmsmonitoring.h"
#include "pages/historymonitoring.h"
#include "pages/presetparameters.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"
#include "support/simprocess.h"
#include "support/testenv.h"

#include <QLabel>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/resource.h>

namespace {
// CPU seconds this process used over `ms` of waiting (events processed).
double cpuSecondsOver(int ms)
{
    auto now = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double before = now();
    QTest::qWait(ms);
    return now() - before;
}

qint64 storedRows()
{
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection1")));
    return q.exec(QStringLiteral("select count(*) from total")) && q.next() ? q.value(0).toLongLong() : -1;
}
} // namespace

class TestE2eFaults : public QObject
{
    Q_OBJECT

    SimProcess sim;
    std::unique_ptr<MainWindow> window;
    QStringList boxes;

    void startMonitoring(const QStringList &simArguments, int pollMs = 200)
    {
        QVERIFY2(sim.start(simArguments), qPrintable(sim.errorString()));
        window = std::make_unique<MainWindow>();
        window->setPollInterval(pollMs);
        window->setPortName(sim.deviceName());
        window->on_monitorBtn_clicked();
        QVERIFY(window->isMonitoring());
    }
    QString comState() const
    {
        return window->monitoringPage()->findChild<QLineEdit *>(QStringLiteral("com_state"))->text();
    }

private slots:
    void initTestCase() { TestEnv::openFreshDatabases(); }
    void init()
    {
        TestEnv::resetLiveData();
        boxes.clear();
        Dialogs::setHook([this](const Dialogs::Request &r, QString *) {
            boxes << r.title + QStringLiteral(": ") + r.text;
            return int(QMessageBox::Ok);
        });
    }
    void cleanup()
    {
        window.reset();
        sim.stop();
        Dialogs::clearHook();
    }

    // The simulator's device is a symbolic link, as /dev/serial/by-id/...
    // is: pulled out, the tool warns once, closes the port and idles; put
    // back, monitoring resumes by itself.
    void unpluggedAdapterIsRecovered()
    {
        QTemporaryDir dir;
        startMonitoring({"--link", dir.filePath(QStringLiteral("ttyBMS"))});
        QTRY_COMPARE_WITH_TIMEOUT(comState(), QStringLiteral("Online"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(window->historyPage()->model()->rowCount() >= 2, 10000);
        const double monitoring = cpuSecondsOver(3000);

        QVERIFY(sim.send(QStringLiteral("unplug")));
        QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, 10000);
        QVERIFY2(boxes[0].startsWith(QStringLiteral("Warning: The port ") + dir.filePath(QStringLiteral("ttyBMS"))
                                     + QStringLiteral(" was lost: ")),
                 qPrintable(boxes[0]));
        QCOMPARE(comState(), QStringLiteral("Offline"));
        QVERIFY(window->isMonitoring() && window->link()->isWaitingForPort());
        const double unplugged = cpuSecondsOver(3000);
        QVERIFY2(unplugged <= 2 * monitoring + 0.2,
                 qPrintable(QStringLiteral("unplugged %1 s, monitoring %2 s").arg(unplugged).arg(monitoring)));
        QCOMPARE(boxes.size(), 1);

        const int rows = window->historyPage()->model()->rowCount();
        QVERIFY(sim.send(QStringLiteral("replug")));
        QTRY_COMPARE_WITH_TIMEOUT(comState(), QStringLiteral("Online"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(window->historyPage()->model()->rowCount() > rows, 10000);
        QCOMPARE(boxes.size(), 1);
        window->on_monitorBtn_clicked(); // Stop always stops
        QVERIFY(!window->isMonitoring() && !window->link()->isWaitingForPort());
    }

    // Every read refused: counted and taken as unanswered, the link goes
    // offline after five; never the parameter-write box.
    void refusedIdentityRead()
    {
        startMonitoring({"--read-exception"}, 100);
        QTRY_VERIFY_WITH_TIMEOUT(window->link()->counters().exceptions >= 6, 10000);
        QCOMPARE(comState(), QStringLiteral("Offline"));
        QCOMPARE(liveData().nextRequest, quint16(IdentityRead));
        QVERIFY(boxes.isEmpty());
    }

    // A read-only file, then a lock held by another connection: polling goes
    // on, samples wait, the status bar says why, and every sample is stored
    // in order once the database takes writes again.
    void databaseFaultsLoseNoSample()
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("connection1"));
        db.close();
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
        const qint64 before = storedRows();
        startMonitoring({});
        SampleQueue *queue = window->historyQueue();
        QTRY_VERIFY_WITH_TIMEOUT(queue->waiting() >= 3, 10000);
        QCOMPARE(queue->fault(), SampleQueue::Fault::ReadOnly);
        auto *status = window->findChild<QLabel *>(QStringLiteral("storeLabel"));
        QVERIFY2(status->text().startsWith(QStringLiteral("History not stored: database is read-only")),
                 qPrintable(status->text()));
        db.setConnectOptions(QString()); // writable from the next reopen on
        QTRY_COMPARE_WITH_TIMEOUT(queue->waiting(), 0, 10000);
        QCOMPARE(queue->fault(), SampleQueue::Fault::None);
        QVERIFY(status->text().isEmpty());

        // Another program holds the write lock.
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(db.databaseName());
        QVERIFY(other.open());
        QSqlQuery lock(other);
        QVERIFY(lock.exec(QStringLiteral("begin exclusive")));
        const quint64 sentAtLock = window->link()->counters().sent;
        QTRY_VERIFY_WITH_TIMEOUT(queue->waiting() >= 5, 10000);
        QCOMPARE(queue->fault(), SampleQueue::Fault::Locked);
        // The link kept its pace meanwhile: every tick sent a request.
        QVERIFY(window->link()->counters().sent >= sentAtLock + 5);
        QVERIFY(lock.exec(QStringLiteral("commit")));
        QTRY_COMPARE_WITH_TIMEOUT(queue->waiting(), 0, 10000);
        window->on_monitorBtn_clicked();
        lock = QSqlQuery();
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));

        // Every monitoring answer became one row, in the order taken.
        const qint64 answers = qint64(window->link()->counters().taken) - 1; // less the identity answer
        QTRY_COMPARE_WITH_TIMEOUT(storedRows() - before, answers, 5000);
        QSqlQuery order(db);
        QVERIFY(order.exec(QStringLiteral("select count(*) from total a join total b on b.id=a.id+1 where b.time<a.time")));
        QVERIFY(order.next());
        QCOMPARE(order.value(0).toInt(), 0);
        QVERIFY(boxes.isEmpty());
    }
};

QTEST_MAIN(TestE2eFaults)
#include "tst_e2e_faults.moc"
