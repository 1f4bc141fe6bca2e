#include "settings/UpDown.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <algorithm>

#include "gui/FormLook.h"

namespace velutron {

namespace {
constexpr int kRepeatDelayMs = 400;
constexpr int kRepeatIntervalMs = 80;
// The client width a fixed dialog was made with, kept on it for FitToTitle.
constexpr const char* kDesignedWidth = "designedWidth";

void CentreOnScreen(QDialog& dialog) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    dialog.move(screen->availableGeometry().center() - dialog.rect().center());
  }
}

QToolButton* MakeArrow(QWidget* parent, Qt::ArrowType arrow) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  button->setAutoRepeat(true);
  button->setAutoRepeatDelay(kRepeatDelayMs);
  button->setAutoRepeatInterval(kRepeatIntervalMs);
  button->setFocusPolicy(Qt::NoFocus);
  button->setCursor(Qt::PointingHandCursor);
  return button;
}
}  // namespace

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::PointingHandCursor);
  UpButton = MakeArrow(this, Qt::UpArrow);
  DownButton = MakeArrow(this, Qt::DownArrow);
  connect(UpButton, &QToolButton::clicked, this, [this] { Step(+1); });
  connect(DownButton, &QToolButton::clicked, this, [this] { Step(-1); });
}

void TUpDown::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int half = height() / 2;
  UpButton->setGeometry(0, 0, width(), half);
  DownButton->setGeometry(0, half, width(), height() - half);
}

void TUpDown::SetRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = std::max(minimum, maximum);
  SetPosition(position_);
}

void TUpDown::SetPosition(int position) {
  position_ = std::clamp(position, minimum_, maximum_);
  touched_ = false;
  ShowPosition();
}

void TUpDown::Step(int direction) {
  const int next = std::clamp(position_ + direction, minimum_, maximum_);
  if (next != position_) {
    position_ = next;
    touched_ = true;
    ShowPosition();
  }
  emit Clicked(position_);
}

void TUpDown::Associate(QLineEdit* edit) {
  edit_ = edit;
  edit_->installEventFilter(this);
  ShowPosition();
}

void TUpDown::ShowPosition() {
  if (edit_) edit_->setText(QString::number(position_));
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      Step(key == Qt::Key_Up ? +1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MakeFixedDialog(QDialog& dialog, const char* objectName, int width, int height) {
  dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                        Qt::MSWindowsFixedSizeDialogHint);
  dialog.setObjectName(objectName);
  dialog.setModal(true);
  dialog.setFixedSize(width, height);
  dialog.setProperty(kDesignedWidth, width);
  dialog.setFont(look::MsSansSerif(11));
  CentreOnScreen(dialog);
}

void FitToTitle(QDialog& dialog) {
  const int designed = dialog.property(kDesignedWidth).toInt();
  const int width = std::max(designed, look::TitleBarWidth(dialog.windowTitle()));
  const int shift = (width - designed) / 2 - (dialog.width() - designed) / 2;
  if (width == dialog.width()) return;
  for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    child->move(child->x() + shift, child->y());
  }
  dialog.setFixedSize(width, dialog.height());
  CentreOnScreen(dialog);
}

QFrame* MakeBevel(QWidget* parent, const QRect& geometry) {
  auto* bevel = new QFrame(parent);
  bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
  bevel->setGeometry(geometry);
  return bevel;
}

QLabel* MakeLabel(QWidget* parent, const QPoint& at, const QString& text, const QFont& font,
                  const QColor& colour) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setFont(font);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, colour);
  label->setPalette(p);
  label->move(at);
  label->adjustSize();
  return label;
}

QLineEdit* MakeReadOnlyEdit(QWidget* parent, const QRect& geometry, const QFont& font, const QColor& colour) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(geometry);
  edit->setReadOnly(true);
  edit->setFont(font);
  edit->setCursor(Qt::ForbiddenCursor);
  QPalette p = edit->palette();
  p.setColor(QPalette::Text, colour);
  edit->setPalette(p);
  return edit;
}

QPushButton* MakeDialogButton(QWidget* parent, const QString& caption, const QRect& geometry,
                              const QColor& colour) {
  auto* button = new QPushButton(caption, parent);
  button->setGeometry(geometry);
  button->setFont(look::MsSansSerif(13, true));
  button->setCursor(Qt::PointingHandCursor);
  // Return presses the dialog's default button, not whichever button last had the focus.
  button->setAutoDefault(false);
  QPalette p = button->palette();
  p.setColor(QPalette::ButtonText, colour);
  button->setPalette(p);
  return button;
}

void CondenseToFit(QWidget* widget, const QString& text, int room) {
  QFont f = widget->font();
  // Glyph widths do not follow the stretch exactly, so it is narrowed step by step.
  for (int stretch = 99; QFontMetrics(f).horizontalAdvance(text) > room && stretch >= 50; --stretch) {
    f.setStretch(stretch);
  }
  widget->setFont(f);
}

}  // namespace velutron
