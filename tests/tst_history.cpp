// The history page: a monitoring sample stored as one row of table `total`
// and shown on top with the column's display rule; loading, header-click
// sorting by stored value, Clear, failed inserts, and the paged model's
// row arithmetic over several blocks, with and without gaps in the ids.
#include "app/startup.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "model/valueformat.h"
#include "pages/historymonitoring.h"
#include "pages/recordtablemodel.h"
#include "support/testenv.h"

#include <QHeaderView>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

QLoggingCategory::CategoryFilter previousFilter = nullptr;

// The test environment silences debug output; the database errors the page
// reports go there, so let the default category through again.
void letDebugThrough(QLoggingCategory *category)
{
    if (previousFilter)
        previousFilter(category);
    if (qstrcmp(category->categoryName(), "default") == 0)
        category->setEnabled(QtDebugMsg, true);
}

QSqlDatabase db1() { return QSqlDatabase::database(QStringLiteral("connection1")); }

void exec(const QString &sql)
{
    QSqlQuery q(db1());
    if (!q.exec(sql))
        qFatal("%s failed", qPrintable(sql));
}

// Fills `total` with rows 1..count (one transaction): Total_Voltage and
// time grow with the id, Current_I runs through a pattern.
void fillRows(int count)
{
    QSqlDatabase db = db1();
    db.transaction();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("insert into total(time,Status,Heater,Total_Voltage,Current_I)values(?,?,?,?,?)"));
    for (int i = 1; i <= count; ++i) {
        q.addBindValue(QStringLiteral("2024-01-01 00:%1:%2")
                           .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(i % 60, 2, 10, QLatin1Char('0')));
        q.addBindValue(i % 16);
        q.addBindValue(i % 2);
        q.addBindValue(i);
        q.addBindValue((i * 37) % 1001 - 500);
        q.exec();
    }
    db.commit();
}

QVariant storedValue(const QString &column, qint64 id)
{
    QSqlQuery q(db1());
    q.prepare(QStringLiteral("select %1 from total where id=?").arg(column));
    q.addBindValue(id);
    if (!q.exec() || !q.next())
        return QVariant(QStringLiteral("<no row>"));
    return q.value(0);
}

void setRegister(int reg, quint16 value) { liveData().registerImage[reg] = value; }

