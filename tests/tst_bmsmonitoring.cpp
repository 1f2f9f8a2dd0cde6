// The real-time page: what every field, lamp and label shows for the values
// of the live register image, in both languages, and that the page fits the
// main window.

#include "app/mainwindow.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/bmsmonitoring.h"
#include "support/testenv.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabWidget>
#include <QtTest>

namespace {

const QString LampInitial = QStringLiteral("background-color: rgb(255, 255, 255);\ncolor: rgb(0, 0, 0);");
const QString White = QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: white;");
const QString Yellow = QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: yellow;");
const QString Red = QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: red;");
const QString Green = QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: green;");

quint16 &reg(int address) { return liveData().registerImage[address]; }

template <typename W = QWidget>
W *child(QWidget &page, const QString &name)
{
    W *w = page.findChild<W *>(name);
    if (!w)
        qFatal("no widget %s", qPrintable(name));
    return w;
}

QString fieldText(QWidget &page, const QString &name) { return child<QLineEdit>(page, name)->text(); }

// The visible text of a label, lamp or group box.
QString widgetText(QWidget &page, const QString &name)
{
    QWidget *w = child(page, name);
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QPushButton *>(w))
        return button->text();
    if (auto *group = qobject_cast<QGroupBox *>(w))
        return group->title();
    return qobject_cast<QLineEdit *>(w)->text();
}

void putText(int firstRegister, const QByteArray &bytes)
{
    for (int i = 0; i < bytes.size(); i += 2)
        reg(firstRegister + i / 2) = quint16(quint8(bytes[i]) << 8 | (i + 1 < bytes.size() ? quint8(bytes[i + 1]) : 0));
}

class StyleChangeCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::StyleChange)
            ++count;
        return false;
    }
};

} // namespace

class TstBmsMonitoring : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { TestEnv::openFreshDatabases(); }
    void init() { liveData() = BmsLiveData{}; }

    void formBeforeAnyData();
    void formTexts_data();
    void formTexts();
    void groupPlacement_data();
    void groupPlacement();

    void values_data();
    void values();
    void operatingState_data();
    void operatingState();
    void lamps_data();
    void lamps();
    void cellMarks();
    void cellExtremes_data();
    void cellExtremes();
    void identity();

    void comStateOnLanguageChange_data();
    void comStateOnLanguageChange();
    void valuesKeepLanguageUntilRefresh();
    void languageTexts_data();
    void languageTexts();

    void unchangedRedrawKeepsStyles();
    void fitsMainWindow_data();
    void fitsMainWindow();
};

void TstBmsMonitoring::formBeforeAnyData()
{
    BmsMonitoring page;
    QCOMPARE(page.objectName(), QStringLiteral("BmsMonitoring"));
    QCOMPARE(page.size(), QSize(871, 542));
    QCOMPARE(page.windowTitle(), QStringLiteral("Form"));

    QCOMPARE(fieldText(page, "com_state"), QStringLiteral("离线"));
    QCOMPARE(child(page, "com_state")->styleSheet(), QStringLiteral("background-color: red;"));

    const QList<QPair<QString, int>> panels{{"warning", 14}, {"protection", 14}, {"error", 4}};
    for (const auto &panel : panels) {
        QGroupBox *group = child<QGroupBox>(page, panel.first + "_0");
        QCOMPARE(group->findChildren<QPushButton *>().size(), panel.second);
        for (int n = 1; n <= panel.second; ++n) {
            auto *lamp = group->findChild<QPushButton *>(QStringLiteral("%1_%2").arg(panel.first).arg(n));
            QVERIFY2(lamp, qPrintable(panel.first + QString::number(n)));
            QVERIFY(!lamp->isEnabled());
            QCOMPARE(lamp->styleSheet(), LampInitial);
        }
    }
    const auto fields = page.findChildren<QLineEdit *>();
    QCOMPARE(fields.size(), 4 + 16 + 6 + 16);
    for (QLineEdit *field : fields) {
        QVERIFY2(field->isReadOnly(), qPrintable(field->objectName()));
        QCOMPARE(field->alignment(), Qt::AlignCenter);
        if (field->objectName() != QLatin1String("com_state"))
            QVERIFY2(field->text().isEmpty(), qPrintable(field->objectName()));
    }
}

