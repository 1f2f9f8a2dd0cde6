#include "pages/trendpage.h"
#include "pages/trendchartview.h"
#include "pages/trendseries.h"

using namespace TrendSeries;

#include "gui/dialogs.h"
#include "model/livedata.h"
#include "model/result.h"
#include "store/packlist.h"
#include "store/recordtablemodel.h"

#include "ui_trendpage.h"

#include <QBuffer>
#include <QComboBox>
#include <QGraphicsLineItem>
#include <QImageWriter>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSaveFile>
#include <QShowEvent>
#include <QSqlDatabase>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

using namespace QtCharts;

namespace {

// The picture is encoded in memory (a few hundred kilobytes), then written
// to a temporary file beside the target, which replaces it only once
// complete: a failure leaves an older picture whole and names the system's
// reason.
Result savePicture(const QImage &image, const QString &fileName)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "PNG");
    if (!writer.write(image))
        return Result::failure(writer.errorString());
    QSaveFile file(fileName);
    Result result = SafeSave::open(file);
    if (result.ok())
        result = SafeSave::write(file, png);
    return result.ok() ? SafeSave::commit(file) : result;
}

// The first point at or after x in a series, whose points run left to right.
QVector<QPointF>::const_iterator firstAtOrAfter(const QVector<QPointF> &points, qreal x)
{
    return std::lower_bound(points.cbegin(), points.cend(), x, [](const QPointF &p, qreal v) { return p.x() < v; });
}

const int WindowChoices[] = {1, 10, 60};
constexpr int DefaultWindow = 1; // index of 10 minutes

// Milliseconds since the epoch of a sample's local clock reading. The
// offset from the clock reading is looked up once an hour of readings: the
// lookup asks the time zone database, too slow for every point.
qint64 msOf(qint64 clockSecs)
{
    static qint64 cachedHour = std::numeric_limits<qint64>::min();
    static qint64 offsetMs = 0;
    const qint64 hour = clockSecs >= 0 ? clockSecs / 3600 : -((-clockSecs + 3599) / 3600);
    if (hour != cachedHour) {
        cachedHour = hour;
        offsetMs = Trend::localTime(hour * 3600).toMSecsSinceEpoch() - hour * 3600 * 1000;
    }
    return clockSecs * 1000 + offsetMs;
}

// A range a little wider than [lo, hi] on round numbers, so that a live
// chart does not rescale with every sample.
double niceRange(double lo, double hi, double minimalSpan, double &outLo, double &outHi)
{
    double span = std::max(hi - lo, minimalSpan);
    const double step = std::pow(10.0, std::floor(std::log10(span))) / 2;
    outLo = std::floor((lo - span * 0.05) / step) * step;
    outHi = std::ceil((hi + span * 0.05) / step) * step;
    if (outHi - outLo < minimalSpan) {
        const double mid = (lo + hi) / 2;
        outLo = std::floor((mid - minimalSpan / 2) / step) * step;
        outHi = outLo + std::ceil(minimalSpan / step) * step;
    }
    // Ticks on round numbers, four to ten of them.
    double tick = step;
    while ((outHi - outLo) / tick > 10)
        tick *= 2;
    return tick;
}

} // namespace

// ---------------------------------------------------------------- page

TrendPage::TrendPage(QWidget *parent) : QWidget(parent), ui(new Ui::TrendPage)
{
    ui->setupUi(this);
    buildChart();
    for (int minutes : WindowChoices)
        ui->windowCB->addItem(QString(), minutes);
    ui->windowCB->setCurrentIndex(DefaultWindow);
    const QDateTime now = QDateTime::currentDateTime();
    ui->toDT->setDateTime(now);
    ui->fromDT->setDateTime(now.addSecs(-3600));

    const QString databaseName =
        QSqlDatabase::database(RecordTable::history().connectionName, false).databaseName();
    m_worker = new Trend::Worker(databaseName, this);
    connect(m_worker, &Trend::Worker::finished, this, &TrendPage::showResult);
    connect(ui->windowCB, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        if (m_live) {
            m_following = true;
            fillFromLive();
        }
    });
    connect(this, &TrendPage::languageSwich, this, &TrendPage::languageChange);

    for (int s = 0; s < Trend::SeriesCount; ++s)
        ui->seriesCB->addItem(QString(), s);
    ui->seriesCB->setCurrentIndex(Trend::CellSpread);
    ui->packCB->addItem(QString());
    m_packs = PackList::serials(QSqlDatabase::database(RecordTable::history().connectionName, false));
    ui->packCB->addItems(m_packs);
    connect(ui->packCB, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TrendPage::applyPackMode);
    connect(ui->seriesCB, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TrendPage::applyPackMode);
    applyPackMode();
    languageChange();
}

