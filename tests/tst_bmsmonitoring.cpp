// The real-time page: fields, lamps and labels for the live register image, both languages; the
// real-time and parameter pages at the window's designed size.
#include "app/mainwindow.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/parametermap.h"
#include "pages/bmsmonitoring.h"
#include "pages/presetparameters.h"
#include "support/helpers.h"
#include "support/testenv.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QtTest>

namespace {

quint16 &reg(int address) { return liveData().registerImage[address]; }

// texts() with com_state's colour.
QString shown(QWidget &page, const QString &names)
{
    QString t = texts(&page, names);
    const int end = t.indexOf('|') < 0 ? t.size() : t.indexOf('|');
    return names.startsWith("com_state") ? t.insert(end, ' ' + child<QWidget>(&page, "com_state")->styleSheet()) : t;
}

void putText(int firstRegister, const QByteArray &b)
{
    for (int i = 0; i < b.size(); i += 2)
        reg(firstRegister + i / 2) = quint16(quint8(b[i]) << 8 | (i + 1 < b.size() ? quint8(b[i + 1]) : 0));
}

void switchLanguage(BmsMonitoring &page, int language) { page.setLanguage(Language(language)), emit page.languageSwich(); }

} // namespace

class TstBmsMonitoring : public QObject
{
    Q_OBJECT
private slots:
    void init() { TestEnv::resetLiveData(); }

    // Before the first switch, English, Chinese; shown values keep their language until the next refresh.
    void texts()
    {
        const QString widgets = "lb_model|temp_0|lb_cell_16|label_11|warning_7|warning_10|warning_14|protection_13|"
                                "protection_14|error_4|lb_state|state|heating_film";
        BmsMonitoring page;
        reg(Reg::StatusWord) = 0x8001;
        page.refreshValues();
        QCOMPARE(shown(page, widgets),
                 QStringLiteral("型号|温度信息（℃）|电池16|% |环境温度异常|放电高温|其它错误|浮充停止|短路|电压不均衡|状态|充电|加热开"));
        switchLanguage(page, 1);
        QCOMPARE(shown(page, widgets), QStringLiteral("Model|Temperature Information（℃）|Cell16|% |Temp Anmaly|Disharge OT|"
                                                      "Other Error|Float Stoped|Discharge SC|Cell Unbalance|Status|充电|加热开"));
        switchLanguage(page, 0);
        QCOMPARE(shown(page, widgets),
                 QStringLiteral("模块|温度信息（℃）|电池16|% |环境温度异常|放电高温|其他错误|浮充停止|放电短路|电压不均衡|状态|充电|加热开"));
    }

    void values_data()
    {
        columns<int, QVector<int>, QString, QString>("language", "registers", "fields", "texts");
        // Cell i holds 3300 + i mV; cells past the count (4.000 V) and behind cell 16 stay out of the scan.
        const auto cells = [](int count) {
            QVector<int> regs{Reg::CellCount, count, Reg::PcbTemp, 1};
            for (int i = 0; i < 16; ++i)
                regs << Reg::CellVoltage + i << (i == 2 && count == 2 ? 4000 : 3300 + i);
            return regs;
        };
        const char *S = "state|heating_film", *Cells = "max_vol|min_vol|delta_v|cell_num|cell_16";
        const struct { int language; QVector<int> registers; const char *fields, *texts; } rows[] = {
            {0, {Reg::TotalVoltage, 5}, "vol", "0.05"}, {0, {Reg::TotalVoltage, 65535}, "vol", "655.35"},
            {0, {Reg::PackCurrent, 0}, "cur", "0.00"}, {0, {Reg::PackCurrent, 0xFFFF}, "cur", "-0.01"},
            {0, {Reg::PackCurrent, 0xFFCE}, "cur", "-0.50"}, {0, {Reg::PackCurrent, 0x8000}, "cur", "-327.68"},
            {0, {Reg::CellVoltage, 0}, "cell_1", "0.000"}, {0, {Reg::CellVoltage, 3050}, "cell_1", "3.050"},
            {0, {Reg::CellVoltage + 15, 65535}, "cell_16", "65.535"}, {0, {Reg::FullCapacity, 1005}, "cap", "100"},
            {0, {Reg::SensorTemp12, 0x807F}, "temp_1|temp_2|max_temp|min_temp|delta_t", "-128|127|127|-128|255"},
            {0, {Reg::SensorTemp34, 0x7F7F}, "temp_3|max_temp", "127|0"}, // sensors 3 and 4: no extremes
            // Bit 15 is the heater; the state's precedence is checked with the model.
            {0, {Reg::StatusWord, 0x8000}, S, "静置|加热开"}, {1, {Reg::StatusWord, 0x0003}, S, "Charge|Heat off"},
            {0, cells(2), Cells, "3.301|3.300|0.001|2|3.315"},
            {0, cells(0), Cells, "0.000|65.535|0.000|0|3.315"}, // no negative spread
            {0, cells(20), Cells, "3.315|3.300|0.015|20|3.315"},
            {0, {Reg::CellCount, 2, Reg::CellVoltage, 40000, Reg::CellVoltage + 1, 3000}, "max_vol|min_vol", "40.000|3.000"},
        };
        for (const auto &r : rows)
            QTest::addRow("%s = %s", r.fields, r.texts) << r.language << r.registers << r.fields << r.texts;
    }
    void values()
    {
        QFETCH(int, language);
        QFETCH(QVector<int>, registers);
        QFETCH(QString, fields);
        BmsMonitoring page;
        page.setLanguage(Language(language));
        for (int i = 0; i + 1 < registers.size(); i += 2)
            reg(registers[i]) = quint16(registers[i + 1]);
        page.refreshValues();
        QTEST(shown(page, fields), "texts");
    }

