#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace velutron {

// The desktop program's waits: every wait on the port or the clock is cut into slices of at most
// kSliceMs, and between two slices `idle` runs (the windows repaint there). Each slice still blocks, so
// a wait costs no processor time; a wait shorter than a slice (the gaps between a command's bytes) is
// never cut. Everything else goes straight to the port and the clock underneath.
inline constexpr uint32_t kSliceMs = 25;  // 40 repaints a second at most

class SlicedClock final : public Clock {
 public:
  SlicedClock(Clock& clock, std::function<void()> idle) : clock_(clock), idle_(std::move(idle)) {}

  uint32_t TickMs() override { return clock_.TickMs(); }
  void SleepMs(uint32_t ms) override;
  CivilTime Now() override { return clock_.Now(); }

 private:
  Clock& clock_;
  std::function<void()> idle_;
};

class SlicedPort final : public SerialPort {
 public:
  SlicedPort(SerialPort& port, Clock& clock, std::function<void()> idle)
      : port_(port), clock_(clock), idle_(std::move(idle)) {}

  bool Open(const std::string& name, Parity parity) override { return port_.Open(name, parity); }
  void Close() override { port_.Close(); }
  bool IsOpen() const override { return port_.IsOpen(); }
  void SendByte(uint8_t byte) override { port_.SendByte(byte); }
  uint32_t InputCount() override { return port_.InputCount(); }
  uint32_t Read(std::span<uint8_t> buffer) override { return port_.Read(buffer); }
  void DiscardInput() override { port_.DiscardInput(); }
  void WaitForInput(uint32_t timeoutMs) override;
  bool WriteBlock(std::span<const uint8_t> bytes) override { return port_.WriteBlock(bytes); }

 private:
  SerialPort& port_;
  Clock& clock_;
  std::function<void()> idle_;
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
