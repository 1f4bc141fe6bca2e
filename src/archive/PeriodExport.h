#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/TimeZone.h"
#include "data/Workbook.h"

namespace velutron::archive {

// The readings of [from_ms, to_ms) a day at a time, handed to `take` until it returns false (or
// `taken` is false); days are sliced only where readings exist, so a period of centuries costs what its
// readings cost. False with `error` set when the archive fails.
bool ForEachDay(PeriodArchive& archive, int64_t logger, int64_t from_ms, int64_t to_ms,
                const std::function<bool(const std::vector<PeriodPoint>&)>& take, bool& taken,
                std::string& error);

enum class PeriodFormat { Csv, Json };

struct PeriodExportOptions {
  int64_t from_ms = 0;
  int64_t to_ms = 0;
  std::vector<int> channels;  // empty: all
  // CSV: the logger's texts and the period as "# " lines before the header. Off by default, since
  // readers take the first line as the header.
  bool texts = false;
};

struct SeriesKey {
  int channel = 0;
  Unit unit = Unit::Celsius;
  bool operator<(const SeriesKey& o) const {
    return channel != o.channel ? channel < o.channel : unit < o.unit;
  }
  bool operator==(const SeriesKey&) const = default;
};

// The export written piece by piece: the head, then the rows of each slice of the period in time
// order, then the end; a year need never sit in memory. `columns` are the channels and units shown.
class PeriodWriter {
 public:
  PeriodWriter(const LoggerEntry& logger, const std::vector<ChannelEntry>& channels,
               std::vector<SeriesKey> columns, const PeriodExportOptions& options, const TimeZone& zone,
               PeriodFormat format);
  std::string Head() const;
  // Points of one slice of time, in any order.
  std::string Rows(const std::vector<PeriodPoint>& points);
  std::string End() const;

  // The workbook, with the sheets of a database's (Export.h): "Pomiary", a row per time with real
  // date-times in the zone and a number per channel and unit, and "Opis", the logger's texts. The
  // switching and ON/OFF columns stay empty: the archive keeps neither.
  std::vector<std::string> SheetHeaders() const;
  std::vector<size_t> SheetWidths() const;
  // The rows of one slice of time, after those of the slices before it; false when `row` is.
  bool SheetRows(const std::vector<PeriodPoint>& points,
                 const std::function<bool(const std::vector<SheetCell>&)>& row);
  SheetTable TextsSheet() const;

 private:
  std::string ColumnName(const SeriesKey& c) const;
  std::string Time(int64_t ms) const { return zone_.Format(ms / 1000); }
  const LoggerEntry& logger_;
  std::vector<SeriesKey> columns_;
  std::map<int, std::string> names_;
  PeriodExportOptions options_;
  const TimeZone& zone_;
  PeriodFormat format_;
  bool first_ = true;
  size_t number_ = 0;  // of the workbook's rows
};

// A logger's readings over a period in the format of the database export: one row (or object) per
// time, ISO 8601 times with the zone's offset, "." decimals, markers in the status, UTF-8.
std::string ExportPeriod(const std::vector<PeriodPoint>& points, const LoggerEntry& logger,
                         const std::vector<ChannelEntry>& channels, const PeriodExportOptions& options,
                         const TimeZone& zone, PeriodFormat format);

}  // namespace velutron::archive
