#include "store/trendstore.h"

#include "store/packlist.h"
#include "store/recordtablemodel.h"
#include "store/tablerows.h"

#include <QMetaObject>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>
#include <map>

namespace Trend {

namespace {

namespace Row = HistoryRow;

// The column of a sample's time, by which ranges are found.
QString timeColumn() { return Row::name(Row::Time); }

const char *const TimeFormat = "yyyy-MM-dd hh:mm:ss";

// Short names of the series in SQL, in Series order.
const char *const Names[SeriesCount] = {"v", "i", "soc", "ch", "cl", "sp", "th", "tl"};

QString cellName(int k) { return Row::name(Row::Cell01 + k); }
QString tempName(int k) { return Row::name(Row::Temp01 + k); }

// The series of a row of `total` as SQL expressions on columns prefixed by
// `p` ("" or "new."), named by Names: "<expr> v,<expr> i,...".
QString seriesExpressions(const QString &p)
{
    QStringList high, low, temps;
    for (int k = 0; k < Row::Cells; ++k) {
        high << QStringLiteral("coalesce(%1%2,0)").arg(p, cellName(k));
        low << QStringLiteral("coalesce(nullif(%1%2,0),65536)").arg(p, cellName(k));
    }
    for (int k = 0; k < Row::Temps; ++k)
        temps << p + tempName(k);
    const QString ch = QStringLiteral("nullif(max(%1),0)").arg(high.join(QLatin1Char(',')));
    const QString cl = QStringLiteral("nullif(min(%1),65536)").arg(low.join(QLatin1Char(',')));
    return QStringLiteral("%1%2 v,%1%3 i,%1%4 soc,%5 ch,%6 cl,(%5)-(%6) sp,max(%7) th,min(%7) tl")
        .arg(p, Row::name(Row::TotalVoltage), Row::name(Row::Current), Row::name(Row::Soc), ch, cl,
             temps.join(QLatin1Char(',')));
}

// Clock seconds of a `time` text in SQL; NULL when it is no date and time.
QString clockExpr(const QString &column) { return QStringLiteral("cast(strftime('%s',%1) as integer)").arg(column); }

// "min(v),max(v),min(i),..." over the per-sample names, or over the
// summary's v_lo/v_hi pairs.
QString extremes(bool summary)
{
    QStringList out;
    for (const char *n : Names) {
        const QString name = QString::fromLatin1(n);
        if (summary)
            out << QStringLiteral("min(%1_lo),max(%1_hi)").arg(name);
        else
            out << QStringLiteral("min(%1),max(%1)").arg(name);
    }
    return out.join(QLatin1Char(','));
}

qint32 valueAt(const QSqlQuery &q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? Missing : v.toInt();
}

qint64 floorDiv(qint64 a, qint64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// Reads bucket rows "t, lo0, hi0, lo1, hi1, ..." into `into` by key t / b.
void readBuckets(QSqlQuery &q, qint64 b, std::map<qint64, Bucket> &into)
{
    while (q.next()) {
        Bucket bucket;
        bucket.clockSecs = q.value(0).toLongLong();
        for (int s = 0; s < SeriesCount; ++s) {
            bucket.low[s] = valueAt(q, 1 + 2 * s);
            bucket.high[s] = valueAt(q, 2 + 2 * s);
        }
        auto it = into.find(floorDiv(bucket.clockSecs, b));
        if (it == into.end())
            into.emplace(floorDiv(bucket.clockSecs, b), bucket);
        else
            it->second.add(bucket);
    }
}

// The serial a summary row is kept under: a sample without one counts as
// the pack of the empty serial.
QString serialKey(const QString &p) { return QStringLiteral("coalesce(%1%2,'')").arg(p, PackList::column()); }

// The samples of `total` in [from, to] by the index on `time`, or those of
// one pack by the index on serial and time. Bound: from, to, the serial.
QString rawSelect(bool onePack)
{
    QString select = QStringLiteral("select %1 t,%2 from total where %3>=? and %3<=?")
                         .arg(clockExpr(timeColumn()), seriesExpressions(QString()), timeColumn());
    if (onePack)
        select += QStringLiteral(" and %1=?").arg(PackList::column());
    return select;
}

// The serial bound when the read is of one pack (a null serial: every pack).
void bindSerial(QSqlQuery &q, const QString &serial)
{
    if (!serial.isNull())
        q.addBindValue(serial);
}

bool rawBuckets(QSqlDatabase db, qint64 from, qint64 to, qint64 b, const QString &serial,
                std::map<qint64, Bucket> &into)
{
    if (from > to)
        return true;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("select min(t),%1 from (%2) where t is not null group by t/? order by 1")
                  .arg(extremes(false), rawSelect(!serial.isNull())));
    q.addBindValue(timeText(from));
    q.addBindValue(timeText(to));
    bindSerial(q, serial);
    q.addBindValue(b);
    if (!q.exec())
        return false;
    readBuckets(q, b, into);
    return true;
}

// The summary's rows of one pack, or of every pack (the packs' minutes merged).
QString packAnd(const QString &serial) { return serial.isNull() ? QString() : QStringLiteral("serial=? and "); }

bool summaryBuckets(QSqlDatabase db, qint64 firstMinute, qint64 lastMinute, qint64 b, const QString &serial,
                    std::map<qint64, Bucket> &into)
{
    if (firstMinute > lastMinute)
        return true;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("select min(minute)*60,%1 from total_minute where %2minute>=? and minute<=? "
                             "group by (minute*60)/? order by 1")
                  .arg(extremes(true), packAnd(serial)));
    bindSerial(q, serial);
    q.addBindValue(firstMinute);
    q.addBindValue(lastMinute);
    q.addBindValue(b);
    if (!q.exec())
        return false;
    readBuckets(q, b, into);
    return true;
}

} // namespace

