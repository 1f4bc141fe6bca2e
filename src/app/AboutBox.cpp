#include "app/AboutBox.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "gui/FormLook.h"

namespace velutron {

namespace {
constexpr int kClientWidth = 358;
constexpr int kClientHeight = 175;

// The maker's texts: the project's own.
const char* const kAddress = "Projekt velutron\rul. Przykładowa 12\r00-950 Wzorcowo";
const char* const kWebAddress = "https://velutron.example.org";
const char* const kMailAddress = "mailto:kontakt@velutron.example.org";
const char* const kAuthors = "Autorzy: zespół projektu velutron";

QLabel* MakeLabel(QWidget* parent, int x, int y, const QString& text, const QFont& font,
                  const QColor& colour) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  label->setFont(font);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, colour);
  label->setPalette(p);
  label->move(x, y);
  label->adjustSize();
  return label;
}

void SetLinkLook(QLabel* label, const QColor& colour, bool underline) {
  QFont f = label->font();
  f.setUnderline(underline);
  label->setFont(f);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, colour);
  label->setPalette(p);
}

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      opener_([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
  setObjectName("Form2");
  setWindowTitle(QStringLiteral("O programie..."));
  setFixedSize(kClientWidth, kClientHeight);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, p.color(QPalette::ToolTipBase));
  setPalette(p);

  auto* bevel = new QFrame(this);
  bevel->setObjectName("Bevel1");
  bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
  bevel->setGeometry(8, 8, 345, 161);

  Image1 = look::MakePicture(this, {216, 24, 129, 97}, ":/velutron/product.png");
  Image1->setObjectName("Image1");
  Image2 = look::MakePicture(this, {168, 24, 33, 33}, ":/velutron/emblem.png");
  Image2->setObjectName("Image2");

  Label1 = MakeLabel(this, 16, 16, "VELUTRON", look::ComicSans(27), look::kMaroon);
  Label2 = MakeLabel(this, 16, 48, "wer 1.02a 06/2009", look::ComicSans(17), look::kBlue);
  Label3 = MakeLabel(this, 16, 72, QString::fromUtf8(kAddress).replace('\r', '\n'),
                     look::MicrosoftSansSerif(12, true), palette().color(QPalette::Highlight));
  Label4 = MakeLabel(this, 16, 120, kWebAddress, look::CenturyGothic(11), look::kBlack);
  Label5 = MakeLabel(this, 16, 136, kMailAddress, look::CenturyGothic(11, true), look::kBlack);
  Label6 = MakeLabel(this, 16, 152, QString::fromUtf8(kAuthors), look::CenturyGothic(11, true), look::kGreen);
  const char* names[] = {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6"};
  QLabel* labels[] = {Label1, Label2, Label3, Label4, Label5, Label6};
  for (int i = 0; i < 6; ++i) labels[i]->setObjectName(names[i]);
  for (QLabel* link : {Label4, Label5}) {
    link->setCursor(Qt::PointingHandCursor);
    link->installEventFilter(this);
  }

  BitBtn1 = new QPushButton(QStringLiteral("&Zamknij"), this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(248, 128, 75, 25);
  BitBtn1->setFont(look::MsSansSerif(13, true));
  BitBtn1->setCursor(Qt::PointingHandCursor);
  QPalette bp = BitBtn1->palette();
  bp.setColor(QPalette::ButtonText, look::kBlue);
  BitBtn1->setPalette(bp);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm2::BitBtn1Click);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setTimerType(Qt::PreciseTimer);
  Timer1->setInterval(kCloseAfterMs);
  connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
  Timer1->start();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TForm2::BitBtn1Click() { close(); }

void TForm2::Timer1Timer() { close(); }

void TForm2::Label4Click() { OpenLabel(Label4); }

void TForm2::Label5Click() { OpenLabel(Label5); }

void TForm2::OpenLabel(const QLabel* label) {
  if (opener_) opener_(QUrl(label->text()));
}

void TForm2::done(int result) {
  // A box that has been closed stays closed: its timer must not fire into a later modal loop.
  Timer1->stop();
  QDialog::done(result);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  auto* label = qobject_cast<QLabel*>(watched);
  if (label == Label4 || label == Label5) {
    switch (event->type()) {
      case QEvent::Enter:
        SetLinkLook(label, label == Label4 ? look::kRed : look::kBlue, true);
        break;
      case QEvent::Leave:
        SetLinkLook(label, look::kBlack, false);
        break;
      case QEvent::MouseButtonRelease:
        if (label == Label4) {
          Label4Click();
        } else {
          Label5Click();
        }
        return true;
      default:
        break;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace velutron
