// The tab-separated export of a recorded-data page, byte for byte: the Chinese header line, a TAB
// after every field, CR LF, rows in view order, an existing file replaced whole, nothing on cancel.
#include "gui/dialogs.h"
#include "store/schema.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/exporttable.h"
#include "pages/historymonitoring.h"
#include "support/helpers.h"
#include "support/testenv.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

const QByteArray ChineseHeaderLine =
    "时间\t状态\t加热\t警告\t保护\t错误码\t循环次数\t电流\t最大允许电流\t总电压\tSOC\tSOH\tPCB温度\t内部温度\t"
    "最大温度\t温度01\t温度02\t温度03\t温度04\t电压01\t电压02\t电压03\t电压04\t电压05\t电压06\t电压07\t电压08\t"
    "电压09\t电压10\t电压11\t电压12\t电压13\t电压14\t电压15\t电压16\t容量\t剩余容量\t电池模块\t版本号\t序列号\t\r\n";

void exec(const QString &sql)
{
    if (!QSqlQuery(QSqlDatabase::database(QStringLiteral("connection1"))).exec(sql))
        qFatal("%s failed", qPrintable(sql));
}

// The English line of a sample whose registers are all zero but the voltage.
QByteArray sampleLine(const char *time, const char *voltage)
{
    return QByteArray(time) + "\tStandby\toff\t0000\t0000\t0000\t0\t0.00\t0\t" + voltage + "\t0\t0\t0\t0\t0\t0\t0\t0\t0\t"
           + QByteArray("0.000\t").repeated(16) + "0.0\t0\t\t\t\t\r\n";
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT
    std::unique_ptr<HistoryMonitoring> page;
    std::unique_ptr<QTemporaryDir> dir;

    QString path(const char *name) const { return dir->filePath(QString::fromLatin1(name)); }
    QStringList files() const { return QDir(dir->path()).entryList(QDir::Files); }
    TableExport::Result exportTo(const QString &file, const std::atomic_bool *cancel = nullptr,
                                 const TableExport::Progress &progress = {})
    {
        return TableExport::exportRows(page->model()->snapshot(), page->chineseHeaders, 40, file, progress, cancel);
    }
    void sample(const char *time, quint16 voltage)
    {
        liveData().registerImage[Reg::TotalVoltage] = voltage, page->sampleTime = time, page->insertSample();
    }

private slots:
    void initTestCase() { TestEnv::openFreshDatabases(), liveData().language = 1; } // the English interface
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        page.reset();
        exec(QStringLiteral("drop table if exists total"));
        exec(QString::fromLatin1(Schema::CreateTotalTable));
        page = std::make_unique<HistoryMonitoring>();
    }
    void cleanup() { Dialogs::clearHook(); }

    // Rows in the view's order after a sort, a later row on top.
    void viewOrderAfterASort()
    {
        sample("t1", 600), sample("t2", 5234), sample("t3", 1000);
        page->sortByColumn(9); // descending by voltage
        sample("t4", 1);
        QCOMPARE(exportTo(path("sorted.numbers")), TableExport::Result::Written);
        QCOMPARE(readFile(path("sorted.numbers")), ChineseHeaderLine + sampleLine("t4", "0.01") + sampleLine("t2", "52.34")
                                                       + sampleLine("t3", "10.00") + sampleLine("t1", "6.00"));
    }

    // The Save button in the English interface still writes the Chinese
    // header; a cancelled dialog writes nothing.
    void saveButton()
    {
        sample("t1", 100);
        QString answer;
        Dialogs::setHook([&](const Dialogs::Request &, QString *fileName) { return *fileName = answer, 0; });
        page->on_saveBtn_clicked();
        QCOMPARE(files(), QStringList());
        answer = path("e.xlsx");
        page->on_saveBtn_clicked();
        QCOMPARE(readFile(answer), ChineseHeaderLine + sampleLine("t1", "1.00"));
    }

    // A cancelled export creates no file and leaves an existing one as it
    // was; the empty table's export, exactly the header line, replaces it.
    void cancelAndReplace()
    {
        exec(QStringLiteral("insert into total(Total_Voltage) with recursive n(i) as (select 1 union all "
                            "select i + 1 from n where i < 5000) select i from n"));
        page = std::make_unique<HistoryMonitoring>();
        QCOMPARE(exportTo(path("kept.xlsx")), TableExport::Result::Written);
        const QByteArray kept = readFile(path("kept.xlsx"));
        std::atomic_bool cancel{false};
        qint64 seen = 0, total = 0;
        const auto progress = [&](qint64 done, qint64 of) { seen = done, total = of, cancel = true; };
        QCOMPARE(exportTo(path("new.xlsx"), &cancel, progress), TableExport::Result::Cancelled);
        QVERIFY(seen > 0 && seen < 5000);
        QCOMPARE(total, qint64(5000));
        cancel = false;
        QCOMPARE(exportTo(path("kept.xlsx"), &cancel, progress), TableExport::Result::Cancelled);
        QCOMPARE(files(), QStringList{"kept.xlsx"});
        QCOMPARE(readFile(path("kept.xlsx")), kept);
        page->on_clearBtn_clicked();
        QCOMPARE(exportTo(path("kept.xlsx")), TableExport::Result::Written);
        QCOMPARE(readFile(path("kept.xlsx")), ChineseHeaderLine); // UTF-8, no byte-order mark
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