QComboBox *TrendPage::packBox() const { return ui->packCB; }
QComboBox *TrendPage::seriesBox() const { return ui->seriesCB; }

QString TrendPage::shownPack() const
{
    const int index = ui->packCB->currentIndex();
    return index > 0 ? m_packs.value(index - 1) : QString();
}

bool TrendPage::isOverlay() const { return ui->packCB->currentIndex() <= 0 && m_packs.size() >= 2; }

int TrendPage::overlaySeries() const { return ui->seriesCB->currentData().toInt(); }

QVector<QPair<QLineSeries *, int>> TrendPage::drawnLines() const
{
    QVector<QPair<QLineSeries *, int>> lines;
    if (isOverlay()) {
        for (int p = 0; p < m_packs.size(); ++p)
            lines.append({m_packSeries.at(p), overlaySeries()});
    } else {
        for (int s = 0; s < Trend::SeriesCount; ++s)
            lines.append({m_series[s], s});
    }
    return lines;
}

bool TrendPage::takesSample(const Trend::Sample &sample) const
{
    const QString pack = shownPack();
    return pack.isEmpty() || sample.serial == pack;
}

QLineSeries *TrendPage::lineOf(const Trend::Sample &sample, int s) const
{
    if (!isOverlay())
        return m_series[s];
    return s == overlaySeries() ? m_packSeries.value(m_packs.indexOf(sample.serial)) : nullptr;
}

void TrendPage::notePack(const QString &serial)
{
    const int at = PackList::insertSorted(m_packs, serial);
    if (at < 0)
        return;
    {
        const QSignalBlocker blocker(ui->packCB);
        ui->packCB->insertItem(at + 1, serial);
    }
    // A new pack gets its line (and a second pack turns "All" into the
    // packs' lines).
    if (ui->packCB->currentIndex() <= 0)
        applyPackMode();
}

void TrendPage::applyPackMode()
{
    // One pack known: the page as it always was, without the selector.
    const bool several = m_packs.size() >= 2;
    ui->lb_pack->setVisible(several);
    ui->packCB->setVisible(several);
    const bool overlay = isOverlay();
    ui->lb_series->setVisible(overlay);
    ui->seriesCB->setVisible(overlay);
    while (m_packSeries.size() < m_packs.size()) {
        auto *line = new QLineSeries;
        QPen pen(QColor::fromRgb(PackColors[m_packSeries.size() % 16]));
        pen.setWidthF(1.5);
        line->setPen(pen);
        m_chart->addSeries(line);
        line->attachAxis(m_timeAxis);
        m_packSeries.append(line);
    }
    // Serials of one make usually differ only at their end: the legend
    // shows what tells them apart (the whole serial stays in the selector).
    int common = 0;
    if (m_packs.size() > 1) {
        common = m_packs.first().size();
        for (const QString &serial : qAsConst(m_packs)) {
            int n = 0;
            while (n < common && n < serial.size() && serial[n] == m_packs.first()[n])
                ++n;
            common = n;
        }
        common = qMax(0, common - 3); // a few shared characters keep the look of a serial
    }
    QValueAxis *axis = m_valueAxes.at(Info[overlaySeries()].axis);
    for (int p = 0; p < m_packSeries.size(); ++p) {
        QLineSeries *line = m_packSeries.at(p);
        for (QAbstractAxis *attached : line->attachedAxes()) {
            if (attached != m_timeAxis && attached != axis)
                line->detachAxis(attached);
        }
        if (!line->attachedAxes().contains(axis))
            line->attachAxis(axis);
        const QString serial = m_packs.value(p);
        line->setName(common > 0 && serial.size() > common ? QStringLiteral("…") + serial.mid(common) : serial);
        line->clear();
        line->setVisible(overlay);
    }
    for (QLineSeries *series : m_series)
        series->setVisible(!overlay);
    for (QLegendMarker *marker : m_chart->legend()->markers()) {
        const bool packLine = m_packSeries.contains(static_cast<QLineSeries *>(marker->series()));
        marker->setVisible(packLine == overlay);
    }
    updateAxisVisibility();
    if (m_live)
        fillFromLive();
    else
        requery();
}

