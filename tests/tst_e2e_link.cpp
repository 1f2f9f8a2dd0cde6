// The serial link end to end: the main window polls the BMS simulator on a pseudo-terminal
// once a second: the request sequence, going offline and back, which spoilt answers are dropped.
#include "gui/dialogs.h"
#include "app/mainwindow.h"
#include "link/frames.h"
#include "model/monitordata.h"
#include "pages/bmsmonitoring.h"
#include "support/simprocess.h"
#include "support/testenv.h"
#include <QLineEdit>
#include <QtTest>
#include <memory>

namespace {
const QString Out = QStringLiteral("OUT→◇"), In = QStringLiteral("IN←◆");
constexpr int Deadline = 20000, LongDeadline = 30000; // a tick is a second; room for a loaded machine
QString outLine(const QByteArray &frame) { return Out + Frames::hexText(frame); }
// Bytes of a logged line ("IN←◆01 03 ..." holds (length + 1) / 3 bytes).
int lineBytes(const QString &line) { return (line.size() - (line.startsWith(Out) ? Out : In).size() + 1) / 3; }
QStringList repeated(const QString &line, int times) { return QVector<QString>(times, line).toList(); }
QByteArray monitorRegisters() { return QByteArray(reinterpret_cast<const char *>(liveData().registerImage), 78); }
} // namespace

class TstE2eLink : public QObject
{
    Q_OBJECT
    SimProcess m_sim;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_boxes;

