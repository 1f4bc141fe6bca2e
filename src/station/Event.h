#pragma once

// An alarm step as the notification commands get it: one JSON object on standard input, and the same
// fields as VELUTRON_* environment variables.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "station/Alarms.h"

namespace velutron::station {

// "2026-12-08T06:01:10Z"
std::string FormatUtc(int64_t utc_ms);

struct EventSubject {
  std::string logger;
  std::string serial;
  std::string point;                  // of the channel; empty for the logger's own alarms
  std::optional<archive::Unit> unit;  // of the channel
};

std::string EventJson(const AlarmStep& step, const EventSubject& subject);
std::vector<std::pair<std::string, std::string>> EventEnvironment(const AlarmStep& step,
                                                                  const EventSubject& subject);

}  // namespace velutron::station