TrendPage::~TrendPage() { delete ui; }

void TrendPage::buildChart()
{
    m_chart = new QChart;
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_chart->legend()->setAlignment(Qt::AlignTop);
    m_timeAxis = new QDateTimeAxis;
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    for (int a = 0; a < AxisCount; ++a) {
        auto *axis = new QValueAxis;
        // An axis wears the colour of its (first) series.
        for (const SeriesInfo &info : Info) {
            if (info.axis == a) {
                const QColor c = QColor::fromRgb(info.color);
                axis->setLinePenColor(c);
                axis->setLabelsColor(c);
                axis->setTitleBrush(c);
                break;
            }
        }
        m_chart->addAxis(axis, Axes[a].side);
        m_valueAxes.append(axis);
    }
    for (int s = 0; s < Trend::SeriesCount; ++s) {
        auto *series = new QLineSeries;
        QPen pen(QColor::fromRgb(Info[s].color));
        pen.setWidthF(1.5);
        series->setPen(pen);
        series->setUseOpenGL(false);
        m_chart->addSeries(series);
        series->attachAxis(m_timeAxis);
        series->attachAxis(m_valueAxes.at(Info[s].axis));
        m_series[s] = series;
    }
    // Legend entries show and hide their series.
    for (QLegendMarker *marker : m_chart->legend()->markers()) {
        connect(marker, &QLegendMarker::clicked, this, [this, marker] {
            QAbstractSeries *series = marker->series();
            series->setVisible(!series->isVisible());
            marker->setVisible(true); // the entry stays, greyed out
            QColor c = marker->labelBrush().color();
            c.setAlphaF(series->isVisible() ? 1.0 : 0.4);
            marker->setLabelBrush(c);
            QBrush b = marker->brush();
            QColor bc = b.color();
            bc.setAlphaF(series->isVisible() ? 1.0 : 0.3);
            b.setColor(bc);
            marker->setBrush(b);
            updateAxisVisibility();
            fitValueAxes();
        });
    }
    connect(m_timeAxis, &QDateTimeAxis::rangeChanged, this, [this] {
        if (!m_settingRange)
            userRangeChanged();
        updateTimeFormat();
    });

    m_view = new TrendChartView(m_chart, ui->chartFrame);
    auto *layout = new QVBoxLayout(ui->chartFrame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_cursor = new QGraphicsLineItem(m_chart);
    m_cursor->setPen(QPen(QColor(0, 0, 0, 110), 1, Qt::DashLine));
    m_cursor->setZValue(100);
    m_cursor->hide();
    connect(m_view, &TrendChartView::hovered, this, &TrendPage::showHover);
    connect(m_view, &TrendChartView::left, this, [this] {
        m_cursor->hide();
        ui->lb_readout->clear();
    });
}

QString TrendPage::text(const char *zh, const char *en) const
{
    return languageIndex(m_language) == 0 ? QString::fromUtf8(zh) : QString::fromUtf8(en);
}

int TrendPage::windowMinutes() const { return ui->windowCB->currentData().toInt(); }

void TrendPage::setWindowMinutes(int minutes)
{
    const int index = ui->windowCB->findData(minutes);
    if (index >= 0)
        ui->windowCB->setCurrentIndex(index);
}

int TrendPage::plotWidth() const
{
    const int w = int(m_chart->plotArea().width());
    return w >= 100 ? w : 1000;
}

void TrendPage::setTimeRange(qint64 fromMs, qint64 toMs)
{
    if (toMs <= fromMs) { // one sample: half a minute either side
        fromMs -= 30000;
        toMs += 30000;
    }
    m_settingRange = true;
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(fromMs), QDateTime::fromMSecsSinceEpoch(toMs));
    m_settingRange = false;
}

