// The whole window against the BMS simulator over a pseudo-terminal: what a
// technician sees within a few ticks of pressing "Start Monitoring".
#include "gui/dialogs.h"
#include "app/mainwindow.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "pages/bmsmonitoring.h"
#include "support/simprocess.h"
#include "support/testenv.h"

#include <QLineEdit>
#include <QtTest>

class TestE2eWindow : public QObject
{
    Q_OBJECT

    static QString field(QWidget *page, const QString &name)
    {
        auto *edit = page->findChild<QLineEdit *>(name);
        return edit ? edit->text() : QStringLiteral("<missing %1>").arg(name);
    }

private slots:
    void initTestCase()
    {
        TestEnv::openFreshDatabases();
        Dialogs::setHook([](const Dialogs::Request &r, QString *) {
            qWarning() << "unexpected box" << r.title << r.text;
            return int(QMessageBox::Ok);
        });
    }

    void realTimePageShowsTheSimulatedPack()
    {
        TestEnv::resetLiveData();
        SimProcess sim;
        QVERIFY2(sim.start({"--model", "PSX-16S 280Ah", "--version-text", "V3.1", "--serial", "SN-E2E-0042"}),
                 qPrintable(sim.errorString()));
        MainWindow w;
        w.setPortName(sim.deviceName());
        w.on_monitorBtn_clicked();
        QVERIFY(w.isMonitoring());

        BmsMonitoring *page = w.monitoringPage();
        QTRY_COMPARE_WITH_TIMEOUT(field(page, "com_state"), QStringLiteral("Online"), 20000);
        QCOMPARE(field(page, "model"), QStringLiteral("PSX-16S 280Ah"));
        QCOMPARE(field(page, "ver"), QStringLiteral("V3.1"));
        QCOMPARE(field(page, "serial_num"), QStringLiteral("SN-E2E-0042"));

        // After a monitoring answer every cell shows the voltage the
        // simulator served, in volts with three decimals.
        QTRY_VERIFY_WITH_TIMEOUT(!field(page, "cell_16").isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(field(page, "vol") == fixedPoint(liveData().registerImage[Reg::TotalVoltage], 2), 5000);
        for (int i = 0; i < 16; ++i) {
            const quint16 mv = liveData().registerImage[Reg::CellVoltage + i];
            QVERIFY2(mv > 2500 && mv < 4000, qPrintable(QString::number(mv)));
            QCOMPARE(field(page, QStringLiteral("cell_%1").arg(i + 1)), fixedPoint(mv, 3));
        }
        QCOMPARE(field(page, "cell_num"), QStringLiteral("16"));

        // The log holds the requests and the answers in order.
        const CommLog &log = w.commLog();
        QVERIFY(log.lineCount() >= 4);
        QCOMPARE(log.line(0), QStringLiteral("OUT→◇01 03 00 69 00 17 D5 D8"));
        QVERIFY(log.line(1).startsWith(QStringLiteral("IN←◆01 03 2E ")));
        QCOMPARE(log.line(2), QStringLiteral("OUT→◇01 03 00 00 00 27 05 D0"));
        QVERIFY(log.line(3).startsWith(QStringLiteral("IN←◆01 03 4E ")));
        w.on_monitorBtn_clicked();
    }
};

QTEST_MAIN(TestE2eWindow)
#include "tst_e2e_window.moc"