void TstBmsMonitoring::formTexts_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("text");
    const QList<QPair<const char *, const char *>> rows{
        {"model_information", "模块信息"}, {"lb_model", "型号"}, {"lb_serial_num", "序列号"},
        {"battery_information", "电池信息"}, {"lb_heating_film", "加热膜"}, {"lb_max_chcur", "最大充电"},
        {"lb_soc", "SOC"}, {"lb_soh", "SOH"},
        {"label_11", "% "}, {"label_12", "%"}, {"label_28", "V"}, {"label_24", "A"}, {"label_26", "AH"},
        {"label_22", "AH"}, {"label_34", "V"}, {"label_30", "A"}, {"label_52", "℃"}, {"label_50", "℃"},
        {"label_9", ""}, {"label_10", ""}, {"label_46", ""},
        {"temp_0", "温度信息（℃）"}, {"lb_pcb_temp", "PCB温度"}, {"lb_temp_1", "温度01"}, {"lb_temp_4", "温度04"},
        {"cell_0", "单体电压（V）"}, {"lb_cell_1", "电池01"}, {"lb_cell_9", "电池09"}, {"lb_cell_16", "电池16"},
        {"warning_0", "告警状态"}, {"warning_8", "MOS温度高"}, {"warning_14", "其它错误"},
        {"protection_13", "浮充停止"}, {"protection_14", "短路"}, {"error_4", "电压不均衡"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.first) << QString::fromUtf8(row.first) << QString::fromUtf8(row.second);
}

void TstBmsMonitoring::formTexts()
{
    QFETCH(QString, widget);
    QFETCH(QString, text);
    BmsMonitoring page;
    QCOMPARE(widgetText(page, widget), text);
}

void TstBmsMonitoring::groupPlacement_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QRect>("cells"); // column, row, column span, row span
    QTest::newRow("model_information") << "" << "model_information" << QRect(0, 0, 1, 1);
    QTest::newRow("error_0") << "" << "error_0" << QRect(1, 0, 1, 1);
    QTest::newRow("warning_0") << "" << "warning_0" << QRect(2, 0, 1, 3);
    QTest::newRow("protection_0") << "" << "protection_0" << QRect(3, 0, 1, 3);
    QTest::newRow("battery_information") << "" << "battery_information" << QRect(0, 1, 2, 1);
    QTest::newRow("temp_0") << "" << "temp_0" << QRect(0, 2, 2, 1);
    QTest::newRow("cell_0") << "" << "cell_0" << QRect(0, 3, 4, 1);
    // Inside the groups only the rows are fixed.
    QTest::newRow("ver") << "model_information" << "ver" << QRect(-1, 1, 1, 1);
    QTest::newRow("soh") << "battery_information" << "soh" << QRect(-1, 0, 1, 1);
    QTest::newRow("cell_num") << "battery_information" << "cell_num" << QRect(-1, 3, 1, 1);
    QTest::newRow("env_temp") << "temp_0" << "env_temp" << QRect(-1, 0, 1, 1);
    QTest::newRow("temp_4") << "temp_0" << "temp_4" << QRect(-1, 1, 1, 1);
    QTest::newRow("cell_8") << "cell_0" << "cell_8" << QRect(-1, 0, 1, 1);
    QTest::newRow("cell_9") << "cell_0" << "cell_9" << QRect(-1, 1, 1, 1);
}

