// Trend queries against a brute-force reduction of random tables: raw samples, the trigger's minute
// summary and the one built at start-up, after a Clear; the live reading of a row.
#include "store/recordtablemodel.h"
#include "store/trendstore.h"
#include "support/helpers.h"
#include "support/testenv.h"

#include <QRandomGenerator>
#include <QSqlQuery>
#include <QtTest>

#include <map>

namespace {

using Values = std::array<qint32, Trend::SeriesCount>;
QSqlDatabase db() { return QSqlDatabase::database(QStringLiteral("connection1")); }

// A history row (time, then the columns in table order) and its series, worked out here.
struct Row
{
    qint64 t; // seconds as stored, read as UTC
    QVector<QVariant> values;
    Values series;
};

// Mostly a second apart, sometimes the same second, now and then a pause of
// hours; one cell in ten stored as 0, one sample in fifty without any cell.
QVector<Row> randomRows(quint32 seed, int count)
{
    QRandomGenerator g(seed);
    QVector<Row> rows;
    qint64 t = QDateTime(QDate(2026, 3, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    for (int n = 0; n < count; ++n) {
        const int step = g.bounded(100);
        t += step < 5 ? 0 : step < 99 ? g.bounded(1, 30) : g.bounded(3600, 6 * 3600);
        QVector<QVariant> v(40, 0);
        v[0] = QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        v[9] = g.bounded(4000, 5800), v[7] = g.bounded(-20000, 20000), v[10] = g.bounded(0, 101);
        std::vector<int> temps(4), cells;
        for (int k = 0; k < 4; ++k)
            v[15 + k] = temps[k] = g.bounded(-40, 90);
        const bool noCells = g.bounded(50) == 0;
        for (int k = 0; k < 16; ++k)
            v[19 + k] = cells.emplace_back(noCells || g.bounded(10) == 0 ? 0 : g.bounded(2500, 3650));
        cells.erase(std::remove(cells.begin(), cells.end(), 0), cells.end());
        const auto [tLow, tHigh] = std::minmax_element(temps.begin(), temps.end());
        const auto [cLow, cHigh] = std::minmax_element(cells.begin(), cells.end());
        const bool any = !cells.empty();
        const qint32 none = Trend::Missing;
        rows << Row{t, v, {v[9].toInt(), v[7].toInt(), v[10].toInt(), any ? *cHigh : none, any ? *cLow : none,
                           any ? *cHigh - *cLow : none, *tHigh, *tLow}};
    }
    return rows;
}

} // namespace

class TestTrendStore : public QObject
{
    Q_OBJECT

    RecordTableModel *history = nullptr;

private slots:
    void initTestCase() { TestEnv::openFreshDatabases(), history = new RecordTableModel(RecordTable::history(), this); }
    // Clear before every row, which must empty the summary and restore its trigger (both checked below).
    void init() { history->clearTable(); }

    void reductionKeepsEveryBucketsExtremes_data()
    {
        // The range runs from fromRow's time minus 77 s to toRow's plus 77 s.
        columns<quint32, int, int, int, QString>("seed", "fromRow", "toRow", "buckets", "path");
        QTest::newRow("all, summary") << 1u << 0 << 3999 << 40 << "summary";
        QTest::newRow("inner range, summary and edges") << 2u << 517 << 3301 << 25 << "summary";
        QTest::newRow("minutes, raw buckets") << 3u << 2000 << 2030 << 12 << "raw";
        QTest::newRow("minutes, every sample") << 4u << 1500 << 1520 << 200 << "full";
        QTest::newRow("many buckets") << 5u << 0 << 3999 << 1500 << "summary";
    }
    void reductionKeepsEveryBucketsExtremes()
    {
        QFETCH(quint32, seed);
        QFETCH(int, fromRow);
        QFETCH(int, toRow);
        QFETCH(int, buckets);
        Trend::Request all;
        all.range = Trend::Request::All;
        QVERIFY(Trend::query(db(), all).empty);
        // The first half is stored before the summary exists (start-up fills it), the trigger adds the rest.
        const QVector<Row> rows = randomRows(seed, 4000);
        QVERIFY(QSqlQuery(db()).exec(QStringLiteral("drop trigger total_minute_add")));
        db().transaction();
        for (int n = 0; n < rows.size(); ++n) {
            if (n == rows.size() / 2) {
                db().commit();
                QVERIFY(Trend::ensureSummary(db()));
                db().transaction();
            }
            QVERIFY(history->storeRow(rows[n].values) > 0);
            Trend::Sample live; // the live chart reads a row the same way
            QVERIFY(Trend::sampleFromRow(rows[n].values, live) && live.clockSecs == rows[n].t && live.value == rows[n].series);
        }
        db().commit();

        Trend::Request request;
        request.fromSecs = rows[fromRow].t - 77, request.toSecs = rows[toRow].t + 77, request.buckets = buckets;
        const Trend::Result result = Trend::query(db(), request);
        QTEST(QString(result.fullDetail ? "full" : result.summary ? "summary" : "raw"), "path");
        const qint64 b = result.bucketSecs;
        QVERIFY(result.fullDetail || b > 0);
        // Per bucket (at full detail, per sample) the earliest time and each series' extremes.
        struct Expected { qint64 first; Values low, high; };
        std::map<qint64, Expected> expected;
        for (int n = 0; n < rows.size(); ++n) {
            const Row &r = rows[n];
            if (r.t < request.fromSecs || r.t > request.toSecs)
                continue;
            const auto [it, fresh] = expected.try_emplace(result.fullDetail ? n : r.t / b, Expected{r.t, r.series, r.series});
            for (int s = 0; s < Trend::SeriesCount && !fresh; ++s) {
                const qint32 v = r.series[s];
                qint32 &low = it->second.low[s], &high = it->second.high[s];
                high = std::max(high, v); // Missing is the smallest qint32
                low = low == Trend::Missing ? v : v == Trend::Missing ? low : std::min(low, v);
            }
        }
        QCOMPARE(result.buckets.size(), int(expected.size()));
        QVERIFY(result.buckets.size() <= buckets + 1);
        auto it = expected.begin();
        for (const Trend::Bucket &got : result.buckets) {
            const auto &[key, e] = *it++;
            QVERIFY(result.fullDetail ? got.clockSecs == e.first
                                      : got.clockSecs / b == key && got.clockSecs >= request.fromSecs && got.clockSecs <= e.first);
            QCOMPARE(got.low, e.low);
            QCOMPARE(got.high, e.high);
        }
    }
};

QTEST_MAIN(TestTrendStore)
#include "tst_trendstore.moc"
