// The main window: texts, stored choices, an unopenable port, the dispatcher over a pseudo-terminal.
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/bmsdatalog.h"
#include "pages/bmsmonitoring.h"
#include "pages/historymonitoring.h"
#include "pages/pandidrw.h"
#include "pages/presetparameters.h"
#include "pages/trendpage.h"
#include "support/e2e.h"
#include "support/fakebms.h"
#include "support/helpers.h"

#include <QtTest>
#include <QtWidgets>

class TestMainWindow : public QObject
{
    Q_OBJECT

    E2e e;
    QList<Dialogs::Request> &boxes = e.requests;

    // Monitoring with the identity read answered: monitoring reads follow.
    void goOnline(MainWindow &w, FakeBms &bms)
    {
        QVERIFY(bms.open());
        w.setPortName(bms.deviceName());
        w.on_monitorBtn_clicked();
        QCOMPARE(bms.waitForBytes(8), hex("010300690017D5D8"));
        bms.writeRaw(readAnswer(1, QVector<quint16>(Reg::IdentityCount, 0x5053))); // "PSPS…"
        QCOMPARE(bms.waitForBytes(8), hex("010300000027 05D0"));
    }
    // The parameter page writes the clock 2026-12-13 09:43:53.
    void writeInFlight(MainWindow &w, FakeBms &bms)
    {
        PresetParameters *page = w.parameterPage();
        child<QCheckBox>(page, "TIME_SET")->setChecked(true);
        page->field(QStringLiteral("BMS_TIME"))->setText(QStringLiteral("2026-12-13 09:43:53"));
        QVERIFY(page->startWrite());
        // The pack's parameters are read first, for the rules.
        QCOMPARE(bms.waitForBytes(8), hex("0103002D005B9438"));
        bms.writeRaw(readAnswer(1, QVector<quint16>(91, 0)));
        QCOMPARE(bms.waitForBytes(13), hex("0110002D0002046B1A9AF5A72A"));
    }

private slots:
    void cleanup() { e.reset(); }

    // English at start; the language box and menu relabel the window and the About box, and reach every page.
    void startsInEnglishThenSwitchesLanguage()
    {
        MainWindow w;
        w.setDataFolder(QStringLiteral("/srv/bms"));
        auto *tabs = child<QTabWidget>(&w, "tabWidget");
        QStringList titles;
        for (int i = 0; i < tabs->count(); ++i)
            titles << tabs->tabText(i);
        QCOMPARE(titles.join('|') + '|' + w.windowTitle() + '|' + texts(&w, "baudCB|comboBox|monitorBtn|deviceGB") + '|'
                     + QString::number(child<QComboBox>(&w, "comboBox")->count()),
                 QStringLiteral("BMS Monitoring|Packs|BMS Parameter|Historical Record|BMS Datalog|Communication|Trend|"
                                "PACKSCOPE V1.0|115200|1|Start Monitoring|Monitor Status|64"));
        QVERIFY(child<QGroupBox>(&w, "lgGB")->isHidden() && child<QComboBox>(&w, "serialNumCB")->isEditable());
        // The clock that stamps samples is set at construction, not a second later.
        QVERIFY(QDateTime::fromString(w.parameterPage()->clockText(), "yyyy-MM-dd hh:mm:ss").isValid());
        QVector<QSharedPointer<QSignalSpy>> spies;
        for (QObject *page : QList<QObject *>{w.monitoringPage(), w.parameterPage(), w.historyPage(), w.datalogPage(),
                                              w.addressPage(), w.trendPage()})
            spies << QSharedPointer<QSignalSpy>::create(page, SIGNAL(languageSwich()));
        auto *lg = child<QComboBox>(&w, "lgCB");
        lg->setCurrentIndex(0);
        QCOMPARE(texts(&w, "monitorBtn|saveBtn|languageMenu") + '|' + tabs->tabText(1) + '|' + tabs->tabText(5) + '|'
                     + tabs->tabText(6),
                 QStringLiteral("开始监控|保存|语言|电池组|实时数据收发|趋势"));
        child<QAction>(&w, "aboutAction")->trigger();
        QCOMPARE(texts(&w, "helpMenu|aboutAction") + '|' + boxes.value(0).title + '|' + boxes.value(0).text,
                 QStringLiteral("帮助|关于|关于 PackScope|PackScope " PACKSCOPE_VERSION "\n锂电池包 BMS 的 Modbus RTU 维护工具。\n\n"
                                "数据文件夹：/srv/bms\nQt 版本：") + qVersion());
        child<QMenu>(&w, "languageMenu")->actions().at(0)->trigger(); // English, through the Language menu
        QCOMPARE(lg->currentIndex(), 1);
        for (const auto &spy : spies)
            QCOMPARE(spy->count(), 2);
        QCOMPARE(boxes.size(), 1);
    }