void TstBmsMonitoring::groupPlacement()
{
    QFETCH(QString, group);
    QFETCH(QString, widget);
    QFETCH(QRect, cells);
    BmsMonitoring page;
    QWidget *owner = group.isEmpty() ? static_cast<QWidget *>(&page) : child(page, group);
    auto *grid = qobject_cast<QGridLayout *>(owner->layout());
    QVERIFY(grid);
    const int index = grid->indexOf(child(page, widget));
    QVERIFY(index >= 0);
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(row, cells.y());
    if (cells.x() >= 0) {
        QCOMPARE(column, cells.x());
        QCOMPARE(columnSpan, cells.width());
        QCOMPARE(rowSpan, cells.height());
    }
}

void TstBmsMonitoring::values_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    const struct { const char *name; int address; int value; const char *field; const char *text; } rows[] = {
        {"voltage 5", Reg::TotalVoltage, 5, "vol", "0.05"},
        {"voltage 5234", Reg::TotalVoltage, 5234, "vol", "52.34"},
        {"voltage 65535", Reg::TotalVoltage, 65535, "vol", "655.35"},
        {"current 0", Reg::PackCurrent, 0, "cur", "0.00"},
        {"current -1", Reg::PackCurrent, 0xFFFF, "cur", "-0.01"},
        {"current -50", Reg::PackCurrent, quint16(-50), "cur", "-0.50"},
        {"current -250", Reg::PackCurrent, quint16(-250), "cur", "-2.50"},
        {"current -32768", Reg::PackCurrent, 0x8000, "cur", "-327.68"},
        {"current 32767", Reg::PackCurrent, 0x7FFF, "cur", "327.67"},
        {"cell 1 at 0", Reg::CellVoltage, 0, "cell_1", "0.000"},
        {"cell 1 at 3050", Reg::CellVoltage, 3050, "cell_1", "3.050"},
        {"cell 16 at 65535", Reg::CellVoltage + 15, 65535, "cell_16", "65.535"},
        {"cell 9 at 3301", Reg::CellVoltage + 8, 3301, "cell_9", "3.301"},
        {"pcb -40", Reg::PcbTemp, quint16(-40), "pcb_temp", "-40"},
        {"ambient -32768", Reg::AmbientTemp, 0x8000, "env_temp", "-32768"},
        {"full capacity 1005", Reg::FullCapacity, 1005, "cap", "100"},
        {"full capacity 9", Reg::FullCapacity, 9, "cap", "0"},
        {"full capacity 65535", Reg::FullCapacity, 65535, "cap", "6553"},
        {"remaining 65535", Reg::RemainCapacity, 65535, "cap_remain", "65535"},
        {"max charge current", Reg::MaxChargeCurrent, 120, "max_chcur", "120"},
        {"soh", Reg::Soh, 98, "soh", "98"},
        {"soc", Reg::Soc, 100, "soc", "100"},
        {"cell count 13", Reg::CellCount, 13, "cell_num", "13"},
        {"sensor 1 of 0x80 0x7F", Reg::SensorTemp12, 0x807F, "temp_1", "-128"},
        {"sensor 2 of 0x80 0x7F", Reg::SensorTemp12, 0x807F, "temp_2", "127"},
        {"max of 0x80 0x7F", Reg::SensorTemp12, 0x807F, "max_temp", "127"},
        {"min of 0x80 0x7F", Reg::SensorTemp12, 0x807F, "min_temp", "-128"},
        {"delta of 0x80 0x7F", Reg::SensorTemp12, 0x807F, "delta_t", "255"},
        {"delta of 0xFB 0x19", Reg::SensorTemp12, 0xFB19, "delta_t", "30"},
        {"sensor 3 of 0xFF 0x00", Reg::SensorTemp34, 0xFF00, "temp_3", "-1"},
        {"sensor 4 of 0xFF 0x64", Reg::SensorTemp34, 0xFF64, "temp_4", "100"},
        // Sensors 3 and 4 take no part in the extremes.
        {"max ignores sensor 3", Reg::SensorTemp34, 0x7F7F, "max_temp", "0"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.address << row.value << QString::fromLatin1(row.field)
                                << QString::fromUtf8(row.text);
}

void TstBmsMonitoring::values()
{
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(QString, field);
    QFETCH(QString, text);
    BmsMonitoring page;
    reg(address) = quint16(value);
    page.refreshValues();
    QCOMPARE(fieldText(page, field), text);
}

void TstBmsMonitoring::operatingState_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("heater");
    QTest::newRow("charge wins over discharge zh") << 0x0003 << 0 << "充电" << "加热关";
    QTest::newRow("charge wins over discharge en") << 0x0003 << 1 << "Charge" << "Heat off";
    QTest::newRow("discharge") << 0x0006 << 1 << "Discharge" << "Heat off";
    QTest::newRow("protection wins over limiting zh") << 0x000C << 0 << "保护" << "加热关";
    QTest::newRow("protection wins over limiting en") << 0x000C << 1 << "Protection" << "Heat off";
    QTest::newRow("limiting zh") << 0x0008 << 0 << "充电限流" << "加热关";
    QTest::newRow("limiting en") << 0x0008 << 1 << "Charge current limiting" << "Heat off";
    QTest::newRow("standby heater on zh") << 0x8000 << 0 << "静置" << "加热开";
    QTest::newRow("standby heater on en") << 0x8000 << 1 << "Standby" << "Heat on";
    QTest::newRow("other bits are standby") << 0x7FF0 << 1 << "Standby" << "Heat off";
    QTest::newRow("discharge with heater") << 0x8002 << 0 << "放电" << "加热开";
}

