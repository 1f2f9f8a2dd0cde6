// The history page: the listed rows against the create statements, each column's rule, sorting, Clear, paging,
// and the export byte for byte.
#include "gui/dialogs.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/exporttable.h"
#include "pages/historymonitoring.h"
#include "store/recordtablemodel.h"
#include "store/schema.h"
#include "store/tablerows.h"
#include "support/helpers.h"
#include "support/testenv.h"

#include <QtSql>
#include <QtTest>
#include <QtWidgets>
#include <memory>
#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

QVariant query(const QString &sql, const QVariantList &bound = {})
{
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("connection1")));
    q.prepare(sql);
    for (const QVariant &value : bound)
        q.addBindValue(value);
    if (!q.exec())
        qFatal("%s failed", qPrintable(sql));
    return q.next() ? q.value(0) : QVariant();
}

const QByteArray ChineseHeaderLine =
    "时间\t状态\t加热\t警告\t保护\t错误码\t循环次数\t电流\t最大允许电流\t总电压\tSOC\tSOH\tPCB温度\t内部温度\t"
    "最大温度\t温度01\t温度02\t温度03\t温度04\t电压01\t电压02\t电压03\t电压04\t电压05\t电压06\t电压07\t电压08\t"
    "电压09\t电压10\t电压11\t电压12\t电压13\t电压14\t电压15\t电压16\t容量\t剩余容量\t电池模块\t版本号\t序列号\t\r\n";

// The English line of a sample whose registers are all zero but the voltage.
QByteArray sampleLine(const char *time, const char *voltage, const char *serial = "")
{
    return QByteArray(time) + "\tStandby\toff\t0000\t0000\t0000\t0\t0.00\t0\t" + voltage + "\t0\t0\t0\t0\t0\t0\t0\t0\t0\t"
           + QByteArray("0.000\t").repeated(16) + "0.0\t0\t\t\t" + serial + "\t\r\n";
}

// Three packs polled in turn: serial, time, voltage register.
const struct { const char *serial, *time; quint16 voltage; } ThreePacks[] = {
    {"B2", "t1", 600}, {"A1", "t2", 5234}, {"C'", "t3", 1000}, {"B2", "t4", 700}, {"A1", "t5", 300},
    {"C'", "t6", 1250}, {"B2", "t7", 50}, {"A1", "t8", 4000}, {"C'", "t9", 999}};

struct Shown { int language, reg, value, column; const char *text; };

// "name type" of every listed column, in field order.
QStringList listed(const RecordTable::RowColumn &(*column)(int), int count)
{
    QStringList out;
    for (int f = 0; f < count; ++f)
        out << QStringLiteral("%1 %2").arg(QLatin1String(column(f).name), QLatin1String(column(f).type));
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Shown)

class TestHistory : public QObject
{
    Q_OBJECT

