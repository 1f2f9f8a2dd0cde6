#pragma once

#include "model/language.h"

#include "store/trendstore.h"

#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <QWidget>
#include <QtCharts/QChartGlobal>

#include <array>

QT_CHARTS_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

class QComboBox;
class QGraphicsLineItem;
class TrendChartView;
namespace Ui { class TrendPage; }

// The trend page: pack voltage, current, SOC, highest and lowest cell with
// their spread, highest and lowest temperature over time.
//
// Live, it appends every sample the history stores and shows the last 1, 10
// or 60 minutes (moving on in steps of a sixtieth of the window), following
// the newest sample until the user zooms or pans;
// "Live" follows again. From the history it draws a chosen range of table
// `total`, reduced to the extremes of about one bucket per pixel by queries
// on a thread of their own; zooming in reads the smaller range in more
// detail.
class TrendPage : public QWidget
{
    Q_OBJECT
public:
    // The language of the page's texts, set before languageSwich() is
    // emitted; the form's own texts are the Chinese ones.
    void setLanguage(Language language);
    Language language() const { return m_language; }

    explicit TrendPage(QWidget *parent = nullptr);
    ~TrendPage() override;

    QtCharts::QChart *chart() const { return m_chart; }
    TrendChartView *chartView() const { return m_view; }
    QtCharts::QLineSeries *series(int s) const { return m_series[s]; }

    // The pack selector ("All", then every serial stored or seen) and the
    // series drawn for every pack; both are shown once two packs are known.
    QComboBox *packBox() const;
    QComboBox *seriesBox() const;
    // The serial drawn alone, empty for all packs.
    QString shownPack() const;
    // "All" with several packs: one line per pack of the chosen series.
    bool isOverlay() const;
    // The packs' lines of the overlay, in the order of the selector.
    const QVector<QtCharts::QLineSeries *> &packSeries() const { return m_packSeries; }

    bool isLive() const { return m_live; }
    bool isFollowing() const { return m_live && m_following; }
    int windowMinutes() const;
    void setWindowMinutes(int minutes); // 1, 10 or 60
    // Samples kept for the live chart (the last hour and a little more).
    int liveSampleCount() const { return m_samples.size(); }

    // Draws [from, to] of the history; refuses (with a message box) a range
    // whose end is before its start.
    bool showRange(const QDateTime &from, const QDateTime &to);
    // Shows the time axis from `from` to `to` as a user's zoom or pan does.
    void zoomTo(const QDateTime &from, const QDateTime &to);
    // The read-out of the visible series at `x` (time axis milliseconds).
    QString readoutAt(qreal x) const;
    // The visible range of the time axis.
    QDateTime visibleFrom() const;
    QDateTime visibleTo() const;

    static constexpr int LiveKeepSecs = 3600 + 300;

    // Draws the live samples not drawn yet; runs on its own once the
    // samples that arrived together have been appended.
    void updateLiveChart();

signals:
    void languageSwich();
    // A history range has been drawn (or found empty).
    void rangeShown();

public slots:
    void languageChange();
    // A sample stored in the history (values in table order after `id`).
    void appendSample(qint64 id, const QVector<QVariant> &values);

    void on_liveBtn_clicked();
    void on_showBtn_clicked();
    void on_lastHourBtn_clicked();
    void on_lastDayBtn_clicked();
    void on_allBtn_clicked();
    void on_saveImageBtn_clicked();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildChart();
    void submit(Trend::Request request);
    void submitRange(Trend::Request::Range range);
    void showResult(const Trend::Result &result);
    void fillFromLive();
    void followNewest();
    qint64 followedEnd(qint64 newestMs) const;
    void setTimeRange(qint64 fromMs, qint64 toMs);
    void fitValueAxes();
    void updateAxisVisibility();
    void userRangeChanged();
    void requery();
    void showHover(const QPointF &scenePos);
    void setState(const char *zh, const char *en);
    void refreshState();
    void updateTimeFormat();
    int plotWidth() const;
    // The lines drawn now with the series each shows: the eight series, or
    // the packs' lines of the overlay.
    QVector<QPair<QtCharts::QLineSeries *, int>> drawnLines() const;
    int overlaySeries() const;
    bool takesSample(const Trend::Sample &sample) const;
    QtCharts::QLineSeries *lineOf(const Trend::Sample &sample, int s) const;
    void notePack(const QString &serial);
    void applyPackMode();
    QString text(const char *zh, const char *en) const;

    Ui::TrendPage *ui;
    QtCharts::QChart *m_chart = nullptr;
    TrendChartView *m_view = nullptr;
    QtCharts::QDateTimeAxis *m_timeAxis = nullptr;
    std::array<QtCharts::QLineSeries *, Trend::SeriesCount> m_series{};
    QVector<QtCharts::QValueAxis *> m_valueAxes;
    QGraphicsLineItem *m_cursor = nullptr;
    Trend::Worker *m_worker = nullptr;

    QStringList m_packs; // the selector's serials, after "All"
    QVector<QtCharts::QLineSeries *> m_packSeries;
    QHash<QString, qint64> m_lastSecs; // newest live sample of each pack
    QVector<Trend::Sample> m_samples; // live samples, oldest first
    int m_drawn = 0; // m_samples drawn in the live chart
    bool m_liveUpdatePending = false;
    bool m_liveBehind = false; // live samples came while the page was hidden
    bool m_live = true;
    bool m_following = true;
    bool m_settingRange = false;
    bool m_requeryPending = false;
    bool m_resultEmpty = false;
    bool m_tableEmpty = false;
    bool m_queryFailed = false;
    quint64 m_generation = 0;
    bool m_keepAxisOnResult = false;
    Language m_language = Language::Chinese;
};