void TstBmsMonitoring::operatingState()
{
    QFETCH(int, status);
    QFETCH(int, language);
    QFETCH(QString, state);
    QFETCH(QString, heater);
    BmsMonitoring page;
    liveData().language = quint8(language);
    reg(Reg::StatusWord) = quint16(status);
    page.refreshValues();
    QCOMPARE(fieldText(page, "state"), state);
    QCOMPARE(fieldText(page, "heating_film"), heater);
}

void TstBmsMonitoring::lamps_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("bits");
    QTest::addColumn<QList<int>>("lit"); // lamp numbers
    QTest::addColumn<QString>("litStyle");
    QTest::newRow("warnings 1 and 14") << "warning" << Reg::WarningBits << 0x2001 << QList<int>{1, 14} << Yellow;
    QTest::newRow("warning bits 14 15 light nothing") << "warning" << Reg::WarningBits << 0xC000 << QList<int>{} << Yellow;
    QTest::newRow("all warnings") << "warning" << Reg::WarningBits << 0xFFFF
                                  << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14} << Yellow;
    QTest::newRow("protections 2 and 13") << "protection" << Reg::ProtectionBits << 0x1002 << QList<int>{2, 13} << Red;
    QTest::newRow("protection bits 14 15 light nothing") << "protection" << Reg::ProtectionBits << 0xC000
                                                         << QList<int>{} << Red;
    QTest::newRow("errors 1 and 4") << "error" << Reg::ErrorBits << 0x0009 << QList<int>{1, 4} << Red;
    QTest::newRow("error bits 4..15 light nothing") << "error" << Reg::ErrorBits << 0xFFF0 << QList<int>{} << Red;
    // Each panel follows its own register only.
    QTest::newRow("errors ignore warnings") << "error" << Reg::WarningBits << 0xFFFF << QList<int>{} << Red;
}

void TstBmsMonitoring::lamps()
{
    QFETCH(QString, panel);
    QFETCH(int, address);
    QFETCH(int, bits);
    QFETCH(QList<int>, lit);
    QFETCH(QString, litStyle);
    BmsMonitoring page;
    const auto check = [&] {
        const auto lamps = child(page, panel + "_0")->findChildren<QPushButton *>();
        for (QPushButton *lamp : lamps) {
            const int n = lamp->objectName().section('_', 1).toInt();
            QCOMPARE(lamp->styleSheet(), lit.contains(n) ? litStyle : White);
        }
    };
    reg(address) = quint16(bits);
    page.refreshValues();
    check();
    // Lamps go out again when their bit clears.
    reg(address) = 0;
    lit.clear();
    page.refreshValues();
    check();
}

