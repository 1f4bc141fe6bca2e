#pragma once

#include <QPointF>
#include <QRectF>
#include <QWidget>

#include "gui/Chart.h"
#include "platform/Locale.h"

class QRubberBand;

namespace velutron {

// The chart's view: the wheel zooms around the pointer, a drag with the left button zooms into the
// rectangle drawn, a drag with the right (or middle) button pans, a double click shows the whole chart.
class ChartView final : public QWidget {
 public:
  ChartView(ChartData chart, const Locale& locale, QWidget* parent = nullptr);

  const ChartData& Data() const { return chart_; }
  const ChartViewport& Viewport() const { return view_; }
  void ShowWhole();
  QRectF Plot() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // Scales every axis about the point `at` of the widget: below 1 zooms in.
  void Scale(QPointF at, double factor);
  // Moves the view by `delta` pixels.
  void Pan(QPointF delta);
  // Shows the values under the rectangle `r` of the widget.
  void ZoomTo(QRectF r);

  ChartData chart_;
  const Locale& locale_;
  ChartViewport whole_;
  ChartViewport view_;
  bool panning_ = false;
  QPointF lastPan_;
  QPoint bandStart_;
  QRubberBand* band_ = nullptr;
};

}  // namespace velutron
