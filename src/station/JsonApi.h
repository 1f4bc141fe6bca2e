#pragma once

// The JSON API: /api/current (what every logger reads now) and /api/history (one channel's readings
// over a period, from the archive).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "station/Snapshot.h"

namespace velutron::station {

// ISO 8601 in UTC, "2026-12-08T06:06:10Z", with milliseconds when there are any ("…10.250Z").
std::string UtcText(int64_t utc_ms);
// An ISO 8601 time as the command line takes it: a date (its local midnight), a local time
// ("2026-12-01T08:00", seconds and milliseconds optional) or one with its offset ("…Z", "…+01:00").
std::optional<int64_t> ParseTime(std::string_view text);

std::string_view UnitText(archive::Unit unit);

// {"loggers": […]}, and "archive": {"failing": …, "since": …} when its state is known.
std::string CurrentJson(const std::vector<LoggerSnapshot>& loggers,
                        const std::optional<ArchiveSnapshot>& archive = std::nullopt);

struct HistoryQuery {
  std::string logger;
  int channel = 0;
  int64_t from_ms = 0;    // inclusive
  int64_t to_ms = 0;      // exclusive
  size_t max_points = 0;  // 0: every reading
};

// /api/history's parameters: logger and channel required, from and to optional (the last 24 hours up to
// `now_ms`; at most 31 days), max optional. False, with the reason, for a missing or malformed one.
bool ParseHistoryQuery(const std::multimap<std::string, std::string>& params, int64_t now_ms,
                       HistoryQuery& query, std::string& error);

// At most `max_points` of the readings, for a chart: each of max_points/2 equal stretches of time keeps its
// lowest and highest value (so a short excursion still shows) and its first marker.
std::vector<archive::HistoryPoint> Thin(const std::vector<archive::HistoryPoint>& points, size_t max_points,
                                        int64_t from_ms, int64_t to_ms);

std::string HistoryJson(const std::vector<archive::HistoryPoint>& points);

// {"error": message}
std::string ErrorJson(std::string_view message);

}  // namespace velutron::station
