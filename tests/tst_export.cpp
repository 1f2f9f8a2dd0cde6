// The tab-separated export of a recorded-data page, byte for byte: the
// Chinese header line, a TAB after every field, CR LF line ends, the rows in
// the order the view shows them, an existing file replaced whole, and a
// cancelled or failed export that leaves nothing half-written behind.
#include "app/dialogs.h"
#include "app/startup.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/exporttable.h"
#include "pages/historymonitoring.h"
#include "pages/recordtablemodel.h"
#include "support/testenv.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const char *const ChineseHeaderLine =
    "时间\t状态\t加热\t警告\t保护\t错误码\t循环次数\t电流\t最大允许电流\t总电压\tSOC\tSOH\tPCB温度\t内部温度\t"
    "最大温度\t温度01\t温度02\t温度03\t温度04\t电压01\t电压02\t电压03\t电压04\t电压05\t电压06\t电压07\t电压08\t"
    "电压09\t电压10\t电压11\t电压12\t电压13\t电压14\t电压15\t电压16\t容量\t剩余容量\t电池模块\t版本号\t序列号\t\r\n";

QSqlDatabase db(const char *name) { return QSqlDatabase::database(QString::fromLatin1(name)); }

void exec(QSqlDatabase database, const QString &sql)
{
    QSqlQuery q(database);
    if (!q.exec(sql))
        qFatal("%s failed", qPrintable(sql));
}

QByteArray readFile(const QString &name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &name, const QByteArray &content)
{
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(name));
}

