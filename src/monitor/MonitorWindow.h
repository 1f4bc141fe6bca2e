#pragma once

#include <QDialog>
#include <array>

#include "platform/UserInterface.h"

class QFrame;
class QLabel;
class QTimer;

namespace velutron {

// The monitoring window ("Unit6"): the logger's clock, and per channel its name, alarm band, value and
// extremes. Every 1000 ms it asks the operation for a refresh and shows the view again; a click on the
// date closes it.
class TForm6 final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 519;
  static constexpr int kRefreshMs = 1000;
  // Outer height (caption and border included): only the rows of existing channels are fully visible.
  static constexpr int OuterHeight(int channelCount) { return 25 * channelCount + 100; }

  TForm6(const MonitorView& view, MonitorRefresh refresh, QWidget* parent = nullptr);

  // Label1 … Label43 by number.
  QLabel* Label(int n) const { return labels_[static_cast<size_t>(n)]; }
  // Channel j's labels (1..10).
  QLabel* NameLabel(int j) const { return Label(3 + j); }
  QLabel* ValueLabel(int j) const { return Label(13 + j); }
  QLabel* BandLabel(int j) const { return Label(23 + j); }
  QLabel* ExtremesLabel(int j) const { return Label(33 + j); }

  QLabel* Image1;
  QLabel* Image2;
  QFrame* Bevel1;
  QFrame* Bevel2;
  QTimer* Timer1;

  void Timer1Timer();
  void Label3Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void done(int result) override;

 private:
  // The view's clock, values, colours and extremes into the labels.
  void ShowView();
  void FitOuterHeight();

  const MonitorView& view_;
  MonitorRefresh refresh_;
  std::array<QLabel*, 44> labels_{};  // index 0 unused
  bool refreshing_ = false;
  bool closed_ = false;
};

}  // namespace velutron
