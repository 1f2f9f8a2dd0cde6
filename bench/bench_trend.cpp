// How the trend page scales with the size of table `total`: for tables of 1,000, 10,000, 100,000 and
// 1,000,000 samples (a sample a second) it measures "All" (the query and the first paint of the whole
// table), a zoom into one hour (the re-query and the repaint), the resident memory with the whole table
// shown against the page not shown, and what the minute summary costs: a history insert with and without
// its trigger, and building it for a table stored before it existed. A further child simulates a day of
// live monitoring (86,400 samples) with the 10-minute window: the cost of appending a sample, early and
// late in the day, and of the repaint that follows.
//
// Each size runs in a child process of its own so that the memory figures are not blurred by the sizes
// before it. Usage:
//   bench_trend [--sizes 1000,10000,100000,1000000] [--live-seconds 86400]
#include "support/benchtools.h"
#include "support/historytable.h"
#include "app/startup.h"
#include "pages/trendchartview.h"
#include "pages/trendpage.h"
#include "store/recordtablemodel.h"
#include "store/trendstore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>

namespace {

qint64 rssKb() { return memory().value(QStringLiteral("VmRSS")); }

void result(const char *key, double value) { std::printf("RESULT %s %.4f\n", key, value); std::fflush(stdout); }
double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}


QVector<QVariant> sampleRow(const QDateTime &at, int i)
{
    QVector<QVariant> v(40, 0);
    v[0] = at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    v[7] = -1500 + (i * 37) % 3000;
    v[9] = 5200 + i % 50;
    v[10] = 80;
    for (int k = 0; k < 4; ++k)
        v[15 + k] = 20 + (i / 60 + k) % 7;
    for (int k = 0; k < 16; ++k)
        v[19 + k] = 3300 + (i + k) % 20;
    v[37] = QStringLiteral("PACK");
    return v;
}

// Time from `action` to the page's next paint after it has shown a range.
double timeRange(TrendPage &page, PaintCounter &paints, const std::function<void()> &action)
{
    int paintsAtResult = -1; // the paint count when the result was shown
    const QMetaObject::Connection c =
        QObject::connect(&page, &TrendPage::rangeShown, [&] { paintsAtResult = paints.count; });
    QElapsedTimer t;
    t.start();
    action();
    while ((paintsAtResult < 0 || paints.count == paintsAtResult) && t.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    QObject::disconnect(c);
    return ms(t);
}

int child(qint64 rows, const QString &directory)
{
    if (!Startup::openDatabases(directory))
        return 1;
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("connection1"));
    QElapsedTimer t;
    t.start();
    if (!fillHistoryTable(db, rows))
        return 1;
    result("fill_ms", ms(t));

    // A history insert with and without the summary's trigger.
    RecordTableModel history(RecordTable::history());
    QVector<double> with, without;
    for (int i = 0; i < 200; ++i) {
        const QVector<QVariant> v = sampleRow(QDateTime(QDate(2030, 1, 1), QTime(0, 0)).addSecs(i), i);
        t.restart();
        history.appendRow(v);
        with << ms(t);
    }
    QSqlQuery(db).exec(QStringLiteral("drop trigger total_minute_pack"));
    for (int i = 0; i < 200; ++i) {
        const QVector<QVariant> v = sampleRow(QDateTime(QDate(2030, 1, 2), QTime(0, 0)).addSecs(i), i);
        t.restart();
        history.appendRow(v);
        without << ms(t);
    }
    result("insert_trigger_ms", median(with));
    result("insert_plain_ms", median(without));
    // Building the summary for the samples stored before it (once, on the first start with it).
    t.restart();
    Trend::ensureSummary(db);
    result("summary_build_ms", ms(t));
    // The benchmark's own samples of 2030 leave the table: "All" is the filled table.
    QSqlQuery(db).exec(QStringLiteral("delete from total where time>='2030'"));
    QSqlQuery(db).exec(QStringLiteral("delete from total_minute where minute*60>=") +
                       QString::number(Trend::clockSecs(QDateTime(QDate(2030, 1, 1), QTime(0, 0)))));

    // The query alone, as the worker runs it, for 1,000 buckets.
    {
        Trend::Request all;
        all.range = Trend::Request::All;
        all.buckets = 1000;
        QVector<double> q;
        for (int i = 0; i < 5; ++i) {
            t.restart();
            Trend::query(db, all);
            q << ms(t);
        }
        result("query_all_ms", median(q));
    }

    // The page as the window holds it when its tab is not shown.
    auto *page = new TrendPage;
    page->resize(1280, 720);
    QCoreApplication::processEvents();
    result("rss_hidden_kb", rssKb());
    PaintCounter paints;
    page->chartView()->viewport()->installEventFilter(&paints);
    page->show();
    paints.waitForPaint(0);

    QVector<double> alls;
    for (int i = 0; i < 5; ++i)
        alls << timeRange(*page, paints, [page] { page->on_allBtn_clicked(); });
    result("all_first_ms", alls.first());
    result("all_ms", median(alls));
    result("all_points", page->series(Trend::PackVoltage)->count());
    result("rss_shown_kb", rssKb());

    // Zoom into one hour at five places of the table.
    const QDateTime from = page->visibleFrom(), to = page->visibleTo();
    const qint64 span = from.secsTo(to);
    QVector<double> zooms;
    for (int i = 1; i <= 5; ++i) {
        const QDateTime at = from.addSecs(span * i / 6);
        zooms << timeRange(*page, paints, [&] { page->zoomTo(at, at.addSecs(3600)); });
        page->on_allBtn_clicked();
        timeRange(*page, paints, [] {});
    }
    result("zoom_ms", median(zooms));
    delete page;
    return 0;
}

