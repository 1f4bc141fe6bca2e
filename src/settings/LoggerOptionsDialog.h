#pragma once

#include <QDialog>
#include <array>

#include "platform/UserInterface.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velutron {

class TUpDown;

// The general options ("Unit4"): recording interval, switching threshold, eight working options and the
// humidity flag. Only "&Aktualizuj", or Return, accepts it.
class TForm4 final : public QDialog {
  Q_OBJECT

 public:
  explicit TForm4(QWidget* parent = nullptr);

  void Fill(const LoggerOptionsValues& values);
  LoggerOptionsValues Values() const;

  QFrame* Bevel1;
  QFrame* Bevel2;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  TUpDown* UpDown1;
  TUpDown* UpDown2;
  QPushButton* BitBtn1;
  QGroupBox* RadioGroup1;
  // CheckBox1..CheckBox8 (the working options, CheckBox1 worth 1), then CheckBox9 (humidity).
  std::array<QCheckBox*, 9> CheckBox{};

  void BitBtn1Click();
};

}  // namespace velutron