void Bucket::add(const Bucket &other)
{
    clockSecs = std::min(clockSecs, other.clockSecs);
    for (int s = 0; s < SeriesCount; ++s) {
        if (other.low[s] != Missing && (low[s] == Missing || other.low[s] < low[s]))
            low[s] = other.low[s];
        if (other.high[s] != Missing && (high[s] == Missing || other.high[s] > high[s]))
            high[s] = other.high[s];
    }
}

qint64 clockSecs(const QDateTime &local)
{
    return QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch();
}

QDateTime localTime(qint64 secs)
{
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
    return QDateTime(utc.date(), utc.time(), Qt::LocalTime);
}

QString timeText(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toString(QLatin1String(TimeFormat));
}

bool sampleFromRow(const QVector<QVariant> &values, Sample &out)
{
    if (values.size() != Row::Count)
        return false;
    // Date and time read apart and joined as UTC: a local date and time
    // would ask the time zone database for every sample.
    const QString text = values.at(Row::Time).toString();
    const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(text.mid(11), QStringLiteral("hh:mm:ss"));
    if (text.size() != 19 || text.at(10) != QLatin1Char(' ') || !date.isValid() || !time.isValid())
        return false;
    out.clockSecs = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    out.serial = values.at(Row::BmsIsdn).toString();
    out.value[PackVoltage] = values.at(Row::TotalVoltage).toInt();
    out.value[PackCurrent] = values.at(Row::Current).toInt();
    out.value[Soc] = values.at(Row::Soc).toInt();
    qint32 high = 0, low = 0;
    for (int k = 0; k < Row::Cells; ++k) {
        const qint32 mv = values.at(Row::Cell01 + k).toInt();
        if (mv == 0)
            continue;
        high = std::max(high, mv);
        low = low == 0 ? mv : std::min(low, mv);
    }
    out.value[CellHigh] = high ? high : Missing;
    out.value[CellLow] = low ? low : Missing;
    out.value[CellSpread] = high ? high - low : Missing;
    qint32 th = values.at(Row::Temp01).toInt(), tl = th;
    for (int k = 1; k < Row::Temps; ++k) {
        th = std::max(th, values.at(Row::Temp01 + k).toInt());
        tl = std::min(tl, values.at(Row::Temp01 + k).toInt());
    }
    out.value[TempHigh] = th;
    out.value[TempLow] = tl;
    return true;
}

