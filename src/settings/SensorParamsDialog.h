#pragma once

#include <QDialog>
#include <string>

#include "platform/UserInterface.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velutron {

class TUpDown;

// The sensor parameters ("Unit5"): the low and high alarm limits and the measurement offset of one
// sensor. The offset spinner starts at 0 and is not attached to its field: each click writes its
// position into the field. Only "&Akceptuj", or Return, accepts it.
class TForm5 final : public QDialog {
  Q_OBJECT

 public:
  explicit TForm5(QWidget* parent = nullptr);

  void Fill(const SensorParamsValues& values);
  SensorParamsValues Values() const;

  QFrame* Bevel1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  TUpDown* UpDown1;
  TUpDown* UpDown2;
  TUpDown* UpDown3;
  QPushButton* BitBtn1;

  void BitBtn1Click();
  void UpDown3Click();

 private:
  std::string decimalSeparator_ = ",";
};

}  // namespace velutron
