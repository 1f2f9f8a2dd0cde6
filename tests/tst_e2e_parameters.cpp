// The parameter page end to end against the BMS simulator on a pseudo-terminal:
// Read, Write and Restore change exactly what they should in the pack, refused
// texts send nothing, and spoilt acknowledgements end visibly or not at all.
#include "gui/dialogs.h"
#include "app/mainwindow.h"
#include "model/livedata.h"
#include "pages/presetparameters.h"
#include "support/simprocess.h"
#include "support/testenv.h"
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

namespace {
constexpr int Deadline = 30000; // ticks of half a second; room for a loaded machine
const QString Out = QStringLiteral("OUT→◇");
const QString Success = QStringLiteral("successful: Parameter modification was successful!!!");
const QString Failure = QStringLiteral("error: Parameter modification was failed!!!");
// Seconds between the pack's clock (registers 45, 46) and the PC's.
qint64 clockOffset(const QVector<quint16> &clock)
{
    const quint32 c = quint32(clock.value(0)) << 16 | clock.value(1);
    const QDateTime t(QDate(int(c >> 26) + 2000, int(c >> 22 & 15), int(c >> 17 & 31)),
                      QTime(int(c >> 12 & 31), int(c >> 6 & 63), int(c & 63)));
    return t.isValid() ? qAbs(t.secsTo(QDateTime::currentDateTime())) : 1000000;
}
} // namespace

class TstE2eParameters : public QObject
{
    Q_OBJECT
    SimProcess m_sim;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_boxes;

    PresetParameters *page() const { return m_window->parameterPage(); }
    QPushButton *button(const char *name) const { return page()->findChild<QPushButton *>(QLatin1String(name)); }
    void tick(const char *group) { page()->findChild<QCheckBox *>(QLatin1String(group))->setChecked(true); }

    bool startLink(const QStringList &arguments)
    {
        if (!m_sim.start(arguments)) {
            qWarning("%s", qPrintable(m_sim.errorString()));
            return false;
        }
        m_window = std::make_unique<MainWindow>();
        m_window->setPollInterval(500);
        m_window->setPortName(m_sim.deviceName());
        m_window->on_monitorBtn_clicked();
        return QTest::qWaitFor([this] { return button("set")->isEnabled(); }, Deadline);
    }
    // Register numbers of the write frames sent, in order.
    QList<int> writesSent() const
    {
        QList<int> regs;
        for (qint64 i = 0; i < m_window->commLog().lineCount(); ++i) {
            const QString line = m_window->commLog().line(i);
            if (line.startsWith(Out + QStringLiteral("01 10 00 ")))
                regs << line.mid(Out.size() + 9, 2).toInt(nullptr, 16);
        }
        return regs;
    }
    bool read()
    {
        QSignalSpy shown(page(), &PresetParameters::parametersShown);
        button("collect")->click();
        return shown.wait(Deadline);
    }
    QString text(const char *field) const { return page()->field(QLatin1String(field))->text(); }

private slots:
    void initTestCase()
    {
        TestEnv::openFreshDatabases();
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
    }
    void cleanupTestCase() { Dialogs::clearHook(); }

