#pragma once

// What the station knows of its loggers at one moment: the watchers fill it, the HTTP endpoint (metrics,
// JSON API, status page) only reads copies of it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"

namespace velutron::station {

struct ChannelSnapshot {
  int channel = 0;
  std::string point;
  archive::Unit unit = archive::Unit::Celsius;
  std::optional<double> value;  // the last reading, absent while it is invalid
  std::string status;           // empty when valid, else what the window shows ("ERROR!"…)
  std::optional<double> low;    // the limits in force (overrides included)
  std::optional<double> high;
  std::vector<std::string> open_alarms;  // kinds: "high", "low", "sensor"
};

struct LoggerSnapshot {
  std::string name;
  std::string serial;
  std::string port;
  bool up = false;
  std::optional<int64_t> last_reading_utc_ms;  // the last answered reading
  std::optional<double> clock_offset_s;        // the logger's clock minus the PC's
  std::vector<ChannelSnapshot> channels;
  std::vector<std::string> open_alarms;  // the logger's own: "bus", "link", "clock"
  // Histogram of one reading's exchanges: cumulative counts per upper bound, their sum and count.
  std::vector<double> poll_bucket_bounds_s;
  std::vector<uint64_t> poll_bucket_counts;
  double poll_sum_s = 0;
  uint64_t poll_count = 0;
  uint64_t archive_readings_total = 0;
};

// The archive writer's state as the station last heard it.
struct ArchiveSnapshot {
  bool failing = false;
  std::optional<int64_t> failing_since_utc_ms;  // the write that first failed
  uint64_t dropped = 0;                         // records the full memory queue dropped since the start
};

}  // namespace velutron::station
