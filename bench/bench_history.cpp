// How the history page scales with the size of table `total`: for tables of
// 1,000, 100,000 and 1,000,000 samples it measures the cost of one sample
// (insert and showing it), opening the page (construction to first paint),
// the first screen after a header-click sort on a number column (first
// click, which builds the column's index, and a later one), a scroll to the
// end of the sorted view, exporting every row, and the resident memory with
// the page open; and, as a reference, the SQLite shell exporting the same
// table with a TAB separator.
//
// With --packs, a table of the largest size holding 16 packs' samples in
// turn: listing the serials, choosing a pack, a sort within it, scrolls and
// its export, each without and with the index on the serial, and what that
// index costs each insert.
//
// Each size runs in a child process of its own so that the memory figures
// are not blurred by the sizes before it. Usage:
//   bench_history [--sizes 1000,100000,1000000] [--samples 60] [--packs] [--packs-only]
#include "support/benchtools.h"
#include "support/historytable.h"
#include "app/startup.h"
#include "model/livedata.h"
#include "model/monitordata.h"
#include "pages/exporttable.h"
#include "pages/historymonitoring.h"
#include "store/packlist.h"
#include "store/recordtablemodel.h"
#include "store/tablerows.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QMap>
#include <QProcess>
#include <QScrollBar>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <numeric>
#include <cstdio>

namespace {

void result(const char *key, double value) { std::printf("RESULT %s %.3f\n", key, value); std::fflush(stdout); }



void setSampleRegisters(int i)
{
    quint16 *r = liveData().registerImage;
    r[Reg::TotalVoltage] = quint16(5200 + i % 50);
    r[Reg::PackCurrent] = quint16(qint16(-150 + i % 7));
    for (int k = 0; k < MaxCells; ++k)
        r[Reg::CellVoltage + k] = quint16(3300 + k + i % 5);
    r[Reg::StatusWord] = 0x8002;
    r[Reg::SensorTemp12] = 0x1819;
    r[Reg::FullCapacity] = 1000;
    r[Reg::ModelText] = 0x5041;
}

int child(qint64 rows, const QString &directory, int samples)
{
    if (!Startup::openDatabases(directory))
        return 1;
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("connection1"));
    QElapsedTimer t;
    t.start();
    if (!fillHistoryTable(db, rows))
        return 1;
    result("fill_ms", ms(t));
    result("rss_before_kb", memory().value(QStringLiteral("VmRSS")));

    // Opening: construction to first paint. The first page of the process
    // also pays for fonts and styles; the median of several opens is the
    // figure.
    PaintCounter paints;
    HistoryMonitoring *page = nullptr;
    QVector<double> opens;
    for (int i = 0; i < 5; ++i) {
        delete page;
        paints.count = 0;
        t.restart();
        page = new HistoryMonitoring;
        page->setLanguage(Language::English);
        page->tableView()->viewport()->installEventFilter(&paints);
        page->resize(1280, 720);
        page->show();
        paints.waitForPaint(0);
        opens << ms(t);
    }
    result("open_first_ms", opens.first());
    std::sort(opens.begin(), opens.end());
    result("open_ms", opens[opens.size() / 2]);
    const QMap<QString, qint64> mem = memory();
    result("rss_open_kb", mem.value(QStringLiteral("VmRSS")));
    result("anon_open_kb", mem.value(QStringLiteral("RssAnon")));

    // One sample: the insert and the view showing it on top.
    QVector<double> costs;
    QVector<double> stores; // the part before the paint: insert and view bookkeeping
    for (int i = 0; i < samples; ++i) {
        setSampleRegisters(i);
        page->sampleTime = QStringLiteral("2030-01-01 00:00:%1").arg(i % 60, 2, 10, QLatin1Char('0'));
        const int before = paints.count;
        t.restart();
        page->insertSample();
        stores << ms(t);
        paints.waitForPaint(before);
        costs << ms(t);
    }
    std::sort(costs.begin(), costs.end());
    result("sample_median_ms", costs[costs.size() / 2]);
    result("sample_mean_ms", std::accumulate(costs.begin(), costs.end(), 0.0) / costs.size());
    std::sort(stores.begin(), stores.end());
    result("sample_store_ms", stores[stores.size() / 2]);

    // Header click on Total_Voltage: the first builds the index.
    const int voltage = 9;
    int before = paints.count;
    t.restart();
    emit page->tableView()->horizontalHeader()->sectionClicked(voltage);
    paints.waitForPaint(before);
    result("sort_first_ms", ms(t));
    before = paints.count;
    t.restart();
    emit page->tableView()->horizontalHeader()->sectionClicked(voltage);
    paints.waitForPaint(before);
    result("sort_again_ms", ms(t));

