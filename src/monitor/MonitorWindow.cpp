#include "monitor/MonitorWindow.h"

#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "gui/FormLook.h"
#include "gui/ShownText.h"

// The pictures live in the GUI library's resources, which a static library must pull in by name.
static void InitMonitorResources() { Q_INIT_RESOURCE(velutron); }

namespace velutron {

namespace {

constexpr int kRowTop = 64;
constexpr int kRowHeight = 24;
constexpr int kNameX = 8;
constexpr int kBandX = 160;
constexpr int kValueX = 272;
constexpr int kExtremesX = 336;
// Room of each column, up to the next one (the date: up to the inside of Bevel1).
constexpr int kTimeRoom = 136 - 56 - 4;
constexpr int kDateRoom = 8 + 249 - 136 - 6;
constexpr int kNameRoom = kBandX - kNameX - 4;
constexpr int kBandRoom = kValueX - kBandX - 4;
constexpr int kValueRoom = kExtremesX - kValueX - 2;
constexpr int kExtremesRoom = TForm6::kClientWidth - kExtremesX - 2;

// The classic faces are narrow; a wider stand-in is condensed until the widest of `samples` fits `room`
// pixels, so no column runs into the next.
QFont FittedTo(QFont f, std::initializer_list<const char*> samples, int room) {
  auto widest = [&samples](const QFont& font) {
    const QFontMetrics metrics(font);
    int width = 0;
    for (const char* sample : samples)
      width = std::max(width, metrics.horizontalAdvance(QString::fromUtf8(sample)));
    return width;
  };
  // Glyph widths do not scale exactly with the stretch, so it is narrowed step by step.
  for (int stretch = 99; widest(f) > room && stretch >= 50; --stretch) f.setStretch(stretch);
  return f;
}

// The clock's seven-segment face: "LcdD" where installed, else the free DSEG7 (Debian fonts-dseg), else
// any monospace font. The time must end before the date, the date inside the clock's frame.
QFont LcdFont(const char* sample, int room) {
  QFont f = look::Font(
      {"LcdD", "DSEG7 Classic", "DSEG7 Modern", "DejaVu Sans Mono", "Liberation Mono", "Monospace"}, 19,
      true);
  f.setStyleHint(QFont::Monospace);
  return FittedTo(f, {sample}, room);
}

QFont Tahoma(int pixels) { return look::Font({"Tahoma", "DejaVu Sans", "Liberation Sans"}, pixels, true); }

QColor ValueColourOf(ValueColour colour) {
  switch (colour) {
    case ValueColour::Red:
      return look::kRed;
    case ValueColour::Blue:
      return look::kBlue;
    case ValueColour::Green:
      break;
  }
  return look::kGreen;
}

void SetColour(QLabel* label, const QColor& colour) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, colour);
  label->setPalette(p);
}

void SetText(QLabel* label, const std::string& text) {
  QString s = ShownText(text);
  s.replace('\r', '\n');
  label->setText(s);
  label->adjustSize();
}

QFrame* MakeBevel(QWidget* parent, const char* name, const QRect& box) {
  auto* bevel = new QFrame(parent);
  bevel->setObjectName(name);
  bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
  bevel->setGeometry(box);
  return bevel;
}

}  // namespace