void TrendPage::updateTimeFormat()
{
    const qint64 span = m_timeAxis->max().toMSecsSinceEpoch() - m_timeAxis->min().toMSecsSinceEpoch();
    // Ticks are evenly spaced, not on midnights: a label without the time
    // of day would name a day at an odd hour.
    const char *format = span <= 3 * 3600 * 1000LL ? "hh:mm:ss" : span <= 120 * 86400 * 1000LL ? "MM-dd hh:mm" : "yyyy-MM-dd hh:mm";
    if (m_timeAxis->format() != QLatin1String(format))
        m_timeAxis->setFormat(QLatin1String(format));
    const int ticks = std::max(3, std::min(11, plotWidth() / 130));
    if (m_timeAxis->tickCount() != ticks)
        m_timeAxis->setTickCount(ticks);
}

void TrendPage::updateAxisVisibility()
{
    std::array<bool, AxisCount> used{};
    for (const auto &line : drawnLines())
        used[Info[line.second].axis] = used[Info[line.second].axis] || line.first->isVisible();
    for (int a = 0; a < AxisCount; ++a)
        m_valueAxes[a]->setVisible(used[a]);
}

void TrendPage::fitValueAxes()
{
    const double x0 = m_timeAxis->min().toMSecsSinceEpoch(), x1 = m_timeAxis->max().toMSecsSinceEpoch();
    std::array<double, AxisCount> lo, hi;
    lo.fill(qInf());
    hi.fill(-qInf());
    for (const auto &line : drawnLines()) {
        if (!line.first->isVisible())
            continue;
        const QVector<QPointF> points = line.first->pointsVector();
        auto it = firstAtOrAfter(points, x0);
        const int a = Info[line.second].axis;
        for (; it != points.end() && it->x() <= x1; ++it) {
            lo[a] = std::min(lo[a], it->y());
            hi[a] = std::max(hi[a], it->y());
        }
    }
    for (int a = 0; a < AxisCount; ++a) {
        if (lo[a] > hi[a])
            continue; // nothing shown: keep the axis as it is
        double newLo, newHi;
        const double tick = niceRange(lo[a], hi[a], Axes[a].minimalSpan, newLo, newHi);
        QValueAxis *axis = m_valueAxes[a];
        if (axis->min() == newLo && axis->max() == newHi)
            continue;
        // Fixed ticks while range and interval change: an old interval on a
        // new, much wider range would ask for millions of ticks.
        axis->setTickType(QValueAxis::TicksFixed);
        axis->setRange(newLo, newHi);
        axis->setTickAnchor(newLo);
        axis->setTickInterval(tick);
        axis->setTickType(QValueAxis::TicksDynamic);
        const int decimals = std::max(0, int(std::ceil(-std::log10(tick) - 1e-9)));
        axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    }
}

// ------------------------------------------------------------ live

