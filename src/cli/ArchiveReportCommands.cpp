// archive report, chart: the statistics of a period, printed or as JSON, and its chart.

#include <CLI/CLI.hpp>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "archive/PointNames.h"
#include "cli/ArchiveCommands.h"
#include "link/Link.h"
#include "platform/Console.h"
#include "platform/Process.h"
#include "platform/Spawn.h"
#include "platform/Utf8Path.h"

namespace velutron::cli {

using namespace archive;

namespace {

// Hands velutron-draw what it draws on its standard input; the file is written whole or not at all.
Outcome Draw(Runner& r, const std::string& out, std::vector<std::string> args, const std::string& input) {
  Session& s = r.session();
  const auto program = DrawingProgram();
  if (!program) return Outcome::Failed;
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

}  // namespace

// The statistics of the period, by the route every report takes (ComputePeriod); with `chartColumns`
// also the chart and the days of the printed report.
std::optional<std::vector<ChannelStats>> Compute(Runner& r, const ReportArgs& a, Period& p,
                                                 StatsOptions& options, int chartColumns, PeriodResult* all) {
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

void AddArchiveReportCommands(CLI::App* archive, Command& chosen) {
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
}

}  // namespace velutron::cli