void TstBmsMonitoring::cellMarks()
{
    BmsMonitoring page;
    reg(Reg::CellMarkBits) = 0x8001;
    page.refreshValues();
    for (int n = 1; n <= 16; ++n)
        QCOMPARE(child(page, QStringLiteral("cell_%1").arg(n))->styleSheet(), n == 1 || n == 16 ? Green : White);
    reg(Reg::CellMarkBits) = 0x0002;
    page.refreshValues();
    QCOMPARE(child(page, "cell_1")->styleSheet(), White);
    QCOMPARE(child(page, "cell_2")->styleSheet(), Green);
    QCOMPARE(child(page, "cell_16")->styleSheet(), White);
}

void TstBmsMonitoring::cellExtremes_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("cells"); // millivolts of cells 1..n, the rest 0
    QTest::addColumn<QString>("maxVol");
    QTest::addColumn<QString>("minVol");
    QTest::addColumn<QString>("deltaV");
    QTest::addColumn<QString>("cellNum");
    QTest::newRow("two cells") << 2 << QList<int>{3200, 3250, 4000} << "3.250" << "3.200" << "0.050" << "2";
    QTest::newRow("three cells") << 3 << QList<int>{3300, 3310, 3295} << "3.310" << "3.295" << "0.015" << "3";
    QTest::newRow("spread over a volt") << 2 << QList<int>{1500, 4200} << "4.200" << "1.500" << "2.700" << "2";
    // Without cells the extremes keep their starting values; the spread
    // shows 0.000 rather than a negative difference.
    QTest::newRow("no cells") << 0 << QList<int>{3300} << "0.000" << "65.535" << "0.000" << "0";
    // More cells than the read carries: the scan stops at cell 16, the
    // field shows what the pack reports.
    QList<int> sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen << 3300 + i;
    QTest::newRow("twenty cells") << 20 << sixteen << "3.315" << "3.300" << "0.015" << "20";
}

void TstBmsMonitoring::cellExtremes()
{
    QFETCH(int, count);
    QFETCH(QList<int>, cells);
    QFETCH(QString, maxVol);
    QFETCH(QString, minVol);
    QFETCH(QString, deltaV);
    QFETCH(QString, cellNum);
    BmsMonitoring page;
    reg(Reg::CellCount) = quint16(count);
    for (int i = 0; i < cells.size(); ++i)
        reg(Reg::CellVoltage + i) = quint16(cells[i]);
    // What lies behind the cells must not enter the scan.
    reg(Reg::PcbTemp) = 1;
    page.refreshValues();
    QCOMPARE(fieldText(page, "max_vol"), maxVol);
    QCOMPARE(fieldText(page, "min_vol"), minVol);
    QCOMPARE(fieldText(page, "delta_v"), deltaV);
    QCOMPARE(fieldText(page, "cell_num"), cellNum);
    // Every cell field is drawn whatever the count says.
    for (int n = 1; n <= 16; ++n)
        QCOMPARE(fieldText(page, QStringLiteral("cell_%1").arg(n)),
                 QString::number(n <= cells.size() ? cells[n - 1] / 1000.0 : 0.0, 'f', 3));
}

void TstBmsMonitoring::identity()
{
    BmsMonitoring page;
    putText(Reg::ModelText, QByteArray("AB\0C", 4));
    putText(Reg::VersionText, "V1.2.3");                // fills its 6 bytes
    putText(Reg::SerialText, "SN0123456789ABCD");       // fills its 16 bytes
    reg(Reg::SerialText + 8) = 0x5858;                  // past the serial number
    liveData().language = 1;
    page.showOnline();
    QCOMPARE(fieldText(page, "com_state"), QStringLiteral("Online"));
    QCOMPARE(child(page, "com_state")->styleSheet(), QStringLiteral("background-color: green;"));
    QCOMPARE(fieldText(page, "model"), QStringLiteral("AB"));
    QCOMPARE(fieldText(page, "ver"), QStringLiteral("V1.2.3"));
    QCOMPARE(fieldText(page, "serial_num"), QStringLiteral("SN0123456789ABCD"));

    // Going offline and a redraw keep the identity as it was shown.
    putText(Reg::ModelText, "XY");
    page.showOffline();
    page.refreshValues();
    QCOMPARE(fieldText(page, "com_state"), QStringLiteral("Offline"));
    QCOMPARE(child(page, "com_state")->styleSheet(), QStringLiteral("background-color: red;"));
    QCOMPARE(fieldText(page, "model"), QStringLiteral("AB"));
}

