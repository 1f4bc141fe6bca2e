// archive import, list, export, report, verify: the history of every logger across downloads and
// stations.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "archive/Archive.h"
#include "archive/Import.h"
#include "archive/Location.h"
#include "archive/PeriodExport.h"
#include "archive/PeriodReport.h"
#include "archive/PointNames.h"
#include "archive/SpacingGaps.h"
#include "archive/Statistics.h"
#include "archive/Summary.h"
#include "archive/TimeZone.h"
#include "cli/Runner.h"
#include "data/Measurements.h"
#include "link/Link.h"
#include "platform/AtomicFile.h"
#include "platform/Console.h"
#include "platform/FileRead.h"
#include "platform/Process.h"
#include "platform/Spawn.h"
#include "platform/Utf8Path.h"

namespace velutron::cli {

namespace {

using namespace archive;
using Json = nlohmann::ordered_json;

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

// The period options every query shares.
struct PeriodArgs {
  std::string from, to;
  std::string logger;
  std::vector<int> channels;
  std::string zone;
};

void AddPeriodOptions(CLI::App* c, PeriodArgs& a, bool required = true) {
  c->add_option("--from", a.from, "start, inclusive (2026-12-01, 2026-12-01T08:00, ...Z, ...+01:00)")
      ->required(required);
  c->add_option("--to", a.to, "end, exclusive")->required(required);
  c->add_option("--logger", a.logger, "the logger's name in the archive (default: the only one)");
  c->add_option("--channel", a.channels, "channels to take (default: all)")->check(CLI::Range(1, 10));
  c->add_option("--tz", a.zone, "IANA time zone for the times read and shown (default: the machine's)");
}

// Checked while the command line is parsed, so that a bad one exits with the usage code.
void CheckPeriod(const PeriodArgs& a) {
  std::string error;
  auto zone = TimeZone::Named(a.zone, error);
  if (!zone) throw CLI::ValidationError("--tz", error);
  if (!a.from.empty() && !ParseTime(a.from, *zone))
    throw CLI::ValidationError("--from", "not a time: " + a.from);
  if (!a.to.empty() && !ParseTime(a.to, *zone)) throw CLI::ValidationError("--to", "not a time: " + a.to);
  // --to is exclusive: a period that ends where it starts, or before, holds nothing.
  if (!a.from.empty() && !a.to.empty() && *ParseTime(a.from, *zone) >= *ParseTime(a.to, *zone))
    throw CLI::ValidationError("--from", a.from + " is not before --to " + a.to);
}

Outcome Failed(Runner& r, const std::string& why) {
  r.session().ui.ShowError(why);
  return Outcome::Failed;
}

// Only an import creates the archive: every other command reads one that is there, and writes nothing
// into a file that is not one.
std::unique_ptr<PeriodArchive> OpenFromOptions(Runner& r, OpenMode mode = OpenMode::Existing) {
  std::string error;
  const std::string& location = r.options().archive;
  const bool server = IsServerLocation(location);
  auto a = OpenPeriodArchive(server ? location : ChosenFile(location), error, mode);
  if (!a) Failed(r, "archive " + MaskedLocation(location) + ": " + error);
  return a;
}

// The logger named, or the only one the archive holds.
std::optional<LoggerEntry> ChooseLogger(Runner& r, PeriodArchive& a, const std::string& name) {
  std::vector<LoggerEntry> loggers;
  std::string error;
  if (!a.Loggers(loggers, error)) {
    Failed(r, error);
    return std::nullopt;
  }
  for (const LoggerEntry& l : loggers) {
    if (l.id.name == name || (name.empty() && loggers.size() == 1)) return l;
  }
  if (!name.empty()) {
    Failed(r, "no logger of that name in the archive: " + name);
  } else if (loggers.empty()) {
    Failed(r, "the archive holds no readings yet");
  } else {
    Failed(r, "the archive holds several loggers: choose one with --logger");
  }
  return std::nullopt;
}

// Everything a period query needs, loaded once.
struct Period {
  std::unique_ptr<PeriodArchive> archive;
  std::optional<TimeZone> zone;
  LoggerEntry logger;
  int64_t from_ms = 0, to_ms = 0;
  std::vector<ChannelEntry> channels;
};

// The readings themselves are read a slice or one at a time by each command.
bool LoadPeriod(Runner& r, const PeriodArgs& a, Period& p) {
  std::string error;
  auto zone = TimeZone::Named(a.zone, error);
  p.zone.emplace(std::move(*zone));
  p.archive = OpenFromOptions(r);
  if (!p.archive) return false;
  auto logger = ChooseLogger(r, *p.archive, a.logger);
  if (!logger) return false;
  p.logger = *logger;
  p.from_ms = *ParseTime(a.from, *p.zone);
  p.to_ms = *ParseTime(a.to, *p.zone);
  if (!p.archive->Channels(p.logger.key, p.channels, error)) {
    Failed(r, error);
    return false;
  }
  return true;
}

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

// The cause of a gap found in the spacing of the readings rather than recorded by the station.
constexpr const char* kMissingReadings = "missing readings";

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
    static constexpr const char* kCauses[] = {"silence", "port gone", "bus failure", "paused", "station late"};
    struct Shown {
      int64_t from, to;
      const char* cause;
    };
    std::vector<Shown> shown;
    for (const Gap& g : gaps)
      shown.push_back({g.from_utc_ms, g.to_utc_ms,
                       static_cast<size_t>(g.cause) < std::size(kCauses) ? kCauses[static_cast<size_t>(g.cause)]
                                                                        : "unknown"});
    // Beside the gaps the station recorded, those the spacing of the readings shows (a download's
    // logger stopped, a station that was not running), unless the station recorded them itself.
    std::vector<SpacingGap> spacingGaps;
    if (any && !SpacingGapsOf(*archive, l.key, first, last, spacingGaps, error)) return Failed(r, error);
    for (const SpacingGap& g : spacingGaps) {
      const bool recorded = std::any_of(gaps.begin(), gaps.end(), [&g](const Gap& known) {
        return known.from_utc_ms < g.to_ms && g.from_ms < known.to_utc_ms;
      });
      if (!recorded) shown.push_back({g.from_ms, g.to_ms, kMissingReadings});
    }
    std::stable_sort(shown.begin(), shown.end(),
                     [](const Shown& a, const Shown& b) { return a.from < b.from; });
    j["gaps"] = Json::array();
    for (const Shown& g : shown) {
      j["gaps"].push_back({{"from", time(g.from)}, {"to", time(g.to)}, {"cause", g.cause}});
      human += "\n  gap " + time(g.from) + " .. " + time(g.to) + " (" + g.cause + ")";
    }
    j["conflicts"] = conflicts.size();
    if (!conflicts.empty()) human += "\n  readings in conflict: " + std::to_string(conflicts.size());
    r.ui().Print(human, Dump(j));
  }
  return Outcome::Completed;
}