TForm6::TForm6(const MonitorView& view, MonitorRefresh refresh, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      view_(view),
      refresh_(std::move(refresh)) {
  InitMonitorResources();
  setObjectName("Form6");
  setWindowTitle(QStringLiteral("Monitoring pracy rejestratora"));
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, look::kWhite);
  setPalette(p);
  setFixedSize(kClientWidth, OuterHeight(view.channelCount) - look::kAssumedFrameHeight);

  Bevel1 = MakeBevel(this, "Bevel1", {8, 8, 249, 49});
  Image1 = look::MakePicture(this, {16, 16, 33, 33}, ":/velutron/monitor-clock.png");
  Image1->setObjectName("Image1");
  Bevel2 = MakeBevel(this, "Bevel2", {264, 8, 249, 49});
  Image2 = look::MakePicture(this, {280, 8, 25, 49}, ":/velutron/monitor-thermometer.png");
  Image2->setObjectName("Image2");

  auto make = [this](int n, int x, int y, const QFont& font, const QColor& colour) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("Label%1").arg(n));
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    SetColour(label, colour);
    label->move(x, y);
    labels_[static_cast<size_t>(n)] = label;
  };
  make(1, 56, 24, LcdFont("88:88:88", kTimeRoom), look::kBlue);
  make(2, 312, 16, look::MsSansSerif(15, true), look::kBlue);
  make(3, 136, 24, LcdFont("88-88-2088", kDateRoom), look::kBlue);
  const QFont name = FittedTo(look::MsSansSerif(13, true), {"10. Packing room 12 "}, kNameRoom);
  const QFont band = FittedTo(look::MsSansSerif(13, true), {"-55°C<AL>125°C", "0%RH<AL>100%RH"}, kBandRoom);
  const QFont value = FittedTo(Tahoma(15), {"100,0%RH", "-54,9°C", "Brak tab."}, kValueRoom);
  const QFont extremes = FittedTo(look::MsSansSerif(13, true), {"Min:100,0%RH Max:100,0%RH"}, kExtremesRoom);
  for (int j = 1; j <= MonitorView::kRows; ++j) {
    const int y = kRowTop + kRowHeight * (j - 1);
    make(3 + j, kNameX, y, name, look::kMaroon);
    make(13 + j, kValueX, y, value, look::kGreen);
    make(23 + j, kBandX, y, band, look::kFuchsia);
    make(33 + j, kExtremesX, y, extremes, look::kPurple);
  }
  for (QLabel* clock : {Label(1), Label(3)}) clock->setCursor(Qt::PointingHandCursor);
  Label(3)->installEventFilter(this);

  SetText(Label(2), view.header);
  for (int j = 1; j <= MonitorView::kRows; ++j) {
    const MonitorRow& row = view.rows[static_cast<size_t>(j - 1)];
    SetText(NameLabel(j), row.name);
    SetText(BandLabel(j), row.band);
  }
  ShowView();

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kRefreshMs);
  connect(Timer1, &QTimer::timeout, this, &TForm6::Timer1Timer);
  Timer1->start();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TForm6::ShowView() {
  SetText(Label(1), view_.time);
  SetText(Label(3), view_.date);
  for (int j = 1; j <= MonitorView::kRows; ++j) {
    const MonitorRow& row = view_.rows[static_cast<size_t>(j - 1)];
    SetColour(ValueLabel(j), ValueColourOf(row.colour));
    SetText(ValueLabel(j), row.value);
    SetText(ExtremesLabel(j), row.extremes);
  }
}

void TForm6::Timer1Timer() {
  // A tick that arrives while a refresh shows a message box waits for the next one; none runs once the
  // window has closed.
  if (closed_ || refreshing_) return;
  refreshing_ = true;
  const bool keepOpen = refresh_();
  refreshing_ = false;
  if (closed_) return;
  ShowView();
  if (!keepOpen) close();
}

void TForm6::Label3Click() { close(); }

void TForm6::done(int result) {
  closed_ = true;
  Timer1->stop();
  QDialog::done(result);
}

void TForm6::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FitOuterHeight();
}

void TForm6::FitOuterHeight() {
  const QSize frame = frameGeometry().size() - geometry().size();
  // Without a reported frame (no window manager) the assumed classic frame stays in the height.
  if (frame.isEmpty()) return;
  setFixedSize(kClientWidth, OuterHeight(view_.channelCount) - frame.height());
}

void TForm6::keyPressEvent(QKeyEvent* event) {
  // The window closes by its close box or a click on the date only.
  if (event->key() == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TForm6::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label(3) && event->type() == QEvent::MouseButtonRelease) {
    Label3Click();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace velutron
