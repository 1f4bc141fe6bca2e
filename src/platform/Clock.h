#pragma once

#include <cstdint>

namespace velutron {

// A local civil date and time, as the regional settings show it.
struct CivilTime {
  int year = 2000;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The millisecond tick counter every wait and delay is measured on. It wraps at 2^32 like the
// Windows tick count, so all elapsed-time arithmetic is unsigned 32-bit.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickMs() = 0;
  // Blocks the calling thread for about `ms` milliseconds; never spins.
  virtual void SleepMs(uint32_t ms) = 0;
  // Local wall-clock time (for proposed file names and report stamps).
  virtual CivilTime Now() = 0;
};

// Steady millisecond clock of the operating system, wrapped to 32 bits. On Windows it holds the system
// timer at 1 ms while it exists: at the default 15.6 ms every 3 ms gap between command bytes would last
// a whole timer tick.
class SystemClock final : public Clock {
 public:
  SystemClock();
  ~SystemClock() override;
  SystemClock(const SystemClock&) = delete;
  SystemClock& operator=(const SystemClock&) = delete;

  uint32_t TickMs() override;
  void SleepMs(uint32_t ms) override;
  CivilTime Now() override;
};

}  // namespace velutron