    // Read fills every field; a refused text sends nothing; Write changes
    // exactly the ticked registers, in chain order, then reads them back.
    void readRefuseWrite()
    {
        QVERIFY(startLink({}));
        QVERIFY(read());
        QCOMPARE(QStringList({text("COVW"), text("OVP"), text("LD"), text("UCTP"), text("ODTR"), text("BALANCE_OPEN_V")}),
                 QStringList({"3.800", "60.00", "200.00", "-5", "65", "3.400"}));
        QCOMPARE(page()->findChildren<QLineEdit *>().size(), 53);
        for (QLineEdit *e : page()->findChildren<QLineEdit *>())
            QVERIFY2(!e->text().isEmpty(), qPrintable(e->objectName()));
        QVERIFY(clockOffset(m_sim.registers(45, 2)) <= 5);
        const QVector<quint16> before = m_sim.registers(47, 89);

        tick("OV");
        tick("BALANCE");
        page()->field("OVW")->setText("70000");
        button("set")->click();
        QCOMPARE(m_boxes, QStringList("Warning: Pack OV Warn \"70000\": too large for its register. Nothing was sent."));
        QTest::qWait(1200);
        QCOMPARE(writesSent(), QList<int>());
        QCOMPARE(m_sim.registers(47, 89), before);

        m_boxes.clear();
        page()->field("OVW")->setText("58.5");
        page()->field("OVP")->setText("59.005"); // a half goes up
        page()->field("LOW_CAP")->setText("12");
        page()->field("COVW")->setText("4.2"); // not ticked: not written
        button("set")->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes, QStringList(Success), Deadline);
        QCOMPARE(writesSent(), QList<int>({70, 71, 72, 56, 57, 58}));
        QVector<quint16> expected = before;
        expected[70 - 47] = 5850;
        expected[71 - 47] = 5901;
        expected[58 - 47] = 12;
        QCOMPARE(m_sim.registers(47, 89), expected);
        // The read that follows the sequence shows what the pack holds.
        QTRY_COMPARE_WITH_TIMEOUT(text("OVP"), QStringLiteral("59.01"), Deadline);
        QCOMPARE(text("COVW"), QStringLiteral("3.800"));
        QVERIFY(!page()->waitBox()->isVisible());
    }

    // Restore with only TIME_SET ticked sets the pack's clock to the PC's
    // and leaves every other register alone.
    void restoreClockOnly()
    {
        QVERIFY(startLink({}));
        const QVector<quint16> before = m_sim.registers(47, 89);
        // Put the pack's clock a year off first, through a Write.
        tick("TIME_SET");
        page()->field("BMS_TIME")->setText("2025-01-02 03:04:05");
        button("set")->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes, QStringList(Success), Deadline);
        QVERIFY(clockOffset(m_sim.registers(45, 2)) > 3600);
        m_boxes.clear();
        button("factory_reset")->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes, QStringList(Success), Deadline);
        QCOMPARE(writesSent(), QList<int>({45, 45}));
        QVERIFY(clockOffset(m_sim.registers(45, 2)) <= 5);
        QCOMPARE(m_sim.registers(47, 89), before);
    }

    // A write whose acknowledgement never comes, or echoes another
    // register, is sent three times, then the failure box says so.
    void unacknowledgedWriteFails_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("never acknowledged") << "--write-no-ack";
        QTest::newRow("wrong register echoed") << "--wrong-echo";
    }
    void unacknowledgedWriteFails()
    {
        QFETCH(QString, fault);
        QVERIFY(startLink({fault}));
        tick("BALANCE");
        page()->field("BALANCE_OPEN_V")->setText("3.5");
        page()->field("BALANCE_OPEN_V_DELTA")->setText("30");
        page()->field("LOW_CAP")->setText("5");
        button("set")->click();
        QVERIFY(page()->waitBox()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes, QStringList(Failure), Deadline);
        QVERIFY(!page()->waitBox()->isVisible());
        QCOMPARE(writesSent(), QList<int>({56, 56, 56}));
        QCOMPARE(liveData().nextRequest, quint16(MonitorRead));
        QTest::qWait(1200);
        QCOMPARE(writesSent().size(), 3);
    }

    // Every acknowledgement comes twice: each register is still sent once,
    // the clock last, and success is reported once.
    void duplicatedAcknowledgements()
    {
        QVERIFY(startLink({"--ack-twice"}));
        tick("BALANCE");
        tick("TIME_SET");
        page()->field("BALANCE_OPEN_V")->setText("3.35");
        page()->field("BALANCE_OPEN_V_DELTA")->setText("25");
        page()->field("LOW_CAP")->setText("20");
        page()->field("BMS_TIME")->setText(PresetParameters::formatClock(QDateTime::currentDateTime()));
        button("set")->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes, QStringList(Success), Deadline);
        QCOMPARE(writesSent(), QList<int>({56, 57, 58, 45}));
        QCOMPARE(m_sim.registers(56, 3), QVector<quint16>({3350, 25, 20}));
        QVERIFY(clockOffset(m_sim.registers(45, 2)) <= 5);
    }
};

QTEST_MAIN(TstE2eParameters)
#include "tst_e2e_parameters.moc"