void TrendPage::appendSample(qint64, const QVector<QVariant> &values)
{
    Trend::Sample sample;
    if (!Trend::sampleFromRow(values, sample))
        return;
    // Times have whole seconds: a second sample within the same second would
    // add a point on the same x. Keeping the first of each second bounds the
    // memory of the hour kept, whatever the poll period of a test rig.
    // Several packs on the line each have their sample of a second.
    const auto last = m_lastSecs.constFind(sample.serial);
    if (last != m_lastSecs.constEnd()) {
        if (last.value() == sample.clockSecs)
            return;
        // An hour of samples of every pack: they share their pack's serial
        // text rather than each keep a copy.
        sample.serial = last.key();
    }
    m_lastSecs.insert(sample.serial, sample.clockSecs);
    m_samples.append(sample);
    notePack(sample.serial);
    // Keep the last hour and a little: drop the oldest in batches.
    const qint64 keepFrom = sample.clockSecs - LiveKeepSecs;
    if (m_samples.first().clockSecs < keepFrom - 300) {
        auto it = std::lower_bound(m_samples.begin(), m_samples.end(), keepFrom,
                                   [](const Trend::Sample &s, qint64 t) { return s.clockSecs < t; });
        m_drawn -= int(it - m_samples.begin());
        m_samples.erase(m_samples.begin(), it);
    }
    if (m_live && !m_liveUpdatePending) {
        // Samples that arrive together are drawn together.
        m_liveUpdatePending = true;
        QTimer::singleShot(0, this, &TrendPage::updateLiveChart);
    }
}

void TrendPage::updateLiveChart()
{
    m_liveUpdatePending = false;
    if (!isVisible() && m_live) {
        // Nobody sees the chart: a line series lays out its whole path (and
        // the shape for the hover) with every point, for each of sixteen
        // packs a second. The samples are kept; the page draws them when it
        // is shown.
        m_liveBehind = true;
        return;
    }
    if (!m_live || m_drawn >= m_samples.size()) {
        m_drawn = std::max(0, std::min(m_drawn, int(m_samples.size())));
        return;
    }
    const qint64 newest = msOf(m_samples.last().clockSecs);
    const qint64 windowStart = newest - qint64(windowMinutes()) * 60000;
    // While following, the time axis moves anyway and redraws every series
    // with its new points: the series need not announce each point to the
    // chart, which would lay out the whole line once per point.
    const bool quiet = m_following && m_timeAxis->max().toMSecsSinceEpoch() != followedEnd(newest);
    const auto lines = drawnLines();
    for (const auto &line : lines)
        line.first->blockSignals(quiet);
    for (int n = std::max(0, m_drawn); n < m_samples.size(); ++n) {
        const Trend::Sample &sample = m_samples.at(n);
        if (!takesSample(sample))
            continue;
        const qreal x = msOf(sample.clockSecs);
        for (int s = 0; s < Trend::SeriesCount; ++s) {
            QLineSeries *line = sample.value[s] != Trend::Missing ? lineOf(sample, s) : nullptr;
            if (line)
                line->append(x, sample.value[s] * Info[s].scale);
        }
    }
    m_drawn = m_samples.size();
    for (const auto &line : lines) {
        QLineSeries *series = line.first;
        // A following series keeps what the window shows and a minute more,
        // trimmed a minute at a time.
        if (m_following && series->count() > 1 && series->at(0).x() < windowStart - 60000) {
            const QVector<QPointF> points = series->pointsVector();
            const int drop = int(firstAtOrAfter(points, qreal(windowStart)) - points.begin());
            series->removePoints(0, drop);
        }
        series->blockSignals(false);
    }
    for (const auto &line : lines) {
        if (line.first->pointsVisible() && line.first->count() > 3)
            line.first->setPointsVisible(false);
    }
    if (m_following)
        followNewest();
    refreshState();
}

void TrendPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_liveBehind && m_live) {
        m_liveBehind = false;
        fillFromLive();
    }
}

qint64 TrendPage::followedEnd(qint64 newestMs) const
{
    // The window moves in steps of a sixtieth of itself (1 s, 10 s, 1 min):
    // moving it relabels the time axis and redraws every series, which need
    // not happen with every sample of a wide window.
    const qint64 step = qint64(windowMinutes()) * 1000;
    return (newestMs + step - 1) / step * step;
}