    // Starts the simulator with `arguments` and lets the window monitor it at `address`.
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
        for (qint64 i = 0; i < m_window->commLog().lineCount(); ++i)
            all << m_window->commLog().line(i);
        return all;
    }
    QStringList linesOf(const QString &prefix) const { return lines().filter(prefix); } // prefixes only begin lines
    int count(const QString &prefix) const { return linesOf(prefix).size(); }
    QString comState() const
    {
        auto *field = m_window->monitoringPage()->findChild<QLineEdit *>(QStringLiteral("com_state"));
        return field ? field->text() : QStringLiteral("(no com_state)");
    }
    QStringList afterLastIn() const { return lines().mid(lines().lastIndexOf(QRegularExpression(In + ".*")) + 1); }
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
    void init() { TestEnv::resetLiveData(); m_boxes.clear(); }
    void cleanup()
    {
        if (m_window && m_window->isMonitoring())
            m_window->on_monitorBtn_clicked();
        m_window.reset();
        m_sim.stop();
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
    }
    void cleanupTestCase() { Dialogs::clearHook(); }
    void pollsGoOfflineAndComeBack()
    {
        const QString identity = QStringLiteral("OUT→◇01 03 00 69 00 17 D5 D8");
        const QString monitor = QStringLiteral("OUT→◇01 03 00 00 00 27 05 D0");
        QVERIFY(startLink({}));
        // One identity read, then monitoring reads, each answered.
        QTRY_VERIFY_WITH_TIMEOUT(count(In) >= 2, Deadline);
        const QStringList log = lines();
        QCOMPARE(log[0], identity);
        QVERIFY2(log[1].startsWith(In + QStringLiteral("01 03 2E")), qPrintable(log[1]));
        QCOMPARE(log[2], monitor);
        QVERIFY2(log[3].startsWith(In + QStringLiteral("01 03 4E")) && lineBytes(log[3]) == 83, qPrintable(log[3]));
        QCOMPARE(comState(), QStringLiteral("Online"));
        QCOMPARE(modelText() + versionText() + serialText(), QStringLiteral("PS16S-100AHV1.2.0PS2026120600001"));
        QCOMPARE(cellCount(), 16);
        const QByteArray first = monitorRegisters(); // the pack's values move
        QTRY_VERIFY_WITH_TIMEOUT(monitorRegisters() != first, Deadline);
        QVERIFY(m_window->unansweredCount() <= 1);

        // A silent BMS: five requests go unanswered, the sixth tick sends
        // nothing and shows the link offline, the next sends the identity read.
        QVERIFY(m_sim.send(QStringLiteral("silent on")));
        QTRY_COMPARE_WITH_TIMEOUT(comState(), QStringLiteral("Offline"), LongDeadline);
        QVERIFY(afterLastIn().size() <= 6);
        QTRY_VERIFY_WITH_TIMEOUT(afterLastIn().size() >= 6, Deadline);
        QCOMPARE(afterLastIn().mid(0, 6), repeated(monitor, 5) << identity);

        // The BMS speaks again: the identity answer brings the link back and
        // the monitoring reads resume.
        QVERIFY(m_sim.send(QStringLiteral("silent off")));
        QTRY_COMPARE_WITH_TIMEOUT(comState(), QStringLiteral("Online"), Deadline);
        const int inBefore = count(In);
        QTRY_VERIFY_WITH_TIMEOUT(count(In) >= inBefore + 2, Deadline);
        QVERIFY(linesOf(Out).filter(identity).size() >= 2);
        QCOMPARE(linesOf(Out).last(), monitor);
        QVERIFY(m_window->unansweredCount() <= 1 && m_window->isMonitoring());
    }
    void answersAccepted_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("monitor");
        QTest::newRow("slave address 5") << QStringList{"--address", "5", "--serial", "SIM-ADDRESS-5"} << 5
                                         << QStringLiteral("OUT→◇05 03 00 00 00 27 04 54");
        // Pieces 5 ms apart are one answer: the frame ends after 20 ms of silence.
        QTest::newRow("answers in pieces 5 ms apart") << QStringList{"--split-gap", "5", "--serial", "SIM-SPLIT"} << 1
                                                      << QStringLiteral("OUT→◇01 03 00 00 00 27 05 D0");
    }
    void answersAccepted()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, address);
        QFETCH(QString, monitor);
        QVERIFY(startLink(arguments, address));
        QTRY_VERIFY_WITH_TIMEOUT(comState() == QStringLiteral("Online") && cellCount() == 16, Deadline);
        QCOMPARE(serialText(), arguments.last());
        const QStringList log = lines();
        QCOMPARE(log.first(), outLine(Frames::identityRead(quint8(address))));
        QVERIFY(log.contains(monitor));
        const QString own = QString::asprintf("%02X", address);
        for (const QString &line : log) {
            QVERIFY2(line.startsWith(Out + own) || line.startsWith(In + own), qPrintable(line));
            if (line.startsWith(In)) // every answer logged whole, never in pieces
                QVERIFY2(lineBytes(line) == 51 || lineBytes(line) == 83, qPrintable(line));
        }
    }
    void answersDropped_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("logged");
        QTest::addColumn<int>("extraBytes");
        // Taken whole and logged, then refused by the CRC or the length check.
        QTest::newRow("bad CRC") << QStringList{"--bad-crc", "1"} << true << 0;
        QTest::newRow("stray byte") << QStringList{"--stray", "1"} << true << 1;
        // Not for the selected address, or each piece an incomplete answer: never logged.
        QTest::newRow("wrong address") << QStringList{"--wrong-address", "1"} << false << 0;
        QTest::newRow("answers in pieces 60 ms apart") << QStringList{"--split-gap", "60"} << false << 0;
    }
    void answersDropped()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, logged);
        QFETCH(int, extraBytes);
        QVERIFY(startLink(arguments));
        // Three requests out: the answers to the first two have long been on the line.
        QTRY_VERIFY_WITH_TIMEOUT(count(Out) >= 3 && (!logged || count(In) >= 2), Deadline);
        const QStringList requests = linesOf(Out), received = linesOf(In);
        const int sent = requests.size();
        // Nothing was accepted: the identity read is repeated, unanswered.
        QCOMPARE(requests, repeated(outLine(Frames::identityRead(1)), sent));
        QCOMPARE(int(m_window->unansweredCount()), sent);
        QVERIFY(comState() != QStringLiteral("Online"));
        QCOMPARE(modelText(), QString());
        QVERIFY(logged ? received.size() == sent || received.size() == sent - 1 : received.isEmpty());
        for (const QString &line : received) {
            QVERIFY2(line.startsWith(In + QStringLiteral("01 03 2E")), qPrintable(line));
            QCOMPARE(lineBytes(line), 51 + extraBytes);
        }
    }
};
QTEST_MAIN(TstE2eLink)
#include "tst_e2e_link.moc"
