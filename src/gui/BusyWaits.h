#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace velutron {

// The desktop program's waits let the windows repaint by elapsed time: `idle` (the windows repaint
// there) runs every kSliceMs inside a wait, and at a wait's start or end when the next chance could come
// too late, however short each wait is. So an operation of hundreds of short waits (an image restore)
// repaints as often as one long wait. Each wait still blocks, so it costs no processor time. The gaps
// between a command's bytes are never interrupted: the logger drops a command whose next byte is late.
inline constexpr uint32_t kSliceMs = 25;  // about 40 repaints a second

// The pace that the clock and the port share, so that every kind of wait counts toward it.
class IdlePacer {
 public:
  IdlePacer(Clock& clock, std::function<void()> idle) : clock_(clock), idle_(std::move(idle)) {}

  // Waits `ms`, `waitSlice` blocking for at most the milliseconds it is given and saying whether the wait
  // is over early; `idle` runs inside it whenever it is due, and at its end too with `edgeAfter`.
  void Wait(uint32_t ms, bool edgeAfter, const std::function<bool(uint32_t)>& waitSlice);

 private:
  void RunIfDue(uint32_t dueAfterMs);

  Clock& clock_;
  std::function<void()> idle_;
  bool ran_ = false;
  uint32_t lastRunMs_ = 0;
};

class SlicedClock final : public Clock {
 public:
  SlicedClock(Clock& clock, IdlePacer& pacer) : clock_(clock), pacer_(pacer) {}

  uint32_t TickMs() override { return clock_.TickMs(); }
  void SleepMs(uint32_t ms) override;
  CivilTime Now() override { return clock_.Now(); }

 private:
  Clock& clock_;
  IdlePacer& pacer_;
};

class SlicedPort final : public SerialPort {
 public:
  SlicedPort(SerialPort& port, IdlePacer& pacer) : port_(port), pacer_(pacer) {}

  bool Open(const std::string& name, Parity parity) override { return port_.Open(name, parity); }
  std::optional<PortHolder> HeldBy() const override { return port_.HeldBy(); }
  void Close() override { port_.Close(); }
  bool IsOpen() const override { return port_.IsOpen(); }
  bool HungUp() const override { return port_.HungUp(); }
  void SendByte(uint8_t byte) override { port_.SendByte(byte); }
  uint32_t InputCount() override { return port_.InputCount(); }
  uint32_t Read(std::span<uint8_t> buffer) override { return port_.Read(buffer); }
  void DiscardInput() override { port_.DiscardInput(); }
  void WaitForInput(uint32_t timeoutMs) override;
  bool WriteBlock(std::span<const uint8_t> bytes) override { return port_.WriteBlock(bytes); }

 private:
  SerialPort& port_;
  IdlePacer& pacer_;
};

// What runs between two slices of a wait: the windows repaint, move and resize, the progress bar moves,
// but nothing the user does is taken. Clicks, keys and the like are thrown away (not kept for later, so
// nothing happens once the wait is over either), closing a window is refused, and no timer of the
// program fires during the wait: its tick comes again one interval later. So no monitoring refresh can
// start inside another or after its window closed, and no menu item, button or shortcut can start a
// second operation.
class BusyPump final : public QObject {
 public:
  BusyPump();
  ~BusyPump() override;

  // Delivers what is waiting once, without waiting for more; does nothing when called inside itself.
  void Pump();
  bool Pumping() const { return pumping_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool pumping_ = false;
};

}  // namespace velutron
