#pragma once

// /metrics: the loggers' snapshots in Prometheus' text exposition format, version 0.0.4.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/Snapshot.h"

namespace velutron::station {

inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// `archive` left out: the archive's state is unknown, and its metrics are left out.
std::string RenderMetrics(const std::vector<LoggerSnapshot>& loggers,
                          const std::optional<ArchiveSnapshot>& archive = std::nullopt);

// A label value as the format quotes it: backslash, double quote and line feed escaped.
std::string EscapeLabelValue(std::string_view value);

}  // namespace velutron::station