bool ensureSummary(QSqlDatabase db)
{
    QStringList columns;
    for (const char *n : Names)
        columns << QStringLiteral("%1_lo int,%1_hi int").arg(QLatin1String(n));
    QSqlQuery q(db);
    // The summary of an earlier version has no serial: one row per minute of
    // every pack together. It is replaced by one per pack, built anew below.
    bool exists = false, perPack = false;
    if (!q.exec(QStringLiteral("pragma table_info(total_minute)")))
        return false;
    while (q.next()) {
        exists = true;
        perPack = perPack || q.value(1).toString() == QLatin1String("serial");
    }
    q.finish();
    // Its trigger, on `total`, went by the name an earlier version looks
    // for; see the stand-in below.
    q.exec(QStringLiteral("select tbl_name from sqlite_master where type='trigger' and name='total_minute_add'"));
    const bool earlierTrigger = q.next() && q.value(0).toString() == QLatin1String("total");
    q.finish();
    q.exec(QStringLiteral("select 1 from sqlite_master where type='trigger' and name='total_minute_pack'"));
    const bool hasTrigger = q.next() && perPack;
    q.finish();

    QStringList names, lowHigh, merge;
    for (const char *n : Names) {
        const QString s = QLatin1String(n);
        names << QStringLiteral("%1_lo,%1_hi").arg(s);
        lowHigh << QStringLiteral("%1,%1").arg(s);
        // min()/max() of several arguments are NULL when one is: keep the
        // stored extreme when a sample has no value and the reverse.
        merge << QStringLiteral("%1_lo=coalesce(min(%1_lo,excluded.%1_lo),%1_lo,excluded.%1_lo),"
                                "%1_hi=coalesce(max(%1_hi,excluded.%1_hi),%1_hi,excluded.%1_hi)")
                     .arg(s);
    }
    const RecordTable::Definition &history = RecordTable::history();
    db.transaction();
    bool ok = true;
    const auto run = [&](const QString &sql) { ok = ok && q.exec(sql); };
    if (earlierTrigger)
        run(QStringLiteral("drop trigger total_minute_add"));
    if (exists && !perPack)
        run(QStringLiteral("drop table total_minute"));
    run(QStringLiteral("create table if not exists total_minute(serial text not null,minute integer not null,"
                       "n int,%1,primary key(serial,minute))")
            .arg(columns.join(QLatin1Char(','))));
    // Every pack's minutes in time order: the range of all packs, and the
    // queries of an earlier version, which knows no serial.
    run(QStringLiteral("create index if not exists total_minute_time on total_minute(minute)"));
    // Lets "all" and time ranges find their rows without reading the table.
    // It is the index a sort of the history by its time column uses too, so
    // each sample updates one index on time, not two.
    run(QStringLiteral("create index if not exists %1 on total(%2)").arg(history.sortIndexName(Row::Time, 0), timeColumn()));
    // One pack's time range without reading the other packs' samples.
    run(QStringLiteral("create index if not exists total_pack_time on total(%1,%2)")
            .arg(PackList::column(), timeColumn()));
    // An earlier version takes a trigger of this name as its summary's and
    // leaves the summary alone; without one it would add its own trigger,
    // whose upsert by minute alone this table refuses, and every insert
    // would fail. This one does nothing (it never fires).
    run(QStringLiteral("create trigger if not exists total_minute_add after delete on total_minute when 0 "
                       "begin select 0; end"));
    if (!hasTrigger) {
        run(QStringLiteral("delete from total_minute"));
        // The minutes of the samples stored before the trigger existed.
        run(QStringLiteral("insert into total_minute(serial,minute,n,%1) select s,m,count(*),%2 from "
                           "(select %3 s,%4/60 m,%5 from total) where m is not null group by s,m")
                .arg(names.join(QLatin1Char(',')), extremes(false), serialKey(QString()), clockExpr(timeColumn()),
                     seriesExpressions(QString())));
        run(QStringLiteral("create trigger total_minute_pack after insert on total "
                           "when %1 is not null begin "
                           "insert into total_minute(serial,minute,n,%2) select %6,%1/60,1,%3 from (select %4) "
                           "where true on conflict(serial,minute) do update set n=n+1,%5; end")
                .arg(clockExpr(QStringLiteral("new.") + timeColumn()), names.join(QLatin1Char(',')),
                     lowHigh.join(QLatin1Char(',')), seriesExpressions(QStringLiteral("new.")),
                     merge.join(QLatin1Char(',')), serialKey(QStringLiteral("new."))));
    }
    if (ok)
        return db.commit();
    db.rollback();
    return false;
}

