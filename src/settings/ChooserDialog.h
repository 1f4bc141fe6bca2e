#pragma once

#include <QDialog>

#include "platform/UserInterface.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velutron {

class TUpDown;

// The sensor chooser ("Unit3"): a number from 1 to a maximum the caller sets, under a caption and a
// label the caller sets. Only "&Wybierz" accepts it.
class TForm3 final : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);

  void Fill(const ChooserValues& values);
  ChooserValues Values() const;

  QFrame* Bevel1;
  QLabel* Label1;
  QLineEdit* Edit1;
  TUpDown* UpDown1;
  QPushButton* Button1;

  void Button1Click();
};

}  // namespace velutron
