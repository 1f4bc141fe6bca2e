#include "settings/SensorParamsDialog.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/FormLook.h"
#include "gui/ShownText.h"
#include "settings/Sensors.h"
#include "settings/UpDown.h"

namespace velutron {

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
  MakeFixedDialog(*this, "Form5", 422, 193);
  Bevel1 = MakeBevel(this, {8, 8, 409, 177});
  const QFont bold = look::MsSansSerif(11, true);

  struct Row {
    QLineEdit*& edit;
    TUpDown*& upDown;
    QLabel*& label;
    int top;
    const char* caption;
    QColor colour;
  };
  const Row rows[] = {
      {Edit1, UpDown1, Label1, 24, "Alarm niskiej temp. [ALL] -55°C..ALH [°C]", look::kBlue},
      {Edit2, UpDown2, Label2, 64, "Alarm wysokiej temp.[ALH]: ALL..125°C [°C]", look::kRed},
      {Edit3, UpDown3, Label3, 104, "Offset pomiaru czujnika: +/- 3°C ", look::kGreen},
  };
  for (const Row& row : rows) {
    row.edit = MakeReadOnlyEdit(this, {24, row.top, 65, 24}, bold, row.colour);
    row.upDown = new TUpDown(this);
    row.upDown->setGeometry(89, row.top, 16, 24);
    row.label = MakeLabel(this, {112, row.top}, QString::fromUtf8(row.caption), bold, row.colour);
  }
  UpDown1->SetRange(-55, 125);
  UpDown1->Associate(Edit1);
  UpDown2->SetRange(-55, 125);
  UpDown2->Associate(Edit2);
  UpDown3->SetRange(-kOffsetSpinnerRange, kOffsetSpinnerRange);
  UpDown3->SetPosition(0);
  connect(UpDown3, &TUpDown::Clicked, this, &TForm5::UpDown3Click);

  BitBtn1 = MakeDialogButton(this, QStringLiteral("&Akceptuj"), {184, 144, 83, 25}, look::kRed);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm5::BitBtn1Click);
  // Return, wherever the focus is, accepts as the button does.
  BitBtn1->setDefault(true);

  const char* names[] = {"Bevel1", "Label1",  "Label2",  "Label3",  "Edit1",  "Edit2",
                         "Edit3",  "UpDown1", "UpDown2", "UpDown3", "BitBtn1"};
  QWidget* widgets[] = {Bevel1, Label1,  Label2,  Label3,  Edit1,  Edit2,
                        Edit3,  UpDown1, UpDown2, UpDown3, BitBtn1};
  for (size_t i = 0; i < std::size(widgets); ++i) widgets[i]->setObjectName(names[i]);
}

void TForm5::Fill(const SensorParamsValues& values) {
  setWindowTitle(ShownText(values.caption));
  FitToTitle(*this);
  UpDown1->SetRange(values.low.minimum, values.low.maximum);
  UpDown1->SetPosition(values.low.position);
  UpDown2->SetRange(values.high.minimum, values.high.maximum);
  UpDown2->SetPosition(values.high.position);
  Edit3->setText(QString::fromStdString(values.offset));
  decimalSeparator_ = values.decimalSeparator;
}

SensorParamsValues TForm5::Values() const {
  SensorParamsValues v;
  v.caption = windowTitle().toStdString();
  v.low = {UpDown1->Minimum(), UpDown1->Maximum(), UpDown1->Position(), UpDown1->Touched()};
  v.high = {UpDown2->Minimum(), UpDown2->Maximum(), UpDown2->Position(), UpDown2->Touched()};
  v.offset = Edit3->text().toStdString();
  v.decimalSeparator = decimalSeparator_;
  return v;
}

void TForm5::BitBtn1Click() { accept(); }

void TForm5::UpDown3Click() {
  Edit3->setText(QString::fromStdString(velutron::UpDown3Click(UpDown3->Position(), decimalSeparator_)));
}

}  // namespace velutron