namespace {

// The first and the newest sample of one pack (or of all, a null serial),
// to the second: the ends of the summary, then the samples of their minutes.
bool sampleEnds(QSqlQuery &q, const QString &serial, qint64 &first, qint64 &last, bool &any)
{
    const QString where = serial.isNull() ? QString() : QStringLiteral(" where serial=?");
    q.prepare(QStringLiteral("select (select min(minute) from total_minute%1),(select max(minute) from total_minute%1)")
                  .arg(where));
    bindSerial(q, serial);
    bindSerial(q, serial);
    if (!q.exec())
        return false;
    if (!q.next() || q.value(0).isNull()) {
        any = false;
        return true;
    }
    any = true;
    const qint64 firstMinute = q.value(0).toLongLong(), lastMinute = q.value(1).toLongLong();
    q.finish();
    q.prepare(QStringLiteral("select %1,%2 from total where %3>=? and %3<=?%4")
                  .arg(clockExpr(QStringLiteral("min(%1)").arg(timeColumn())),
                       clockExpr(QStringLiteral("max(%1)").arg(timeColumn())), timeColumn(),
                       serial.isNull() ? QString() : QStringLiteral(" and %1=?").arg(PackList::column())));
    qint64 ends[2] = {firstMinute * 60, lastMinute * 60 + 59};
    for (int e = 0; e < 2; ++e) {
        const qint64 minute = e == 0 ? firstMinute : lastMinute;
        q.addBindValue(timeText(minute * 60));
        q.addBindValue(timeText(minute * 60 + 59));
        bindSerial(q, serial);
        if (q.exec() && q.next() && !q.value(e).isNull())
            ends[e] = q.value(e).toLongLong();
        q.finish();
    }
    first = ends[0];
    last = ends[1];
    return true;
}

// [from, to] of one pack or of all, reduced to about w buckets (or every
// sample, when few) into `out`; the way it was read goes into `r`.
bool readRange(QSqlDatabase db, qint64 from, qint64 to, qint64 w, const QString &serial, Result &r,
               QVector<Bucket> &out)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Samples in the range, over-counted by the minutes at its ends.
    q.prepare(QStringLiteral("select coalesce(sum(n),0) from total_minute where %1minute>=? and minute<=?")
                  .arg(packAnd(serial)));
    bindSerial(q, serial);
    q.addBindValue(floorDiv(from, 60));
    q.addBindValue(floorDiv(to, 60));
    if (!q.exec() || !q.next())
        return false;
    const qint64 estimate = q.value(0).toLongLong();
    q.finish();

    if (estimate <= 2 * w) {
        r.fullDetail = true;
        r.summary = false;
        r.bucketSecs = 0;
        q.prepare(rawSelect(!serial.isNull()) + QStringLiteral(" order by ") + timeColumn());
        q.addBindValue(timeText(from));
        q.addBindValue(timeText(to));
        bindSerial(q, serial);
        if (!q.exec())
            return false;
        // The select is "t, v, i, ...": one value per series.
        while (q.next()) {
            if (q.value(0).isNull())
                continue;
            Bucket b;
            b.clockSecs = q.value(0).toLongLong();
            for (int s = 0; s < SeriesCount; ++s)
                b.low[s] = b.high[s] = valueAt(q, 1 + s);
            out.append(b);
        }
        return true;
    }

