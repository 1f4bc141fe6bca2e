// archive list: the loggers of the archive, their channels, readings, gaps and conflicts.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>

#include "archive/PointNames.h"
#include "archive/SpacingGaps.h"
#include "cli/ArchiveCommands.h"
#include "link/Link.h"
#include "platform/Console.h"

namespace velutron::cli {

using namespace archive;

namespace {

Outcome List(Runner& r, const std::string& zoneName) {
  std::string error;
  auto zone = TimeZone::Named(zoneName, error);
  auto archive = OpenFromOptions(r);
  if (!archive) return Outcome::Failed;
  std::vector<LoggerEntry> loggers;
  if (!archive->Loggers(loggers, error)) return Failed(r, error);
  for (const LoggerEntry& l : loggers) {
    int64_t first = 0, last = 0;
    bool any = false;
    std::vector<ChannelEntry> channels;
    std::vector<Gap> gaps;
    std::vector<Conflict> conflicts;
    if (!archive->Span(l.key, first, last, any, error) || !archive->Channels(l.key, channels, error) ||
        !archive->Gaps(l.key, INT64_MIN, INT64_MAX, gaps, error) ||
        !archive->Conflicts(l.key, INT64_MIN / 2, INT64_MAX / 2, conflicts, error))
      return Failed(r, error);
    auto time = [&zone](int64_t ms) { return zone->Format(ms / 1000); };
    Json j{{"type", "logger"}, {"name", l.id.name}, {"owner", l.id.owner}, {"serial", l.id.serial}};
    j["first"] = any ? Json(time(first)) : Json(nullptr);
    j["last"] = any ? Json(time(last)) : Json(nullptr);
    std::string human =
        VisibleText(l.id.name) +
        (l.id.owner.empty() || l.id.owner == l.id.name ? "" : " (" + VisibleText(l.id.owner) + ")") + ": " +
        (any ? time(first) + " .. " + time(last) : std::string("no readings"));
    j["channels"] = Json::array();
    // Each name a channel had, from when it stood: a download's from the logger's first reading at the
    // latest, since it stood back to before anything recorded.
    constexpr int64_t kAlways = INT64_MIN / 2;
    for (size_t i = 0; i < channels.size(); ++i) {
      const ChannelEntry& entry = channels[i];
      if (i > 0 && channels[i - 1].info.channel == entry.info.channel) continue;
      for (const PointSpan& span : PointsIn(channels, entry.info.channel, kAlways, INT64_MAX / 2)) {
        const std::string unit = span.unit == Unit::RelativeHumidity ? "%RH" : "°C";
        const int64_t from = span.from_ms != kAlways ? span.from_ms
                             : any                   ? std::min(first, entry.from_ms)
                                                     : entry.from_ms;
        j["channels"].push_back(
            {{"channel", entry.info.channel}, {"point", span.point}, {"unit", unit}, {"from", time(from)}});
        human += "\n  ch" + std::to_string(entry.info.channel) + " " + unit + " \"" +
                 VisibleText(span.point) + "\" from " + time(from);
      }
    }
    std::vector<ShownGap> shown;
    if (!ShownGaps(*archive, l.key, first, last, any, gaps, shown, error)) return Failed(r, error);
    j["gaps"] = Json::array();
    for (const ShownGap& g : shown) {
      j["gaps"].push_back({{"from", time(g.from)}, {"to", time(g.to)}, {"cause", g.cause}});
      human += "\n  gap " + time(g.from) + " .. " + time(g.to) + " (" + g.cause + ")";
    }
    j["conflicts"] = conflicts.size();
    if (!conflicts.empty()) human += "\n  readings in conflict: " + std::to_string(conflicts.size());
    r.ui().Print(human, Dump(j));
  }
  return Outcome::Completed;
}

}  // namespace

void AddArchiveListCommands(CLI::App* archive, Command& chosen) {
  auto listZone = std::make_shared<std::string>();
  auto* li = archive->add_subcommand("list", "loggers, channels, first and last reading, gaps");
  li->add_option("--tz", *listZone, "IANA time zone for the times shown (default: the machine's)");
  li->callback([&chosen, listZone] {
    CheckPeriod({"", "", "", {}, *listZone});
    chosen = [listZone](Runner& r) { return List(r, *listZone); };
  });
}

}  // namespace velutron::cli