// A day of live samples into the 10-minute window.
int liveChild(const QString &directory, int seconds)
{
    if (!Startup::openDatabases(directory))
        return 1;
    TrendPage page;
    page.resize(1280, 720);
    PaintCounter paints;
    page.chartView()->viewport()->installEventFilter(&paints);
    page.show();
    paints.waitForPaint(0);
    page.setWindowMinutes(10);
    const QDateTime start(QDate(2030, 1, 1), QTime(0, 0));
    QVector<double> appendUs;
    QVector<double> paintMs;
    appendUs.reserve(seconds);
    QVector<double> cpuUs;
    cpuUs.reserve(seconds);
    QElapsedTimer t;
    auto cpuNow = [] {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
    };
    for (int i = 0; i < seconds; ++i) {
        const QVector<QVariant> v = sampleRow(start.addSecs(i), i);
        const double cpu0 = cpuNow();
        t.restart();
        page.appendSample(i + 1, v);
        page.updateLiveChart(); // what the event loop runs next
        appendUs << t.nsecsElapsed() / 1e3;
        cpuUs << cpuNow() - cpu0;
        // The chart repaints once a second in use; here every 300th sample is painted and timed,
        // the others only append.
        if (i % 300 == 299) {
            const int before = paints.count;
            t.restart();
            paints.waitForPaint(before);
            paintMs << ms(t);
        }
    }
    const int hour = std::min(3600, seconds / 4);
    auto mean = [](const double *b, const double *e) { return std::accumulate(b, e, 0.0) / double(e - b); };
    result("live_first_hour_us", median(appendUs.mid(0, hour)));
    result("live_last_hour_us", median(appendUs.mid(appendUs.size() - hour)));
    result("live_cpu_first_hour_us", mean(cpuUs.constBegin(), cpuUs.constBegin() + hour));
    result("live_cpu_last_hour_us", mean(cpuUs.constEnd() - hour, cpuUs.constEnd()));
    QVector<double> sorted = appendUs;
    std::sort(sorted.begin(), sorted.end());
    result("live_p99_us", sorted[int(sorted.size() * 0.99)]);
    result("live_max_us", sorted.last());
    const int paintHour = std::max(1, int(paintMs.size() / 24));
    result("live_paint_first_ms", mean(paintMs.constBegin(), paintMs.constBegin() + paintHour));
    result("live_paint_last_ms", mean(paintMs.constEnd() - paintHour, paintMs.constEnd()));
    result("live_points", page.series(Trend::PackVoltage)->count());
    result("live_kept", page.liveSampleCount());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&args](const char *name, const QString &fallback) {
        const int at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
    };

    const int childAt = args.indexOf(QStringLiteral("--child"));
    if (childAt > 0 && childAt + 2 < args.size())
        return child(args.at(childAt + 1).toLongLong(), args.at(childAt + 2));
    const int liveAt = args.indexOf(QStringLiteral("--live-child"));
    if (liveAt > 0 && liveAt + 2 < args.size())
        return liveChild(args.at(liveAt + 2), args.at(liveAt + 1).toInt());

    QList<qint64> sizes;
    for (const QString &s : option("--sizes", QStringLiteral("1000,10000,100000,1000000")).split(QLatin1Char(',')))
        sizes << s.toLongLong();
    const int liveSeconds = option("--live-seconds", QStringLiteral("86400")).toInt();

    QMap<qint64, QMap<QString, double>> all;
    for (qint64 rows : sizes) {
        QTemporaryDir dir;
        std::fprintf(stderr, "%lld rows...\n", rows);
        all[rows] = runChild({QStringLiteral("--child"), QString::number(rows), dir.path()});
        if (all[rows].isEmpty()) {
            std::fprintf(stderr, "child for %lld rows failed\n", rows);
            return 1;
        }
    }
    QTemporaryDir liveDir;
    std::fprintf(stderr, "live, %d samples...\n", liveSeconds);
    const QMap<QString, double> live =
        runChild({QStringLiteral("--live-child"), QString::number(liveSeconds), liveDir.path()});
    if (live.isEmpty()) {
        std::fprintf(stderr, "live child failed\n");
        return 1;
    }

    std::printf("\n%10s %9s %9s %9s %9s %9s %9s %9s %9s %10s %9s\n", "rows", "fill ms", "query ms", "all ms", "1st all", "points",
                "zoom ms", "+RSS MB", "insert ms", "+trigger", "build ms");
    for (qint64 rows : sizes) {
        const auto &f = all[rows];
        std::printf("%10lld %9.0f %9.1f %9.1f %9.1f %9.0f %9.1f %9.1f %9.3f %10.3f %9.0f\n", rows, f["fill_ms"],
                    f["query_all_ms"], f["all_ms"],
                    f["all_first_ms"], f["all_points"], f["zoom_ms"], (f["rss_shown_kb"] - f["rss_hidden_kb"]) / 1024.0,
                    f["insert_plain_ms"], f["insert_trigger_ms"] - f["insert_plain_ms"], f["summary_build_ms"]);
    }
    std::printf("(query: \"all\" read for 1,000 buckets, median of 5; all: query to the repaint, median of 5, and the first; zoom: one hour, median of 5; +RSS: shown\n"
                " with all drawn against the page not shown; insert: a history sample, median of 200, and what the\n"
                " summary's trigger adds; build: the summary of a table stored before it existed)\n");
    std::printf("\nLive, %d samples a second apart, 10-minute window:\n", liveSeconds);
    std::printf("  append and chart update, median: first hour %.1f us, last hour %.1f us a sample (p99 %.1f us,\n"
                "  max %.0f us); processor time, mean: first hour %.1f us, last hour %.1f us\n",
                live["live_first_hour_us"], live["live_last_hour_us"], live["live_p99_us"], live["live_max_us"],
                live["live_cpu_first_hour_us"], live["live_cpu_last_hour_us"]);
    std::printf("  repaint after a sample: first hour %.1f ms, last hour %.1f ms; points in a series %.0f, "
                "samples kept %.0f\n\n",
                live["live_paint_first_ms"], live["live_paint_last_ms"], live["live_points"], live["live_kept"]);

    const auto &large = all[sizes.last()];
    std::printf("Targets (%lld rows):\n", sizes.last());
    verdict("all drawn (query and first paint) under 300 ms", large["all_first_ms"] < 300,
            QStringLiteral("%1 ms").arg(large["all_first_ms"], 0, 'f', 1));
    if (all.contains(10000)) {
        const double ratio = large["all_ms"] / all[10000]["all_ms"];
        verdict("within 3x the time for 10,000 rows", ratio <= 3.0, QStringLiteral("%1x").arg(ratio, 0, 'f', 2));
    }
    verdict("zoom into one hour: under 100 ms to the repaint", large["zoom_ms"] < 100,
            QStringLiteral("%1 ms").arg(large["zoom_ms"], 0, 'f', 1));
    const double lastUs = live["live_last_hour_us"], firstUs = live["live_first_hour_us"];
    verdict("live append under 1 ms a sample (median)", std::max(firstUs, lastUs) < 1000,
            QStringLiteral("%1 us").arg(std::max(firstUs, lastUs), 0, 'f', 1));
    const double cpuUs = std::max(live["live_cpu_first_hour_us"], live["live_cpu_last_hour_us"]);
    verdict("live append under 1 ms a sample (processor time, mean)", cpuUs < 1000,
            QStringLiteral("%1 us").arg(cpuUs, 0, 'f', 1));
    const double flat = lastUs / firstUs;
    verdict("flat over a day (last hour within 1.5x of the first)", flat <= 1.5,
            QStringLiteral("%1x").arg(flat, 0, 'f', 2));
    const double extraMb = (large["rss_shown_kb"] - large["rss_hidden_kb"]) / 1024.0;
    verdict("memory with all shown under 30 MB above the page not shown", extraMb < 30,
            QStringLiteral("%1 MB").arg(extraMb, 0, 'f', 1));
    return 0;
}
