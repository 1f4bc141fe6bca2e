// archive import: the readings of database files added to the archive.

#include <CLI/CLI.hpp>
#include <cstdio>

#include "archive/Import.h"
#include "archive/TimeZone.h"
#include "cli/ArchiveCommands.h"
#include "data/Measurements.h"

namespace velutron::cli {

using namespace archive;

namespace {

struct ImportArgs {
  std::vector<std::string> files;
  std::string logger;
  std::string zone;
  std::string offset;
  bool newZone = false;
};

// "channel 1", "channels 1, 3"
std::string ChannelList(uint32_t channels) {
  std::string list;
  int count = 0;
  for (int c = 1; c <= 10; ++c) {
    if ((channels >> c & 1) == 0) continue;
    list += (count++ ? ", " : " ") + std::to_string(c);
  }
  return (count > 1 ? "channels" : "channel") + list;
}

Outcome Import(Runner& r, const ImportArgs& a) {
  std::string error;
  auto archive = OpenFromOptions(r, OpenMode::Create);
  if (!archive) return Outcome::Failed;
  const std::optional<int64_t> offset = a.offset.empty() ? std::nullopt : ParseOffset(a.offset);
  Outcome outcome = Outcome::Completed;
  for (const std::string& file : a.files) {
    const auto db = LoadDatabase(r.session(), ChosenFile(file));
    if (!db) {
      outcome = Outcome::Failed;
      continue;
    }
    // The zone of the logger's clock is its own, stored at its first import: one at a time in force.
    ClockZone clock;
    ImportResult result;
    auto zone = ChooseClockZone(*archive, ImportedLoggerName(*db, a.logger), a.zone, a.newZone,
                                offset.has_value(), clock, error)
                    ? TimeZone::Named(clock.name, error)
                    : std::nullopt;
    if (!zone ||
        !ImportDatabase(*archive, *db, ImportOptions{a.logger, offset, clock.record}, *zone, result, error)) {
      Failed(r, file + ": " + error);
      outcome = Outcome::Failed;
      continue;
    }
    const AddCounts& c = result.counts;
    std::string human = file + " (" + result.logger + "): added " + std::to_string(c.added) +
                        ", already present " + std::to_string(c.present) + ", in conflict " +
                        std::to_string(c.conflicts);
    if (result.undated) human += ", records without a real date " + std::to_string(result.undated);
    if (result.gap_times + result.fold_times)
      human += ", times in a clock change " + std::to_string(result.gap_times + result.fold_times);
    // Which offsets the stamps were read with: the file's own, and where a clock following summer time
    // changed it.
    Json offsets = Json::array();
    human += ", clock" + (clock.name.empty() ? std::string() : " " + clock.name);
    for (size_t i = 0; i < result.offsets.size(); ++i) {
      const ClockOffset& o = result.offsets[i];
      const std::string from = FormatAtOffset(o.from_utc_ms / 1000, o.offset_s);
      human += (i ? ", then " : " ") + OffsetText(o.offset_s) + (i ? " from " + from : "");
      offsets.push_back({{"offset", OffsetText(o.offset_s)}, {"from", from}});
    }
    if (offset) human += " (--offset)";
    const auto time = [&zone](int64_t ms) { return zone->Format(ms / 1000); };
    Json channels = Json::array();
    for (int k = 1; k <= 10; ++k) {
      if (c.conflict_channels >> k & 1) channels.push_back(k);
    }
    r.ui().Print(human, Dump(Json{{"type", "import"},
                                  {"file", file},
                                  {"logger", result.logger},
                                  {"added", c.added},
                                  {"present", c.present},
                                  {"conflicts", c.conflicts},
                                  {"undated", result.undated},
                                  {"dst_gap", result.gap_times},
                                  {"dst_fold", result.fold_times},
                                  {"zone", clock.name.empty() ? Json(nullptr) : Json(clock.name)},
                                  {"offsets", offsets},
                                  {"offset_given", offset.has_value()},
                                  {"conflicts_from", c.conflicts ? Json(time(c.conflicts_from_ms)) : Json()},
                                  {"conflicts_to", c.conflicts ? Json(time(c.conflicts_to_ms)) : Json()},
                                  {"conflict_channels", channels}}));
    // A reading in conflict stays out of every figure: where they are is worth a look.
    if (c.conflicts) {
      std::fprintf(stderr, "%s: %zu reading%s in conflict, %s .. %s, %s\n", file.c_str(), c.conflicts,
                   c.conflicts == 1 ? "" : "s", time(c.conflicts_from_ms).c_str(),
                   time(c.conflicts_to_ms).c_str(), ChannelList(c.conflict_channels).c_str());
      std::fflush(stderr);
    }
    if (!result.summary_error.empty()) {
      std::fprintf(stderr, "%s: the readings are archived, but their hours were not summarised: %s\n",
                   file.c_str(), result.summary_error.c_str());
      std::fflush(stderr);
    }
  }
  return outcome;
}

}  // namespace

void AddArchiveImportCommands(CLI::App* archive, Command& chosen) {
  auto import = std::make_shared<ImportArgs>();
  auto* im = archive->add_subcommand("import", "add the readings of database files to the archive");
  im->add_option("FILE", import->files, "database files (*.DAT)")->required();
  im->add_option("--logger", import->logger, "the logger's name (default: the owner text of the file)");
  im->add_option("--tz", import->zone,
                 "IANA time zone of the logger's clock (default: the one stored with the logger at its first "
                 "import, else the machine's)");
  im->add_option(
      "--offset", import->offset,
      "one offset for the whole file, +HH:MM or -HH:MM east of UTC, when the zone's guess is wrong");
  im->add_flag("--new-zone", import->newZone,
               "the logger's clock is now in --tz's zone, not the stored one: store it from now on");
  im->callback([&chosen, import] {
    CheckPeriod({"", "", "", {}, import->zone});
    if (!import->offset.empty() && !ParseOffset(import->offset))
      throw CLI::ValidationError("--offset", "not an offset (+01:00, -05:00): " + import->offset);
    if (import->newZone && import->zone.empty()) throw CLI::ValidationError("--new-zone", "needs --tz");
    chosen = [import](Runner& r) { return Import(r, *import); };
  });
}

}  // namespace velutron::cli