void TstBmsMonitoring::comStateOnLanguageChange_data()
{
    QTest::addColumn<int>("requestKind");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("style");
    const QString on = QStringLiteral("background-color: green;");
    const QString off = QStringLiteral("background-color: red;");
    QTest::newRow("identity read en") << int(IdentityRead) << 1 << "Offline" << off;
    QTest::newRow("identity read zh") << int(IdentityRead) << 0 << "离线" << off;
    QTest::newRow("monitor read en") << int(MonitorRead) << 1 << "Online" << on;
    QTest::newRow("monitor read zh") << int(MonitorRead) << 0 << "在线" << on;
    QTest::newRow("parameter read") << int(ParameterRead) << 1 << "Online" << on;
    QTest::newRow("parameter write") << int(ParameterWrite) << 0 << "在线" << on;
    QTest::newRow("datalog read") << int(DatalogRead) << 1 << "Online" << on;
}

void TstBmsMonitoring::comStateOnLanguageChange()
{
    QFETCH(int, requestKind);
    QFETCH(int, language);
    QFETCH(QString, text);
    QFETCH(QString, style);
    BmsMonitoring page;
    // Found silent before: the switch still follows the last request kind.
    page.showOffline();
    liveData().requestKind = quint16(requestKind);
    liveData().language = quint8(language);
    emit page.languageSwich();
    QCOMPARE(fieldText(page, "com_state"), text);
    QCOMPARE(child(page, "com_state")->styleSheet(), style);
}

void TstBmsMonitoring::valuesKeepLanguageUntilRefresh()
{
    BmsMonitoring page;
    reg(Reg::StatusWord) = 0x8001;
    page.refreshValues();
    QCOMPARE(fieldText(page, "state"), QStringLiteral("充电"));

    liveData().language = 1;
    emit page.languageSwich();
    QCOMPARE(fieldText(page, "state"), QStringLiteral("充电"));
    QCOMPARE(fieldText(page, "heating_film"), QStringLiteral("加热开"));
    QCOMPARE(widgetText(page, "lb_state"), QStringLiteral("Status"));

    page.refreshValues();
    QCOMPARE(fieldText(page, "state"), QStringLiteral("Charge"));
    QCOMPARE(fieldText(page, "heating_film"), QStringLiteral("Heat on"));
}

