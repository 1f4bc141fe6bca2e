#include "settings/LoggerOptionsDialog.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "gui/FormLook.h"
#include "settings/UpDown.h"

namespace velutron {

namespace {
constexpr const char* kCaptions[9] = {
    "Uśrednianie pomiarów dTn/n.",        "Alarm progu do skasowania.",
    "Buzer podczas alarmu aktywny.",      "Alarm wart. skrajnych dla HIGRO.",
    "Rejestracja wej. ON/OFF.",           "Maskowanie pomiarów błędnych.",
    "Zatrzymaj po przepełnieniu bufora.", "Sygnał akus.po zapełnieniu bufora",
    "Rejestruj temp. oraz wilgotność.",
};
constexpr int kGroupLeft = 160;
}  // namespace

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
  MakeFixedDialog(*this, "Form4", 408, 249);
  setWindowTitle(QStringLiteral("Opcje i parametry ogólne."));
  const QFont bold = look::MsSansSerif(11, true);
  const QColor caption = look::kActiveCaption;

  Bevel1 = MakeBevel(this, {8, 8, 137, 81});
  Label1 = MakeLabel(this, {16, 16}, QStringLiteral("Czas rejestracji:"), bold, look::kBlue);
  Edit1 = MakeReadOnlyEdit(this, {16, 32, 97, 28}, look::MsSansSerif(16), look::kBlack);
  UpDown1 = new TUpDown(this);
  UpDown1->setGeometry(113, 32, 15, 28);
  UpDown1->SetRange(1, 180);
  UpDown1->Associate(Edit1);
  Label3 = MakeLabel(this, {16, 64}, QStringLiteral("[1..180 min]"), bold, caption);

  Bevel2 = MakeBevel(this, {8, 96, 137, 81});
  Label2 = MakeLabel(this, {16, 104}, QString::fromUtf8("Próg przeł. ON/OFF:"), bold, look::kBlue);
  Edit2 = MakeReadOnlyEdit(this, {16, 120, 97, 28}, look::MsSansSerif(16), look::kBlack);
  UpDown2 = new TUpDown(this);
  UpDown2->setGeometry(113, 120, 15, 28);
  UpDown2->SetRange(0, 100);
  UpDown2->Associate(Edit2);
  UpDown2->SetPosition(20);
  Label4 = MakeLabel(this, {16, 152}, QString::fromUtf8("[0...100°C]"), bold, caption);

  BitBtn1 = MakeDialogButton(this, QStringLiteral("&Aktualizuj"), {40, 192, 75, 25}, look::kRed);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm4::BitBtn1Click);
  // Return, wherever the focus is, updates as the button does.
  BitBtn1->setDefault(true);

  RadioGroup1 = new QGroupBox(QStringLiteral("Opcje robocze"), this);
  RadioGroup1->setGeometry(kGroupLeft, 0, 241, 241);
  RadioGroup1->setFont(bold);
  QPalette gp = RadioGroup1->palette();
  gp.setColor(QPalette::WindowText, look::kBlue);
  RadioGroup1->setPalette(gp);
  for (int i = 0; i < 9; ++i) {
    auto* box = new QCheckBox(QString::fromUtf8(kCaptions[i]), RadioGroup1);
    box->setObjectName(QStringLiteral("CheckBox%1").arg(i + 1));
    box->setFont(bold);
    QPalette bp = box->palette();
    bp.setColor(QPalette::WindowText, look::kBlack);
    box->setPalette(bp);
    box->setCursor(Qt::PointingHandCursor);
    box->setGeometry(168 - kGroupLeft, 24 + 24 * i, 241 - 2 * (168 - kGroupLeft), 17);
    const int indicator = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                          box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
    CondenseToFit(box, box->text(), box->width() - indicator);
    CheckBox[i] = box;
  }

  const char* names[] = {"Bevel1", "Bevel2", "Label1",  "Label2",  "Label3",  "Label4",
                         "Edit1",  "Edit2",  "UpDown1", "UpDown2", "BitBtn1", "RadioGroup1"};
  QWidget* widgets[] = {Bevel1, Bevel2, Label1,  Label2,  Label3,  Label4,
                        Edit1,  Edit2,  UpDown1, UpDown2, BitBtn1, RadioGroup1};
  for (size_t i = 0; i < std::size(widgets); ++i) widgets[i]->setObjectName(names[i]);
  FitToTitle(*this);
}

void TForm4::Fill(const LoggerOptionsValues& values) {
  UpDown1->SetRange(values.intervalMinutes.minimum, values.intervalMinutes.maximum);
  UpDown1->SetPosition(values.intervalMinutes.position);
  UpDown2->SetRange(values.threshold.minimum, values.threshold.maximum);
  UpDown2->SetPosition(values.threshold.position);
  for (int bit = 0; bit < 8; ++bit) CheckBox[bit]->setChecked((values.options >> bit) & 1);
  CheckBox[8]->setChecked(values.humidity);
}

LoggerOptionsValues TForm4::Values() const {
  LoggerOptionsValues v;
  v.intervalMinutes = {UpDown1->Minimum(), UpDown1->Maximum(), UpDown1->Position(), UpDown1->Touched()};
  v.threshold = {UpDown2->Minimum(), UpDown2->Maximum(), UpDown2->Position(), UpDown2->Touched()};
  for (int bit = 0; bit < 8; ++bit) {
    if (CheckBox[bit]->isChecked()) v.options = static_cast<uint8_t>(v.options | (1 << bit));
  }
  v.humidity = CheckBox[8]->isChecked();
  return v;
}

void TForm4::BitBtn1Click() { accept(); }

}  // namespace velutron
