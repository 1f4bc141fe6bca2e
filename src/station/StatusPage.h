#pragma once

// The status page at /: every logger and channel as the monitoring window shows it, readable on a phone.
// The HTML is whole without a script; /status.js refreshes it and draws each channel's last 24 hours
// from /api/history, and /status.css lays it out. Nothing is fetched from anywhere else.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/Snapshot.h"

namespace velutron::station {

// How the monitoring window colours a value: red above the band (and for a marker such as "ERROR!"),
// blue below it (and "MIN tab."), green inside.
enum class Shade { Unknown, Inside, Above, Below };
Shade ShadeOf(const ChannelSnapshot& channel);

std::string EscapeHtml(std::string_view text);

// With a banner above the loggers while the archive fails.
std::string RenderStatusPage(const std::vector<LoggerSnapshot>& loggers, int64_t now_ms,
                             const std::optional<ArchiveSnapshot>& archive = std::nullopt);

extern const std::string_view kStatusScript;
extern const std::string_view kStatusStyle;

}  // namespace velutron::station