void TstBmsMonitoring::languageTexts_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");
    const struct { const char *widget; const char *zh; const char *en; } rows[] = {
        {"model_information", "模块信息", "Model Information"},
        {"lb_com_state", "通信状态", "Com State"},
        {"lb_model", "模块", "Model"},
        {"lb_ver", "版本号", "Version"},
        {"lb_serial_num", "序列号", "SN"},
        {"battery_information", "电池信息", "Battery Information"},
        {"lb_state", "状态", "Status"},
        {"lb_heating_film", "加热膜", "Heater"},
        {"lb_vol", "总电压", "Voltage"},
        {"lb_cur", "总电流", "Current"},
        {"lb_cap", "容量", "Capacity"},
        {"lb_cap_remain", "剩余容量", "Remain C"},
        {"lb_max_vol", "最大电压", "Max Vol"},
        {"lb_min_vol", "最小电压", "Min Vol"},
        {"lb_delta_v", "电压差值", "Vol Diff"},
        {"lb_max_chcur", "最大充电", "Max C-C"},
        {"lb_max_temp", "最高温度", "Max Temp"},
        {"lb_min_temp", "最低温度", "Min Temp"},
        {"lb_delta_t", "温度差值", "Temp Diff"},
        {"lb_cell_num", "电池串数", "Cell Num"},
        {"temp_0", "温度信息（℃）", "Temperature Information（℃）"},
        {"lb_pcb_temp", "PCB温度", "PCB Temp"},
        {"lb_env_temp", "环境温度", "Ambient Temp"},
        {"lb_temp_1", "温度01", "Temp01"},
        {"lb_temp_3", "温度03", "Temp03"},
        {"cell_0", "单体电压（V）", "Voltage（V）"},
        {"lb_cell_1", "电池01", "Cell01"},
        {"lb_cell_10", "电池10", "Cell10"},
        {"lb_cell_16", "电池16", "Cell16"},
        {"error_0", "故障状态", "Error Status"},
        {"warning_0", "告警状态", "Warn Status"},
        {"protection_0", "保护状态", "Protect Status"},
        {"warning_1", "整组过压", "Pack OV"},
        {"protection_4", "单体电池欠压", "Cell UV"},
        {"warning_7", "环境温度异常", "Temp Anmaly"},
        {"protection_8", "MOS温度高", "MOS OT"},
        {"warning_10", "放电高温", "Disharge OT"},
        {"protection_12", "放电低温", "Discharge UT"},
        {"warning_13", "容量过低", "Low Capacity"},
        {"warning_14", "其他错误", "Other Error"},
        {"protection_13", "浮充停止", "Float Stoped"},
        {"protection_14", "放电短路", "Discharge SC"},
        {"error_1", "电压检测故障", "Voltage Error"},
        {"error_2", "温度检测故障", "Temperature Error"},
        {"error_3", "电流检测故障", "Current Error"},
        {"error_4", "电压不均衡", "Cell Unbalance"},
        // The form's own texts that no switch touches.
        {"lb_soc", "SOC", "SOC"},
        {"label_11", "% ", "% "},
        {"label_26", "AH", "AH"},
        {"label_48", "℃", "℃"},
        {"label_46", "", ""},
    };
    for (const auto &row : rows)
        QTest::newRow(row.widget) << QString::fromLatin1(row.widget) << QString::fromUtf8(row.zh)
                                  << QString::fromUtf8(row.en);
}

void TstBmsMonitoring::languageTexts()
{
    QFETCH(QString, widget);
    QFETCH(QString, chinese);
    QFETCH(QString, english);
    BmsMonitoring page;
    liveData().language = 1;
    emit page.languageSwich();
    QCOMPARE(widgetText(page, widget), english);
    liveData().language = 0;
    emit page.languageSwich();
    QCOMPARE(widgetText(page, widget), chinese);
}

// The page is redrawn every second; a redraw of unchanged values must not
// re-polish any lamp or cell field.
void TstBmsMonitoring::unchangedRedrawKeepsStyles()
{
    BmsMonitoring page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    StyleChangeCounter counter;
    const auto styled = page.findChildren<QWidget *>(QRegularExpression("^(warning|protection|error|cell)_[1-9]\\d*$"));
    QCOMPARE(styled.size(), 14 + 14 + 4 + 16);
    for (QWidget *w : styled)
        w->installEventFilter(&counter);

    reg(Reg::WarningBits) = 0x0003;
    reg(Reg::CellMarkBits) = 0x0001;
    page.refreshValues();
    QVERIFY(counter.count > 0);

    counter.count = 0;
    page.refreshValues();
    QCOMPARE(counter.count, 0);

    // A change re-styles what changed, not the rest.
    reg(Reg::WarningBits) = 0x0001;
    page.refreshValues();
    QVERIFY(counter.count > 0);
    QCOMPARE(child(page, "warning_2")->styleSheet(), White);
    QCOMPARE(child(page, "warning_1")->styleSheet(), Yellow);
}

