// The tool's serial link end to end: the main window polls the BMS simulator
// over a pseudo-terminal, once a second, as it would a pack on RS485. The
// cases follow what the window shows and logs: the request sequence, the
// link going offline and coming back, and which spoilt answers are dropped.

#include "app/dialogs.h"
#include "app/mainwindow.h"
#include "link/frames.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/bmsmonitoring.h"
#include "support/simprocess.h"
#include "support/testenv.h"

#include <QLineEdit>
#include <QtTest>
#include <memory>

namespace {

const QString Out = QStringLiteral("OUT→◇");
const QString In = QStringLiteral("IN←◆");
// One poll tick is a second; these leave room for a loaded machine.
constexpr int Deadline = 20000;
constexpr int LongDeadline = 30000;

QString outLine(const QByteArray &frame)
{
    return Out + Frames::hexText(frame);
}

// Bytes of a logged line ("IN←◆01 03 ..." holds (length + 1) / 3 bytes).
int lineBytes(const QString &line)
{
    const int prefix = line.startsWith(Out) ? Out.size() : In.size();
    return (line.size() - prefix + 1) / 3;
}

QStringList repeated(const QString &line, int times)
{
    QStringList all;
    for (int i = 0; i < times; ++i)
        all << line;
    return all;
}

QVector<quint16> monitorRegisters()
{
    const quint16 *image = liveData().registerImage;
    return QVector<quint16>(image + Reg::MonitorStart, image + Reg::MonitorStart + Reg::MonitorCount);
}

} // namespace

class TstE2eLink : public QObject
{
    Q_OBJECT

    SimProcess m_sim;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_boxes;

    // Starts the simulator with `arguments` and lets the window monitor it
    // at slave address `address`.
    bool startLink(const QStringList &arguments, int address = 1)
    {
        if (!m_sim.start(arguments)) {
            qWarning("%s", qPrintable(m_sim.errorString()));
            return false;
        }
        m_window = std::make_unique<MainWindow>();
        m_window->setSlaveAddress(address);
        m_window->setPortName(m_sim.deviceName());
        m_window->on_monitorBtn_clicked();
        return m_window->isMonitoring();
    }

    QStringList lines() const
    {
        QStringList all;
        const CommLog &log = m_window->commLog();
        for (qint64 i = 0; i < log.lineCount(); ++i)
            all << log.line(i);
        return all;
    }
    QStringList linesOf(const QString &prefix) const
    {
        QStringList found;
        for (const QString &line : lines())
            if (line.startsWith(prefix))
                found << line;
        return found;
    }
    int count(const QString &prefix) const { return linesOf(prefix).size(); }
    QString comState() const
    {
        auto *field = m_window->monitoringPage()->findChild<QLineEdit *>(QStringLiteral("com_state"));
        return field ? field->text() : QStringLiteral("(no com_state)");
    }
    // The log lines after the last IN line.
    QStringList afterLastIn() const
    {
        const QStringList all = lines();
        int last = -1;
        for (int i = 0; i < all.size(); ++i)
            if (all[i].startsWith(In))
                last = i;
        return all.mid(last + 1);
    }

private slots:
    void initTestCase()
    {
        TestEnv::openFreshDatabases();
        // Any box the link opens is an answer the test did not expect.
        Dialogs::setHook([this](const Dialogs::Request &request, QString *) {
            m_boxes << request.title + QStringLiteral(": ") + request.text;
            return int(QMessageBox::Ok);
        });
    }

    void init()
    {
        TestEnv::resetLiveData();
        m_boxes.clear();
    }

    void cleanup()
    {
        if (m_window && m_window->isMonitoring())
            m_window->on_monitorBtn_clicked();
        m_window.reset();
        m_sim.stop();
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
    }

    void cleanupTestCase() { Dialogs::clearHook(); }

    void pollsGoOfflineAndComeBack();
    void answersAccepted_data();
    void answersAccepted();
    void answersDropped_data();
    void answersDropped();
};