// Writes `text` into the identity registers from `reg` on, high byte first.
void setText(int reg, int bytes, const QByteArray &text)
{
    for (int i = 0; i < bytes; i += 2) {
        const quint8 hi = i < text.size() ? quint8(text[i]) : 0;
        const quint8 lo = i + 1 < text.size() ? quint8(text[i + 1]) : 0;
        setRegister(reg + i / 2, quint16(hi << 8 | lo));
    }
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

    std::unique_ptr<HistoryMonitoring> page;

    RecordTableModel *model() const { return page->model(); }
    QString cell(int row, int column) const { return model()->index(row, column).data().toString(); }
    QStringList columnTexts(int column) const
    {
        QStringList texts;
        for (int r = 0; r < model()->rowCount(); ++r)
            texts << cell(r, column);
        return texts;
    }
    // A fresh, empty table and a page over it.
    void freshPage()
    {
        page.reset();
        exec(QStringLiteral("drop table if exists total"));
        exec(QString::fromLatin1(Startup::CreateTotalTable));
        page = std::make_unique<HistoryMonitoring>();
    }
    void insertWith(int reg, quint16 value)
    {
        setRegister(reg, value);
        page->insertSample();
    }

private slots:
    void initTestCase()
    {
        previousFilter = QLoggingCategory::installFilter(letDebugThrough);
        TestEnv::openFreshDatabases();
    }
    void init()
    {
        TestEnv::resetLiveData();
        liveData().language = 1;
        freshPage();
    }
    void cleanup() { page.reset(); }

    void formAndView()
    {
        QCOMPARE(page->size(), QSize(576, 475));
        QTableView *view = page->findChild<QTableView *>(QStringLiteral("tableWidget"));
        QVERIFY(view);
        QCOMPARE(view->model()->columnCount(), 40);
        QVERIFY(view->horizontalHeader()->stretchLastSection());
        QVERIFY(view->verticalHeader()->isHidden());
        QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(view->horizontalHeader()->styleSheet(),
                 QStringLiteral("QHeaderView::section    {        background-color: qlineargradient(x1:0, y1:0, "
                                "x2:0, y2:1,                                              stop:0 #616161, stop: "
                                "0.5 #505050,                                              stop: 0.6 #434343, "
                                "stop:1 #656565);        color: white;        padding-left: 4px;        border: "
                                "1px solid #6c6c6c;    }    /*QHeaderView::section:checked    {        "
                                "background-color: red;    }*/"));
        auto *save = page->findChild<QPushButton *>(QStringLiteral("saveBtn"));
        auto *clear = page->findChild<QPushButton *>(QStringLiteral("clearBtn"));
        QVERIFY(save && clear);
        QCOMPARE(save->text(), QStringLiteral("保存数据"));
        QCOMPARE(clear->minimumWidth(), 120);
        QCOMPARE(save->styleSheet(), QStringLiteral("background-color: rgb(255, 255, 255);"));
    }

    // Samples are appended with write-ahead logging and normal syncing.
    void databaseJournal()
    {
        QSqlQuery q(db1());
        QVERIFY(q.exec(QStringLiteral("pragma journal_mode")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("wal"));
        QVERIFY(q.exec(QStringLiteral("pragma synchronous")) && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
    }

    void headersInBothLanguages()
    {
        const QStringList chinese{
            "时间",   "状态",   "加热",   "警告",   "保护",   "错误码", "循环次数", "电流",     "最大允许电流",
            "总电压", "SOC",    "SOH",    "PCB温度", "内部温度", "最大温度", "温度01",   "温度02",   "温度03",
            "温度04", "电压01", "电压02", "电压03", "电压04", "电压05", "电压06",   "电压07",   "电压08",
            "电压09", "电压10", "电压11", "电压12", "电压13", "电压14", "电压15",   "电压16",   "容量",
            "剩余容量", "电池模块", "版本号", "序列号"};
        const QStringList english{
            "Date_Time",  "Status",     "Heater",     "Warning",    "protection",    "ErrorEode",  "CycleNum",
            "Current_I",  "MAX_Curren", "Total_Voltage", "SOC",     "SOH",           "Temp_PCB",   "Temp_internal",
            "Temp_MAX",   "Temp_01",    "Temp_02",    "Temp_03",    "Temp_04",       "Vol_Cell01", "Vol_Cell02",
            "Vol_Cell03", "Vol_Cell04", "Vol_Cell05", "Vol_Cell06", "Vol_Cell07",    "Vol_Cell08", "Vol_Cell09",
            "Vol_Cell10", "Vol_Cell11", "Vol_Cell12", "Vol_Cell13", "Vol_Cell14",    "Vol_Cell15", "Vol_Cell16",
            "Capacity",   "Remaining",  "Battery_Mode", "BMS_Version", "BMS_ISDN"};
        QCOMPARE(page->chineseHeaders, chinese);
        QCOMPARE(page->englishHeaders, english);
        QHeaderView *header = page->tableView()->horizontalHeader();
        auto shown = [&] {
            QStringList labels;
            for (int c = 0; c < 40; ++c)
                labels << header->model()->headerData(c, Qt::Horizontal).toString();
            return labels;
        };
        QCOMPARE(shown(), english);
        liveData().language = 0;
        emit page->languageSwich();
        QCOMPARE(shown(), chinese);
        QCOMPARE(page->findChild<QPushButton *>(QStringLiteral("saveBtn"))->text(), QStringLiteral("保存"));
        QCOMPARE(page->findChild<QPushButton *>(QStringLiteral("clearBtn"))->text(), QStringLiteral("清空"));
        liveData().language = 1;
        emit page->languageSwich();
        QCOMPARE(page->findChild<QPushButton *>(QStringLiteral("clearBtn"))->text(), QStringLiteral("Clear"));
    }

    // One register of the monitoring answer, stored in its column and shown
    // by its column's rule.
    void sampleColumn_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<QString>("shown");

        QTest::newRow("current -2.00") << 1 << Reg::PackCurrent << 0xFF38 << 7 << "Current_I" << qint64(-200) << "-2.00";
        QTest::newRow("current -0.50") << 1 << Reg::PackCurrent << 0xFFCE << 7 << "Current_I" << qint64(-50) << "-0.50";
        QTest::newRow("current 1.50") << 1 << Reg::PackCurrent << 150 << 7 << "Current_I" << qint64(150) << "1.50";
        QTest::newRow("voltage") << 1 << Reg::TotalVoltage << 5234 << 9 << "Total_Voltage" << qint64(5234) << "52.34";
        QTest::newRow("voltage unsigned") << 1 << Reg::TotalVoltage << 0xFFFF << 9 << "Total_Voltage"
                                          << qint64(65535) << "655.35";
        QTest::newRow("sensor 1 -5") << 1 << Reg::SensorTemp12 << 0xFB19 << 15 << "Temp_01" << qint64(-5) << "-5";
        QTest::newRow("sensor 2 25") << 1 << Reg::SensorTemp12 << 0xFB19 << 16 << "Temp_02" << qint64(25) << "25";
        QTest::newRow("sensor 3 -128") << 1 << Reg::SensorTemp34 << 0x80FF << 17 << "Temp_03" << qint64(-128) << "-128";
        QTest::newRow("sensor 4 -1") << 1 << Reg::SensorTemp34 << 0x80FF << 18 << "Temp_04" << qint64(-1) << "-1";
        QTest::newRow("pcb signed") << 1 << Reg::PcbTemp << 0xFFF6 << 12 << "Temp_PCB" << qint64(-10) << "-10";
        QTest::newRow("ambient signed") << 1 << Reg::AmbientTemp << 0xFFFB << 13 << "Temp_internal" << qint64(-5) << "-5";
        QTest::newRow("max temp unsigned") << 1 << Reg::ReportedMaxTemp << 0xFFFB << 14 << "Temp_MAX"
                                           << qint64(65531) << "65531";
        QTest::newRow("warning 00AB") << 1 << Reg::WarningBits << 171 << 3 << "Warning" << qint64(171) << "00AB";
        QTest::newRow("protection 1F40") << 1 << Reg::ProtectionBits << 8000 << 4 << "protection" << qint64(8000) << "1F40";
        QTest::newRow("error 000A") << 1 << Reg::ErrorBits << 10 << 5 << "Error_Code" << qint64(10) << "000A";
        QTest::newRow("cycles") << 1 << Reg::CycleCount << 65535 << 6 << "CycleNum" << qint64(65535) << "65535";
        QTest::newRow("max current") << 1 << Reg::MaxChargeCurrent << 100 << 8 << "MAX_Curren" << qint64(100) << "100";
        QTest::newRow("soc") << 1 << Reg::Soc << 87 << 10 << "SOC" << qint64(87) << "87";
        QTest::newRow("soh") << 1 << Reg::Soh << 99 << 11 << "SOH" << qint64(99) << "99";
        QTest::newRow("cell 1") << 1 << Reg::CellVoltage << 3301 << 19 << "Vol_Cell01" << qint64(3301) << "3.301";
        QTest::newRow("cell 16") << 1 << Reg::CellVoltage + 15 << 45 << 34 << "Vol_Cell16" << qint64(45) << "0.045";
        QTest::newRow("capacity") << 1 << Reg::FullCapacity << 1000 << 35 << "Capacity" << qint64(1000) << "100.0";
        QTest::newRow("remaining") << 1 << Reg::RemainCapacity << 80 << 36 << "Remaining" << qint64(80) << "80";
        QTest::newRow("charge+protection+heater") << 1 << Reg::StatusWord << 0x8005 << 1 << "Status" << qint64(5) << "Charge";
        QTest::newRow("heater on") << 1 << Reg::StatusWord << 0x8005 << 2 << "Heater" << qint64(1) << "on";
        QTest::newRow("heater off") << 1 << Reg::StatusWord << 0x7FFF << 2 << "Heater" << qint64(0) << "off";
        QTest::newRow("discharge") << 1 << Reg::StatusWord << 0x0006 << 1 << "Status" << qint64(6) << "Discharge";
        QTest::newRow("protection") << 1 << Reg::StatusWord << 0x0004 << 1 << "Status" << qint64(4) << "Protection";
        QTest::newRow("protection wins over limiting") << 1 << Reg::StatusWord << 0x000C << 1 << "Status"
                                                       << qint64(12) << "Protection";
        QTest::newRow("limiting") << 1 << Reg::StatusWord << 0x0008 << 1 << "Status" << qint64(8)
                                  << "Charge current limiting";
        QTest::newRow("standby") << 1 << Reg::StatusWord << 0x0000 << 1 << "Status" << qint64(0) << "Standby";
        QTest::newRow("high bits not stored") << 1 << Reg::StatusWord << 0x80F0 << 1 << "Status" << qint64(0) << "Standby";
        QTest::newRow("zh protection") << 0 << Reg::StatusWord << 0x0004 << 1 << "Status" << qint64(4) << "保护";
        QTest::newRow("zh limiting") << 0 << Reg::StatusWord << 0x0008 << 1 << "Status" << qint64(8) << "充电限流";
        QTest::newRow("zh standby") << 0 << Reg::StatusWord << 0x0000 << 1 << "Status" << qint64(0) << "静置";
        QTest::newRow("zh heater on") << 0 << Reg::StatusWord << 0x8000 << 2 << "Heater" << qint64(1) << "开";
        QTest::newRow("zh heater off") << 0 << Reg::StatusWord << 0x0001 << 2 << "Heater" << qint64(0) << "关";
        QTest::newRow("other language: no status") << 2 << Reg::StatusWord << 0x0001 << 1 << "Status" << qint64(1) << "";
        QTest::newRow("other language: no heater") << 2 << Reg::StatusWord << 0x8000 << 2 << "Heater" << qint64(1) << "";
        QTest::newRow("other language: numbers") << 2 << Reg::TotalVoltage << 5234 << 9 << "Total_Voltage"
                                                 << qint64(5234) << "52.34";
    }
    void sampleColumn()
    {
        QFETCH(int, language);
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(int, column);
        QFETCH(QString, name);
        QFETCH(qint64, stored);
        QFETCH(QString, shown);
        liveData().language = quint8(language);
        insertWith(reg, quint16(value));
        QCOMPARE(model()->rowCount(), 1);
        QCOMPARE(storedValue(name, 1).toLongLong(), stored);
        QCOMPARE(storedValue(name, 1).type(), QVariant::LongLong); // an integer, not a text
        QCOMPARE(cell(0, column), shown);
    }

    // The page formats digits itself (the export writes millions of them);
    // it must agree with the tool's shared value formatting everywhere.
    void displayRulesAgreeWithValueFormat()
    {
        using RecordTable::Rule;
        QVector<qint64> values;
        for (qint64 v = -70000; v <= 70000; v += 7)
            values << v;
        values << 0 << -1 << 1 << 99 << 100 << -99 << -100 << 65535 << -32768 << 2147483647 << qint64(-2147483647) - 1;
        for (qint64 v : values) {
            const QVariant stored(v);
            for (int lang : {0, 1, 2}) {
                QCOMPARE(RecordTable::displayText(Rule::Hundredths, stored, lang), fixedPoint(v, 2));
                QCOMPARE(RecordTable::displayText(Rule::Thousandths, stored, lang), fixedPoint(v, 3));
                QCOMPARE(RecordTable::displayText(Rule::Tenths, stored, lang), fixedPoint(v, 1));
                QCOMPARE(RecordTable::displayText(Rule::Decimal, stored, lang), QString::number(v));
                QCOMPARE(RecordTable::displayText(Rule::Hex4, stored, lang), hex4(quint16(v)));
                QCOMPARE(RecordTable::displayText(Rule::StatusText, stored, lang),
                         operatingStateText(quint16(v), lang));
            }
        }
        // Stored texts and empty values.
        QCOMPARE(RecordTable::displayText(Rule::Hundredths, QVariant(), 1), QStringLiteral("0.00"));
        QCOMPARE(RecordTable::displayText(Rule::Text, QVariant(), 1), QString());
        QCOMPARE(RecordTable::displayText(Rule::Decimal, QStringLiteral("1234"), 1), QStringLiteral("1234"));
    }

    void identityTexts_data()
    {
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("stored");
        QTest::newRow("model cut at zero") << Reg::ModelText << 24 << QByteArray("AB\0CD", 5) << 37 << "AB";
        QTest::newRow("model filling 24 bytes") << Reg::ModelText << 24 << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWX")
                                                << 37 << "ABCDEFGHIJKLMNOPQRSTUVWX";
        QTest::newRow("version filling 6 bytes") << Reg::VersionText << 6 << QByteArray("V1.2.3") << 38 << "V1.2.3";
        QTest::newRow("serial filling 16 bytes") << Reg::SerialText << 16 << QByteArray("SN0123456789ABCD") << 39
                                                 << "SN0123456789ABCD";
        QTest::newRow("quote in a text") << Reg::ModelText << 24 << QByteArray("O'Brien 48V") << 37 << "O'Brien 48V";
        QTest::newRow("SQL in a text") << Reg::SerialText << 16 << QByteArray("');drop table x;") << 39
                                       << "');drop table x;";
        QTest::newRow("empty") << Reg::VersionText << 6 << QByteArray() << 38 << "";
    }
    void identityTexts()
    {
        QFETCH(int, reg);
        QFETCH(int, bytes);
        QFETCH(QByteArray, text);
        QFETCH(int, column);
        QFETCH(QString, stored);
        setText(reg, bytes, text);
        page->insertSample();
        QCOMPARE(model()->rowCount(), 1);
        const QVariant value = storedValue(RecordTable::history().columns.at(column).name, 1);
        QVERIFY(!value.isNull());
        QCOMPARE(value.toString(), stored);
        QCOMPARE(cell(0, column), stored);
    }

    void sampleIsStampedWithSampleTime()
    {
        page->insertSample(); // before the clock's first tick: an empty text
        QVERIFY(!storedValue(QStringLiteral("time"), 1).isNull());
        QCOMPARE(storedValue(QStringLiteral("time"), 1).toString(), QString());
        page->sampleTime = QStringLiteral("2024-03-05 07:08:09");
        page->insertSample();
        QCOMPARE(storedValue(QStringLiteral("time"), 2).toString(), QStringLiteral("2024-03-05 07:08:09"));
        QCOMPARE(cell(0, 0), QStringLiteral("2024-03-05 07:08:09"));
        QCOMPARE(cell(1, 0), QString());
    }

    void cellsAreBoldCentredAndProtectionRed()
    {
        insertWith(Reg::StatusWord, 0x0001); // charge
        insertWith(Reg::StatusWord, 0x000C); // protection
        const QModelIndex status = model()->index(0, 1);
        QCOMPARE(qvariant_cast<QBrush>(status.data(Qt::BackgroundRole)), QBrush(QColor(QStringLiteral("Red"))));
        QCOMPARE(qvariant_cast<QBrush>(status.data(Qt::BackgroundRole)).style(), Qt::SolidPattern);
        QVERIFY(!model()->index(1, 1).data(Qt::BackgroundRole).isValid());
        QVERIFY(!model()->index(0, 2).data(Qt::BackgroundRole).isValid());
        for (int c : {0, 1, 9, 39}) {
            const QModelIndex i = model()->index(1, c);
            QCOMPARE(qvariant_cast<QFont>(i.data(Qt::FontRole)).weight(), 75);
            QCOMPARE(i.data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignHCenter | Qt::AlignVCenter));
        }
        QVERIFY(!(model()->flags(status) & Qt::ItemIsEditable));
    }

    void loadShowsNewestOnTop()
    {
        page.reset();
        fillRows(3);
        page = std::make_unique<HistoryMonitoring>();
        QCOMPARE(model()->rowCount(), 3);
        QCOMPARE(columnTexts(9), (QStringList{"0.03", "0.02", "0.01"}));
        QCOMPARE(model()->idAt(0), qint64(3));
    }

    // Rows in a table of several fetch blocks come out in the right places,
    // newest first and sorted, reading from either end of the order.
    void deepRowsAcrossBlocks()
    {
        page.reset();
        const int n = 3 * RecordTableModel::BlockRows + 17;
        fillRows(n);
        page = std::make_unique<HistoryMonitoring>();
        QCOMPARE(model()->rowCount(), n);
        for (int r : {n - 1, 0, RecordTableModel::BlockRows, n / 2, n - 2})
            QCOMPARE(model()->idAt(r), qint64(n - r));

        page->sortByColumn(7); // Current_I, descending
        QVector<int> currents;
        for (int i = 1; i <= n; ++i)
            currents << (i * 37) % 1001 - 500;
        std::sort(currents.begin(), currents.end(), std::greater<int>());
        // Read from the end first so that the blocks are fetched from there.
        for (int r = n - 1; r >= 0; --r)
            QCOMPARE(cell(r, 7), fixedPointText(currents[r]));
    }
    static QString fixedPointText(int hundredths)
    {
        return RecordTable::displayText(RecordTable::Rule::Hundredths, hundredths, 1);
    }

    void idGapsLeftByOthersAreFollowed()
    {
        page.reset();
        const int n = 2 * RecordTableModel::BlockRows + 40;
        fillRows(n);
        exec(QStringLiteral("delete from total where id between 100 and 110 or id = %1").arg(n));
        page = std::make_unique<HistoryMonitoring>();
        // The model first takes the ids for gapless, notices the gap on the
        // first fetch and recounts.
        model()->index(0, 9).data();
        model()->index(RecordTableModel::BlockRows + 100, 9).data();
        QTRY_COMPARE(model()->rowCount(), n - 12);
        QStringList expected;
        for (int id = n - 1; id >= 1; --id) {
            if (id < 100 || id > 110)
                expected << fixedPointText(id);
        }
        QCOMPARE(columnTexts(9), expected);
        page->insertSample();
        QCOMPARE(model()->rowCount(), n - 11);
        QCOMPARE(model()->idAt(0), qint64(n + 1));
    }

    void sortOrder_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("reg");
        QTest::addColumn<QVector<int>>("values");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QStringList>("shown");

        QTest::newRow("voltage by value, descending")
            << 1 << Reg::TotalVoltage << QVector<int>{600, 5234, 1000} << 9 << 1
            << QStringList{"52.34", "10.00", "6.00"};
        QTest::newRow("current by value, ascending")
            << 1 << Reg::PackCurrent << QVector<int>{150, 0xFF38, 1000, 200} << 7 << 2
            << QStringList{"-2.00", "1.50", "2.00", "10.00"};
        QTest::newRow("cells by value") << 1 << Reg::CellVoltage << QVector<int>{999, 10000, 3301} << 19 << 1
                                        << QStringList{"10.000", "3.301", "0.999"};
        QTest::newRow("temperature signed") << 1 << Reg::SensorTemp12 << QVector<int>{0x0500, 0xFB00, 0x1400} << 15
                                            << 2 << QStringList{"-5", "5", "20"};
        QTest::newRow("hex by value") << 1 << Reg::WarningBits << QVector<int>{0x00AB, 0x1000, 0x0F00} << 3 << 1
                                      << QStringList{"1000", "0F00", "00AB"};
        QTest::newRow("status by English text")
            << 1 << Reg::StatusWord << QVector<int>{0, 1, 2, 4, 8} << 1 << 2
            << QStringList{"Charge", "Charge current limiting", "Discharge", "Protection", "Standby"};
        QTest::newRow("status by Chinese text")
            << 0 << Reg::StatusWord << QVector<int>{0, 1, 2, 4, 8} << 1 << 2
            << QStringList{"保护", "充电", "充电限流", "放电", "静置"};
        QTest::newRow("heater by text") << 1 << Reg::StatusWord << QVector<int>{0x8000, 0, 0x8000} << 2 << 1
                                        << QStringList{"on", "on", "off"};
        QTest::newRow("model by text") << 1 << Reg::ModelText << QVector<int>{0x4200, 0x4100, 0x4300} << 37 << 2
                                       << QStringList{"A", "B", "C"};
    }
    void sortOrder()
    {
        QFETCH(int, language);
        QFETCH(int, reg);
        QFETCH(QVector<int>, values);
        QFETCH(int, column);
        QFETCH(int, clicks);
        QFETCH(QStringList, shown);
        liveData().language = quint8(language);
        for (int v : values)
            insertWith(reg, quint16(v));
        for (int i = 0; i < clicks; ++i)
            emit page->tableView()->horizontalHeader()->sectionClicked(column);
        QCOMPARE(columnTexts(column), shown);
    }

    void timeSortsChronologically()
    {
        for (const char *t : {"2024-02-01 10:00:00", "2023-12-31 23:59:59", "2024-02-01 09:59:59"}) {
            page->sampleTime = QString::fromLatin1(t);
            page->insertSample();
        }
        page->sortByColumn(0);
        QCOMPARE(columnTexts(0),
                 (QStringList{"2024-02-01 10:00:00", "2024-02-01 09:59:59", "2023-12-31 23:59:59"}));
        page->sortByColumn(0);
        QCOMPARE(columnTexts(0).first(), QStringLiteral("2023-12-31 23:59:59"));
    }

    void oneDirectionFlagForThePage()
    {
        for (int v : {300, 100, 200})
            insertWith(Reg::TotalVoltage, quint16(v));
        QVERIFY(!page->lastSortDescending());
        page->sortByColumn(9); // descending
        QVERIFY(page->lastSortDescending());
        QCOMPARE(columnTexts(9), (QStringList{"3.00", "2.00", "1.00"}));
        page->sortByColumn(0); // another column: ascending, by time (all equal: oldest first)
        QVERIFY(!page->lastSortDescending());
        QCOMPARE(columnTexts(9), (QStringList{"3.00", "1.00", "2.00"}));
        page->sortByColumn(9); // descending again
        QCOMPARE(columnTexts(9), (QStringList{"3.00", "2.00", "1.00"}));
    }

    void rowsAfterASortComeOnTop()
    {
        for (int v : {300, 100, 200})
            insertWith(Reg::TotalVoltage, quint16(v));
        page->sortByColumn(9);
        page->sortByColumn(9); // ascending
        insertWith(Reg::TotalVoltage, 50);
        insertWith(Reg::TotalVoltage, 999);
        QCOMPARE(columnTexts(9), (QStringList{"9.99", "0.50", "1.00", "2.00", "3.00"}));
        // The next sort takes them in.
        page->sortByColumn(9);
        QCOMPARE(columnTexts(9), (QStringList{"9.99", "3.00", "2.00", "1.00", "0.50"}));
    }

    void sortBuildsAnIndexTheQueriesUse()
    {
        fillRows(50);
        page->sortByColumn(9);
        page->sortByColumn(1);
        QSqlQuery q(db1());
        QVERIFY(q.exec(QStringLiteral("select name from sqlite_master where type='index' and tbl_name='total'")));
        QStringList names;
        while (q.next())
            names << q.value(0).toString();
        QVERIFY2(names.contains(QStringLiteral("total_sort_Total_Voltage")), qPrintable(names.join(' ')));
        QVERIFY2(names.contains(QStringLiteral("total_sort_Status_en")), qPrintable(names.join(' ')));

        // The page's query of a deep block is served by the index, not by a
        // sort of the whole table.
        for (int column : {9, 1}) {
            const RecordTable::Definition &def = RecordTable::history();
            const QString sql = def.selectList() + QStringLiteral(" where +id<=? order by ")
                                + def.sortKey(column, 1) + QStringLiteral(" desc,id desc limit 10 offset 20");
            QSqlQuery plan(db1());
            QVERIFY(plan.prepare(QStringLiteral("explain query plan ") + sql));
            plan.addBindValue(1000);
            QVERIFY(plan.exec());
            QString details;
            while (plan.next())
                details += plan.value(3).toString() + QLatin1Char(';');
            QVERIFY2(details.contains(def.sortIndexName(column, 1)), qPrintable(details));
            QVERIFY2(!details.contains(QStringLiteral("TEMP B-TREE")), qPrintable(details));
        }
    }

    void clearRestartsIdsAndFitsColumns()
    {
        for (int i = 0; i < 3; ++i)
            insertWith(Reg::TotalVoltage, quint16(100 + i));
        page->sortByColumn(9);
        page->on_clearBtn_clicked();
        QCOMPARE(model()->rowCount(), 0);
        QSqlQuery q(db1());
        QVERIFY(q.exec(QStringLiteral("select count(*) from total")) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);

        QTableView *view = page->tableView();
        const int narrow = view->horizontalHeader()->minimumSectionSize();
        view->setColumnWidth(37, narrow);
        setText(Reg::ModelText, 24, "A LONG MODEL NAME 48V");
        page->insertSample();
        QCOMPARE(model()->rowCount(), 1);
        QCOMPARE(model()->idAt(0), qint64(1));
        QCOMPARE(storedValue(QStringLiteral("Battery_Mode"), 1).toString(), QStringLiteral("A LONG MODEL NAME 48V"));
        QVERIFY(view->columnWidth(37) > narrow + 50);
        // Later rows leave the widths alone.
        view->setColumnWidth(37, narrow);
        page->insertSample();
        QCOMPARE(view->columnWidth(37), narrow);
        QCOMPARE(model()->idAt(0), qint64(2));
    }

    void failedInsertAddsNoRow()
    {
        insertWith(Reg::TotalVoltage, 100);
        exec(QStringLiteral("drop table total"));
        QTest::ignoreMessage(QtDebugMsg, "insert error!");
        page->insertSample();
        QCOMPARE(model()->rowCount(), 1);
        // The page goes on once the table is back.
        exec(QString::fromLatin1(Startup::CreateTotalTable));
        page->insertSample();
        QCOMPARE(model()->rowCount(), 2);
    }

    void unreadableTableShowsNothing()
    {
        exec(QStringLiteral("drop table total"));
        QTest::ignoreMessage(QtDebugMsg, "select error!");
        emit page->languageSwich();
        QCOMPARE(model()->rowCount(), 0);
        QTest::ignoreMessage(QtDebugMsg, "drop error!");
        page->on_clearBtn_clicked(); // re-creates it
        page->insertSample();
        QCOMPARE(model()->idAt(0), qint64(1));
    }

    void languageChangeReloadsTexts()
    {
        insertWith(Reg::StatusWord, 0x8001);
        insertWith(Reg::StatusWord, 0x0002);
        page->sortByColumn(1);
        QCOMPARE(cell(0, 1), QStringLiteral("Discharge"));
        liveData().language = 0;
        emit page->languageSwich();
        // Reloaded newest first with the Chinese texts.
        QCOMPARE(columnTexts(1), (QStringList{"放电", "充电"}));
        QCOMPARE(columnTexts(2), (QStringList{"关", "开"}));
        QCOMPARE(model()->sortColumn(), -1);
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