    // Lamps by bit, each panel from its own register; a cleared bit puts its lamp out again.
    void lamps_data()
    {
        columns<QString, int, int, QList<int>>("prefix", "address", "bits", "lit");
        QTest::newRow("warnings 1 14") << "warning" << Reg::WarningBits << 0x2001 << QList<int>{1, 14};
        QTest::newRow("warning bits 14 15") << "warning" << Reg::WarningBits << 0xC000 << QList<int>{};
        QTest::newRow("protections 2 13") << "protection" << Reg::ProtectionBits << 0x1002 << QList<int>{2, 13};
        QTest::newRow("errors 1 4, bits 4..15") << "error" << Reg::ErrorBits << 0xFFF9 << QList<int>{1, 4};
        QTest::newRow("errors ignore warnings") << "error" << Reg::WarningBits << 0xFFFF << QList<int>{};
        QTest::newRow("cell marks 0 15") << "cell" << Reg::CellMarkBits << 0x8001 << QList<int>{1, 16};
    }
    void lamps()
    {
        QFETCH(QString, prefix);
        QFETCH(int, address);
        QFETCH(QList<int>, lit);
        QFETCH(int, bits);
        const QString colour = prefix == "warning" ? "yellow" : prefix == "cell" ? "green" : "red";
        BmsMonitoring page;
        for (int value : {bits, 0}) {
            reg(address) = quint16(value);
            page.refreshValues();
            const auto lamps = page.findChildren<QWidget *>(QRegularExpression("^" + prefix + "_[1-9]\\d*$"));
            QCOMPARE(lamps.size(), prefix == "error" ? 4 : prefix == "cell" ? 16 : 14);
            for (QWidget *lamp : lamps) {
                const bool on = value && lit.contains(lamp->objectName().section('_', 1).toInt());
                QVERIFY2(lamp->styleSheet() == "color: rgb(0, 0, 0);\nbackground-color: " + (on ? colour : "white") + ';',
                         qPrintable(lamp->objectName()));
            }
        }
    }

    // Identity texts end at a zero byte and stay while offline; a switch redraws com_state from the request kind.
    void identityAndComState()
    {
        BmsMonitoring page;
        putText(Reg::ModelText, QByteArray("AB\0C", 4));
        page.showOnline();
        QCOMPARE(shown(page, "com_state|model"), "在线 background-color: green;|AB");
        putText(Reg::ModelText, "XY");
        page.showOffline(), page.refreshValues();
        QCOMPARE(shown(page, "com_state|model"), "离线 background-color: red;|AB");
        QStringList seen; // English and Chinese by turns
        for (RequestKind kind : {MonitorRead, MonitorRead, IdentityRead, IdentityRead, ParameterWrite})
            liveData().requestKind = kind, switchLanguage(page, seen.size() % 2 ? 0 : 1), seen << shown(page, "com_state");
        QCOMPARE(seen.join(" / "), QStringLiteral("Online background-color: green; / 在线 background-color: green; / "
                                                  "Offline background-color: red; / 离线 background-color: red; / "
                                                  "Online background-color: green;"));
    }

    // The real-time and parameter pages fit the window at its designed size, nothing clipped,
    // with the widest values in both languages.
    void pagesFitMainWindow()
    {
        MainWindow window;
        window.resize(1118, 737);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        std::fill(std::begin(liveData().registerImage), std::end(liveData().registerImage), 0x8080); // -32640, -128
        putText(Reg::ModelText, "PACK-LFP48V100AH-16S-RV2"), putText(Reg::VersionText, "V10.99");
        putText(Reg::SerialText, "SN0123456789ABCD");
        reg(Reg::StatusWord) = 0x0008; // the longest state text
        liveData().requestKind = MonitorRead;
        PresetParameters *parameters = window.parameterPage();
        for (int language : {0, 1}) {
            child<QComboBox>(&window, "lgCB")->setCurrentIndex(language);
            window.monitoringPage()->refreshValues();
            for (QLineEdit *e : parameters->findChildren<QLineEdit *>()) {
                const Param::Field *f = Param::fieldByName(e->objectName());
                const Param::Scale scale = f ? f->scale : Param::Scale::Clock;
                e->setText(scale == Param::Scale::Clock ? "2026-12-13 09:43:53" : scale == Param::Scale::Temp ? "-100"
                           : scale == Param::Scale::Milli ? "65.535" : "655.35");
            }
            for (QWidget *page : {static_cast<QWidget *>(window.monitoringPage()), static_cast<QWidget *>(parameters)}) {
                window.findChild<QTabWidget *>()->setCurrentWidget(page);
                QTest::qWait(50); // layouts settle over a few rounds of events
                QVERIFY(window.height() <= 737 && window.width() <= 1118);
                const QStringList unfit = unfitWidgets(page, page != parameters, parameters->waitBox());
                QVERIFY2(unfit.isEmpty(), qPrintable(unfit.join(", ")));
            }
        }
    }
};

QTEST_MAIN(TstBmsMonitoring)
#include "tst_bmsmonitoring.moc"
