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

// Three packs polled in the same seconds: serial, second, pack voltage, two cells.
const struct { const char *serial; int t, volts, cellA, cellB; } Packs[] = {
    {"A", 0, 5000, 3300, 3310}, {"B", 0, 5100, 3200, 3250}, {"C", 0, 4900, 3400, 3401},
    {"A", 1, 5010, 3305, 3306}, {"B", 1, 5090, 3210, 3290}, {"C", 1, 4950, 3390, 3420},
    {"A", 2, 4990, 3300, 3330}, {"B", 2, 5120, 3220, 3225}, {"C", 2, 4800, 3350, 3400}};

// "serial|minute|n|v_lo|v_hi|sp_lo|sp_hi" of every summary row.
QStringList summaryRows()
{
    QSqlQuery q(db());
    q.exec(QStringLiteral("select serial,minute,n,v_lo,v_hi,sp_lo,sp_hi from total_minute order by serial,minute"));
    QStringList rows;
    while (q.next()) {
        QStringList fields;
        for (int i = 0; i < 7; ++i)
            fields << q.value(i).toString();
        rows << fields.join('|');
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

    void storePacks()
    {
        const qint64 t0 = QDateTime(QDate(2026, 3, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
        for (const auto &p : Packs) {
            QVector<QVariant> v(40, 0);
            v[0] = QDateTime::fromSecsSinceEpoch(t0 + p.t, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            v[9] = p.volts, v[19] = p.cellA, v[20] = p.cellB, v[39] = QString::fromLatin1(p.serial);
            QVERIFY(history->storeRow(v) > 0);
        }
    }

    // Each pack's samples alone, by the summary's count and the samples; no serial: every pack together.
    void onePacksExtremes_data()
    {
        columns<QStringList, QVector<int>>("serials", "extremes"); // per pack: volts low, high, spread low, high
        QTest::newRow("A") << QStringList{"A"} << QVector<int>{4990, 5010, 1, 30};
        QTest::newRow("C") << QStringList{"C"} << QVector<int>{4800, 4950, 1, 50};
        QTest::newRow("every pack together") << QStringList{} << QVector<int>{4800, 5120, 1, 80};
        QTest::newRow("each of three") << QStringList{"C", "A", "B"}
                                       << QVector<int>{4800, 4950, 1, 50, 4990, 5010, 1, 30, 5090, 5120, 5, 80};
    }
    void onePacksExtremes()
    {
        QFETCH(QStringList, serials);
        storePacks();
        QCOMPARE(summaryRows(), QStringList({"A|29538720|3|4990|5010|1|30", "B|29538720|3|5090|5120|5|80",
                                             "C|29538720|3|4800|4950|1|50"}));
        Trend::Request all;
        all.range = Trend::Request::All;
        all.serials = serials;
        const Trend::Result r = Trend::query(db(), all);
        QVERIFY(r.ok && r.fullDetail);
        QCOMPARE(r.packs.size(), serials.size());
        QVector<int> got;
        for (const QVector<Trend::Bucket> &buckets : serials.isEmpty() ? QVector<QVector<Trend::Bucket>>{r.buckets} : r.packs) {
            Trend::Bucket all;
            for (const Trend::Bucket &b : buckets)
                all.add(b);
            got << all.low[Trend::PackVoltage] << all.high[Trend::PackVoltage] << all.low[Trend::CellSpread]
                << all.high[Trend::CellSpread];
        }
        QTEST(got, "extremes");
    }

    // A file whose summary knows no serial: rebuilt per pack on open, as a rebuild makes it; a trigger of the
    // old name stays for an earlier version, not on `total`.
    void olderSummaryUpgraded()
    {
        QSqlQuery q(db());
        QVERIFY(q.exec("drop trigger total_minute_pack") && q.exec("drop table total_minute") && q.exec("create table total_minute(minute integer primary key,n int,v_lo int)"));
        QVERIFY(q.exec("create trigger total_minute_add after insert on total begin select 1; end"));
        storePacks();
        QVERIFY(Trend::ensureSummary(db()));
        const QStringList upgraded = summaryRows();
        QVERIFY(q.exec("drop trigger total_minute_pack") && Trend::ensureSummary(db()));
        QCOMPARE(upgraded, summaryRows());
        QCOMPARE(upgraded.size(), 3);
        QVERIFY(q.exec("select tbl_name from sqlite_master where name='total_minute_add'") && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("total_minute"));
    }

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
        QVERIFY(QSqlQuery(db()).exec(QStringLiteral("drop trigger total_minute_pack")));
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