void TrendPage::followNewest()
{
    const qint64 window = qint64(windowMinutes()) * 60000;
    const qint64 newest = m_samples.isEmpty() ? QDateTime::currentMSecsSinceEpoch() : msOf(m_samples.last().clockSecs);
    const qint64 end = followedEnd(newest);
    if (m_timeAxis->max().toMSecsSinceEpoch() != end || m_timeAxis->min().toMSecsSinceEpoch() != end - window)
        setTimeRange(end - window, end);
    fitValueAxes();
}

void TrendPage::fillFromLive()
{
    // A following chart holds the window; a zoomed one all that is kept.
    qint64 from = std::numeric_limits<qint64>::min();
    if (m_following && !m_samples.isEmpty())
        from = m_samples.last().clockSecs - qint64(windowMinutes()) * 60 - 60;
    const auto lines = drawnLines();
    QHash<QLineSeries *, QVector<QPointF>> points;
    for (const Trend::Sample &sample : m_samples) {
        if (sample.clockSecs < from || !takesSample(sample))
            continue;
        const qreal x = msOf(sample.clockSecs);
        for (int s = 0; s < Trend::SeriesCount; ++s) {
            QLineSeries *line = sample.value[s] != Trend::Missing ? lineOf(sample, s) : nullptr;
            if (line)
                points[line].append(QPointF(x, sample.value[s] * Info[s].scale));
        }
    }
    for (const auto &line : lines) {
        const QVector<QPointF> drawn = points.value(line.first);
        line.first->replace(drawn);
        line.first->setPointsVisible(drawn.size() <= 3);
    }
    m_drawn = m_samples.size();
    if (m_following)
        followNewest();
    refreshState();
}

void TrendPage::on_liveBtn_clicked()
{
    ++m_generation; // a history query still running is of no interest now
    m_live = true;
    m_following = true;
    fillFromLive();
}

void TrendPage::userRangeChanged()
{
    if (m_live) {
        if (m_following) {
            m_following = false;
            fillFromLive(); // everything kept, for panning back
        }
        fitValueAxes();
        refreshState();
        return;
    }
    // History: read the new range in the detail it now allows, once the
    // events of this zoom or pan have been handled.
    if (!m_requeryPending) {
        m_requeryPending = true;
        QTimer::singleShot(0, this, &TrendPage::requery);
    }
    fitValueAxes();
}

void TrendPage::requery()
{
    m_requeryPending = false;
    if (m_live)
        return;
    Trend::Request r;
    r.fromSecs = Trend::clockSecs(m_timeAxis->min());
    r.toSecs = Trend::clockSecs(m_timeAxis->max());
    m_keepAxisOnResult = true;
    submit(r);
}

// ------------------------------------------------------------ history

void TrendPage::submit(Trend::Request request)
{
    m_live = false;
    m_following = false;
    request.buckets = plotWidth();
    request.generation = ++m_generation;
    if (isOverlay())
        request.serials = m_packs;
    else if (!shownPack().isEmpty())
        request.serials = QStringList{shownPack()};
    m_worker->submit(request);
}

bool TrendPage::showRange(const QDateTime &from, const QDateTime &to)
{
    if (to < from) {
        Dialogs::message(this, QMessageBox::Warning, text("趋势", "Trend"),
                         text("结束时间早于开始时间。", "The end of the range is before its start."));
        return false;
    }
    Trend::Request r;
    r.fromSecs = Trend::clockSecs(from);
    r.toSecs = Trend::clockSecs(to);
    m_keepAxisOnResult = false;
    submit(r);
    return true;
}

void TrendPage::zoomTo(const QDateTime &from, const QDateTime &to)
{
    m_timeAxis->setRange(from, to); // as the wheel or the rubber band does
}

void TrendPage::on_showBtn_clicked() { showRange(ui->fromDT->dateTime(), ui->toDT->dateTime()); }

void TrendPage::on_lastHourBtn_clicked() { submitRange(Trend::Request::LastHour); }
void TrendPage::on_lastDayBtn_clicked() { submitRange(Trend::Request::LastDay); }
void TrendPage::on_allBtn_clicked() { submitRange(Trend::Request::All); }