    r.fullDetail = false;
    r.summary = false;
    const qint64 span = to - from + 1;
    qint64 b = (span + w - 1) / w;
    std::map<qint64, Bucket> buckets;
    bool ok = true;
    if (b < 60) {
        ok = rawBuckets(db, from, to, b, serial, buckets);
    } else {
        // Whole minutes of buckets from the summary; the parts of minutes at
        // the ends of the range from the samples themselves.
        b = (b + 59) / 60 * 60;
        r.summary = true;
        const qint64 firstMinute = floorDiv(from + 59, 60);
        const qint64 lastMinute = floorDiv(to + 1, 60) - 1;
        if (firstMinute > lastMinute) {
            ok = rawBuckets(db, from, to, b, serial, buckets);
        } else {
            ok = summaryBuckets(db, firstMinute, lastMinute, b, serial, buckets)
                 && rawBuckets(db, from, firstMinute * 60 - 1, b, serial, buckets)
                 && rawBuckets(db, (lastMinute + 1) * 60, to, b, serial, buckets);
        }
    }
    r.bucketSecs = b;
    out.reserve(int(buckets.size()));
    for (const auto &entry : buckets)
        out.append(entry.second);
    return ok;
}

} // namespace

Result query(QSqlDatabase db, const Request &request)
{
    Result r;
    r.generation = request.generation;
    r.serials = request.serials;
    const qint64 w = std::max(10, request.buckets);
    // One read per pack asked for; a null serial reads every sample.
    const QStringList serials = request.serials.isEmpty() ? QStringList{QString()} : request.serials;
    const bool perPack = !request.serials.isEmpty();

    qint64 from = request.fromSecs, to = request.toSecs;
    if (request.range != Request::Explicit) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        bool found = false;
        for (const QString &serial : serials) {
            qint64 first = 0, last = 0;
            bool any = false;
            if (!sampleEnds(q, serial, first, last, any)) {
                r.ok = false;
                return r;
            }
            if (any) {
                from = found ? std::min(from, first) : first;
                to = found ? std::max(to, last) : last;
                found = true;
            }
        }
        if (!found) {
            if (perPack)
                r.packs.resize(serials.size());
            return r; // nothing stored
        }
        from = request.range == Request::All      ? from
               : request.range == Request::LastDay ? to - 86400 + 1
                                                   : to - 3600 + 1;
    }
    r.empty = false;
    r.fromSecs = from;
    r.toSecs = to;
    if (perPack)
        r.packs.resize(serials.size());
    if (from > to)
        return r;
    for (int p = 0; p < serials.size(); ++p) {
        if (!readRange(db, from, to, w, serials.at(p), r, perPack ? r.packs[p] : r.buckets)) {
            r.ok = false;
            break;
        }
    }
    if (perPack)
        r.buckets = r.packs.first();
    return r;
}

// Lives on the worker thread with the read connection of that thread.
class Worker::Runner : public QObject
{
public:
    Runner(const QString &databaseName, std::atomic<quint64> *latest, Worker *owner)
        : m_databaseName(databaseName), m_latest(latest), m_owner(owner)
    {
        static std::atomic_int serial{0};
        m_name = QStringLiteral("trend-%1").arg(++serial);
    }

    void run(const Request &request)
    {
        if (request.generation < m_latest->load())
            return; // a newer request is queued behind this one
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (!db.isValid()) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
            db.setDatabaseName(m_databaseName);
            db.open();
        }
        const Result result = query(db, request);
        if (result.generation >= m_latest->load())
            emit m_owner->finished(result);
    }

    void close()
    {
        if (QSqlDatabase::contains(m_name)) {
            QSqlDatabase::database(m_name, false).close();
            QSqlDatabase::removeDatabase(m_name);
        }
    }

private:
    QString m_databaseName;
    QString m_name;
    std::atomic<quint64> *m_latest;
    Worker *m_owner;
};

Worker::Worker(const QString &databaseName, QObject *parent)
    : QObject(parent), m_runner(new Runner(databaseName, &m_latest, this)), m_thread(new QThread)
{
    qRegisterMetaType<Trend::Result>();
    m_runner->moveToThread(m_thread);
    m_thread->start();
}

Worker::~Worker()
{
    m_latest = std::numeric_limits<quint64>::max(); // skip whatever is queued
    Runner *runner = m_runner;
    QMetaObject::invokeMethod(runner, [runner] { runner->close(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_runner;
    delete m_thread;
}

void Worker::submit(const Request &request)
{
    m_latest = request.generation;
    Runner *runner = m_runner;
    QMetaObject::invokeMethod(runner, [runner, request] { runner->run(request); }, Qt::QueuedConnection);
}

} // namespace Trend
