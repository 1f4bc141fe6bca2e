#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;
class QUrl;

namespace velutron {

// The about box ("Unit2"): product, version, the project's address block and links. It closes itself
// 8 000 ms after it was created.
class TForm2 final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kCloseAfterMs = 8000;

  explicit TForm2(QWidget* parent = nullptr);

  // Where a clicked link goes (the desktop's default handler in the program).
  void SetUrlOpener(std::function<void(const QUrl&)> opener) { opener_ = std::move(opener); }

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QLabel* Image1;
  QLabel* Image2;
  QPushButton* BitBtn1;
  QTimer* Timer1;

  void BitBtn1Click();
  void Timer1Timer();
  void Label4Click();
  void Label5Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void done(int result) override;

 private:
  void OpenLabel(const QLabel* label);
  std::function<void(const QUrl&)> opener_;
};

}  // namespace velutron