void TrendPage::submitRange(Trend::Request::Range range)
{
    Trend::Request r;
    r.range = range;
    m_keepAxisOnResult = false;
    submit(r);
}

void TrendPage::showResult(const Trend::Result &result)
{
    if (result.generation != m_generation || m_live)
        return; // superseded
    m_queryFailed = !result.ok;
    m_tableEmpty = result.empty;
    m_resultEmpty = result.buckets.isEmpty();

    // A bucket is drawn as its low and high point at one time.
    const auto addBucket = [](QVector<QPointF> &points, const Trend::Bucket &b, int s) {
        if (b.low[s] == Trend::Missing)
            return;
        const qreal x = msOf(b.clockSecs);
        points.append(QPointF(x, b.low[s] * Info[s].scale));
        if (b.high[s] != b.low[s])
            points.append(QPointF(x, b.high[s] * Info[s].scale));
    };
    if (isOverlay()) {
        const int s = overlaySeries();
        for (int p = 0; p < m_packs.size(); ++p) {
            // The packs of the request; one that came since is drawn live.
            const QVector<Trend::Bucket> buckets = result.packs.value(result.serials.indexOf(m_packs.at(p)));
            QVector<QPointF> points;
            points.reserve(buckets.size() * 2);
            for (const Trend::Bucket &b : buckets)
                addBucket(points, b, s);
            m_packSeries.at(p)->replace(points);
            m_packSeries.at(p)->setPointsVisible(buckets.size() <= 3);
        }
    } else {
        for (int s = 0; s < Trend::SeriesCount; ++s) {
            QVector<QPointF> points;
            points.reserve(result.buckets.size() * (result.fullDetail ? 1 : 2));
            for (const Trend::Bucket &b : result.buckets)
                addBucket(points, b, s);
            m_series[s]->replace(points);
            m_series[s]->setPointsVisible(result.buckets.size() <= 3);
        }
    }
    if (!result.empty) {
        // The pickers show the range drawn, also after a zoom or pan.
        ui->fromDT->setDateTime(Trend::localTime(result.fromSecs));
        ui->toDT->setDateTime(Trend::localTime(result.toSecs));
        if (!m_keepAxisOnResult)
            setTimeRange(msOf(result.fromSecs), msOf(result.toSecs));
    }
    fitValueAxes();
    refreshState();
    emit rangeShown();
}

QDateTime TrendPage::visibleFrom() const { return m_timeAxis->min(); }
QDateTime TrendPage::visibleTo() const { return m_timeAxis->max(); }

// ------------------------------------------------------------ read-out

QString TrendPage::readoutAt(qreal x) const
{
    QStringList parts;
    parts << QDateTime::fromMSecsSinceEpoch(qint64(x)).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    // A series is read where it has a point within a few pixels of the
    // cursor; elsewhere (before its first sample, in a pause) it is left out.
    const qreal span = m_timeAxis->max().toMSecsSinceEpoch() - m_timeAxis->min().toMSecsSinceEpoch();
    const qreal reach = std::max<qreal>(1000, span / plotWidth() * 8);
    const bool overlay = isOverlay();
    for (const auto &line : drawnLines()) {
        const int s = line.second;
        if (!line.first->isVisible() || line.first->count() == 0)
            continue;
        const QVector<QPointF> points = line.first->pointsVector();
        auto it = firstAtOrAfter(points, x);
        if (it == points.end() || (it != points.begin() && x - (it - 1)->x() < it->x() - x))
            --it;
        if (std::abs(it->x() - x) > reach)
            continue;
        // A bucket is drawn as its low and high point at one time.
        auto first = it, last = it;
        while (first != points.begin() && (first - 1)->x() == it->x())
            --first;
        while (last + 1 != points.end() && (last + 1)->x() == it->x())
            ++last;
        const int d = Info[s].decimals;
        QString value = QString::number(first->y(), 'f', d);
        if (last != first && last->y() != first->y())
            value = QStringLiteral("%1…%2").arg(QString::number(std::min(first->y(), last->y()), 'f', d),
                                                QString::number(std::max(first->y(), last->y()), 'f', d));
        parts << QStringLiteral("%1 %2 %3").arg(overlay ? line.first->name() : text(Info[s].zh, Info[s].en), value,
                                                QString::fromUtf8(Info[s].unit));
    }
    return parts.join(QStringLiteral("  "));
}

