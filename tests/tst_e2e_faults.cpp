// End to end against the BMS simulator: one stored row per monitoring answer,
// an unplugged adapter, a BMS refusing every read, a read-only or locked database.
#include "link/crc16.h"
#include "model/livedata.h"
#include "pages/historymonitoring.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"
#include "support/e2e.h"

#include <QLabel>
#include <QRegularExpression>
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

// The logged monitoring answers: function 3, 78 data bytes, good CRC.
QList<QByteArray> monitoringAnswers(const QStringList &received)
{
    QList<QByteArray> answers;
    for (const QString &line : received) {
        const QByteArray frame = QByteArray::fromHex(line.mid(E2e::In.size()).toLatin1());
        if (frame.size() == 83 && quint8(frame[1]) == 3 && quint8(frame[2]) == 78 && crcMatches(frame))
            answers << frame;
    }
    return answers;
}

// The numbers stored for an answer, in column order after the time.
QVector<qint64> expectedNumbers(const QByteArray &frame)
{
    auto reg = [&frame](int r) { return quint16(quint8(frame[3 + 2 * r]) << 8 | quint8(frame[4 + 2 * r])); };
    const quint16 status = reg(25);
    QVector<qint64> v{status & 0xF, status >> 15, reg(26), reg(27), reg(28), reg(29), qint16(reg(1)), reg(22),
                      reg(0), reg(24), reg(23), qint16(reg(18)), qint16(reg(19)), reg(20),
                      qint8(reg(33) >> 8), qint8(reg(33) & 0xFF), qint8(reg(34) >> 8), qint8(reg(34) & 0xFF)};
    for (int k = 0; k < 16; ++k)
        v << reg(2 + k);
    v << reg(37) << reg(21);
    return v;
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
    E2e e;

private slots:
    void cleanup() { e.reset(); }

    // One row per logged monitoring answer with its values, in time order;
    // a quote in the model text stored as it is. First, so ids start at 1.
    void oneRowPerMonitoringAnswer()
    {
        QVERIFY(e.monitor({"--model", "O'Neill 16S 280Ah", "--version-text", "V2.7", "--serial", "SN-HIST-0007"}));
        MainWindow &w = *e.window;
        HistoryMonitoring *page = w.historyPage();
        QTRY_VERIFY_WITH_TIMEOUT(page->model()->rowCount() >= 3, E2e::Deadline);
        w.on_monitorBtn_clicked(); // stop; an answer still on its way is not read
        e.sim.stop();
        const QList<QByteArray> answers = monitoringAnswers(e.linesOf(E2e::In));
        QCOMPARE(page->model()->rowCount(), answers.size());
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection1")));
        QVERIFY(q.exec(RecordTable::history().selectList() + QStringLiteral(" order by id")));
        const QRegularExpression clock(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
        QString previousTime;
        int row = 0;
        for (; q.next(); ++row) {
            QVERIFY2(row < answers.size(), "more rows than monitoring answers");
            QCOMPARE(q.value(0).toLongLong(), qint64(row + 1));
            const QString time = q.value(1).toString();
            QVERIFY2(clock.match(time).hasMatch(), qPrintable(time));
            QVERIFY(time >= previousTime);
            previousTime = time;
            const QVector<qint64> expected = expectedNumbers(answers.at(row));
            QString stored, served;
            for (int c = 0; c < expected.size(); ++c) {
                const QString name = RecordTable::history().columns.at(1 + c).name + '=';
                stored += name + QString::number(q.value(2 + c).toLongLong()) + ' ';
                served += name + QString::number(expected.at(c)) + ' ';
            }
            QCOMPARE(stored, served);
            QCOMPARE(QStringList({q.value(38).toString(), q.value(39).toString(), q.value(40).toString()}).join('|'),
                     QStringLiteral("O'Neill 16S 280Ah|V2.7|SN-HIST-0007"));
        }
        QCOMPARE(row, answers.size());

        // The newest sample on top.
        const quint16 voltage = quint16(quint8(answers.last()[3]) << 8 | quint8(answers.last()[4]));
        QCOMPARE(page->model()->index(0, 9).data().toString(),
                 QString::asprintf("%d.%02d", voltage / 100, voltage % 100));
        QCOMPARE(page->model()->index(0, 0).data().toString() + '|' + page->model()->index(0, 37).data().toString(),
                 previousTime + "|O'Neill 16S 280Ah");
        QVERIFY(e.boxes.isEmpty());
    }

    // The device is a symbolic link, as /dev/serial/by-id/... is: pulled out,
    // the tool warns once and idles; put back, monitoring resumes by itself.
    void unpluggedAdapterIsRecovered()
    {
        QTemporaryDir dir;
        QVERIFY(e.monitor({"--link", dir.filePath(QStringLiteral("ttyBMS"))}, 200));
        MainWindow *window = e.window.get();
        QTRY_COMPARE_WITH_TIMEOUT(e.comState(), QStringLiteral("Online"), E2e::Deadline);
        QTRY_VERIFY_WITH_TIMEOUT(window->historyPage()->model()->rowCount() >= 2, E2e::Deadline);
        const double monitoring = cpuSecondsOver(3000);

        QVERIFY(e.sim.send(QStringLiteral("unplug")));
        QTRY_COMPARE_WITH_TIMEOUT(e.boxes.size(), 1, E2e::Deadline);
        QVERIFY2(e.boxes[0].startsWith("Warning: The port " + dir.filePath("ttyBMS") + " was lost: "), qPrintable(e.boxes[0]));
        QCOMPARE(e.comState(), QStringLiteral("Offline"));
        QVERIFY(window->isMonitoring() && window->link()->isWaitingForPort());
        const double unplugged = cpuSecondsOver(3000);
        QVERIFY2(unplugged <= 2 * monitoring + 0.2,
                 qPrintable(QStringLiteral("unplugged %1 s, monitoring %2 s").arg(unplugged).arg(monitoring)));
        QCOMPARE(e.boxes.size(), 1);

        const int rows = window->historyPage()->model()->rowCount();
        QVERIFY(e.sim.send(QStringLiteral("replug")));
        QTRY_COMPARE_WITH_TIMEOUT(e.comState(), QStringLiteral("Online"), E2e::Deadline);
        QTRY_VERIFY_WITH_TIMEOUT(window->historyPage()->model()->rowCount() > rows, E2e::Deadline);
        QCOMPARE(e.boxes.size(), 1);
        window->on_monitorBtn_clicked(); // Stop always stops
        QVERIFY(!window->isMonitoring() && !window->link()->isWaitingForPort());
    }

    // Every read refused: offline after five, never the parameter-write box.
    void refusedIdentityRead()
    {
        QVERIFY(e.monitor({"--read-exception"}, 100));
        MainWindow *window = e.window.get();
        QTRY_VERIFY_WITH_TIMEOUT(window->link()->counters().exceptions >= 6, E2e::Deadline);
        QCOMPARE(e.comState(), QStringLiteral("Offline"));
        QCOMPARE(liveData().nextRequest, quint16(IdentityRead));
        QVERIFY(e.boxes.isEmpty());
    }

    // Read-only, then locked by another connection: polling goes on, samples
    // wait, the status bar says why, and all are stored in order afterwards.
    void databaseFaultsLoseNoSample()
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("connection1"));
        db.close();
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
        const qint64 before = storedRows();
        QVERIFY(e.monitor({}, 200));
        MainWindow *window = e.window.get();
        SampleQueue *queue = window->historyQueue();
        QTRY_VERIFY_WITH_TIMEOUT(queue->waiting() >= 3, E2e::Deadline);
        QCOMPARE(queue->fault(), SampleQueue::Fault::ReadOnly);
        auto *status = window->findChild<QLabel *>(QStringLiteral("storeLabel"));
        QVERIFY2(status->text().startsWith(QStringLiteral("History not stored: database is read-only")),
                 qPrintable(status->text()));
        db.setConnectOptions(QString()); // writable from the next reopen on
        QTRY_COMPARE_WITH_TIMEOUT(queue->waiting(), 0, E2e::Deadline);
        QVERIFY(queue->fault() == SampleQueue::Fault::None && status->text().isEmpty());

        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(db.databaseName());
        QVERIFY(other.open());
        QSqlQuery lock(other);
        QVERIFY(lock.exec(QStringLiteral("begin exclusive")));
        const quint64 sentAtLock = window->link()->counters().sent;
        QTRY_VERIFY_WITH_TIMEOUT(queue->waiting() >= 5, E2e::Deadline);
        QCOMPARE(queue->fault(), SampleQueue::Fault::Locked);
        QVERIFY(window->link()->counters().sent >= sentAtLock + 5); // the link kept its pace
        QVERIFY(lock.exec(QStringLiteral("commit")));
        QTRY_COMPARE_WITH_TIMEOUT(queue->waiting(), 0, E2e::Deadline);
        window->on_monitorBtn_clicked();
        lock = QSqlQuery();
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));

        const qint64 answers = qint64(window->link()->counters().taken) - 1; // less the identity answer
        QTRY_COMPARE_WITH_TIMEOUT(storedRows() - before, answers, E2e::Deadline);
        QSqlQuery order(db);
        QVERIFY(order.exec(QStringLiteral("select count(*) from total a join total b on b.id=a.id+1 where b.time<a.time")));
        QVERIFY(order.next());
        QCOMPARE(order.value(0).toInt(), 0);
        QVERIFY(e.boxes.isEmpty());
    }
};

QTEST_MAIN(TestE2eFaults)
#include "tst_e2e_faults.moc"
