#pragma once

#include <QPoint>
#include <QtCharts/QChartView>

// The chart of the trend page: zooms the time axis with the wheel and a
// horizontal rubber band (right click zooms out), pans with the middle
// button or the arrow keys, and reports where the mouse hovers.
class TrendChartView : public QtCharts::QChartView
{
    Q_OBJECT
public:
    explicit TrendChartView(QtCharts::QChart *chart, QWidget *parent = nullptr);

signals:
    void hovered(const QPointF &scenePos);
    void left();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    bool m_panning = false;
    QPoint m_lastPan;
};