void TrendPage::showHover(const QPointF &scenePos)
{
    const QRectF plot = m_chart->plotArea();
    if (!plot.contains(scenePos)) {
        m_cursor->hide();
        ui->lb_readout->clear();
        return;
    }
    m_cursor->setLine(scenePos.x(), plot.top(), scenePos.x(), plot.bottom());
    m_cursor->show();
    const qreal x = m_chart->mapToValue(scenePos, m_series[0]).x();
    ui->lb_readout->setText(readoutAt(x));
}

// ------------------------------------------------------------ texts

void TrendPage::setState(const char *zh, const char *en) { ui->lb_state->setText(text(zh, en)); }

void TrendPage::refreshState()
{
    if (m_live) {
        if (m_samples.isEmpty())
            setState("实时：等待监控数据", "Live: waiting for monitoring samples");
        else if (m_following)
            setState("实时：跟随最新样本", "Live: following the newest sample");
        else
            setState("实时：已缩放，按“实时”继续跟随", "Live: zoomed, press Live to follow again");
    } else if (m_queryFailed) {
        setState("无法读取历史记录", "The history cannot be read");
    } else if (m_tableEmpty) {
        setState("没有已存储的样本", "No samples stored");
    } else if (m_resultEmpty) {
        setState("此范围内没有样本", "No samples in this range");
    } else {
        setState("历史", "History");
    }
}

void TrendPage::languageChange()
{
    ui->lb_window->setText(text("窗口", "Window"));
    for (int i = 0; i < ui->windowCB->count(); ++i)
        ui->windowCB->setItemText(i, text("%1 分钟", "%1 min").arg(WindowChoices[i]));
    ui->liveBtn->setText(text("实时", "Live"));
    ui->lb_from->setText(text("从", "From"));
    ui->lb_to->setText(text("到", "To"));
    ui->showBtn->setText(text("显示", "Show"));
    ui->lastHourBtn->setText(text("最近一小时", "Last hour"));
    ui->lastDayBtn->setText(text("最近一天", "Last day"));
    ui->allBtn->setText(text("全部", "All"));
    ui->saveImageBtn->setText(text("保存图片…", "Save image…"));
    ui->lb_pack->setText(text("电池组：", "Pack:"));
    ui->packCB->setItemText(0, text("全部", "All"));
    ui->lb_series->setText(text("曲线：", "Series:"));
    for (int s = 0; s < Trend::SeriesCount; ++s)
        ui->seriesCB->setItemText(s, text(Info[s].zh, Info[s].en));
    for (int s = 0; s < Trend::SeriesCount; ++s)
        m_series[s]->setName(text(Info[s].zh, Info[s].en));
    for (int a = 0; a < AxisCount; ++a)
        m_valueAxes[a]->setTitleText(text(Axes[a].zh, Axes[a].en));
    m_timeAxis->setTitleText(text("时间", "Time"));
    refreshState();
}

void TrendPage::on_saveImageBtn_clicked()
{
    QString fileName = Dialogs::saveFileName(this, text("保存图片…", "Save image…"), QStringLiteral("PNG (*.png)"));
    if (fileName.isEmpty())
        return;
    if (!fileName.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        fileName += QLatin1String(".png");
    m_cursor->hide();
    const Result saved = savePicture(m_view->grab().toImage(), fileName);
    if (!saved.ok())
        Dialogs::message(this, QMessageBox::Warning, text("趋势", "Trend"),
                         text("无法保存 %1：%2", "Cannot save %1: %2").arg(fileName, saved.error()));
}

void TrendPage::setLanguage(Language language)
{
    m_language = language;
}
