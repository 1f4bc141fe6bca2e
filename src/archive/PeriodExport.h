#pragma once

#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/TimeZone.h"

namespace velutron::archive {

enum class PeriodFormat { Csv, Json };

struct PeriodExportOptions {
  int64_t from_ms = 0;
  int64_t to_ms = 0;
  std::vector<int> channels;  // empty: all
};

// A logger's readings over a period in the format of the database export: one row (or object) per
// time, ISO 8601 times with the zone's offset, "." decimals, markers in the status, UTF-8.
std::string ExportPeriod(const std::vector<PeriodPoint>& points, const LoggerEntry& logger,
                         const std::vector<ChannelEntry>& channels, const PeriodExportOptions& options,
                         const TimeZone& zone, PeriodFormat format);

}  // namespace velutron::archive