void TstBmsMonitoring::fitsMainWindow_data()
{
    QTest::addColumn<int>("language");
    QTest::newRow("Chinese") << 0;
    QTest::newRow("English") << 1;
}

// Everything must be visible and unclipped at the window's designed size,
// with the widest values each field can get.
void TstBmsMonitoring::fitsMainWindow()
{
    QFETCH(int, language);
    MainWindow window;
    window.resize(1118, 737);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    BmsMonitoring *page = window.monitoringPage();

    putText(Reg::ModelText, "PACK-LFP48V100AH-16S-RV2");
    putText(Reg::VersionText, "V10.99");
    putText(Reg::SerialText, "SN0123456789ABCD");
    reg(Reg::TotalVoltage) = 65535;
    reg(Reg::PackCurrent) = 0x8000;
    reg(Reg::PcbTemp) = 0x8000;
    reg(Reg::AmbientTemp) = 0x8000;
    for (int i = 0; i < 16; ++i)
        reg(Reg::CellVoltage + i) = 65535 - i;
    reg(Reg::CellCount) = 16;
    reg(Reg::StatusWord) = 0x0008; // the longest state text
    reg(Reg::SensorTemp12) = 0x8080;
    reg(Reg::SensorTemp34) = 0x8080;
    reg(Reg::FullCapacity) = 65535;
    reg(Reg::RemainCapacity) = 65535;
    reg(Reg::WarningBits) = 0x3FFF;
    reg(Reg::ProtectionBits) = 0x3FFF;
    reg(Reg::ErrorBits) = 0x000F;
    reg(Reg::CellMarkBits) = 0xFFFF;
    liveData().language = quint8(language);
    liveData().requestKind = MonitorRead;
    emit page->languageSwich();
    page->showOnline();
    page->refreshValues();
    QCoreApplication::processEvents();
    QTRY_VERIFY(!page->size().isEmpty());

    // The window may have grown for another page; what the page needs must
    // fit into what the designed window size leaves it.
    const QSize growth = window.size() - QSize(1118, 737);
    const QSize available = page->size() - growth.expandedTo(QSize(0, 0));
    const QSize needed = page->minimumSizeHint();
    QVERIFY2(needed.width() <= available.width() && needed.height() <= available.height(),
             qPrintable(QStringLiteral("needs %1x%2, has %3x%4")
                            .arg(needed.width()).arg(needed.height())
                            .arg(available.width()).arg(available.height())));

    const QRect pageRect = page->rect();
    const auto widgets = page->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        const QString name = w->objectName();
        QVERIFY2(w->isVisibleTo(page), qPrintable(name));
        const QRect onPage(w->mapTo(page, QPoint(0, 0)), w->size());
        QVERIFY2(pageRect.contains(onPage), qPrintable(name));
        if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            QStyleOptionFrame option;
            option.initFrom(edit);
            option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
            const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
            const int textWidth = edit->fontMetrics().horizontalAdvance(edit->text());
            QVERIFY2(textWidth <= contents.width() - 4,
                     qPrintable(QStringLiteral("%1: \"%2\" needs %3, has %4")
                                    .arg(name, edit->text()).arg(textWidth).arg(contents.width() - 4)));
        }
        if (auto *button = qobject_cast<QPushButton *>(w)) {
            QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width(), qPrintable(name));
            // Re-styling must not lose the page's font.
            QCOMPARE(button->font().pointSizeF(), page->font().pointSizeF());
        }
        if (auto *label = qobject_cast<QLabel *>(w))
            QVERIFY2(label->width() >= label->minimumSizeHint().width(), qPrintable(name));
    }
    QCOMPARE(child(*page, "com_state")->font().pointSizeF(), page->font().pointSizeF());
    QCOMPARE(child(*page, "cell_1")->font().pointSizeF(), page->font().pointSizeF());
}

QTEST_MAIN(TstBmsMonitoring)
#include "tst_bmsmonitoring.moc"
