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
#include <utility>

namespace {
// CPU seconds this process used over `ms` of waiting (events processed).
double cpuSecondsOver(int ms)
{
    rusage u[2]{};
    getrusage(RUSAGE_SELF, &u[0]);
    QTest::qWait(ms);
    getrusage(RUSAGE_SELF, &u[1]);
    auto s = [](const rusage &r) { return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6; };
    return s(u[1]) - s(u[0]);
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
QStringList expectedNumbers(const QByteArray &frame)
{
    auto reg = [&frame](int r) { return quint16(quint8(frame[3 + 2 * r]) << 8 | quint8(frame[4 + 2 * r])); };
    const quint16 status = reg(25);
    QVector<qint64> v{status & 0xF, status >> 15, reg(26), reg(27), reg(28), reg(29), qint16(reg(1)), reg(22),
                      reg(0), reg(24), reg(23), qint16(reg(18)), qint16(reg(19)), reg(20),
                      qint8(reg(33) >> 8), qint8(reg(33) & 0xFF), qint8(reg(34) >> 8), qint8(reg(34) & 0xFF)};
    for (int k = 0; k < 16; ++k)
        v << reg(2 + k);
    v << reg(37) << reg(21);
    QStringList texts;
    for (qint64 n : v)
        texts << QString::number(n);
    return texts;
}

} // namespace

class TestE2eFaults : public QObject
{
    Q_OBJECT
    E2e e;

private slots:
    void cleanup()
    {
        QVERIFY2(e.boxes.isEmpty(), qPrintable(e.boxes.join('\n')));
        e.reset();
    }

    // Read-only, then locked by another connection: polling goes on, samples
    // wait, the status bar says why, and afterwards there is one row per
    // logged monitoring answer with its values, in order (a quote in the
    // model text stored as it is). Answers come in pieces 5 ms apart: each
    // is still one answer, the frame ending after 20 ms of silence.
    void databaseFaultsLoseNoSample()
    {
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("connection1"));
        db.close();
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
        QVERIFY(e.monitor({"--split-gap", "5", "--model", "O'Neill 16S 280Ah", "--version-text", "V2.7", "--serial",
                           "SN-HIST-0007"}, 200));
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

        {
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
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        window->on_monitorBtn_clicked(); // stop; an answer still on its way is not read
        e.sim.stop();

        const QList<QByteArray> answers = monitoringAnswers(e.linesOf(E2e::In));
        QTRY_COMPARE_WITH_TIMEOUT(queue->waiting(), 0, E2e::Deadline);
        QCOMPARE(window->historyPage()->model()->rowCount(), answers.size());
        QSqlQuery q(db);
        QVERIFY(q.exec(RecordTable::history().selectList() + QStringLiteral(" order by id")));
        const QRegularExpression clock(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
        QString previousTime;
        for (int row = 0; row < answers.size(); ++row) {
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toLongLong(), qint64(row + 1));
            const QString time = q.value(1).toString();
            QVERIFY2(clock.match(time).hasMatch() && time >= previousTime, qPrintable(time));
            previousTime = time;
            QStringList stored;
            for (int c = 2; c <= 40; ++c)
                stored << q.value(c).toString();
            QCOMPARE(stored.join(' '), (expectedNumbers(answers.at(row)) << "O'Neill 16S 280Ah" << "V2.7" << "SN-HIST-0007").join(' '));
        }
        QVERIFY(!q.next());
    }

    // The device is a symbolic link, as /dev/serial/by-id/... is: pulled out,
    // the tool warns once and idles; put back, monitoring resumes by itself.
    void unpluggedAdapterIsRecovered()
    {
        QTemporaryDir dir;
        QVERIFY(e.monitor({"--link", dir.filePath(QStringLiteral("ttyBMS"))}, 200));
        MainWindow *window = e.window.get();
        auto rows = [window] { return window->historyPage()->model()->rowCount(); };
        QTRY_VERIFY_WITH_TIMEOUT(rows() >= 2, E2e::Deadline);
        const double monitoring = cpuSecondsOver(3000);

        QVERIFY(e.sim.send(QStringLiteral("unplug")));
        QTRY_COMPARE_WITH_TIMEOUT(e.boxes.size(), 1, E2e::Deadline);
        QVERIFY2(e.boxes[0].startsWith("Warning: The port " + dir.filePath("ttyBMS") + " was lost: "), qPrintable(e.boxes[0]));
        QCOMPARE(e.comState(), QStringLiteral("Offline"));
        QVERIFY(window->isMonitoring() && window->link()->isWaitingForPort());
        const double unplugged = cpuSecondsOver(3000);
        QVERIFY2(unplugged <= 2 * monitoring + 0.2,
                 qPrintable(QStringLiteral("unplugged %1 s, monitoring %2 s").arg(unplugged).arg(monitoring)));

        const int before = rows();
        QVERIFY(e.sim.send(QStringLiteral("replug")));
        QTRY_VERIFY_WITH_TIMEOUT(e.comState() == QStringLiteral("Online") && rows() > before, E2e::Deadline);
        QCOMPARE(std::exchange(e.boxes, {}).size(), 1); // one warning in all
        window->on_monitorBtn_clicked(); // Stop always stops
        QVERIFY(!window->isMonitoring() && !window->link()->isWaitingForPort());
    }

    // Every read refused: offline after five, never the parameter-write box (no box at all).
    void refusedIdentityRead()
    {
        QVERIFY(e.monitor({"--read-exception"}, 100));
        QTRY_VERIFY_WITH_TIMEOUT(e.window->link()->counters().exceptions >= 6, E2e::Deadline);
        QCOMPARE(e.comState(), QStringLiteral("Offline"));
        QCOMPARE(liveData().nextRequest, quint16(IdentityRead));
    }
};

QTEST_MAIN(TestE2eFaults)
#include "tst_e2e_faults.moc"
