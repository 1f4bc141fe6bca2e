#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velutron {

// What a reading holds.
enum class Quantity : uint8_t { Temperature, Humidity };

// What a chart shows, as numbers: built by the core from a database (or, later, an archive's period),
// drawn by the desktop program's window and by the drawing program of the command line.
struct ChartPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const ChartPoint&, const ChartPoint&) = default;
};

// The horizontal axis: seconds of the logger's local civil time counted from 1970-01-01 00:00 (as if it
// were UTC, so no zone or summer time shifts a stamp; an archive's chart counts UTC seconds instead and
// carries its zone's offsets), or the record number when no record has a time.
enum class ChartAxis : uint8_t { Time, RecordNumber };

struct ChartLine {
  Quantity quantity = Quantity::Temperature;
  std::string name;  // "1. Suchy [°C]"
  std::vector<ChartPoint> points;
  int colour = -1;  // its place in the palette, so a channel keeps its colour; -1: the line's place
};

// From `from` on, the labels of a time axis in UTC show x + offset_s.
struct ChartOffset {
  double from = 0;
  double offset_s = 0;
  friend bool operator==(const ChartOffset&, const ChartOffset&) = default;
};

struct ChartData {
  std::string title;
  ChartAxis axis = ChartAxis::Time;
  std::vector<ChartLine> lines;
  std::vector<ChartPoint> on;   // ON marks, on channel 1's value
  std::vector<ChartPoint> off;  // OFF marks
  std::vector<double> missing;  // records without a value in some channel, marked along the bottom
  // Empty: x is local civil time (a database file's stamps). Otherwise x is UTC seconds, continuous
  // across changes of the clocks (an archive's period), and these are the zone's offsets, oldest first.
  std::vector<ChartOffset> offsets;
  std::vector<double> breaks;  // gaps in the records, ascending: no line is drawn across one

  bool HasValues() const;
};

// Shown, and the chart not drawn, when no record has a value.
inline constexpr std::string_view kNothingToDraw = "Brak pomiarów do narysowania wykresu !";

// The points that draw the same picture over `columns` pixel columns from `from` to `to`: in each column
// its lowest and highest point, in their order along the axis; beyond the range only the nearest point
// on each side, so the lines leaving the picture keep their slope.
std::vector<ChartPoint> ReduceToColumns(std::span<const ChartPoint> points, double from, double to,
                                        int columns);
// The same for marks: one per column.
std::vector<ChartPoint> OneMarkPerColumn(std::span<const ChartPoint> points, double from, double to,
                                         int columns);

// Every line and mark reduced to `columns` over the whole range of the chart (what a picture that wide
// can show), so that a year of data goes to the drawing program as a few thousand points.
ChartData ReducedForWidth(const ChartData& chart, int columns);
// The horizontal range covered by every record, and the vertical ranges of the temperatures and the
// humidities (nullopt when the chart has none).
struct ChartRange {
  double low = 0;
  double high = 0;
};
ChartRange TimeRange(const ChartData& chart);
// The local time of x: x itself on a local axis, x plus the offset in force on a UTC one.
double LocalX(const ChartData& chart, double x);
std::optional<ChartRange> ValueRange(const ChartData& chart, Quantity quantity);

// The text form in which the command line hands a chart to the drawing program: a line per item,
// tab-separated, numbers with "." as the decimal mark.
std::string WriteChartData(const ChartData& chart);
// nullopt for text that is not such a chart.
std::optional<ChartData> ReadChartData(std::string_view text);

}  // namespace velutron
