#pragma once

// The period report as a document: the chart of the period, the statistics, the excursions and the
// day-by-day figures, laid out as headings, tables and lines of Polish text. The core builds it; the
// desktop program and velutron-draw print it (ReportPdf), so both print the same document.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "archive/Archive.h"
#include "archive/SpacingGaps.h"
#include "archive/Statistics.h"
#include "archive/TimeZone.h"
#include "data/ChartSeries.h"

namespace velutron::archive {

// One piece of the document, in reading order.
struct ReportBlock {
  enum class Kind : uint8_t { Heading, Lines, Table, Chart };
  Kind kind = Kind::Lines;
  std::string text;                            // Heading
  std::vector<std::vector<std::string>> rows;  // Lines: one cell a row; Table: the first row is the header
  std::string chart;                           // Chart: WriteChartData's text
};

struct ReportDocument {
  std::string title;
  std::vector<ReportBlock> blocks;
  std::string footer;  // left of the page number on every page
  std::string hash;    // the data's SHA-256, printed under the footer
};

// The document as text for velutron-draw's standard input, and back (nullopt for anything else).
std::string WriteReportDocument(const ReportDocument& document);
std::optional<ReportDocument> ReadReportDocument(std::string_view text);

// A channel's valid readings of one local day.
struct DayFigures {
  int64_t day = 0;  // local wall seconds of its midnight
  int channel = 0;
  Unit unit = Unit::Celsius;
  size_t readings = 0;
  double min = 0, max = 0, sum = 0;
  int64_t sum_steps = 0;  // the sum in the sensor's steps, exact whatever the order
};

// The chart of a period reduced to `columns` pixel columns and the day-by-day figures, fed the
// period's readings one at a time (as PeriodArchive::Period gives them), so a year never sits in memory.
class PeriodChartBuilder {
 public:
  PeriodChartBuilder(const TimeZone& zone, int64_t from_ms, int64_t to_ms, int columns,
                     std::vector<ChannelEntry> channels, std::vector<int> only);
  void Add(const PeriodPoint& point);
  // The logger's gaps in the period (SpacingGapsOf): no line is drawn across one.
  void Breaks(const std::vector<SpacingGap>& gaps);
  // The part of the period that holds readings: the zone's changes of offset are looked for there
  // alone, so that a period of centuries costs what its readings cost.
  void Readings(int64_t from_ms, int64_t to_ms);
  ChartData Chart(std::string title) const;
  std::vector<DayFigures> Days() const;

 private:
  struct Column {
    std::optional<ChartPoint> low, high;
  };
  struct Line {
    int channel = 0;
    Unit unit = Unit::Celsius;
    std::vector<Column> columns;
  };
  double LocalSeconds(int64_t utc_ms);
  int ColumnOf(double x) const;
  Line& LineOf(int channel, Unit unit);
  DayFigures& DayOf(double x, int channel, Unit unit, double value);

  const TimeZone& zone_;
  int64_t from_ms_ = 0, to_ms_ = 0;
  double from_ = 0, to_ = 0;
  int columns_ = 1;
  std::vector<ChannelEntry> channels_;
  std::vector<int> only_;
  std::vector<Line> lines_;
  std::vector<bool> missing_;
  std::vector<double> breaks_;
  int64_t readFrom_ = INT64_MIN, readTo_ = INT64_MAX;  // the whole period unless told
  std::map<std::tuple<int64_t, int, Unit>, DayFigures> days_;
  DayFigures* lastDay_ = nullptr;
  int64_t cachedSlot_ = INT64_MIN, cachedOffset_ = 0;
};

// The footer's one hash over several channels: the SHA-256 of the channels' hashes in hexadecimal, in
// the order of the statistics, each followed by a line feed. With one channel it is that channel's hash.
std::string CombinedHash(const std::vector<ChannelStats>& stats);

// A channel's changed hours (ChannelStats::changed_ms) as runs of consecutive hours [from, to).
std::vector<std::pair<int64_t, int64_t>> HourRuns(const std::vector<int64_t>& changed_ms);

struct ReportContext {
  LoggerId logger;
  int64_t from_ms = 0, to_ms = 0;
  int64_t generated_utc_s = 0;
  std::string version;
};

ReportDocument MakeReportDocument(const ReportContext& context, const TimeZone& zone,
                                  const std::vector<ChannelStats>& stats, const ChartData& chart,
                                  const std::vector<DayFigures>& days);

// The statistics table of the document (figures down, channels across), for the desktop window too;
// with `offsets` each time carries its offset.
std::vector<std::vector<std::string>> StatisticsTable(const std::vector<ChannelStats>& stats,
                                                      const TimeZone& zone, bool offsets = false);

// Everything the report and the chart of a period need, read from the archive in one pass: every
// report (JSON, PDF, the desktop's window, verify) takes its figures from the readings this way. The
// hourly summaries kept only check them: an hour whose readings no longer give its summary is named in
// its channel's `changed_ms`.
struct PeriodResult {
  std::vector<ChannelStats> stats;
  ChartData chart;
  std::vector<DayFigures> days;
};
// Without `withStats` only the chart and the days (for a chart alone); with `chartColumns` 0 no chart
// and no days (the statistics alone).
bool ComputePeriod(PeriodArchive& archive, const LoggerEntry& logger, const TimeZone& zone,
                   const StatsOptions& options, int chartColumns, bool withStats, PeriodResult& result,
                   std::string& error);

}  // namespace velutron::archive
