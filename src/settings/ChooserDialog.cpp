#include "settings/ChooserDialog.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/FormLook.h"
#include "gui/ShownText.h"
#include "settings/UpDown.h"

namespace velutron {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  MakeFixedDialog(*this, "Form3", 202, 114);
  Bevel1 = MakeBevel(this, {8, 8, 185, 97});
  Bevel1->setObjectName("Bevel1");
  Label1 = MakeLabel(this, {56, 8}, QString(), look::MsSansSerif(13, true), look::kBlue);
  Label1->setObjectName("Label1");
  Edit1 = MakeReadOnlyEdit(this, {64, 32, 57, 32}, look::MsSansSerif(19), look::kRed);
  Edit1->setObjectName("Edit1");
  UpDown1 = new TUpDown(this);
  UpDown1->setObjectName("UpDown1");
  UpDown1->setGeometry(121, 32, 16, 32);
  UpDown1->SetRange(1, 10);
  UpDown1->Associate(Edit1);
  UpDown1->SetPosition(1);
  Button1 = MakeDialogButton(this, QStringLiteral("&Wybierz"), {64, 72, 73, 25}, look::kRed);
  Button1->setObjectName("Button1");
  // The one thing to do here: Return chooses.
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
}

void TForm3::Fill(const ChooserValues& values) {
  setWindowTitle(ShownText(values.caption));
  FitToTitle(*this);
  Label1->setText(ShownText(values.label));
  Label1->adjustSize();
  UpDown1->SetRange(values.number.minimum, values.number.maximum);
  UpDown1->SetPosition(values.number.position);
}

ChooserValues TForm3::Values() const {
  return {windowTitle().toStdString(),
          Label1->text().toStdString(),
          {UpDown1->Minimum(), UpDown1->Maximum(), UpDown1->Position(), UpDown1->Touched()}};
}

void TForm3::Button1Click() { accept(); }

}  // namespace velutron