void TstE2eLink::pollsGoOfflineAndComeBack()
{
    const QString identity = outLine(Frames::identityRead(1));
    const QString monitor = outLine(Frames::monitorRead(1));
    QCOMPARE(identity, QStringLiteral("OUT→◇01 03 00 69 00 17 D5 D8"));
    QCOMPARE(monitor, QStringLiteral("OUT→◇01 03 00 00 00 27 05 D0"));
    QVERIFY(startLink({}));

    // One identity read, then monitoring reads, each answered.
    QTRY_VERIFY_WITH_TIMEOUT(count(In) >= 2, Deadline);
    QStringList log = lines();
    QCOMPARE(log[0], identity);
    QVERIFY2(log[1].startsWith(In + QStringLiteral("01 03 2E")), qPrintable(log[1]));
    QCOMPARE(log[2], monitor);
    QVERIFY2(log[3].startsWith(In + QStringLiteral("01 03 4E")), qPrintable(log[3]));
    QCOMPARE(lineBytes(log[3]), 83);
    QCOMPARE(comState(), QStringLiteral("Online"));
    QCOMPARE(modelText(), QStringLiteral("PS16S-100AH"));
    QCOMPARE(versionText(), QStringLiteral("V1.2.0"));
    QCOMPARE(serialText(), QStringLiteral("PS2026120600001"));
    QCOMPARE(cellCount(), 16);

    // The pack's values move from one answer to the next.
    const QVector<quint16> first = monitorRegisters();
    QTRY_VERIFY_WITH_TIMEOUT(monitorRegisters() != first, Deadline);
    QVERIFY(m_window->unansweredCount() <= 1);

    // A silent BMS: five requests go unanswered, the sixth tick sends
    // nothing and shows the link offline, the next starts over with the
    // identity read.
    QVERIFY(m_sim.send(QStringLiteral("silent on")));
    QTRY_COMPARE_WITH_TIMEOUT(comState(), QStringLiteral("Offline"), LongDeadline);
    QVERIFY(afterLastIn().size() <= 6);
    QTRY_VERIFY_WITH_TIMEOUT(afterLastIn().size() >= 6, Deadline);
    const QStringList unanswered = afterLastIn();
    QCOMPARE(unanswered.mid(0, 5), repeated(monitor, 5));
    QCOMPARE(unanswered[5], identity);

    // The BMS speaks again: the identity answer brings the link back and
    // the monitoring reads resume.
    QVERIFY(m_sim.send(QStringLiteral("silent off")));
    QTRY_COMPARE_WITH_TIMEOUT(comState(), QStringLiteral("Online"), Deadline);
    const int inBefore = count(In);
    QTRY_VERIFY_WITH_TIMEOUT(count(In) >= inBefore + 2, Deadline);
    QVERIFY(linesOf(Out).filter(identity).size() >= 2);
    QCOMPARE(linesOf(Out).last(), monitor);
    QVERIFY(m_window->unansweredCount() <= 1);
    QVERIFY(m_window->isMonitoring());
}

void TstE2eLink::answersAccepted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("address");
    QTest::newRow("slave address 5") << QStringList{"--address", "5", "--serial", "SIM-ADDRESS-5"} << 5;
    // Pieces 5 ms apart are one answer: the frame ends after 20 ms of silence.
    QTest::newRow("answers in pieces 5 ms apart")
        << QStringList{"--split-gap", "5", "--serial", "SIM-SPLIT"} << 1;
}

void TstE2eLink::answersAccepted()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, address);
    QVERIFY(startLink(arguments, address));

    // The identity answer and at least one monitoring answer were taken.
    QTRY_VERIFY_WITH_TIMEOUT(comState() == QStringLiteral("Online") && cellCount() == 16, Deadline);
    QCOMPARE(serialText(), arguments.last());

    const QStringList log = lines();
    QCOMPARE(log.first(), outLine(Frames::identityRead(quint8(address))));
    const QString monitor = outLine(Frames::monitorRead(quint8(address)));
    if (address == 5)
        QCOMPARE(monitor, QStringLiteral("OUT→◇05 03 00 00 00 27 04 54"));
    QVERIFY(log.contains(monitor));
    const QString ownAddress = QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper();
    for (const QString &line : log) {
        QVERIFY2(line.startsWith(Out + ownAddress) || line.startsWith(In + ownAddress), qPrintable(line));
        // Every answer is logged whole, never in pieces.
        if (line.startsWith(In))
            QVERIFY2(lineBytes(line) == 51 || lineBytes(line) == 83, qPrintable(line));
    }
}

void TstE2eLink::answersDropped_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("logged");
    QTest::addColumn<int>("extraBytes");
    // Taken whole and logged, then refused by the CRC check.
    QTest::newRow("bad CRC") << QStringList{"--bad-crc", "1"} << true << 0;
    // One byte too many: logged, then refused by the length check.
    QTest::newRow("stray byte") << QStringList{"--stray", "1"} << true << 1;
    // Not for the selected address: neither taken nor logged.
    QTest::newRow("wrong address") << QStringList{"--wrong-address", "1"} << false << 0;
    // Pieces 60 ms apart: each one an incomplete answer, none logged.
    QTest::newRow("answers in pieces 60 ms apart") << QStringList{"--split-gap", "60"} << false << 0;
}

void TstE2eLink::answersDropped()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, logged);
    QFETCH(int, extraBytes);
    QVERIFY(startLink(arguments));

    // Three requests out, and the answers to the first two have long been
    // on the line by the time the third goes.
    QTRY_VERIFY_WITH_TIMEOUT(count(Out) >= 3 && (!logged || count(In) >= 2), Deadline);
    const QStringList requests = linesOf(Out);
    const QStringList received = linesOf(In);
    const int sent = requests.size();

    // Nothing was accepted: the identity read is repeated, unanswered.
    QCOMPARE(requests, repeated(outLine(Frames::identityRead(1)), sent));
    QCOMPARE(int(m_window->unansweredCount()), sent);
    QVERIFY(comState() != QStringLiteral("Online"));
    QCOMPARE(modelText(), QString());

    if (logged) {
        QVERIFY(received.size() == sent || received.size() == sent - 1);
        for (const QString &line : received) {
            QVERIFY2(line.startsWith(In + QStringLiteral("01 03 2E")), qPrintable(line));
            QCOMPARE(lineBytes(line), 51 + extraBytes);
        }
    } else {
        QCOMPARE(received, QStringList());
    }
}

QTEST_MAIN(TstE2eLink)
#include "tst_e2e_link.moc"
