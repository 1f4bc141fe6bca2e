#pragma once

// What the archive's commands share: the period options, the archive and logger they name, and the
// statistics every report works out. Each group of commands is in its own file.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/PeriodReport.h"
#include "archive/Statistics.h"
#include "archive/TimeZone.h"
#include "cli/Runner.h"

namespace velutron::cli {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& j);

// The period options every query shares.
struct PeriodArgs {
  std::string from, to;
  std::string logger;
  std::vector<int> channels;
  std::string zone;
};

void AddPeriodOptions(CLI::App* c, PeriodArgs& a, bool required = true);

// Checked while the command line is parsed, so that a bad one exits with the usage code.
void CheckPeriod(const PeriodArgs& a);

Outcome Failed(Runner& r, const std::string& why);

// Only an import creates the archive: every other command reads one that is there, and writes nothing
// into a file that is not one.
std::unique_ptr<archive::PeriodArchive> OpenFromOptions(Runner& r,
                                                        archive::OpenMode mode = archive::OpenMode::Existing);

// Everything a period query needs, loaded once.
struct Period {
  std::unique_ptr<archive::PeriodArchive> archive;
  std::optional<archive::TimeZone> zone;
  archive::LoggerEntry logger;
  int64_t from_ms = 0, to_ms = 0;
  std::vector<archive::ChannelEntry> channels;
};

// The readings themselves are read a slice or one at a time by each command.
bool LoadPeriod(Runner& r, const PeriodArgs& a, Period& p);

struct ReportArgs {
  PeriodArgs period;
  std::optional<double> low, high;
  std::optional<double> lowRh, highRh;
  double mktDh = 83.144;
  std::string hash;    // verify
  std::string report;  // verify: a report's JSON lines instead of the hash and the period
  std::optional<std::string> pdf;
};

// The statistics of the period, by the route every report takes (ComputePeriod); with `chartColumns`
// also the chart and the days of the printed report.
std::optional<std::vector<archive::ChannelStats>> Compute(Runner& r, const ReportArgs& a, Period& p,
                                                          archive::StatsOptions& options,
                                                          int chartColumns = 0,
                                                          archive::PeriodResult* all = nullptr);

// The commands of `archive`, each group in its own file, added in the order `archive --help` lists them.
void AddArchiveImportCommands(CLI::App* archive, Command& chosen);
void AddArchiveListCommands(CLI::App* archive, Command& chosen);
void AddArchiveExportCommands(CLI::App* archive, Command& chosen);
void AddArchiveReportCommands(CLI::App* archive, Command& chosen);
void AddArchiveVerifyCommands(CLI::App* archive, Command& chosen);

}  // namespace velutron::cli
