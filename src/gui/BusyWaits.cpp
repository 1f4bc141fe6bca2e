#include "gui/BusyWaits.h"

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>

namespace velutron {

namespace {

// Waits `ms` on `clock` in slices, `waitSlice` blocking for one and saying whether the wait is over;
// `idle` runs between two slices.
template <typename WaitSlice>
void InSlices(Clock& clock, uint32_t ms, const std::function<void()>& idle, WaitSlice waitSlice) {
  const uint32_t start = clock.TickMs();
  for (;;) {
    const uint32_t elapsed = clock.TickMs() - start;
    if (elapsed >= ms) return;
    if (waitSlice(std::min(kSliceMs, ms - elapsed))) return;
    if (clock.TickMs() - start < ms) idle();
  }
}

}  // namespace

void SlicedClock::SleepMs(uint32_t ms) {
  InSlices(clock_, ms, idle_, [this](uint32_t slice) {
    clock_.SleepMs(slice);
    return false;
  });
}

void SlicedPort::WaitForInput(uint32_t timeoutMs) {
  InSlices(clock_, timeoutMs, idle_, [this](uint32_t slice) {
    port_.WaitForInput(slice);
    return port_.InputCount() > 0;
  });
}

namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave:
      return true;
    default:
      return false;
  }
}

}  // namespace

BusyPump::BusyPump() { QCoreApplication::instance()->installEventFilter(this); }

BusyPump::~BusyPump() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

void BusyPump::Pump() {
  if (pumping_) return;
  pumping_ = true;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  pumping_ = false;
}

bool BusyPump::eventFilter(QObject* watched, QEvent* event) {
  if (!pumping_) return false;
  if (IsUserInput(event->type())) return true;
  if (event->type() == QEvent::Close) {
    event->ignore();
    return true;
  }
  // A window's own timer paces its repaints; every other timer waits for its next tick.
  if (event->type() == QEvent::Timer) return !watched->isWindowType();
  return false;
}

}  // namespace velutron