    // Scroll to the end of the sorted view.
    before = paints.count;
    t.restart();
    page->tableView()->scrollToBottom();
    paints.waitForPaint(before);
    result("scroll_end_ms", ms(t));
    // The middle of the sorted view: the deepest offset from either end.
    before = paints.count;
    t.restart();
    page->tableView()->verticalScrollBar()->setValue(page->tableView()->verticalScrollBar()->maximum() / 2);
    paints.waitForPaint(before);
    result("scroll_mid_ms", ms(t));
    const QString lastRow = page->model()->index(page->model()->rowCount() - 1, voltage).data().toString();
    std::fprintf(stderr, "  last row of the ascending sort shows %s V\n", qPrintable(lastRow));

    // Exporting every row.
    const QString exportFile = directory + QStringLiteral("/export.xlsx");
    t.restart();
    const auto outcome = TableExport::exportRows(page->model()->snapshot(), page->chineseHeaders, 40, exportFile);
    result("export_ms", ms(t));
    result("export_ok", outcome.ok() ? 1 : 0);
    result("export_mb", QFile(exportFile).size() / 1e6);
    // The same newest first (a language change reloads the view unsorted).
    emit page->languageSwich();
    t.restart();
    const Result newest = TableExport::exportRows(page->model()->snapshot(), page->chineseHeaders, 40, exportFile);
    result("export_newest_ms", ms(t));
    if (!newest.ok())
        std::fprintf(stderr, "  the newest-first export failed: %s\n", qPrintable(newest.error()));

    // The SQLite shell on the same table as a reference.
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (!shell.isEmpty()) {
        QProcess sqlite;
        sqlite.setStandardOutputFile(directory + QStringLiteral("/shell.txt"));
        t.restart();
        sqlite.start(shell, {QStringLiteral("-separator"), QStringLiteral("\t"), directory + QStringLiteral("/my1.db"),
                             QStringLiteral("select * from total;")});
        sqlite.waitForFinished(-1);
        result("sqlite3_ms", ms(t));
    }
    result("rss_end_kb", memory().value(QStringLiteral("VmRSS")));
    delete page;
    return 0;
}

// The 16-pack table: the page's pack figures with the serial's index
// (`indexed`) or without it.
void packFigures(const QString &directory, bool indexed)
{
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("connection1"));
    const QString suffix = indexed ? QStringLiteral("_ix") : QString();
    const auto out = [&](const char *key, double value) { result(qPrintable(QLatin1String(key) + suffix), value); };
    QElapsedTimer t;
    t.restart();
    const QStringList serials = PackList::serials(db);
    out("list_ms", ms(t));
    if (serials.size() != 16)
        std::fprintf(stderr, "  %d serials listed\n", int(serials.size()));

    PaintCounter paints;
    auto *page = new HistoryMonitoring;
    page->setLanguage(Language::English);
    page->tableView()->viewport()->installEventFilter(&paints);
    page->resize(1280, 720);
    page->show();
    paints.waitForPaint(0);
    QTableView *view = page->tableView();
    const auto timed = [&](const char *key, const std::function<void()> &step) {
        view->scrollToTop(); // every step moves the view
        QCoreApplication::processEvents();
        const int before = paints.count;
        t.restart();
        step();
        paints.waitForPaint(before);
        out(key, ms(t));
    };
    QComboBox *packs = page->packBox();
    timed("filter_ms", [&] { packs->setCurrentIndex(8); });
    std::fprintf(stderr, "  %s: %d rows\n", qPrintable(packs->currentText()), page->model()->rowCount());
    timed("filter_end_ms", [&] { page->tableView()->scrollToBottom(); });
    timed("filter_again_ms", [&] { packs->setCurrentIndex(3); });
    timed("filter_sort_ms", [&] { emit page->tableView()->horizontalHeader()->sectionClicked(9); });
    timed("filter_sort_end_ms", [&] { page->tableView()->scrollToBottom(); });
    timed("filter_sort_mid_ms", [&] {
        page->tableView()->verticalScrollBar()->setValue(page->tableView()->verticalScrollBar()->maximum() / 2);
    });
    const QString exportFile = directory + QStringLiteral("/pack.xlsx");
    t.restart();
    const Result exported = TableExport::exportRows(page->model()->snapshot(), page->chineseHeaders, 40, exportFile);
    out("filter_export_ms", ms(t));
    if (!exported.ok())
        std::fprintf(stderr, "  the export failed: %s\n", qPrintable(exported.error()));
    timed("all_again_ms", [&] { packs->setCurrentIndex(0); });
    delete page;

    // Inserts: the median of 200, each one pack's sample.
    RecordTableModel model(RecordTable::history());
    QVector<double> costs;
    for (int i = 0; i < 200; ++i) {
        setSampleRegisters(i);
        liveData().registerImage[Reg::SerialText] = quint16(0x4130 + i % 16);
        const QVector<QVariant> values = HistoryRow::values(
            liveData(), QStringLiteral("2030-01-01 00:%1:%2").arg(i / 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0')));
        t.restart();
        model.appendRow(values);
        costs << ms(t);
    }
    std::sort(costs.begin(), costs.end());
    out("insert_ms", costs[costs.size() / 2]);
    // The figures of the other run see the 16 packs of the table alone.
    QSqlQuery(db).exec(QStringLiteral("delete from total where time>='2030'"));
}

int packsChild(qint64 rows, const QString &directory)
{
    if (!Startup::openDatabases(directory))
        return 1;
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("connection1"));
    if (!fillHistoryTable(db, rows, 16))
        return 1;
    // Neither index on the serial (the history's, nor the trend's on serial
    // and time, which the planner could take instead).
    QSqlQuery(db).exec(QStringLiteral("drop index ") + RecordTable::history().sortIndexName(HistoryRow::BmsIsdn, 0));
    QSqlQuery(db).exec(QStringLiteral("drop index if exists total_pack_time"));
    packFigures(directory, false);
    QElapsedTimer t;
    t.start();
    PackList::ensureIndex(db);
    result("index_build_ms", ms(t));
    packFigures(directory, true);
    return 0;
}

