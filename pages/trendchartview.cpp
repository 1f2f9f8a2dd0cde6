#include "pages/trendchartview.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>

using namespace QtCharts;

TrendChartView::TrendChartView(QChart *chart, QWidget *parent) : QChartView(chart, parent)
{
    setRubberBand(QChartView::HorizontalRubberBand);
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void TrendChartView::wheelEvent(QWheelEvent *event)
{
    QChart *c = chart();
    auto *axis = qobject_cast<QDateTimeAxis *>(c->axes(Qt::Horizontal).value(0));
    if (!axis || c->series().isEmpty()) {
        event->ignore();
        return;
    }
    const double factor = event->angleDelta().y() > 0 ? 0.8 : 1.25;
    const double at = c->mapToValue(mapToScene(event->position().toPoint()), c->series().first()).x();
    const double lo = axis->min().toMSecsSinceEpoch(), hi = axis->max().toMSecsSinceEpoch();
    const double newLo = at - (at - lo) * factor, newHi = at + (hi - at) * factor;
    if (newHi - newLo < 10000) // ten seconds at the most
        return;
    axis->setRange(QDateTime::fromMSecsSinceEpoch(qint64(newLo)), QDateTime::fromMSecsSinceEpoch(qint64(newHi)));
    event->accept();
}

void TrendChartView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::MiddleButton) {
        m_panning = true;
        m_lastPan = event->pos();
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void TrendChartView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_panning) {
        chart()->scroll(m_lastPan.x() - event->pos().x(), 0);
        m_lastPan = event->pos();
    }
    emit hovered(mapToScene(event->pos()));
    QChartView::mouseMoveEvent(event);
}

void TrendChartView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::MiddleButton) {
        m_panning = false;
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void TrendChartView::keyPressEvent(QKeyEvent *event)
{
    const int step = int(chart()->plotArea().width() / 10);
    if (event->key() == Qt::Key_Left)
        chart()->scroll(-step, 0);
    else if (event->key() == Qt::Key_Right)
        chart()->scroll(step, 0);
    else
        QChartView::keyPressEvent(event);
}

void TrendChartView::leaveEvent(QEvent *event)
{
    emit left();
    QChartView::leaveEvent(event);
}
