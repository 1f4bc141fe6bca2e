#include "gui/ChartView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QWheelEvent>
#include <utility>

namespace velutron {

namespace {

constexpr double kWheelZoom = 1.25;

// `r` scaled by `factor` about `at`, which stays where it is.
ChartRange Scaled(const ChartRange& r, double at, double factor) {
  return {at - (at - r.low) * factor, at + (r.high - at) * factor};
}

ChartRange Moved(const ChartRange& r, double by) { return {r.low + by, r.high + by}; }

// The part of `r` between the fractions `from` and `to` of its length.
ChartRange Part(const ChartRange& r, double from, double to) {
  const double span = r.high - r.low;
  return {r.low + span * from, r.low + span * to};
}

}  // namespace

ChartView::ChartView(ChartData chart, const Locale& locale, QWidget* parent)
    : QWidget(parent), chart_(std::move(chart)), locale_(locale), whole_(WholeChart(chart_)), view_(whole_) {
  setMinimumSize(300, 200);
}

void ChartView::ShowWhole() {
  view_ = whole_;
  update();
}

QRectF ChartView::Plot() const { return PlotArea(chart_, view_, QRectF(rect()), locale_); }

void ChartView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintChart(painter, chart_, view_, QRectF(rect()), locale_);
}

void ChartView::Scale(QPointF at, double factor) {
  const QRectF plot = Plot();
  if (plot.width() <= 0 || plot.height() <= 0) return;
  const double fx = (at.x() - plot.left()) / plot.width();
  const double fy = (plot.bottom() - at.y()) / plot.height();
  auto scale = [&](ChartRange& r, double f) { r = Scaled(r, r.low + (r.high - r.low) * f, factor); };
  scale(view_.x, fx);
  scale(view_.temperature, fy);
  if (view_.humidity) scale(*view_.humidity, fy);
  update();
}

void ChartView::Pan(QPointF delta) {
  const QRectF plot = Plot();
  if (plot.width() <= 0 || plot.height() <= 0) return;
  auto move = [](ChartRange& r, double pixels, double length) {
    r = Moved(r, (r.high - r.low) * pixels / length);
  };
  move(view_.x, -delta.x(), plot.width());
  move(view_.temperature, delta.y(), plot.height());
  if (view_.humidity) move(*view_.humidity, delta.y(), plot.height());
  update();
}

void ChartView::ZoomTo(QRectF r) {
  const QRectF plot = Plot();
  r = r.normalized().intersected(plot);
  if (r.width() < 3 || r.height() < 3) return;
  const double left = (r.left() - plot.left()) / plot.width();
  const double right = (r.right() - plot.left()) / plot.width();
  const double bottom = (plot.bottom() - r.bottom()) / plot.height();
  const double top = (plot.bottom() - r.top()) / plot.height();
  view_.x = Part(view_.x, left, right);
  view_.temperature = Part(view_.temperature, bottom, top);
  if (view_.humidity) view_.humidity = Part(*view_.humidity, bottom, top);
  update();
}

void ChartView::wheelEvent(QWheelEvent* event) {
  if (event->angleDelta().y() == 0) return;
  Scale(event->position(), event->angleDelta().y() > 0 ? 1 / kWheelZoom : kWheelZoom);
  event->accept();
}

void ChartView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
    panning_ = true;
    lastPan_ = event->position();
    setCursor(Qt::ClosedHandCursor);
  } else if (event->button() == Qt::LeftButton) {
    bandStart_ = event->position().toPoint();
    if (!band_) band_ = new QRubberBand(QRubberBand::Rectangle, this);
    band_->setGeometry(QRect(bandStart_, QSize()));
    band_->show();
  }
  event->accept();
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
  if (panning_) {
    Pan(event->position() - lastPan_);
    lastPan_ = event->position();
  } else if (band_ && band_->isVisible()) {
    band_->setGeometry(QRect(bandStart_, event->position().toPoint()).normalized());
  }
  event->accept();
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (panning_ && (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton)) {
    panning_ = false;
    unsetCursor();
  } else if (event->button() == Qt::LeftButton && band_ && band_->isVisible()) {
    band_->hide();
    ZoomTo(QRectF(QPointF(bandStart_), event->position()));
  }
  event->accept();
}

void ChartView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (band_) band_->hide();
  ShowWhole();
  event->accept();
}

}  // namespace velutron
