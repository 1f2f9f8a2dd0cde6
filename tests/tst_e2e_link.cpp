// The link end to end against the simulator: the page, the request sequence, offline and
// back, spoilt and refused answers, an unplugged adapter, a read-only or locked database.
#include "protocol/crc16.h"
#include "model/monitordata.h"
#include "pages/bmsmonitoring.h"
#include "pages/historymonitoring.h"
#include "store/recordtablemodel.h"
#include "store/samplequeue.h"
#include "support/e2e.h"
#include "support/helpers.h"

#include <QLabel>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/resource.h>
#include <utility>

namespace {
const QString &Out = E2e::Out, &In = E2e::In;
// Bytes of a logged line ("IN←◆01 03 ..." holds (length + 1) / 3 bytes).
int lineBytes(const QString &line) { return (line.size() - (line.startsWith(Out) ? Out : In).size() + 1) / 3; }
QString volts(quint16 v, int scale) { return QString::asprintf(scale == 100 ? "%d.%02d" : "%d.%03d", v / scale, v % scale); }
QStringList repeated(const QString &line, int times) { return QVector<QString>(times, line).toList(); }

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

// For each logged monitoring answer (function 3, 78 data bytes, good CRC),
// the columns stored after the time, then `identity`.
QStringList expectedRows(const QStringList &received, const QString &identity)
{
    QStringList rows;
    for (const QString &line : received) {
        const QByteArray f = QByteArray::fromHex(line.mid(In.size()).toLatin1());
        if (f.size() != 83 || quint8(f[1]) != 3 || quint8(f[2]) != 78 || !crcMatches(f))
            continue;
        auto reg = [&f](int r) { return quint16(quint8(f[3 + 2 * r]) << 8 | quint8(f[4 + 2 * r])); };
        QVector<qint64> v{reg(25) & 0xF, reg(25) >> 15, reg(26), reg(27), reg(28), reg(29), qint16(reg(1)), reg(22),
                          reg(0), reg(24), reg(23), qint16(reg(18)), qint16(reg(19)), reg(20),
                          qint8(reg(33) >> 8), qint8(reg(33) & 0xFF), qint8(reg(34) >> 8), qint8(reg(34) & 0xFF)};
        for (int k = 0; k < 16; ++k)
            v << reg(2 + k);
        QStringList row;
        for (qint64 n : v << reg(37) << reg(21))
            row << QString::number(n);
        rows << row.join(' ') + ' ' + identity;
    }
    return rows;
}
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
        QVERIFY2(e.boxes.isEmpty(), qPrintable(e.boxes.join('\n'))); // no box is expected but where a test takes it
        e.reset();
    }
    // Read-only, then locked by another connection: polling goes on, samples
    // wait, the status bar says why, and afterwards there is one row per
    // logged monitoring answer with its values, in order (a quote in the
    // model text stored as it is; first, so ids start at 1). Answers come in
    // pieces 5 ms apart: each is still one answer, ended by 20 ms of silence.
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
        other.close();
        window->on_monitorBtn_clicked(); // stop; an answer still on its way is not read
        e.sim.stop();

        const QStringList expected = expectedRows(e.linesOf(In), QStringLiteral("O'Neill 16S 280Ah V2.7 SN-HIST-0007"));
        QTRY_COMPARE_WITH_TIMEOUT(queue->waiting(), 0, E2e::Deadline);
        QCOMPARE(window->historyPage()->model()->rowCount(), expected.size());
        QSqlQuery q(db);
        QVERIFY(q.exec(RecordTable::history().selectList() + QStringLiteral(" order by id")));
        const QRegularExpression clock(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
        for (int row = 0; row < expected.size(); ++row) {
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toLongLong(), qint64(row + 1));
            QVERIFY2(clock.match(q.value(1).toString()).hasMatch(), qPrintable(q.value(1).toString()));
            QStringList stored;
            for (int c = 2; c <= 40; ++c)
                stored << q.value(c).toString();
            QCOMPARE(stored.join(' '), expected.at(row));
        }
        QVERIFY(!q.next());
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
        QCOMPARE(QStringList({log[0], log[2]}), QStringList({identity, monitor}));
        QVERIFY2(log[1].startsWith(In + QStringLiteral("05 03 2E")) && lineBytes(log[1]) == 51, qPrintable(log[1]));
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
        QTRY_COMPARE_WITH_TIMEOUT(e.linesOf(Out).last(), monitor, E2e::Deadline);
        for (const QString &line : e.lines())
            QVERIFY2(line.startsWith(Out + "05") || line.startsWith(In + "05"), qPrintable(line));
    }
    // No answer is taken: each logged one starts with `received` and holds
    // `bytes` (0: none is logged). A refused read counts as unanswered and
    // never shows the parameter-write box.
    void answersDropped_data()
    {
        columns<QStringList, QString, int>("arguments", "received", "bytes");
        QTest::newRow("bad CRC") << QStringList{"--bad-crc", "1"} << "01 03 2E" << 51;
        QTest::newRow("stray byte") << QStringList{"--stray", "1"} << "01 03 2E" << 52;
        QTest::newRow("identity read refused") << QStringList{"--read-exception"} << "01 83 02 C0 F1" << 5;
        QTest::newRow("wrong address") << QStringList{"--wrong-address", "1"} << "" << 0;
        QTest::newRow("answers in pieces 60 ms apart") << QStringList{"--split-gap", "60"} << "" << 0;
    }
    void answersDropped()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, received);
        QFETCH(int, bytes);
        QVERIFY(e.monitor(arguments));
        QTRY_VERIFY_WITH_TIMEOUT(e.count(Out) >= 3 && e.count(In) >= (bytes ? 2 : 0), E2e::Deadline);
        const QStringList requests = e.linesOf(Out), answers = e.linesOf(In);
        const int sent = requests.size();
        QCOMPARE(requests, repeated(QStringLiteral("OUT→◇01 03 00 69 00 17 D5 D8"), sent));
        QCOMPARE(int(e.window->unansweredCount()), sent);
        QCOMPARE(e.comState(), QStringLiteral("Offline"));
        QVERIFY(bytes ? answers.size() == sent || answers.size() == sent - 1 : answers.isEmpty());
        for (const QString &line : answers)
            QVERIFY2(line.startsWith(In + received) && lineBytes(line) == bytes, qPrintable(line));
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
        QTRY_COMPARE_WITH_TIMEOUT(e.comState(), QStringLiteral("Online"), E2e::Deadline);
        QTRY_VERIFY_WITH_TIMEOUT(rows() > before, E2e::Deadline);
        QCOMPARE(std::exchange(e.boxes, {}).size(), 1); // one warning in all
        window->on_monitorBtn_clicked(); // Stop always stops
        QVERIFY(!window->isMonitoring() && !window->link()->isWaitingForPort());
    }
};
QTEST_MAIN(TstE2eLink)
#include "tst_e2e_link.moc"