    std::unique_ptr<HistoryMonitoring> page;
    std::unique_ptr<QTemporaryDir> dir;
    RecordTableModel *model() const { return page->model(); }
    QString cell(int row, int column) const { return model()->index(row, column).data().toString(); }
    QStringList columnTexts(int column) const
    {
        QStringList texts;
        for (int r = 0; r < model()->rowCount(); ++r)
            texts << cell(r, column);
        return texts;
    }
    void insertWith(int reg, int value) { liveData().registerImage[reg] = quint16(value), page->insertSample(); }
    // An English sample, all zero but the voltage.
    void sample(const char *time, quint16 voltage) { page->setLanguage(Language::English), page->sampleTime = time, insertWith(Reg::TotalVoltage, voltage); }
    QString path(const char *name) const { return dir->filePath(QString::fromLatin1(name)); }
    QStringList files() const { return QDir(dir->path()).entryList(QDir::Files); }
    // A sample of the pack whose two-letter serial is `serial`.
    void packSample(const char *serial, const char *time, quint16 voltage)
    {
        liveData().registerImage[Reg::SerialText] = quint16(quint8(serial[0]) << 8 | quint8(serial[1]));
        sample(time, voltage);
    }
    void threePacks()
    {
        for (const auto &r : ThreePacks)
            packSample(r.serial, r.time, r.voltage);
    }
    QStringList packItems() const
    {
        QStringList items;
        for (int i = 0; i < page->packBox()->count(); ++i)
            items << page->packBox()->itemText(i);
        return items;
    }
    void showPack(const QString &serial) { page->packBox()->setCurrentIndex(page->packBox()->findText(serial)); }

private slots:
    void initTestCase()
    {
        QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, true); // where database errors go
        TestEnv::openFreshDatabases();
    }
    void init()
    {
        TestEnv::resetLiveData();
        page = std::make_unique<HistoryMonitoring>();
        page->on_clearBtn_clicked(); // a fresh table, ids from 1
        dir = std::make_unique<QTemporaryDir>();
    }
    void cleanup() { Dialogs::clearHook(); }

    // Each table's listed row is the one its create statement makes, as SQLite reads the statement.
    void rowFollowsCreateStatement_data()
    {
        columns<QString, QString, QStringList>("create", "table", "listed");
        QStringList afterClear = listed(DatalogRow::column, DatalogRow::Count);
        afterClear.last() = "BMS_ISDN "; // Clear re-creates the log table with the serial number untyped
        QTest::newRow("history") << Schema::CreateTotalTable << "total"
                                 << listed(HistoryRow::column, HistoryRow::Count);
        QTest::newRow("log") << Schema::CreateRecordTable << "record" << listed(DatalogRow::column, DatalogRow::Count);
        QTest::newRow("log after Clear") << Schema::RecreateRecordTable << "record" << afterClear;
    }
    void rowFollowsCreateStatement()
    {
        QFETCH(QString, create);
        QFETCH(QString, table);
        QFETCH(QStringList, listed);
        QStringList made;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "rows");
            db.setDatabaseName(":memory:");
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(create) && q.exec("pragma table_info(" + table + ")"));
            while (q.next()) // SQLite gives the types in capitals
                made << q.value("name").toString() + " " + q.value("type").toString().toLower();
        }
        QSqlDatabase::removeDatabase("rows");
        QCOMPARE(made, QStringList("id integer") + listed);
    }

    // A register shown by its column's rule, protection on red.
    void sampleColumn_data()
    {
        QTest::addColumn<Shown>("row");
        for (const Shown &r : std::initializer_list<Shown>{
                {1, Reg::PackCurrent, 0xFF38, 7, "-2.00"}, {1, Reg::PackCurrent, 0xFFCE, 7, "-0.50"},
                {1, Reg::TotalVoltage, 0xFFFF, 9, "655.35"}, {1, Reg::SensorTemp12, 0xFB19, 15, "-5"},
                {1, Reg::CellVoltage, 3301, 19, "3.301"}, {1, Reg::FullCapacity, 1000, 35, "100.0"},
                {1, Reg::WarningBits, 171, 3, "00AB"},
                {1, Reg::StatusWord, 0x8005, 1, "Charge"}, // charge wins; the heater bit is not in Status
                {1, Reg::StatusWord, 0x8005, 2, "on"}, {0, Reg::StatusWord, 0x7FFF, 2, "关"},
                {1, Reg::StatusWord, 0x0004, 1, "Protection"}, {0, Reg::StatusWord, 0x000C, 1, "保护"}, // bit 2 wins
                {1, Reg::StatusWord, 0x0008, 1, "Charge current limiting"},
                {1, Reg::ProtectionBits, 0x1234, 4, "1234"}, {1, Reg::ErrorBits, 0xBEEF, 5, "BEEF"},
                {1, Reg::CycleCount, 77, 6, "77"}, {1, Reg::MaxChargeCurrent, 150, 8, "150"},
                {1, Reg::Soc, 64, 10, "64"}, {1, Reg::Soh, 93, 11, "93"}, {1, Reg::PcbTemp, 0xFFF6, 12, "-10"},
                {1, Reg::AmbientTemp, 0xFFFB, 13, "-5"}, {1, Reg::ReportedMaxTemp, 45, 14, "45"},
                {1, Reg::SensorTemp12, 0x00FE, 16, "-2"}, {1, Reg::SensorTemp34, 0x1E00, 17, "30"},
                {1, Reg::SensorTemp34, 0x001F, 18, "31"}, {1, Reg::CellVoltage + 15, 3650, 34, "3.650"},
                {1, Reg::RemainCapacity, 88, 36, "88"}, {1, Reg::VersionText, 0x5631, 38, "V1"},
                {1, Reg::SerialText, 0x534E, 39, "SN"}})
            QTest::addRow("column %d = %s", r.column, r.text) << r;
    }
    void sampleColumn()
    {
        QFETCH(Shown, row);
        page->setLanguage(Language(row.language));
        insertWith(row.reg, row.value);
        const QString shown = QString::fromUtf8(row.text);
        QCOMPARE(cell(0, row.column), shown);
        QCOMPARE(model()->index(0, row.column).data(Qt::BackgroundRole).value<QBrush>(),
                 shown == "Protection" || shown == "保护" ? QBrush(Qt::red) : QBrush());
    }

    // Numbers as numbers, status by its text; one direction flag for the page, turned by any column.
    void sortOrder_data()
    {
        columns<int, QVector<int>, int, QStringList>("reg", "values", "column", "descending");
        const struct { int reg; QVector<int> values; int column; QStringList descending; } rows[] = {
            {Reg::TotalVoltage, {600, 5234, 1000}, 9, {"52.34", "10.00", "6.00"}},
            {Reg::PackCurrent, {150, 0xFF38, 1000}, 7, {"10.00", "1.50", "-2.00"}},
            {Reg::StatusWord, {0, 1, 2, 4, 8}, 1, {"静置", "放电", "充电限流", "充电", "保护"}},
            {Reg::ModelText, {0x4200, 0x4100, 0x4300}, 37, {"C", "B", "A"}},
            {Reg::Soc, {1, 2, 3}, 0, {"2024-02-01 10:00:00", "2024-02-01 09:59:59", "2023-12-31 23:59:59"}},
        };
        for (const auto &r : rows)
            QTest::addRow("column %d", r.column) << r.reg << r.values << r.column << r.descending;
    }
    void sortOrder()
    {
        QFETCH(int, reg);
        QFETCH(QVector<int>, values);
        QFETCH(int, column);
        QFETCH(QStringList, descending);
        const QStringList times{"2024-02-01 10:00:00", "2023-12-31 23:59:59", "2024-02-01 09:59:59", "2024-01-15 00:00:00"};
        for (int i = 0; i < values.size(); ++i)
            page->sampleTime = times.value(i), insertWith(reg, values[i]);
        QHeaderView *header = page->tableView()->horizontalHeader();
        emit header->sectionClicked(column);
        QCOMPARE(columnTexts(column), descending);
        emit header->sectionClicked(column);
        QStringList ascending(descending.rbegin(), descending.rend());
        QCOMPARE(columnTexts(column), ascending);
        emit header->sectionClicked(column ? 0 : 9);
        emit header->sectionClicked(column);
        QCOMPARE(columnTexts(column), ascending);
    }

    // A failed insert adds no row; Clear brings the dropped table back, ids from 1.
    void clearAfterAFailedInsert()
    {
        page->insertSample();
        query(QStringLiteral("drop table total"));
        QTest::ignoreMessage(QtDebugMsg, "insert error!");
        page->insertSample();
        QCOMPARE(model()->rowCount(), 1);
        QTest::ignoreMessage(QtDebugMsg, "drop error!");
        page->on_clearBtn_clicked();
        QCOMPARE(model()->rowCount(), 0);
        page->insertSample();
        QCOMPARE(model()->idAt(0), qint64(1));
    }

    // Clear refused while another program writes to the database: the rows stay, and the page keeps showing
    // exactly them, in a later sort too.
    void clearRefusedKeepsRows()
    {
        sample("t1", 600), sample("t2", 700);
        {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
            other.setDatabaseName(QSqlDatabase::database("connection1").databaseName());
            QVERIFY(other.open() && QSqlQuery(other).exec("begin immediate"));
            QTest::ignoreMessage(QtDebugMsg, "drop error!");
            page->on_clearBtn_clicked();
            QVERIFY(QSqlQuery(other).exec("rollback"));
        }
        QSqlDatabase::removeDatabase("other");
        QCOMPARE(columnTexts(9), QStringList({"7.00", "6.00"}));
        sample("t3", 500);
        page->sortByColumn(9);
        QCOMPARE(columnTexts(9), QStringList({"7.00", "6.00", "5.00"}));
    }

    // Ids deleted behind the page's back over several fetch blocks; a sort
    // read from the far end first.
    void rowsAcrossBlocks()
    {
        const int n = 2 * RecordTableModel::BlockRows + 40;
        for (int id = 1; id <= n; ++id)
            query(QStringLiteral("insert into total(Total_Voltage,Current_I)values(?,?)"), {id, id * 37 % 1001 - 500});
        query(QStringLiteral("delete from total where id between 100 and 110 or id = ?"), {n});
        page = std::make_unique<HistoryMonitoring>();
        model()->index(RecordTableModel::BlockRows + 100, 9).data();
        QTRY_COMPARE(model()->rowCount(), n - 12);
        QStringList voltages;
        for (int id = n - 1; id >= 1; --id)
            if (id < 100 || id > 110)
                voltages << QString::number(id / 100.0, 'f', 2);
        QCOMPARE(columnTexts(9), voltages);
        page->sortByColumn(7);
        for (int r = model()->rowCount() - 1; r > 0; --r)
            QVERIFY2(cell(r - 1, 7).toDouble() >= cell(r, 7).toDouble(), qPrintable(QString::number(r)));
    }

    // A long unsorted run: the rows stored since the load join the ordered
    // part (no id kept per sample) and keep their places.
    void longRunFoldsFreshRows()
    {
        const int n = 1024 + 6;
        query(QStringLiteral("begin"));
        for (int v = 1; v <= n; ++v)
            insertWith(Reg::TotalVoltage, v);
        query(QStringLiteral("commit"));
        QVERIFY(model()->snapshot().freshIds.size() < 1024);
        QCOMPARE(model()->rowCount(), n);
        for (int row : {0, 5, 6, n - 1})
            QCOMPARE(cell(row, 9), QString::number((n - row) / 100.0, 'f', 2));
        insertWith(Reg::TotalVoltage, 2000);
        QCOMPARE(cell(0, 9), QStringLiteral("20.00"));
        QCOMPARE(cell(n, 9), QStringLiteral("0.01"));
    }

    // The selector lists the stored serials once, then each new one as its first sample arrives.
    void packSelector()
    {
        threePacks();
        page = std::make_unique<HistoryMonitoring>();
        page->setLanguage(Language::English);
        emit page->languageSwich();
        QCOMPARE(packItems(), QStringList({"All", "A1", "B2", "C'"}));
        packSample("A2", "t10", 1);
        packSample("B2", "t11", 1);
        QCOMPARE(packItems(), QStringList({"All", "A1", "A2", "B2", "C'"}));
        page->setLanguage(Language::Chinese);
        emit page->languageSwich();
        QCOMPARE(packItems().first(), QStringLiteral("全部"));
    }

    // One pack's rows newest first, then sorted within the pack; a later row of that pack comes on top, another
    // pack's row does not.
    void packFilter_data()
    {
        columns<QString, QStringList, QStringList>("pack", "newestFirst", "descending");
        QTest::newRow("all") << "All" << QStringList{"9.99", "40.00", "0.50", "12.50", "3.00", "7.00", "10.00", "52.34", "6.00"}
                             << QStringList{"52.34", "40.00", "12.50", "10.00", "9.99", "7.00", "6.00", "3.00", "0.50"};
        QTest::newRow("A1") << "A1" << QStringList{"40.00", "3.00", "52.34"} << QStringList{"52.34", "40.00", "3.00"};
        QTest::newRow("B2") << "B2" << QStringList{"0.50", "7.00", "6.00"} << QStringList{"7.00", "6.00", "0.50"};
        QTest::newRow("quote") << "C'" << QStringList{"9.99", "12.50", "10.00"} << QStringList{"12.50", "10.00", "9.99"};
    }
    void packFilter()
    {
        QFETCH(QString, pack);
        QFETCH(QStringList, newestFirst);
        QFETCH(QStringList, descending);
        threePacks();
        emit page->languageSwich();
        showPack(pack);
        QCOMPARE(columnTexts(9), newestFirst);
        page->sortByColumn(9);
        QCOMPARE(columnTexts(9), descending);
        if (pack == "All")
            return;
        packSample(pack == "A1" ? "B2" : "A1", "t10", 1);
        packSample(pack.toLatin1().constData(), "t11", 2);
        QCOMPARE(columnTexts(9), QStringList("0.02") + descending);
        const QStringList serials = columnTexts(39);
        QCOMPARE(QSet<QString>(serials.begin(), serials.end()), QSet<QString>{pack});
    }

    // The export of a filtered, sorted view writes exactly its rows.
    void saveOnePack()
    {
        threePacks();
        showPack("A1");
        page->sortByColumn(9);
        packSample("A1", "t10", 1);
        packSample("B2", "t11", 2);
        Dialogs::setHook([&](const Dialogs::Request &, QString *fileName) { return *fileName = path("a.xlsx"), 0; });
        page->on_saveBtn_clicked();
        QCOMPARE(readFile(path("a.xlsx")), ChineseHeaderLine + sampleLine("t10", "0.01", "A1")
                                               + sampleLine("t2", "52.34", "A1") + sampleLine("t8", "40.00", "A1")
                                               + sampleLine("t5", "3.00", "A1"));
    }

    // In view order (a sort, then a new row on top), Chinese headers in English; a cancelled dialog writes nothing.
    void saveButton()
    {
        sample("t1", 600), sample("t2", 5234), sample("t3", 1000);
        page->sortByColumn(9); // descending by voltage
        sample("t4", 1);
        QString answer;
        Dialogs::setHook([&](const Dialogs::Request &, QString *fileName) { return *fileName = answer, 0; });
        page->on_saveBtn_clicked();
        QCOMPARE(files(), QStringList());
        answer = path("e.xlsx");
        page->on_saveBtn_clicked();
        QCOMPARE(readFile(answer), ChineseHeaderLine + sampleLine("t4", "0.01") + sampleLine("t2", "52.34")
                                       + sampleLine("t3", "10.00") + sampleLine("t1", "6.00"));
    }

    // A Save that cannot write says why in the page's language and leaves nothing behind.
    void saveFails_data()
    {
        columns<int, QString, QString>("language", "target", "says");
#ifdef Q_OS_WIN
        // Windows words it in the system's language, the way Qt passes on.
        const QString noFolder = qt_error_string(ERROR_PATH_NOT_FOUND);
#else
        const QString noFolder = QStringLiteral("No such file or directory");
#endif
        QTest::newRow("missing folder") << 1 << "no/such/e.xlsx" << "Cannot save {file}: " + noFolder;
        QTest::newRow("missing folder, Chinese") << 0 << "no/such/e.xlsx" << "无法保存 {file}：" + noFolder;
        QTest::newRow("a folder") << 1 << "sub" << "Cannot save {file}: Filename refers to a directory";
    }
    void saveFails()
    {
        QFETCH(QString, target);
        QFETCH(QString, says);
        sample("t1", 600);
        QFETCH(int, language);
        page->setLanguage(Language(language));
        QVERIFY(QDir(dir->path()).mkdir("sub"));
        const QString file = dir->filePath(target);
        QList<Dialogs::Request> boxes;
        Dialogs::setHook([&](const Dialogs::Request &r, QString *fileName) {
            if (fileName)
                *fileName = file;
            else
                boxes << r;
            return 0;
        });
        page->on_saveBtn_clicked();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes[0].text, says.replace("{file}", file));
        QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"sub"});
        QVERIFY(QDir(dir->filePath("sub")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    // A cancelled export leaves no file and an existing one as it was.
    void cancelAndReplace()
    {
        query(QStringLiteral("insert into total(Total_Voltage) with recursive n(i) as (select 1 union all "
                            "select i + 1 from n where i < 5000) select i from n"));
        page = std::make_unique<HistoryMonitoring>();
        std::atomic_bool cancel{false};
        qint64 seen = 0, total = 0;
        const auto exportTo = [&](const char *name, bool cancelled) {
            cancel = false;
            const auto progress = [&](qint64 done, qint64 of) { seen = done, total = of, cancel = cancelled; };
            return TableExport::exportRows(model()->snapshot(), page->chineseHeaders, 40, path(name), progress, &cancel);
        };
        QVERIFY(exportTo("kept.xlsx", false).ok());
        const QByteArray kept = readFile(path("kept.xlsx"));
        QVERIFY(exportTo("new.xlsx", true).isCancelled());
        QVERIFY(seen > 0 && seen < total && total == 5000);
        QVERIFY(exportTo("kept.xlsx", true).isCancelled());
        QCOMPARE(files(), QStringList{"kept.xlsx"});
        QCOMPARE(readFile(path("kept.xlsx")), kept);
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