struct ExportArgs {
  PeriodArgs period;
  std::string format;
  std::optional<std::string> out;
  bool texts = false;
};

// The readings of the period a day at a time, handed to `take` until it returns false; days are sliced
// only where readings exist, so a period of centuries costs what its readings cost. False with `error`
// set when the archive fails.
bool ForEachDay(Period& p, const std::function<bool(const std::vector<PeriodPoint>&)>& take, bool& taken,
                std::string& error) {
  int64_t first = 0, last = 0;
  bool any = false;
  if (!p.archive->Span(p.logger.key, first, last, any, error)) return false;
  const int64_t end = any ? std::min(p.to_ms, last + 1000) : p.from_ms;
  constexpr int64_t kSlice = 86'400'000;
  std::vector<PeriodPoint> points;
  for (int64_t from = any ? std::max(p.from_ms, first) : end; taken && from < end; from += kSlice) {
    points.clear();
    if (!p.archive->Period(
            p.logger.key, from, std::min(end, from + kSlice),
            [&points](const PeriodPoint& point) { points.push_back(point); }, error))
      return false;
    taken = take(points);
  }
  return true;
}

// The period as the workbook `export` writes of a database, a day at a time: a year's rows never sit
// in memory, and the file is replaced whole or not at all.
Outcome PeriodWorkbook(Runner& r, Period& p, PeriodWriter& writer, const std::string& out) {
  WorkbookStream book(PathFromUtf8(ChosenFile(out)));
  const WorkbookResult opened = book.Open();
  if (opened == WorkbookResult::Unavailable) {
    std::fputs(
        "velutron-cli: no xlsx workbooks here: libxlsxwriter is not installed, or this build has none\n",
        stderr);
    return Outcome::Failed;
  }
  bool written =
      opened == WorkbookResult::Written && book.Sheet("Pomiary", writer.SheetHeaders(), writer.SheetWidths());
  std::string error;
  if (!ForEachDay(
          p,
          [&](const std::vector<PeriodPoint>& points) {
            return writer.SheetRows(points,
                                    [&book](const std::vector<SheetCell>& row) { return book.Row(row); });
          },
          written, error))
    return Failed(r, error);
  written = written && book.Table(writer.TextsSheet());
  if (!written || book.Commit() != WorkbookResult::Written) {
    r.session().ui.ShowMessage("Uwaga !", "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }
  return Outcome::Completed;
}

// Written a day at a time, so that a year's export never sits in memory whole.
Outcome Export(Runner& r, const ExportArgs& a) {
  // The export itself is standard output when no file is named: the messages must not mix into it.
  if (!a.out) r.ui().SetOutput(stderr);
  Period p;
  if (!LoadPeriod(r, a.period, p)) return Outcome::Failed;
  const PeriodExportOptions options{p.from_ms, p.to_ms, a.period.channels, a.texts};
  std::vector<std::pair<int, Unit>> present;
  std::string error;
  if (!p.archive->SeriesIn(p.logger.key, p.from_ms, p.to_ms, present, error)) return Failed(r, error);
  std::vector<SeriesKey> columns;
  for (const auto& [channel, unit] : present) {
    if (a.period.channels.empty() ||
        std::find(a.period.channels.begin(), a.period.channels.end(), channel) != a.period.channels.end())
      columns.push_back({channel, unit});
  }
  PeriodWriter writer(p.logger, p.channels, columns, options, *p.zone,
                      a.format == "json" ? PeriodFormat::Json : PeriodFormat::Csv);
  if (a.format == "xlsx") return PeriodWorkbook(r, p, writer, *a.out);
  std::optional<AtomicFile> file;
  if (a.out) file.emplace(PathFromUtf8(ChosenFile(*a.out)));
  auto write = [&](const std::string& text) {
    if (file) return file->Ok() && file->Write({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  };
  bool written = write(writer.Head());
  if (!ForEachDay(
          p, [&](const std::vector<PeriodPoint>& points) { return write(writer.Rows(points)); }, written,
          error))
    return Failed(r, error);
  written = written && write(writer.End()) && (file ? file->Commit() : std::fflush(stdout) == 0);
  if (!written) {
    r.session().ui.ShowMessage("Uwaga !", "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }
  return Outcome::Completed;
}

struct ReportArgs {
  PeriodArgs period;
  std::optional<double> low, high;
  std::optional<double> lowRh, highRh;
  double mktDh = 83.144;
  std::string hash;    // verify
  std::string report;  // verify: a report's JSON lines instead of the hash and the period
  std::optional<std::string> pdf;
};

// Hands velutron-draw what it draws on its standard input; the file is written whole or not at all.
Outcome Draw(Runner& r, const std::string& out, std::vector<std::string> args, const std::string& input) {
  Session& s = r.session();
  const auto program = DrawingProgram();
  if (!program) {
    std::fputs("velutron-cli: velutron-draw, which draws the charts, is not installed beside velutron-cli\n",
               stderr);
    return Outcome::Failed;
  }
  args.insert(args.begin(), {"--out", Utf8FromPath(s.InWorkDir(out))});
  if (!r.options().locale.empty()) args.insert(args.end(), {"--locale", r.options().locale});
  const auto status = RunWithInput(*program, args, input);
  if (status == 0) return Outcome::Completed;
  if (InterruptRequested()) return Outcome::Cancelled;
  s.ui.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
  return Outcome::Failed;
}

// Pixel columns of the chart in the report: its picture's width.
constexpr int kReportChartColumns = 1600;

std::string Number(const std::optional<double>& v, const char* unit) {
  if (!v) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", *v);
  return text + std::string(unit);
}

// The statistics of the period, by the route every report takes (ComputePeriod); with `chartColumns`
// also the chart and the days of the printed report.
std::optional<std::vector<ChannelStats>> Compute(Runner& r, const ReportArgs& a, Period& p,
                                                 StatsOptions& options, int chartColumns = 0,
                                                 PeriodResult* all = nullptr) {
  if (!LoadPeriod(r, a.period, p)) return std::nullopt;
  options = {p.from_ms, p.to_ms, a.low, a.high, a.mktDh, a.period.channels, a.lowRh, a.highRh};
  PeriodResult result;
  std::string error;
  if (!ComputePeriod(*p.archive, p.logger, *p.zone, options, chartColumns, true, result, error)) {
    Failed(r, error);
    return std::nullopt;
  }
  if (all == nullptr) return std::move(result.stats);
  *all = std::move(result);
  return all->stats;
}

// The hours of a channel whose readings changed after they were summarized, as runs in the report's zone.
std::vector<std::string> ChangedRuns(const ChannelStats& s, const TimeZone& zone) {
  std::vector<std::string> runs;
  for (const auto& [from, to] : HourRuns(s.changed_ms))
    runs.push_back(zone.Format(from / 1000) + " .. " + zone.Format(to / 1000));
  return runs;
}

Outcome Report(Runner& r, const ReportArgs& a) {
  Period p;
  StatsOptions options;
  PeriodResult result;
  const auto stats = Compute(r, a, p, options, a.pdf ? kReportChartColumns : 0, &result);
  if (!stats) return Outcome::Failed;
  if (stats->empty())
    return Failed(r, "no readings of " + p.logger.id.name + " from " + p.zone->Format(p.from_ms / 1000) +
                         " to " + p.zone->Format(p.to_ms / 1000));
  for (const ChannelStats& s : *stats) {
    const char* unit = s.unit == Unit::RelativeHumidity ? " %RH" : " °C";
    auto time = [&p](int64_t ms) { return p.zone->Format(ms / 1000); };
    // Earlier names of the period, the latest first.
    std::string named = "\"" + VisibleText(s.point) + "\"";
    for (size_t i = s.points.size(); i-- > 1;)
      named += (i + 1 == s.points.size() ? " (before " : ", before ") + time(s.points[i].from_ms) + ": \"" +
               VisibleText(s.points[i - 1].point) + (i == 1 ? "\")" : "\"");
    std::string human = "ch" + std::to_string(s.channel) + " " + named + ": readings " +
                        std::to_string(s.readings) + ", invalid " + std::to_string(s.invalid) + ", gaps " +
                        std::to_string(s.gap_s) + " s";
    if (s.min) {
      human += "\n  min " + Number(s.min, unit) + " at " + time(s.min_ms) + ", max " + Number(s.max, unit) +
               " at " + time(s.max_ms) + "\n  mean " + Number(s.mean, unit) + ", stddev " +
               Number(s.stddev, unit);
      if (s.unit == Unit::Celsius) human += ", MKT " + Number(s.mkt, unit);
    }
    if (s.above_s) human += "\n  above " + Number(s.high, unit) + ": " + std::to_string(*s.above_s) + " s";
    if (s.below_s) human += "\n  below " + Number(s.low, unit) + ": " + std::to_string(*s.below_s) + " s";
    for (const Excursion& e : s.excursions) {
      human += std::string("\n  excursion ") + (e.high ? "high" : "low") + " " + time(e.start_ms) + " .. " +
               time(e.end_ms) + " (" + std::to_string((e.end_ms - e.start_ms) / 1000) + " s), extreme " +
               Number(e.extreme, unit);
    }
    human += "\n  sha256 " + s.sha256;
    for (const std::string& run : ChangedRuns(s, *p.zone)) human += "\n  changed since summarised: " + run;
    r.ui().Print(human, StatsJson(s, p.logger.id.name, options, *p.zone));
  }
  if (!a.pdf) return Outcome::Completed;
  const ReportContext context{
      p.logger.id, p.from_ms, p.to_ms,
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count(),
      VELUTRON_VERSION};
  const ReportDocument document = MakeReportDocument(context, *p.zone, *stats, result.chart, result.days);
  return Draw(r, *a.pdf, {}, WriteReportDocument(document));
}

struct ChartArgs {
  PeriodArgs period;
  std::string out;
  int width = 1200;
  int height = 700;
};

Outcome Chart(Runner& r, const ChartArgs& a) {
  Period p;
  if (!LoadPeriod(r, a.period, p)) return Outcome::Failed;
  StatsOptions options{p.from_ms, p.to_ms, {}, {}, 83.144, a.period.channels, {}, {}};
  PeriodResult result;
  std::string error;
  // A picture cannot show more than its width in pixel columns, so no more goes to the drawing program.
  if (!ComputePeriod(*p.archive, p.logger, *p.zone, options, a.width, false, result, error))
    return Failed(r, error);
  if (!result.chart.HasValues()) {
    r.session().ui.ShowMessage(text::kCaptionWarning, "Brak pomiarów do narysowania wykresu !");
    return Outcome::Failed;
  }
  return Draw(r, a.out, {"--width", std::to_string(a.width), "--height", std::to_string(a.height)},
              WriteChartData(result.chart));
}

// One channel's line of a report that `archive report --json` wrote.
struct ReportedChannel {
  std::string logger;
  int channel = 0;
  Unit unit = Unit::Celsius;
  std::string from, to;  // as the report printed them, with their offsets
  std::string sha256;
  Json line;  // the whole line, for its figures
};

bool IsSha256(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// The `stats` lines of a report's JSON; its other lines (the result, messages) are passed over. Empty,
// with `why` set, when the text is not such a report.
std::vector<ReportedChannel> ReadReport(std::string_view text, const TimeZone& zone, std::string& why) {
  std::vector<ReportedChannel> channels;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // the byte order mark of an editor
  for (size_t number = 1; !text.empty(); ++number) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    const Json j = Json::parse(line.begin(), line.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
      why = where + "not a JSON object";
      return {};
    }
    const auto type = j.find("type");
    if (type == j.end() || !type->is_string()) {
      why = where + "an object without \"type\"";
      return {};
    }
    if (*type != "stats") continue;
    auto text_of = [&j](const char* key) {
      const auto it = j.find(key);
      return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    ReportedChannel c;
    c.logger = text_of("logger");
    const auto channel = j.find("channel");
    const std::string unit = text_of("unit");
    c.from = text_of("from");
    c.to = text_of("to");
    c.sha256 = text_of("sha256");
    const auto from = ParseTime(c.from, zone), to = ParseTime(c.to, zone);
    if (c.logger.empty()) {
      why = where + "no logger";
    } else if (channel == j.end() || !channel->is_number_integer() || channel->get<int64_t>() < 1 ||
               channel->get<int64_t>() > 10) {
      why = where + "no channel 1..10";
    } else if (unit != "°C" && unit != "%RH") {
      why = where + "no unit °C or %RH";
    } else if (!from || !to || *from >= *to) {
      why = where + "no period (from, to)";
    } else if (!IsSha256(c.sha256)) {
      why = where + "no sha256";
    }
    if (!why.empty()) return {};
    c.channel = static_cast<int>(channel->get<int64_t>());
    c.unit = unit == "%RH" ? Unit::RelativeHumidity : Unit::Celsius;
    c.line = j;
    channels.push_back(std::move(c));
  }
  if (channels.empty()) why = "no \"stats\" line: not what archive report --json writes";
  return channels;
}

// More than any report of ten channels and their excursions.
constexpr size_t kLargestReport = 64u << 20;

// The figures of a `stats` line that verify works out again; the hash is checked first, on its own.
constexpr const char* kFigures[] = {"readings", "invalid", "gap_s",       "min",         "min_time",  "max",
                                    "max_time", "mean",    "stddev",      "mkt",         "low",       "high",
                                    "above_s",  "below_s", "above_share", "below_share", "excursions"};

// Whether a figure of the report is the one worked out now: numbers exactly (the JSON round-trips
// them), times as the same moment whatever offset they were printed with.
bool SameFigure(const Json& reported, const Json& now, const TimeZone& zone) {
  if (reported.is_number() && now.is_number()) return reported.get<double>() == now.get<double>();
  if (reported.is_string() && now.is_string()) {
    const auto a = ParseTime(reported.get<std::string>(), zone), b = ParseTime(now.get<std::string>(), zone);
    return a && b ? *a == *b : reported == now;
  }
  if (reported.is_array() && now.is_array()) {
    if (reported.size() != now.size()) return false;
    for (size_t i = 0; i < now.size(); ++i) {
      if (!SameFigure(reported[i], now[i], zone)) return false;
    }
    return true;
  }
  if (reported.is_object() && now.is_object()) {
    if (reported.size() != now.size()) return false;
    for (const auto& [key, value] : now.items()) {
      const auto it = reported.find(key);
      if (it == reported.end() || !SameFigure(*it, value, zone)) return false;
    }
    return true;
  }
  return reported == now;
}

std::optional<double> NumberIn(const Json& line, const char* key) {
  const auto it = line.find(key);
  return it != line.end() && it->is_number() ? std::optional<double>(it->get<double>()) : std::nullopt;
}

// Each channel of a report checked against the archive as it is now, with the very computation the
// report made: its hash, then each of its figures worked out again with its own limits and ΔH.
Outcome VerifyReport(Runner& r, const ReportArgs& a, const std::string& file) {
  const auto bytes = ReadFileAtMost(PathFromUtf8(ChosenFile(file)), kLargestReport);
  std::string why = !bytes                           ? "cannot be read"
                    : bytes->size() > kLargestReport ? "too large for a report"
                                                     : "";
  std::string error;
  const auto zone = TimeZone::Named(a.period.zone, error);
  std::vector<ReportedChannel> reported;
  if (why.empty())
    reported = ReadReport({reinterpret_cast<const char*>(bytes->data()), bytes->size()}, *zone, why);
  if (!why.empty()) {
    r.ui().Refuse(file + ": " + why);
    return Outcome::Failed;
  }
  // Each logger, period, limits and ΔH worked out once, for all the lines that share them.
  struct Computed {
    bool ok = false;
    std::vector<ChannelStats> stats;
    std::vector<Json> lines;  // StatsJson of each
  };
  std::map<std::string, Computed> computed;
  using Limits = std::optional<std::pair<std::optional<double>, std::optional<double>>>;
  auto compute = [&](const ReportedChannel& c, const Limits& given, double dh) -> const Computed& {
    std::string key = c.logger + "\n" + c.from + "\n" + c.to + "\n" + Json(dh).dump();
    if (given)
      key += (c.unit == Unit::RelativeHumidity ? "\nrh\n" : "\n") +
             Json(given->first ? Json(*given->first) : Json()).dump() + "\n" +
             Json(given->second ? Json(*given->second) : Json()).dump();
    auto [it, fresh] = computed.try_emplace(key);
    if (!fresh) return it->second;
    ReportArgs same = a;
    same.period = {c.from, c.to, c.logger, {}, a.period.zone};
    // Only the channels the report has for that logger and period.
    for (const ReportedChannel& other : reported) {
      if (other.logger == c.logger && other.from == c.from && other.to == c.to)
        same.period.channels.push_back(other.channel);
    }
    // Given limits are those of the line's unit: --low/--high or --low-rh/--high-rh.
    const bool humidity = c.unit == Unit::RelativeHumidity;
    same.low = given && !humidity ? given->first : std::nullopt;
    same.high = given && !humidity ? given->second : std::nullopt;
    same.lowRh = given && humidity ? given->first : std::nullopt;
    same.highRh = given && humidity ? given->second : std::nullopt;
    same.mktDh = dh;
    Period p;
    StatsOptions options;
    if (auto stats = Compute(r, same, p, options)) {
      it->second.ok = true;
      for (const ChannelStats& s : *stats)
        it->second.lines.push_back(Json::parse(StatsJson(s, p.logger.id.name, options, *p.zone)));
      it->second.stats = std::move(*stats);
    }
    return it->second;
  };
  Outcome outcome = Outcome::Completed;
  for (const ReportedChannel& c : reported) {
    const Json& line = c.line;
    const double dh = NumberIn(line, "mkt_dh").value_or(kDefaultMktDh);
    const Limits own{{NumberIn(line, "low"), NumberIn(line, "high")}};
    const auto limits = line.find("limits");
    const Computed* now = &compute(c, limits != line.end() && *limits == "given" ? own : Limits(), dh);
    auto find = [&c](const Computed& done) {
      for (size_t k = 0; k < done.stats.size(); ++k) {
        if (done.stats[k].channel == c.channel && done.stats[k].unit == c.unit) return k;
      }
      return done.stats.size();
    };
    size_t k = find(*now);
    // A report from before its lines said which limits they took: the recorded ones, unless its limits
    // are not those.
    if (limits == line.end() && k < now->stats.size() &&
        (now->stats[k].low != own->first || now->stats[k].high != own->second)) {
      now = &compute(c, own, dh);
      k = find(*now);
    }
    if (!now->ok) {
      outcome = Outcome::Failed;
      continue;
    }
    const std::string what =
        "ch" + std::to_string(c.channel) + " (" + c.logger + ", " + c.from + " .. " + c.to + "): ";
    if (k == now->stats.size()) {
      Failed(r, what + "the readings no longer hash to " + c.sha256);
      outcome = Outcome::Failed;
      continue;
    }
    const ChannelStats& s = now->stats[k];
    const Json& figures = now->lines[k];
    bool same = true;
    if (s.sha256 != c.sha256) {
      Failed(r, what + "the readings no longer hash to " + c.sha256);
      same = false;
    }
    for (const char* name : kFigures) {
      const auto mine = figures.find(name);
      if (mine == figures.end()) continue;
      const auto theirs = line.find(name);
      if (theirs != line.end() && SameFigure(*theirs, *mine, *zone)) continue;
      Failed(r, what + name + " is " + (theirs == line.end() ? std::string("absent") : Dump(*theirs)) +
                    " in the report, " + Dump(*mine) + " from the readings");
      same = false;
    }
    for (const std::string& run : ChangedRuns(s, *zone)) {
      Failed(r, what + "the readings of " + run + " changed since that hour was summarised");
      same = false;
    }
    if (!same) {
      outcome = Outcome::Failed;
      continue;
    }
    r.ui().Print(what + "the readings still hash to " + c.sha256 + " and give every figure of the report",
                 Dump(Json{{"type", "verified"},
                           {"logger", c.logger},
                           {"channel", c.channel},
                           {"unit", c.unit == Unit::RelativeHumidity ? "%RH" : "°C"},
                           {"from", c.from},
                           {"to", c.to},
                           {"sha256", c.sha256}}));
  }
  return outcome;
}

Outcome Verify(Runner& r, const ReportArgs& a) {
  Period p;
  StatsOptions options;
  const auto stats = Compute(r, a, p, options);
  if (!stats) return Outcome::Failed;
  // The same readings may still have changed under the archive since their hours were summarized.
  auto changed = [&r, &p](const ChannelStats& s) {
    for (const std::string& run : ChangedRuns(s, *p.zone))
      Failed(r, "ch" + std::to_string(s.channel) + ": the readings of " + run +
                    " changed since that hour was summarised");
    return !s.changed_ms.empty();
  };
  for (const ChannelStats& s : *stats) {
    if (s.sha256 == a.hash) {
      if (changed(s)) return Outcome::Failed;
      r.ui().Print("ch" + std::to_string(s.channel) + ": the readings still hash to " + a.hash,
                   Dump(Json{{"type", "verified"}, {"channel", s.channel}, {"sha256", s.sha256}}));
      return Outcome::Completed;
    }
  }
  // The footer of a printed report of several channels carries one hash over all of them.
  if (stats->size() > 1 && CombinedHash(*stats) == a.hash) {
    bool any = false;
    for (const ChannelStats& s : *stats) any = changed(s) || any;
    if (any) return Outcome::Failed;
    r.ui().Print("all channels: the readings still hash to " + a.hash,
                 Dump(Json{{"type", "verified"}, {"channel", nullptr}, {"sha256", a.hash}}));
    return Outcome::Completed;
  }
  return Failed(r, "the readings of that period no longer hash to " + a.hash);
}

}  // namespace

void AddArchiveCommands(CLI::App& app, Command& chosen) {
  auto* archive = app.add_subcommand("archive", "the history of every logger: import, list, export, report");
  archive->require_subcommand(1);
  // Runs after the chosen command's own callback: a wait for the archive that Ctrl+C (or SIGTERM) ended
  // is a cancelled command, not a failed one.
  archive->callback([&chosen] {
    chosen = [command = std::move(chosen)](Runner& r) {
      const Outcome outcome = command(r);
      return outcome == Outcome::Failed && InterruptRequested() ? Outcome::Cancelled : outcome;
    };
  });

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

  auto listZone = std::make_shared<std::string>();
  auto* li = archive->add_subcommand("list", "loggers, channels, first and last reading, gaps");
  li->add_option("--tz", *listZone, "IANA time zone for the times shown (default: the machine's)");
  li->callback([&chosen, listZone] {
    CheckPeriod({"", "", "", {}, *listZone});
    chosen = [listZone](Runner& r) { return List(r, *listZone); };
  });

  auto exportArgs = std::make_shared<ExportArgs>();
  auto* ex = archive->add_subcommand("export", "the readings of a period as CSV, JSON or an xlsx workbook");
  AddPeriodOptions(ex, exportArgs->period);
  ex->add_option("--format", exportArgs->format, "csv, json or xlsx")
      ->required()
      ->check(CLI::IsMember({"csv", "json", "xlsx"}));
  ex->add_option("--out", exportArgs->out, "file to write (default: standard output; required for xlsx)");
  ex->add_flag("--texts", exportArgs->texts,
               "CSV: the logger's texts and the period as # lines before the header");
  ex->callback([&chosen, exportArgs] {
    CheckPeriod(exportArgs->period);
    if (exportArgs->texts && exportArgs->format != "csv")
      throw CLI::ValidationError("--texts is for --format csv only");
    if (exportArgs->format == "xlsx" && !exportArgs->out)
      throw CLI::ValidationError("--format xlsx needs --out FILE.xlsx");
    chosen = [exportArgs](Runner& r) { return Export(r, *exportArgs); };
  });

  auto report = std::make_shared<ReportArgs>();
  auto* re = archive->add_subcommand("report", "the statistics of a period, per channel");
  AddPeriodOptions(re, report->period);
  re->add_option("--low", report->low,
                 "low limit of temperature channels, °C (default: the limits recorded)");
  re->add_option("--high", report->high,
                 "high limit of temperature channels, °C (default: the limits recorded)");
  re->add_option("--low-rh", report->lowRh,
                 "low limit of humidity channels, %RH (default: the limits recorded)");
  re->add_option("--high-rh", report->highRh,
                 "high limit of humidity channels, %RH (default: the limits recorded)");
  re->add_option("--mkt-dh", report->mktDh, "activation energy for the MKT, kJ/mol (default 83.144)")
      ->check(CLI::PositiveNumber);
  re->add_option("--pdf", report->pdf, "also print the report as a PDF document (A4) into FILE");
  re->callback([&chosen, report] {
    CheckPeriod(report->period);
    chosen = [report](Runner& r) { return Report(r, *report); };
  });

  auto chart = std::make_shared<ChartArgs>();
  auto* ch = archive->add_subcommand("chart", "the chart of a period as a PNG or SVG picture");
  AddPeriodOptions(ch, chart->period);
  ch->add_option("--out", chart->out, "the picture: NAME.png or NAME.svg")
      ->required()
      ->check([](const std::string& n) {
        std::string lower = n;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower.ends_with(".png") || lower.ends_with(".svg") ? std::string()
                                                                  : std::string("must end in .png or .svg");
      });
  ch->add_option("--width", chart->width, "width in pixels (default 1200)")->check(CLI::Range(100, 10000));
  ch->add_option("--height", chart->height, "height in pixels (default 700)")->check(CLI::Range(100, 10000));
  ch->callback([&chosen, chart] {
    CheckPeriod(chart->period);
    chosen = [chart](Runner& r) { return Chart(r, *chart); };
  });

  auto verify = std::make_shared<ReportArgs>();
  auto* ve = archive->add_subcommand(
      "verify",
      "exit 0 when the readings of a report (REPORT.json, or a period and --hash H) still hash the same");
  ve->add_option("REPORT", verify->report, "what archive report --json printed, saved in a file");
  ve->add_option("--hash", verify->hash, "the sha256 of a report");
  AddPeriodOptions(ve, verify->period, false);
  ve->callback([&chosen, verify] {
    const ReportArgs& v = *verify;
    CheckPeriod(v.period);
    if (v.report.empty() == v.hash.empty())
      throw CLI::ValidationError("verify", "give either a REPORT.json or --hash H with --from and --to");
    if (!v.report.empty() && (!v.period.from.empty() || !v.period.to.empty() || !v.period.logger.empty() ||
                              !v.period.channels.empty()))
      throw CLI::ValidationError("REPORT", "the report names its logger, period and channels itself");
    if (!v.hash.empty() && (v.period.from.empty() || v.period.to.empty()))
      throw CLI::ValidationError("--hash", "needs --from and --to");
    chosen = [verify](Runner& r) {
      return verify->report.empty() ? Verify(r, *verify) : VerifyReport(r, *verify, verify->report);
    };
  });
}

}  // namespace velutron::cli
