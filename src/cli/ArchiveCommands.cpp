// archive import, list, export, report, verify: the history of every logger across downloads and
// stations. What the commands share is here; each group of them is in its own file.

#include "cli/ArchiveCommands.h"

#include "archive/Location.h"
#include "platform/Process.h"

namespace velutron::cli {

using namespace archive;

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

void AddPeriodOptions(CLI::App* c, PeriodArgs& a, bool required) {
  c->add_option("--from", a.from, "start, inclusive (2026-12-01, 2026-12-01T08:00, ...Z, ...+01:00)")
      ->required(required);
  c->add_option("--to", a.to, "end, exclusive")->required(required);
  c->add_option("--logger", a.logger, "the logger's name in the archive (default: the only one)");
  c->add_option("--channel", a.channels, "channels to take (default: all)")->check(CLI::Range(1, 10));
  c->add_option("--tz", a.zone, "IANA time zone for the times read and shown (default: the machine's)");
}

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

std::unique_ptr<PeriodArchive> OpenFromOptions(Runner& r, OpenMode mode) {
  std::string error;
  const std::string& location = r.options().archive;
  const bool server = IsServerLocation(location);
  auto a = OpenPeriodArchive(server ? location : ChosenFile(location), error, mode);
  if (!a) Failed(r, "archive " + MaskedLocation(location) + ": " + error);
  return a;
}

namespace {

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

}  // namespace

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

  AddArchiveImportCommands(archive, chosen);
  AddArchiveListCommands(archive, chosen);
  AddArchiveExportCommands(archive, chosen);
  AddArchiveReportCommands(archive, chosen);
  AddArchiveVerifyCommands(archive, chosen);
}

}  // namespace velutron::cli
