#pragma once

#include <QDateTime>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <array>
#include <atomic>
#include <limits>

// The trend of a pack over time, read from the history samples of table
// `total`: pack voltage, pack current, SOC, the highest and lowest cell and
// the spread between them, the highest and lowest temperature.
//
// A history grows by a sample a second for weeks, so a whole range cannot be
// drawn point by point. A range is reduced in SQL to the minimum and maximum
// of each series per time bucket, about one bucket per horizontal pixel.
// Wide ranges are read from `total_minute`, a summary of each pack's
// minute (by its serial, BMS_ISDN) with the minimum and maximum that a
// trigger on `total` keeps up to date with every insert; a range narrow enough is read from `total` itself through the
// index on `time`, at full detail once it holds few enough samples.
//
// Times: a sample's `time` is the PC's local clock as text
// "yyyy-MM-dd hh:mm:ss". Here it becomes "clock seconds": the seconds of that
// wall-clock reading counted as if it were UTC (SQLite's strftime('%s')).
// They order like the text and convert back to the same local date and time.
namespace Trend {

enum Series {
    PackVoltage, // 0.01 V
    PackCurrent, // 0.01 A, signed
    Soc,         // %
    CellHigh,    // mV, highest stored cell
    CellLow,     // mV, lowest stored cell
    CellSpread,  // mV, highest minus lowest cell of the same sample
    TempHigh,    // degC, highest of the four cell temperature sensors
    TempLow,     // degC, lowest of them
    SeriesCount
};

// No value (a sample without any stored cell voltage has no cell series).
constexpr qint32 Missing = std::numeric_limits<qint32>::min();

// Cells: the history stores all sixteen cell registers, not the pack's cell
// count. A pack of fewer cells reads 0 in the registers of the cells it does
// not have, and no fitted lithium cell reads 0 mV, so a cell stored as 0 is
// taken as absent. A sample whose cells are all 0 has no cell values.
struct Sample
{
    qint64 clockSecs = 0;
    QString serial; // the pack's serial (BMS_ISDN)
    std::array<qint32, SeriesCount> value{};
};

// The sample of one history row (one value per HistoryRow field, in field
// order, as the history stores them). False when the row is not such a row
// or its time text is not a valid "yyyy-MM-dd hh:mm:ss".
bool sampleFromRow(const QVector<QVariant> &values, Sample &out);

// Clock seconds of a local date and time and back.
qint64 clockSecs(const QDateTime &local);
QDateTime localTime(qint64 clockSecs);
QString timeText(qint64 clockSecs); // "yyyy-MM-dd hh:mm:ss"

// One drawn bucket: the earliest time in it and each series' extremes.
struct Bucket
{
    qint64 clockSecs = 0;
    std::array<qint32, SeriesCount> low;
    std::array<qint32, SeriesCount> high;
    Bucket() { low.fill(Missing); high.fill(Missing); }
    void add(const Bucket &other);
};

struct Request
{
    enum Range { Explicit, All, LastHour, LastDay };
    Range range = Explicit;
    qint64 fromSecs = 0; // clock seconds, both ends included (Explicit)
    qint64 toSecs = 0;
    int buckets = 600;   // horizontal pixels of the plot, about
    quint64 generation = 0;
    // Empty: every sample, whichever pack it came from (a line of one
    // pack). Otherwise the samples of each of these packs apart, over one
    // range common to them (All, Last...: from the first to the newest
    // sample of any of them).
    QStringList serials;
};

struct Result
{
    quint64 generation = 0;
    bool ok = true;          // false: a query failed
    bool fullDetail = false; // every sample of the range, not reduced
    bool summary = false;    // wide range read from the minute summary
    qint64 fromSecs = 0;     // the range read (resolved for All/LastHour/LastDay)
    qint64 toSecs = 0;
    qint64 bucketSecs = 0;   // width of a bucket (0 at full detail)
    bool empty = true;       // the table holds no sample at all (All, Last...)
    QVector<Bucket> buckets; // oldest first; at full detail low == high
    // With serials requested: one list of buckets per serial, in the
    // request's order (`buckets` is the first's); the flags above are those
    // of the last read.
    QVector<QVector<Bucket>> packs;
    QStringList serials; // the request's
};

// Creates the minute summary, its trigger and the indexes on `time` and on
// serial and time when they are missing, filling the summary from the
// samples already stored. Run after table `total` is created (start-up;
// Clear, where dropping `total` dropped the trigger and the indexes, so that
// the summary is emptied and restarted). A summary of an earlier version,
// one row per minute of all packs together, is rebuilt per pack.
bool ensureSummary(QSqlDatabase db);

// Reads `request` from `db`. A range reduced to buckets keeps, for every
// bucket of `bucketSecs` (buckets aligned on multiples of it) the minimum and
// maximum of every series over the samples inside [from, to].
Result query(QSqlDatabase db, const Request &request);

// Runs queries on a thread of its own with a read connection of its own to
// the database file; a newer request supersedes the ones not yet started.
class Worker : public QObject
{
    Q_OBJECT
public:
    explicit Worker(const QString &databaseName, QObject *parent = nullptr);
    ~Worker() override;

    // Queues `request`; its generation must grow with every call.
    void submit(const Request &request);

signals:
    void finished(const Trend::Result &result);

private:
    class Runner;
    Runner *m_runner;
    QThread *m_thread;
    std::atomic<quint64> m_latest{0};
};

} // namespace Trend

Q_DECLARE_METATYPE(Trend::Request)
Q_DECLARE_METATYPE(Trend::Result)
