#pragma once

#include <QDialog>
#include <QtCharts/QChartView>
#include <functional>
#include <optional>

#include "data/DatabaseFile.h"
#include "platform/UserInterface.h"

class QPushButton;

namespace velutron {

// The chart's view: the wheel zooms around the pointer, a drag with the left button zooms into the
// rectangle drawn, a drag with the right (or middle) button pans, a double click shows the whole chart.
class ChartView final : public QChartView {
 public:
  explicit ChartView(QChart* chart, QWidget* parent = nullptr);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  bool panning_ = false;
  QPointF lastPan_;
};

// "Wykres bazy danych": the chart of one database, with saving as PNG or SVG.
class ChartWindow final : public QDialog {
  Q_OBJECT

 public:
  // `ui` shows the save dialog's outcome; `chooseFile` asks where to save (nullopt: cancelled).
  using SaveChooser = std::function<std::optional<QString>(QWidget* parent)>;
  ChartWindow(const DatabaseContents& db, const QString& title, UserInterface& ui, QWidget* parent = nullptr);

  ChartView* View() const { return view_; }
  QChart* Chart() const;
  void SetSaveChooser(SaveChooser chooser) { chooser_ = std::move(chooser); }

  // The chart as shown, as PNG or SVG by the name's extension; false after the message when it could
  // not be written.
  bool SavePicture(const QString& fileName);

 private:
  void SaveClick();

  UserInterface& ui_;
  ChartView* view_ = nullptr;
  SaveChooser chooser_;
};

}  // namespace velutron
