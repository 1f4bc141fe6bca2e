#pragma once

// The synthetic year the archive's benchmarks read: ten channels of a cold store every 10 s from
// 2025-01-01, written through the archive's own interface an hour a transaction.
// VELUTRON_BENCH_DAYS shortens it.

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/Archive.h"

namespace velutron::bench {

inline constexpr int64_t kStart = 1'735'689'600'000;  // 2025-01-01T00:00:00Z
inline constexpr int kChannels = 10;
inline constexpr int64_t kStepMs = 10'000;

inline int Days() {
  const char* days = std::getenv("VELUTRON_BENCH_DAYS");
  return days != nullptr ? std::atoi(days) : 365;
}

// A cold store's day: a slow daily curve and a little noise, at 1/16 °C.
inline double Temperature(int channel, int64_t i) {
  const double day = static_cast<double>(i % 8640) / 8640.0;
  const double value =
      -18.0 + channel * 0.5 + 1.5 * std::sin(2 * M_PI * day) + ((i * 7919 + channel) % 11) * 0.0625;
  return std::round(value * 16) / 16;
}

// Fills the logger `logger` of `archive` with `days` of readings.
inline bool Fill(archive::PeriodArchive& archive, int64_t logger, int days, std::string& error) {
  using namespace archive;
  const int64_t total = int64_t{days} * 8640;
  std::vector<Interval> hour;
  for (int64_t i = 0; i < total; ++i) {
    Interval interval{kStart + i * kStepMs, std::nullopt, {}};
    for (int k = 1; k <= kChannels; ++k)
      interval.readings.push_back({k, Unit::Celsius, Temperature(k, i), ""});
    hour.push_back(std::move(interval));
    if (hour.size() == 360 || i + 1 == total) {
      AddCounts counts;
      if (!archive.AddIntervals(logger, Source::Station, hour, counts, error)) return false;
      hour.clear();
    }
  }
  return true;
}

}  // namespace velutron::bench
