#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/TimeZone.h"

namespace velutron::archive {

// One channel's line of a report that `archive report --json` wrote.
struct ReportedChannel {
  std::string logger;
  int channel = 0;
  Unit unit = Unit::Celsius;
  std::string from, to;  // as the report printed them, with their offsets
  std::string sha256;
  nlohmann::ordered_json line;  // the whole line, for its figures
};

bool IsSha256(const std::string& text);

// The `stats` lines of a report's JSON; its other lines (the result, messages) are passed over. Empty,
// with `why` set, when the text is not such a report.
std::vector<ReportedChannel> ReadReport(std::string_view text, const TimeZone& zone, std::string& why);

// More than any report of ten channels and their excursions.
constexpr size_t kLargestReport = 64u << 20;

// The figures of a `stats` line that verify works out again; the hash is checked first, on its own.
constexpr const char* kFigures[] = {"readings", "invalid", "gap_s",       "min",         "min_time",  "max",
                                    "max_time", "mean",    "stddev",      "mkt",         "low",       "high",
                                    "above_s",  "below_s", "above_share", "below_share", "excursions"};

// Whether a figure of the report is the one worked out now: numbers exactly (the JSON round-trips
// them), times as the same moment whatever offset they were printed with.
bool SameFigure(const nlohmann::ordered_json& reported, const nlohmann::ordered_json& now,
                const TimeZone& zone);

// A number of the line, or nullopt when it has none there.
std::optional<double> NumberIn(const nlohmann::ordered_json& line, const char* key);

}  // namespace velutron::archive
