// The main window: start-up state, language, stored choices, About, and the
// dispatcher over a pseudo-terminal whose far end the test plays.
#include "link/frames.h"
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

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

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
        QVERIFY(w.isMonitoring());
        QCOMPARE(bms.waitForBytes(8), hex("010300690017D5D8"));
        QVector<quint16> identity(Reg::IdentityCount, 0);
        identity[0] = 0x5053; // "PS"
        bms.writeRaw(readAnswer(1, identity));
        QTRY_COMPARE_WITH_TIMEOUT(liveData().nextRequest, quint16(MonitorRead), E2e::Deadline);
        QCOMPARE(bms.waitForBytes(8), hex("010300000027 05D0"));
    }

    int inLines(const MainWindow &w)
    {
        int n = 0;
        for (qint64 i = 0; i < w.commLog().lineCount(); ++i)
            n += w.commLog().line(i).startsWith(QStringLiteral("IN←◆"));
        return n;
    }

private slots:
    void cleanup() { e.reset(); }

    void startsInEnglishWithDefaults()
    {
        MainWindow w;
        QCOMPARE(w.windowTitle() + '|' + texts(&w, "baudCB|comboBox|monitorBtn|deviceGB"),
                 QStringLiteral("PACKSCOPE V1.0|115200|1|Start Monitoring|Monitor Status"));
        QCOMPARE(child<QComboBox>(&w, "comboBox")->count(), 64);
        QVERIFY(child<QGroupBox>(&w, "lgGB")->isHidden() && child<QComboBox>(&w, "serialNumCB")->isEditable());
        QCOMPARE(liveData().language, quint8(1));
        auto *tabs = child<QTabWidget>(&w, "tabWidget");
        QStringList titles;
        for (int i = 0; i < tabs->count(); ++i)
            titles << tabs->tabText(i);
        QCOMPARE(titles, QStringList({"BMS Monitoring", "BMS Parameter", "Historical Record", "BMS Datalog", "Communication",
                                      "Trend"}));
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(tabs->widget(5), static_cast<QWidget *>(w.trendPage()));
    }

    void languageSwitchRelabelsAndReachesEveryPage()
    {
        MainWindow w;
        QSignalSpy spies[] = {{w.monitoringPage(), &BmsMonitoring::languageSwich},
                              {w.parameterPage(), &PresetParameters::languageSwich},
                              {w.historyPage(), &HistoryMonitoring::languageSwich},
                              {w.datalogPage(), &BmsDatalog::languageSwich},
                              {w.addressPage(), &PAndIdRW::languageSwich},
                              {w.trendPage(), &TrendPage::languageSwich}};
        auto *lg = child<QComboBox>(&w, "lgCB");
        lg->setCurrentIndex(0);
        auto *tabs = child<QTabWidget>(&w, "tabWidget");
        QCOMPARE(texts(&w, "monitorBtn|saveBtn|languageMenu") + '|' + tabs->tabText(4) + '|' + tabs->tabText(5),
                 QStringLiteral("开始监控|保存|语言|实时数据收发|趋势"));
        QCOMPARE(liveData().language, quint8(0));
        child<QMenu>(&w, "languageMenu")->actions().at(0)->trigger(); // English, through the Language menu
        QCOMPARE(lg->currentIndex(), 1);
        QCOMPARE(texts(&w, "monitorBtn"), QStringLiteral("Start Monitoring"));
        for (QSignalSpy &spy : spies)
            QCOMPARE(spy.count(), 2);
    }

    void lastChoicesComeBack()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("packscope.conf"));
        const auto choices = [](MainWindow &w) {
            return QStringList({child<QComboBox>(&w, "lgCB")->currentText(), child<QComboBox>(&w, "baudCB")->currentText(),
                                child<QComboBox>(&w, "comboBox")->currentText(),
                                child<QComboBox>(&w, "serialNumCB")->currentText(),
                                child<QPushButton>(&w, "monitorBtn")->text(),
                                QString::number(child<QCheckBox>(&w, "timeCB")->isChecked() + w.commLog().showTime())});
        };
        { // first start: nothing stored, the defaults stand
            QSettings empty(file, QSettings::IniFormat);
            MainWindow w;
            const QStringList defaults = choices(w);
            w.restoreSettings(empty);
            QCOMPARE(choices(w), defaults);
            child<QComboBox>(&w, "lgCB")->setCurrentIndex(0);
            w.setBaudRate(9600);
            w.setSlaveAddress(17);
            w.setPortName(QStringLiteral("/dev/ttyUSB3"));
            child<QCheckBox>(&w, "timeCB")->setChecked(true);
            QSettings store(file, QSettings::IniFormat);
            w.saveSettings(store);
        }
        QSettings stored(file, QSettings::IniFormat);
        MainWindow w;
        w.restoreSettings(stored);
        QCOMPARE(choices(w), QStringList({"中文", "9600", "17", "/dev/ttyUSB3", "开始监控", "2"}));
    }

    void aboutBox_data()
    {
        columns<int, QString, QString, QString, QString>("language", "menu", "action", "title", "folderLine");
        QTest::newRow("English") << 1 << "Help" << "About" << "About PackScope" << "Data folder: /srv/bms";
        QTest::newRow("Chinese") << 0 << "帮助" << "关于" << "关于 PackScope" << "数据文件夹：/srv/bms";
    }
    void aboutBox()
    {
        QFETCH(int, language);
        MainWindow w;
        w.setDataFolder(QStringLiteral("/srv/bms"));
        child<QComboBox>(&w, "lgCB")->setCurrentIndex(language);
        QTEST(child<QMenu>(&w, "helpMenu")->title(), "menu");
        auto *about = child<QAction>(&w, "aboutAction");
        QTEST(about->text(), "action");
        about->trigger();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].kind == Dialogs::Request::About && boxes[0].parent == &w);
        QTEST(boxes[0].title, "title");
        const QStringList lines = boxes[0].text.split('\n');
        QCOMPARE(lines.first(), QStringLiteral("PackScope " PACKSCOPE_VERSION));
        QFETCH(QString, folderLine);
        QVERIFY2(lines.contains(folderLine), qPrintable(boxes[0].text));
        QVERIFY(lines.last().endsWith(QLatin1String(qVersion())));
    }

    void parameterPageClockStampsTheSamples()
    {
        MainWindow w;
        PresetParameters *page = w.parameterPage();
        // Set from the start, so that no sample goes unstamped.
        const QDateTime shown = QDateTime::fromString(page->clockText(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(shown.isValid());
        QVERIFY(qAbs(shown.secsTo(QDateTime::currentDateTime())) <= 2);
        QCOMPARE(child<QLineEdit>(page, "CURRENT_TIME")->text(), page->clockText());
        QCOMPARE(PresetParameters::formatClock(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))),
                 QStringLiteral("2026-01-02 03:04:05"));
    }

    void unopenablePortWarnsAndStaysIdle()
    {
        MainWindow w;
        w.setPortName(QStringLiteral("/dev/packscope-no-such-port"));
        w.on_monitorBtn_clicked();
        QVERIFY(!w.isMonitoring());
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].icon == QMessageBox::Warning && boxes[0].title == "Warning");
        // The two hints, then the system's reason on a line of its own.
        QVERIFY(boxes[0].text.startsWith(QStringLiteral("The current COM does not exist!!!\r\n1.The USB is loose\r\n2.is occupied by other programs？\r\n")));
        QCOMPARE(boxes[0].text.count(QStringLiteral("\r\n")), 3);
        QCOMPARE(texts(&w, "monitorBtn"), QStringLiteral("Start Monitoring"));
        QVERIFY(child<QComboBox>(&w, "baudCB")->isEnabled());
    }

    // The parameter page writes the clock 2026-12-13 09:43:53.
    void writeInFlight(MainWindow &w, FakeBms &bms)
    {
        PresetParameters *page = w.parameterPage();
        child<QCheckBox>(page, "TIME_SET")->setChecked(true);
        page->field(QStringLiteral("BMS_TIME"))->setText(QStringLiteral("2026-12-13 09:43:53"));
        QVERIFY(page->startWrite());
        QCOMPARE(bms.waitForBytes(13), hex("0110002D0002046B1A9AF5A72A"));
    }

    void answerOutcomes_data()
    {
        columns<bool, QByteArray, QString, int, int>("write", "answer", "box", "next", "exceptions");
        // A Modbus exception answer is complete at 5 bytes.
        QTest::newRow("refused write") << true << hex("0190040000") << "error: Parameter modification was failed!!!"
                                       << int(MonitorRead) << 1;
        QTest::newRow("last write acknowledged") << true << hex("0110002D00020000")
                                                 << "successful: Parameter modification was successful!!!"
                                                 << int(ParameterRead) << 0;
        // A refused read is logged and counted, and counts as unanswered.
        QTest::newRow("refused read") << false << hex("0183020000") << "" << int(MonitorRead) << 1;
    }
    void answerOutcomes()
    {
        QFETCH(bool, write);
        QFETCH(QString, box);
        MainWindow w;
        FakeBms bms;
        goOnline(w, bms);
        if (write)
            writeInFlight(w, bms);
        const int before = inLines(w);
        QFETCH(QByteArray, answer);
        QFETCH(int, exceptions);
        bms.answer(answer);
        QTRY_COMPARE_WITH_TIMEOUT(inLines(w), before + 1, E2e::Deadline);
        QTRY_COMPARE(int(w.link()->counters().exceptions), exceptions);
        if (box.isEmpty()) {
            QTest::qWait(100);
            QVERIFY(boxes.isEmpty());
            QCOMPARE(w.unansweredCount(), quint8(1));
            QVERIFY(w.commLog().line(w.commLog().lineCount() - 1).contains(QStringLiteral("exception code 2")));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 1, E2e::Deadline);
            QCOMPARE(boxes[0].title + ": " + boxes[0].text, box);
            QCOMPARE(w.unansweredCount(), quint8(0));
        }
        QTEST(int(liveData().nextRequest), "next");
    }

    // The dispatcher's box opens after the link's slot has returned; while
    // it is open further refusals open no second box, and no burst is taken twice.
    void noSecondBoxAndNoBytesTwiceWhileABoxIsOpen()
    {
        MainWindow w;
        FakeBms bms;
        goOnline(w, bms);
        writeInFlight(w, bms);
        const int before = inLines(w);
        int nested = 0;
        e.onBox = [&] {
            if (nested++)
                return;
            writeInFlight(w, bms);
            bms.answer(hex("0190040000"));
            QTest::qWait(500);
        };
        bms.answer(hex("0190040000"));
        QTRY_COMPARE_WITH_TIMEOUT(inLines(w), before + 2, E2e::Deadline);
        QTest::qWait(200);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(inLines(w), before + 2);
        QCOMPARE(w.link()->counters().exceptions, quint64(2));
    }

    void lateMonitoringAnswerIsNotTakenForParameters()
    {
        MainWindow w;
        FakeBms bms;
        goOnline(w, bms);
        child<QPushButton>(w.parameterPage(), "collect")->click();
        QCOMPARE(bms.waitForBytes(8), hex("0103002D005B9438"));
        const quint8 unanswered = w.unansweredCount();
        QVERIFY(unanswered >= 1);
        QVector<quint16> monitor(Reg::MonitorCount, 0x1111);
        const int before = inLines(w);
        bms.writeRaw(readAnswer(1, monitor));
        QTRY_COMPARE_WITH_TIMEOUT(inLines(w), before + 1, E2e::Deadline);
        for (int r = Reg::ParameterStart; r < Reg::ParameterStart + Reg::MonitorCount; ++r)
            QVERIFY2(liveData().registerImage[r] != 0x1111, qPrintable(QString::number(r)));
        QCOMPARE(w.unansweredCount(), unanswered);
        QCOMPARE(liveData().nextRequest, quint16(ParameterRead));

        // The answer that fits the read is stored at 45..135.
        bms.writeRaw(readAnswer(1, QVector<quint16>(Reg::ParameterCount, 0x2222)));
        QTRY_COMPARE_WITH_TIMEOUT(liveData().nextRequest, quint16(MonitorRead), E2e::Deadline);
        QCOMPARE(liveData().registerImage[Reg::ParameterStart], quint16(0x2222));
        QCOMPARE(liveData().registerImage[135], quint16(0x2222));
        QCOMPARE(liveData().registerImage[136], quint16(0));
    }

    void onlineLocksThenStoppingEndsADatalogReadingAndUnlocks()
    {
        MainWindow w;
        FakeBms bms;
        goOnline(w, bms);
        auto *reading = child<QPushButton>(w.datalogPage(), "pushButton");
        const auto enabled = [&] {
            return QVector<bool>{child<QPushButton>(w.parameterPage(), "collect")->isEnabled(), reading->isEnabled(),
                                 child<QComboBox>(&w, "lgCB")->isEnabled()};
        };
        QCOMPARE(texts(w.monitoringPage(), "com_state"), QStringLiteral("Online"));
        QCOMPARE(enabled(), QVector<bool>({true, true, false}));
        reading->click();
        QCOMPARE(liveData().nextRequest, quint16(DatalogRead));
        QCOMPARE(reading->text(), QStringLiteral("Stop Reading"));
        w.on_monitorBtn_clicked();
        QVERIFY(!w.isMonitoring());
        QCOMPARE(liveData().nextRequest, quint16(MonitorRead));
        QCOMPARE(reading->text() + '|' + texts(&w, "monitorBtn"), QStringLiteral("Start Reading|Start Monitoring"));
        QCOMPARE(enabled(), QVector<bool>({false, false, true}));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