    void lastChoicesComeBack()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("packscope.conf"));
        const auto choices = [](MainWindow &w) {
            return texts(&w, "lgCB|baudCB|comboBox|serialNumCB|monitorBtn") + '|'
                   + QString::number(child<QCheckBox>(&w, "timeCB")->isChecked() + w.commLog().showTime());
        };
        { // first start: nothing stored, the defaults stand
            QSettings settings(file, QSettings::IniFormat);
            MainWindow w;
            const QString defaults = choices(w);
            w.restoreSettings(settings);
            QCOMPARE(choices(w), defaults);
            child<QComboBox>(&w, "lgCB")->setCurrentIndex(0);
            w.setBaudRate(9600), w.setSlaveAddress(17), w.setPortName(QStringLiteral("/dev/ttyUSB3"));
            child<QCheckBox>(&w, "timeCB")->setChecked(true);
            QCOMPARE(choices(w), QStringLiteral("中文|9600|17|/dev/ttyUSB3|开始监控|2")); // the time box reaches the log
            w.saveSettings(settings);
        }
        QSettings stored(file, QSettings::IniFormat);
        MainWindow w;
        w.restoreSettings(stored);
        QCOMPARE(choices(w), QStringLiteral("中文|9600|17|/dev/ttyUSB3|开始监控|2"));
    }

    void unopenablePortWarnsAndStaysIdle()
    {
        MainWindow w;
        w.setPortName(QStringLiteral("/dev/packscope-no-such-port"));
        w.on_monitorBtn_clicked();
        QVERIFY(boxes.size() == 1 && boxes[0].icon == QMessageBox::Warning && boxes[0].title == "Warning");
        // The two hints, then the system's reason on a line of its own.
        QVERIFY(boxes[0].text.startsWith(QStringLiteral("The current COM does not exist!!!\r\n1.The USB is loose\r\n2.is occupied by other programs？\r\n")));
        QCOMPARE(boxes[0].text.count(QStringLiteral("\r\n")), 3);
        QVERIFY(!w.isMonitoring() && child<QComboBox>(&w, "baudCB")->isEnabled());
    }

    // A refused write's box opens after the link's slot has returned; while it is open a second
    // refusal opens no second box, and no burst is taken twice.
    void refusedWriteOneBoxAtATimeThenStop()
    {
        MainWindow w;
        FakeBms bms;
        goOnline(w, bms);
        writeInFlight(w, bms);
        int nested = 0;
        e.onBox = [&] {
            if (nested++)
                return;
            writeInFlight(w, bms);
            bms.answer(hex("0190040000"));
            QTest::qWait(500);
        };
        bms.answer(hex("0190040000")); // an exception answer is complete at 5 bytes
        QTRY_COMPARE_WITH_TIMEOUT(w.link()->counters().exceptions, quint64(2), E2e::Deadline);
        QTest::qWait(200);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title + ": " + boxes[0].text, QStringLiteral("error: Parameter modification was failed!!!\nthe BMS refused register 45 (BMS Time) with "
                                                                         "exception code 4; wrote 0 of 2 registers; not written: "
                                                                         "DateTime Setting; the pack keeps its old values"));
        QCOMPARE(w.link()->counters().exceptions + w.link()->counters().dropped, quint64(2));
        QCOMPARE(liveData().nextRequest, quint16(MonitorRead));

        // Stop ends a datalog reading and unlocks the language box.
        auto *reading = child<QPushButton>(w.datalogPage(), "pushButton");
        QVERIFY(!child<QComboBox>(&w, "lgCB")->isEnabled());
        reading->click();
        QCOMPARE(liveData().nextRequest, quint16(DatalogRead));
        w.on_monitorBtn_clicked();
        QCOMPARE(liveData().nextRequest, quint16(MonitorRead));
        QCOMPARE(reading->text() + '|' + texts(&w, "monitorBtn"), QStringLiteral("Start Reading|Start Monitoring"));
        QVERIFY(child<QComboBox>(&w, "lgCB")->isEnabled() && !reading->isEnabled());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