struct Figures
{
    qint64 rows = 0;
    QMap<QString, double> v;
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();

    int samples = 60;
    const int samplesAt = args.indexOf(QStringLiteral("--samples"));
    if (samplesAt > 0 && samplesAt + 1 < args.size())
        samples = qMax(3, args.at(samplesAt + 1).toInt());

    const int packsAt = args.indexOf(QStringLiteral("--packs-child"));
    if (packsAt > 0 && packsAt + 2 < args.size())
        return packsChild(args.at(packsAt + 1).toLongLong(), args.at(packsAt + 2));
    const int childAt = args.indexOf(QStringLiteral("--child"));
    if (childAt > 0 && childAt + 2 < args.size())
        return child(args.at(childAt + 1).toLongLong(), args.at(childAt + 2), samples);

    QList<qint64> sizes{1000, 100000, 1000000};
    const int sizesAt = args.indexOf(QStringLiteral("--sizes"));
    if (sizesAt > 0 && sizesAt + 1 < args.size()) {
        sizes.clear();
        for (const QString &s : args.at(sizesAt + 1).split(QLatin1Char(',')))
            sizes << s.toLongLong();
    }

    if (args.contains(QStringLiteral("--packs")) || args.contains(QStringLiteral("--packs-only"))) {
        QTemporaryDir dir;
        std::fprintf(stderr, "%lld rows of 16 packs...\n", sizes.last());
        const QMap<QString, double> v
            = runChild({QStringLiteral("--packs-child"), QString::number(sizes.last()), dir.path()});
        if (v.isEmpty()) {
            std::fprintf(stderr, "child for 16 packs failed\n");
            return 1;
        }
        std::printf("\n%lld rows of 16 packs (ms)         without index   with index\n", sizes.last());
        for (const char *key : {"list_ms", "filter_ms", "filter_end_ms", "filter_again_ms", "filter_sort_ms",
                                "filter_sort_end_ms", "filter_sort_mid_ms", "filter_export_ms", "all_again_ms",
                                "insert_ms"}) {
            const QString k = QLatin1String(key);
            std::printf("  %-26s %12.2f %12.2f\n", key, v[k], v[k + QStringLiteral("_ix")]);
        }
        std::printf("  index build: %.0f ms\n\n", v[QStringLiteral("index_build_ms")]);
        if (args.contains(QStringLiteral("--packs-only")))
            return 0;
    }

