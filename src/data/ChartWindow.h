#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>
#include <optional>

#include "data/Chart.h"
#include "data/ChartSeries.h"
#include "data/DatabaseFile.h"
#include "platform/QtLocale.h"
#include "platform/UserInterface.h"

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

// "Wykres bazy danych": the chart of one database, with saving as PNG or SVG.
class ChartWindow final : public QDialog {
  Q_OBJECT

 public:
  // `ui` shows the save dialog's outcome; `chooseFile` asks where to save, proposing a name (nullopt:
  // cancelled).
  using SaveChooser = std::function<std::optional<QString>(QWidget* parent, const QString& proposed)>;
  ChartWindow(const DatabaseContents& db, const QString& title, UserInterface& ui, QWidget* parent = nullptr);

  ChartView* View() const { return view_; }
  void SetSaveChooser(SaveChooser chooser) { chooser_ = std::move(chooser); }
  // The name "Zapisz obraz..." proposes: the database's, with .png.
  QString ProposedName() const;

  // The chart as shown, as PNG or SVG by the name's extension; false after the message when it could
  // not be written.
  bool SavePicture(const QString& fileName);

 private:
  void SaveClick();

  UserInterface& ui_;
  QtLocale locale_;
  QString title_;
  ChartView* view_ = nullptr;
  SaveChooser chooser_;
};

}  // namespace velutron