// The line of a sample whose registers are all zero except `voltage`, in
// English, with `time` as its time text.
QByteArray zeroSampleLine(const char *time, const char *voltage)
{
    QByteArray line = QByteArray(time) + "\tStandby\toff\t0000\t0000\t0000\t0\t0.00\t0\t" + voltage
                      + "\t0\t0\t0\t0\t0\t0\t0\t0\t0\t";
    for (int k = 0; k < 16; ++k)
        line += "0.000\t";
    line += "0.0\t0\t\t\t\t\r\n";
    return line;
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

    std::unique_ptr<HistoryMonitoring> page;
    std::unique_ptr<QTemporaryDir> dir;

    QString path(const char *name) const { return dir->filePath(QString::fromLatin1(name)); }

    TableExport::Result exportTo(const QString &file, const std::atomic_bool *cancel = nullptr,
                                 const TableExport::Progress &progress = TableExport::Progress())
    {
        return TableExport::exportRows(page->model()->snapshot(), page->chineseHeaders, 40, file, progress, cancel);
    }

    void sample(const char *time, quint16 voltage)
    {
        liveData().registerImage[Reg::TotalVoltage] = voltage;
        page->sampleTime = QString::fromLatin1(time);
        page->insertSample();
    }

    void fillRows(int count)
    {
        QSqlDatabase d = db("connection1");
        d.transaction();
        QSqlQuery q(d);
        q.prepare(QStringLiteral("insert into total(time,Status,Total_Voltage,Battery_Mode)values(?,?,?,?)"));
        for (int i = 1; i <= count; ++i) {
            q.addBindValue(QStringLiteral("2024-01-01 00:00:00"));
            q.addBindValue(i % 16);
            q.addBindValue(i);
            q.addBindValue(QStringLiteral("型号-%1").arg(i));
            q.exec();
        }
        d.commit();
    }

private slots:
    void initTestCase() { TestEnv::openFreshDatabases(); }
    void init()
    {
        TestEnv::resetLiveData();
        liveData().language = 1;
        dir = std::make_unique<QTemporaryDir>();
        page.reset();
        exec(db("connection1"), QStringLiteral("drop table if exists total"));
        exec(db("connection1"), QString::fromLatin1(Startup::CreateTotalTable));
        page = std::make_unique<HistoryMonitoring>();
    }
    void cleanup()
    {
        Dialogs::clearHook();
        page.reset();
    }

    void emptyTableIsTheHeaderLine()
    {
        QCOMPARE(exportTo(path("empty.xlsx")), TableExport::Result::Written);
        const QByteArray bytes = readFile(path("empty.xlsx"));
        QCOMPARE(bytes, QByteArray(ChineseHeaderLine));
        QVERIFY(bytes.startsWith("\xE6\x97\xB6\xE9\x97\xB4\t")); // UTF-8 "时间", no byte-order mark
    }

    void rowsAsShownNewestFirst()
    {
        liveData().registerImage[Reg::StatusWord] = 0x8004;
        liveData().registerImage[Reg::PackCurrent] = 0xFFCE;
        liveData().registerImage[Reg::WarningBits] = 171;
        liveData().registerImage[Reg::SensorTemp12] = 0xFB19;
        liveData().registerImage[Reg::CellVoltage] = 3301;
        liveData().registerImage[Reg::FullCapacity] = 1000;
        liveData().registerImage[Reg::ModelText] = 0x4142; // "AB"
        sample("2024-05-06 07:08:09", 5234);
        TestEnv::resetLiveData();
        liveData().language = 1;
        sample("2024-05-06 07:08:10", 600);
        sample("2024-05-06 07:08:11", 65535);

        QCOMPARE(exportTo(path("three.xlsx")), TableExport::Result::Written);
        QByteArray first = "2024-05-06 07:08:09\tProtection\ton\t00AB\t0000\t0000\t0\t-0.50\t0\t52.34\t0\t0\t0\t0\t0\t"
                           "-5\t25\t0\t0\t3.301\t";
        for (int k = 1; k < 16; ++k)
            first += "0.000\t";
        first += "100.0\t0\tAB\t\t\t\r\n";
        const QByteArray expected = QByteArray(ChineseHeaderLine) + zeroSampleLine("2024-05-06 07:08:11", "655.35")
                                    + zeroSampleLine("2024-05-06 07:08:10", "6.00") + first;
        QCOMPARE(readFile(path("three.xlsx")), expected);
        QCOMPARE(readFile(path("three.xlsx")).count('\t'), 4 * 40);
    }

    void viewOrderAfterASort()
    {
        sample("t1", 600);
        sample("t2", 5234);
        sample("t3", 1000);
        page->sortByColumn(9); // descending by voltage
        sample("t4", 1);       // arrives after the sort: on top
        QCOMPARE(exportTo(path("sorted.numbers")), TableExport::Result::Written);
        const QByteArray expected = QByteArray(ChineseHeaderLine) + zeroSampleLine("t4", "0.01")
                                    + zeroSampleLine("t2", "52.34") + zeroSampleLine("t3", "10.00")
                                    + zeroSampleLine("t1", "6.00");
        QCOMPARE(readFile(path("sorted.numbers")), expected);
    }

    // Every row of a table larger than the view's cache, in the model's
    // order, in both the newest-first and a sorted order.
    void largeTableMatchesTheView()
    {
        page.reset();
        fillRows(3 * RecordTableModel::BlockRows + 5);
        page = std::make_unique<HistoryMonitoring>();
        for (int clicks = 0; clicks < 3; ++clicks) {
            if (clicks)
                page->sortByColumn(clicks == 1 ? 1 : 37); // status text, then model text
            RecordTableModel *m = page->model();
            QByteArray expected = ChineseHeaderLine;
            for (int r = 0; r < m->rowCount(); ++r) {
                for (int c = 0; c < 40; ++c)
                    expected += m->index(r, c).data().toString().toUtf8() + '\t';
                expected += "\r\n";
            }
            QCOMPARE(exportTo(path("large.xlsx")), TableExport::Result::Written);
            QCOMPARE(readFile(path("large.xlsx")), expected);
        }
    }

    void existingLongerFileIsReplaced()
    {
        writeFile(path("old.xlsx"), QByteArray(100000, 'x'));
        sample("t1", 100);
        QCOMPARE(exportTo(path("old.xlsx")), TableExport::Result::Written);
        QCOMPARE(readFile(path("old.xlsx")), QByteArray(ChineseHeaderLine) + zeroSampleLine("t1", "1.00"));
    }

    void cancelLeavesNoHalfFile()
    {
        page.reset();
        fillRows(5000);
        page = std::make_unique<HistoryMonitoring>();
        std::atomic_bool cancel{false};
        qint64 seen = 0;
        auto progress = [&](qint64 done, qint64 total) {
            QCOMPARE(total, qint64(5000));
            seen = done;
            cancel = true;
        };
        QCOMPARE(exportTo(path("new.xlsx"), &cancel, progress), TableExport::Result::Cancelled);
        QVERIFY(seen > 0 && seen < 5000);
        QVERIFY(!QFile::exists(path("new.xlsx")));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList());

        writeFile(path("kept.xlsx"), "older export");
        cancel = false;
        QCOMPARE(exportTo(path("kept.xlsx"), &cancel, progress), TableExport::Result::Cancelled);
        QCOMPARE(readFile(path("kept.xlsx")), QByteArray("older export"));
    }

    void unwritableTargetFailsQuietly()
    {
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("adir")));
        QCOMPARE(exportTo(path("adir")), TableExport::Result::Failed);
        QVERIFY(QFileInfo(path("adir")).isDir());
        QCOMPARE(exportTo(path("no/such/dir/x.xlsx")), TableExport::Result::Failed);
    }

    // The Save button: the dialog's caption and filters by language, the
    // Chinese header line whatever the language, and nothing for a
    // cancelled dialog.
    void saveButton_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("name");
        QTest::newRow("English") << 1 << "Save File" << "table File(*.xlsx)\ntable File(*.numbers)" << "e.xlsx";
        QTest::newRow("English, numbers") << 1 << "Save File" << "table File(*.xlsx)\ntable File(*.numbers)"
                                          << "e.numbers";
        QTest::newRow("Chinese") << 0 << "保存文件" << "表格文件(*.xlsx)\n表格文件(*.numbers)" << "c.xlsx";
        QTest::newRow("cancelled") << 1 << "Save File" << "table File(*.xlsx)\ntable File(*.numbers)" << "";
    }
    void saveButton()
    {
        QFETCH(int, language);
        QFETCH(QString, caption);
        QFETCH(QString, filter);
        QFETCH(QString, name);
        liveData().language = quint8(language);
        emit page->languageSwich();
        sample("t1", 100);
        QList<Dialogs::Request> asked;
        const QString file = name.isEmpty() ? QString() : dir->filePath(name);
        Dialogs::setHook([&](const Dialogs::Request &r, QString *fileName) {
            asked << r;
            *fileName = file;
            return 0;
        });
        page->on_saveBtn_clicked();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, Dialogs::Request::SaveFile);
        QCOMPARE(asked[0].title, caption);
        QCOMPARE(asked[0].text, filter);
        QCOMPARE(asked[0].parent, page.get());
        if (file.isEmpty()) {
            QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList());
            return;
        }
        const QByteArray bytes = readFile(file);
        QVERIFY(bytes.startsWith(ChineseHeaderLine));
        QCOMPARE(bytes.count("\r\n"), 2);
        QVERIFY(bytes.contains(language == 0 ? "\t静置\t关\t" : "\tStandby\toff\t"));
    }

    // While a large export runs the window's event loop keeps going (a
    // sample can be stored meanwhile) and the progress dialog's Cancel
    // stops it without leaving a file.
    void progressDialogCancels()
    {
        page.reset();
        fillRows(100000);
        page = std::make_unique<HistoryMonitoring>();
        const QString file = dir->filePath(QStringLiteral("big.xlsx"));
        bool cancelled = false;
        Dialogs::setHook([&](const Dialogs::Request &, QString *fileName) {
            *fileName = file;
            QTimer::singleShot(0, page.get(), [&] {
                page->insertSample(); // the window is not frozen
                auto *progress = page->findChild<QProgressDialog *>();
                QVERIFY(progress);
                auto *button = progress->findChild<QPushButton *>();
                QVERIFY(button);
                QCOMPARE(button->text(), QStringLiteral("Cancel"));
                button->click();
                cancelled = true;
            });
            return 0;
        });
        page->on_saveBtn_clicked();
        QVERIFY(cancelled);
        QCOMPARE(page->model()->rowCount(), 100001);
        QVERIFY(!QFile::exists(file));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList());
        QVERIFY(!page->findChild<QProgressDialog *>());
    }

    void noDialogInAnotherLanguage()
    {
        bool asked = false;
        Dialogs::setHook([&](const Dialogs::Request &, QString *) {
            asked = true;
            return 0;
        });
        liveData().language = 2;
        page->on_saveBtn_clicked();
        QVERIFY(!asked);
    }

    // The datalog's table goes through the same model and export with its
    // own 31 columns.
    void datalogTable()
    {
        QSqlDatabase d = db("connection2");
        exec(d, QStringLiteral("drop table if exists record"));
        exec(d, QString::fromLatin1(Startup::CreateRecordTable));
        RecordTableModel model(RecordTable::datalog());
        model.reload();
        QVector<QVariant> values(31, 0);
        values[0] = 679;
        // Packed 2023-09-05 03:50:37, stored as its decimal text.
        values[1] = QString::number((23u << 26) | (9u << 22) | (5u << 17) | (3u << 12) | (50u << 6) | 37u);
        values[2] = 4;
        values[8] = -200;
        values[14] = 3301;
        values[30] = QStringLiteral("SN1");
        QCOMPARE(model.appendRow(values), qint64(1));
        values[0] = 680;
        values[1] = QString::number(1u << 26); // 2001: a shorter text that sorts after as text
        QCOMPARE(model.appendRow(values), qint64(2));
        model.sortByColumn(1, Qt::AscendingOrder); // chronological, not by text
        const QString file = dir->filePath(QStringLiteral("log.xlsx"));
        const RecordViewSnapshot snapshot = model.snapshot();
        QCOMPARE(TableExport::exportRows(snapshot, RecordTable::datalog().chineseHeaders(), 31, file),
                 TableExport::Result::Written);
        const QList<QByteArray> lines = readFile(file).split('\n');
        QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last LF
        QCOMPARE(lines[0], QByteArray("记录数\t时间\t状态\t加热\t警告\t保护\t错误码\t总电压\t总电流\tSOC\t温度01\t温度02\t"
                                      "温度03\t温度04\t电压01\t电压02\t电压03\t电压04\t电压05\t电压06\t电压07\t电压08\t"
                                      "电压09\t电压10\t电压11\t电压12\t电压13\t电压14\t电压15\t电压16\t序列号\t\r"));
        QVERIFY2(lines[1].startsWith("680\t2001-00-00 00:00:00\t"), lines[1].constData());
        QVERIFY2(lines[2].startsWith("679\t2023-09-05 03:50:37\tProtection\toff\t0000\t0000\t0000\t0.00\t-2.00\t0\t"),
                 lines[2].constData());
        QVERIFY(lines[2].endsWith("\t3.301\t0.000\t0.000\t0.000\t0.000\t0.000\t0.000\t0.000\t0.000\t0.000\t0.000\t"
                                  "0.000\t0.000\t0.000\t0.000\t0.000\tSN1\t\r"));
        QCOMPARE(lines[1].count('\t'), 31);
        QCOMPARE(lines[2].count('\t'), 31);
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