    QList<Figures> all;
    for (qint64 rows : sizes) {
        QTemporaryDir dir;
        std::fprintf(stderr, "%lld rows...\n", rows);
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), QString::number(rows), dir.path(), QStringLiteral("--samples"),
                 QString::number(samples)});
        p.waitForFinished(-1);
        Figures f;
        f.rows = rows;
        for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 3 && parts[0] == "RESULT")
                f.v[QString::fromLatin1(parts[1])] = parts[2].toDouble();
        }
        if (p.exitCode() != 0 || f.v.isEmpty()) {
            std::fprintf(stderr, "child for %lld rows failed\n", rows);
            return 1;
        }
        all << f;
    }

    std::printf("\n%10s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n", "rows", "fill ms", "open ms", "sample ms",
                "sort1 ms", "sort2 ms", "end ms", "export ms", "sqlite3", "RSS MB", "anon MB");
    for (const Figures &f : all) {
        std::printf("%10lld %9.0f %9.1f %9.2f %9.1f %9.1f %9.1f %9.0f %9.0f %9.1f %9.1f\n", f.rows, f.v["fill_ms"],
                    f.v["open_ms"], f.v["sample_median_ms"], f.v["sort_first_ms"], f.v["sort_again_ms"],
                    f.v["scroll_end_ms"], f.v["export_ms"], f.v["sqlite3_ms"], f.v["rss_open_kb"] / 1024.0,
                    f.v["anon_open_kb"] / 1024.0);
    }
    std::printf("(sample: median of %d; mean per size:", samples);
    for (const Figures &f : all)
        std::printf(" %.2f", f.v["sample_mean_ms"]);
    std::printf(" ms; of it before the paint, median:");
    for (const Figures &f : all)
        std::printf(" %.2f", f.v["sample_store_ms"]);
    std::printf(" ms)\n(open: median of 5; the process's first open:");
    for (const Figures &f : all)
        std::printf(" %.0f", f.v["open_first_ms"]);
    std::printf(" ms)\n(scroll to the middle of the sorted view:");
    for (const Figures &f : all)
        std::printf(" %.1f", f.v["scroll_mid_ms"]);
    std::printf(" ms)\n(export: of the sorted view as in the table; newest first:");
    for (const Figures &f : all)
        std::printf(" %.0f", f.v["export_newest_ms"]);
    std::printf(" ms; file of the largest table: %.0f MB)\n\n", all.last().v["export_mb"]);

    const Figures &small = all.first();
    const Figures &large = all.last();
    std::printf("Targets (%lld rows against %lld):\n", large.rows, small.rows);
    const double sampleRatio = large.v["sample_median_ms"] / small.v["sample_median_ms"];
    verdict("per-sample cost within 1.5x", sampleRatio <= 1.5, QStringLiteral("%1x").arg(sampleRatio, 0, 'f', 2));
    const double openRatio = large.v["open_ms"] / small.v["open_ms"];
    verdict("opening within 2x", openRatio <= 2.0, QStringLiteral("%1x").arg(openRatio, 0, 'f', 2));
    verdict("opening under 0.5 s", large.v["open_ms"] < 500, QStringLiteral("%1 ms").arg(large.v["open_ms"], 0, 'f', 0));
    verdict("sorted first screen under 1 s the first time", large.v["sort_first_ms"] < 1000,
            QStringLiteral("%1 ms").arg(large.v["sort_first_ms"], 0, 'f', 0));
    verdict("sorted first screen under 0.1 s after", large.v["sort_again_ms"] < 100,
            QStringLiteral("%1 ms").arg(large.v["sort_again_ms"], 0, 'f', 1));
    verdict("scroll to the end of the sorted view under 0.2 s", large.v["scroll_end_ms"] < 200,
            QStringLiteral("%1 ms").arg(large.v["scroll_end_ms"], 0, 'f', 1));
    if (large.v["sqlite3_ms"] > 0) {
        const double exportRatio = large.v["export_ms"] / large.v["sqlite3_ms"];
        verdict("export within 3x of the SQLite shell (sorted view)", exportRatio <= 3.0,
                QStringLiteral("%1x").arg(exportRatio, 0, 'f', 2));
        const double newestRatio = large.v["export_newest_ms"] / large.v["sqlite3_ms"];
        verdict("export within 3x of the SQLite shell (newest first)", newestRatio <= 3.0,
                QStringLiteral("%1x").arg(newestRatio, 0, 'f', 2));
    }
    const double extraMb = (large.v["rss_open_kb"] - small.v["rss_open_kb"]) / 1024.0;
    verdict("memory no more than 50 MB above the smallest table", extraMb <= 50,
            QStringLiteral("%1 MB").arg(extraMb, 0, 'f', 1));
    return 0;
}
