// Trend queries against a brute-force reduction of random tables, through raw samples, the trigger's
// minute summary and the one built at start-up; cells stored as 0 are absent; Clear restarts the summary.
#include "store/recordtablemodel.h"
#include "store/trendstore.h"
#include "support/helpers.h"
#include "support/testenv.h"

#include <QRandomGenerator>
#include <QSqlQuery>
#include <QtTest>

#include <map>

namespace {

struct Row
{
    qint64 t; // seconds as stored, read as UTC
    int v, i, soc, temps[4], cells[16];
};

QSqlDatabase db() { return QSqlDatabase::database(QStringLiteral("connection1")); }

// An independent reduction: per bucket, the extremes of each quantity.
struct Ref
{
    qint64 minT = std::numeric_limits<qint64>::max();
    std::array<qint32, Trend::SeriesCount> lo, hi;
    Ref() { lo.fill(Trend::Missing), hi.fill(Trend::Missing); }
    void put(int s, qint32 v)
    {
        if (v != Trend::Missing)
            lo[s] = lo[s] == Trend::Missing ? v : std::min(lo[s], v), hi[s] = hi[s] == Trend::Missing ? v : std::max(hi[s], v);
    }
};

std::array<qint32, Trend::SeriesCount> quantities(const Row &r)
{
    int high = -1, low = 1 << 20;
    for (int c : r.cells)
        if (c > 0)
            high = std::max(high, c), low = std::min(low, c);
    const bool cells = high > 0;
    return {r.v, r.i, r.soc, cells ? high : Trend::Missing, cells ? low : Trend::Missing,
            cells ? high - low : Trend::Missing, *std::max_element(r.temps, r.temps + 4),
            *std::min_element(r.temps, r.temps + 4)};
}

void insert(const Row &r)
{
    QString columns = QStringLiteral("time,Total_Voltage,Current_I,SOC,Temp_01,Temp_02,Temp_03,Temp_04");
    for (int k = 1; k <= 16; ++k)
        columns += QStringLiteral(",Vol_Cell%1").arg(k, 2, 10, QLatin1Char('0'));
    QSqlQuery q(db());
    q.prepare(QStringLiteral("insert into total(%1) values(?%2)").arg(columns, QStringLiteral(",?").repeated(23)));
    q.addBindValue(Trend::timeText(r.t));
    for (int x : {r.v, r.i, r.soc, r.temps[0], r.temps[1], r.temps[2], r.temps[3]})
        q.addBindValue(x);
    for (int c : r.cells)
        q.addBindValue(c);
    QVERIFY(q.exec());
}

QVector<Row> randomRows(quint32 seed, int count)
{
    QRandomGenerator g(seed);
    QVector<Row> rows;
    qint64 t = QDateTime(QDate(2026, 3, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    for (int n = 0; n < count; ++n) {
        // Mostly a second apart, sometimes the same second, now and then a pause of hours.
        const int step = g.bounded(100);
        t += step < 5 ? 0 : step < 99 ? g.bounded(1, 30) : g.bounded(3600, 6 * 3600);
        Row r{t, g.bounded(4000, 5800), g.bounded(-20000, 20000), g.bounded(0, 101), {}, {}};
        for (int &temp : r.temps) temp = g.bounded(-40, 90);
        const bool noCells = g.bounded(50) == 0;
        for (int &c : r.cells)
            c = noCells || g.bounded(10) == 0 ? 0 : g.bounded(2500, 3650);
        rows << r;
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
        QFETCH(QString, path);

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
            insert(rows[n]);
        }
        db().commit();

        Trend::Request request;
        request.fromSecs = rows[fromRow].t - 77;
        request.toSecs = rows[toRow].t + 77;
        request.buckets = buckets;
        const Trend::Result result = Trend::query(db(), request);
        QVERIFY(result.ok);
        QCOMPARE(result.fullDetail, path == "full");
        QCOMPARE(result.summary, path == "summary");

        if (result.fullDetail) {
            QVector<qint64> expected, got;
            for (const Row &r : rows)
                if (r.t >= request.fromSecs && r.t <= request.toSecs)
                    expected << r.t;
            for (const Trend::Bucket &b : result.buckets) {
                got << b.clockSecs;
                QCOMPARE(b.low, b.high);
            }
            QVERIFY(!expected.isEmpty());
            QCOMPARE(got, expected);
            return;
        }

        const qint64 b = result.bucketSecs;
        QVERIFY(b > 0);
        std::map<qint64, Ref> ref;
        for (const Row &r : rows) {
            if (r.t < request.fromSecs || r.t > request.toSecs)
                continue;
            Ref &bucket = ref[r.t / b];
            bucket.minT = std::min(bucket.minT, r.t);
            const auto q = quantities(r);
            for (int s = 0; s < Trend::SeriesCount; ++s)
                bucket.put(s, q[s]);
        }
        QCOMPARE(result.buckets.size(), int(ref.size()));
        QVERIFY(result.buckets.size() <= buckets + 1);
        auto it = ref.begin();
        for (const Trend::Bucket &got : result.buckets) {
            QCOMPARE(got.clockSecs / b, it->first);
            QVERIFY(got.clockSecs >= request.fromSecs && got.clockSecs <= it->second.minT);
            QCOMPARE(got.low, it->second.lo);
            QCOMPARE(got.high, it->second.hi);
            ++it;
        }
    }

    void cellsStoredAsZeroAreAbsent_data()
    {
        columns<QVector<int>, int, int, int>("cells", "high", "low", "spread");
        QVector<int> thirteen(16, 0);
        for (int k = 0; k < 13; ++k)
            thirteen[k] = 3300 + k;
        QTest::newRow("13 cells") << thirteen << 3312 << 3300 << 12;
        QTest::newRow("a gap") << QVector<int>{0, 3401, 0, 3290, 3350, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0} << 3401 << 3290 << 111;
        QTest::newRow("none") << QVector<int>(16, 0) << Trend::Missing << Trend::Missing << Trend::Missing;
    }
    void cellsStoredAsZeroAreAbsent()
    {
        QFETCH(QVector<int>, cells);
        QFETCH(int, high);
        QFETCH(int, low);
        QFETCH(int, spread);
        QVector<QVariant> values(40, 0);
        values[0] = QStringLiteral("2026-05-01 12:00:00");
        for (int k = 0; k < 16; ++k)
            values[19 + k] = cells[k];
        values[15] = -5, values[16] = 30, values[17] = 12, values[18] = 0;
        Trend::Sample live;
        QVERIFY(Trend::sampleFromRow(values, live));
        const QVector<qint32> expected{high, low, spread, 30, -5};
        const auto pick = [](const auto &v) {
            return QVector<qint32>{v[Trend::CellHigh], v[Trend::CellLow], v[Trend::CellSpread], v[Trend::TempHigh], v[Trend::TempLow]};
        };
        QCOMPARE(pick(live.value), expected);
        // The database reads the stored row the same way.
        QVERIFY(history->appendRow(values) > 0);
        Trend::Request all;
        all.range = Trend::Request::All;
        const Trend::Result r = Trend::query(db(), all);
        QCOMPARE(r.buckets.size(), 1);
        QCOMPARE(pick(r.buckets[0].low), expected);
    }

    void clearRestartsTheSummary()
    {
        for (const Row &r : randomRows(7, 50))
            insert(r);
        history->clearTable();
        Trend::Request all;
        all.range = Trend::Request::All;
        QVERIFY(Trend::query(db(), all).empty);
        const Row one = randomRows(8, 1).first();
        insert(one);
        const Trend::Result r = Trend::query(db(), all);
        QCOMPARE(r.buckets.size(), 1);
        QCOMPARE(r.buckets[0].clockSecs, one.t);
        QCOMPARE(r.buckets[0].high[Trend::PackVoltage], one.v);
    }
};

QTEST_MAIN(TestTrendStore)
#include "tst_trendstore.moc"
