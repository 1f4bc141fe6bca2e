#pragma once

#include <cstdint>
#include <optional>

#include "platform/Clock.h"
#include "sim/Calendar.h"

namespace velutron::sim {

// Virtual time for tests: sleeping advances it instantly. Kept in microseconds so that line times
// (0.19 ms a byte) add up exactly; the tick is whole milliseconds, wrapping at 2^32 from `tickBase`.
// The wall clock stands still unless started with RunWall, from which on it keeps virtual time.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(uint32_t tickBase = 1'000'000, CivilTime wall = {2009, 6, 5, 14, 5, 30})
      : tickBase_(tickBase), wall_(wall) {}

  uint32_t TickMs() override { return tickBase_ + static_cast<uint32_t>(nowUs_ / 1000); }
  void SleepMs(uint32_t ms) override { nowUs_ += uint64_t{ms} * 1000; }
  CivilTime Now() override {
    if (!wallRunsFromUs_) return wall_;
    return FromSeconds(ToSeconds(wall_) + static_cast<int64_t>((nowUs_ - *wallRunsFromUs_) / 1'000'000));
  }

  uint64_t NowUs() const { return nowUs_; }
  void AdvanceToUs(uint64_t us) {
    if (us > nowUs_) nowUs_ = us;
  }
  void SetWall(CivilTime wall) {
    wall_ = wall;
    wallRunsFromUs_.reset();
  }
  // The wall clock shows `wall` now, at the start of its second, and runs on with virtual time.
  void RunWall(CivilTime wall) {
    wall_ = wall;
    wallRunsFromUs_ = nowUs_;
  }

 private:
  uint64_t nowUs_ = 0;
  uint32_t tickBase_;
  CivilTime wall_;
  std::optional<uint64_t> wallRunsFromUs_;
};

}  // namespace velutron::sim
