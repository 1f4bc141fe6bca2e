#include "gui/BusyWaits.h"

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>

#include "link/Commands.h"

namespace velutron {

namespace {
// Between two waits the program may send a whole command (its bytes and the gaps between them), where
// `idle` cannot run; at the edge of a wait it runs this much early, so that the pace holds over a command.
constexpr uint32_t kCommandSpanMs = 2 * proto::kByteGapMs + 1;
}  // namespace

void IdlePacer::RunIfDue(uint32_t dueAfterMs) {
  if (ran_ && clock_.TickMs() - lastRunMs_ < dueAfterMs) return;
  idle_();
  ran_ = true;
  lastRunMs_ = clock_.TickMs();
}

void IdlePacer::Wait(uint32_t ms, bool edgeAfter, const std::function<bool(uint32_t)>& waitSlice) {
  // A wait no longer than the gap between a command's bytes sits inside a command.
  if (ms <= proto::kByteGapMs) {
    waitSlice(ms);
    return;
  }
  const uint32_t start = clock_.TickMs();
  RunIfDue(kSliceMs - kCommandSpanMs);
  for (;;) {
    const uint32_t elapsed = clock_.TickMs() - start;
    if (elapsed >= ms) break;
    const uint32_t sinceRun = clock_.TickMs() - lastRunMs_;
    if (waitSlice(std::min(ms - elapsed, kSliceMs - std::min(sinceRun, kSliceMs - 1)))) break;
    // Not once the time is up: a reply wait that ran out must end now.
    if (clock_.TickMs() - start < ms) RunIfDue(kSliceMs);
  }
  if (edgeAfter) RunIfDue(kSliceMs - kCommandSpanMs);
}

void SlicedClock::SleepMs(uint32_t ms) {
  pacer_.Wait(ms, true, [this](uint32_t slice) {
    clock_.SleepMs(slice);
    return false;
  });
}

// Never after a reply wait: the reply already here would be taken as late.
void SlicedPort::WaitForInput(uint32_t timeoutMs) {
  pacer_.Wait(timeoutMs, false, [this](uint32_t slice) {
    port_.WaitForInput(slice);
    return port_.InputCount() > 0 || port_.HungUp();
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
