#include "session/ChartData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace velutron {

namespace {

// Column of x, or -1 / `columns` beyond the range.
long Column(double x, double from, double to, int columns) {
  if (x < from) return -1;
  if (x > to) return columns;
  const double width = to > from ? to - from : 1;
  return std::min<long>(static_cast<long>((x - from) / width * columns), columns - 1);
}

}  // namespace

bool ChartData::HasValues() const {
  return std::any_of(lines.begin(), lines.end(), [](const ChartLine& l) { return !l.points.empty(); });
}

std::vector<ChartPoint> ReduceToColumns(std::span<const ChartPoint> points, double from, double to,
                                        int columns) {
  struct Extremes {
    size_t low = 0;
    size_t high = 0;
    bool any = false;
  };
  columns = std::max(columns, 1);
  // Two more for the nearest point on each side of the range.
  std::vector<Extremes> column(static_cast<size_t>(columns) + 2);
  for (size_t i = 0; i < points.size(); ++i) {
    const double x = points[i].x;
    const double y = points[i].y;
    if (!std::isfinite(x) || !std::isfinite(y)) continue;
    const long c = Column(x, from, to, columns);
    Extremes& e = column[static_cast<size_t>(c + 1)];
    if (!e.any) {
      e = {i, i, true};
    } else if (c < 0) {
      if (x > points[e.low].x) e.low = e.high = i;
    } else if (c >= columns) {
      if (x < points[e.low].x) e.low = e.high = i;
    } else {
      if (y < points[e.low].y) e.low = i;
      if (y > points[e.high].y) e.high = i;
    }
  }
  std::vector<ChartPoint> reduced;
  for (const Extremes& e : column) {
    if (!e.any) continue;
    const size_t first = std::min(e.low, e.high);
    const size_t second = std::max(e.low, e.high);
    reduced.push_back(points[first]);
    if (second != first) reduced.push_back(points[second]);
  }
  return reduced;
}

std::vector<ChartPoint> OneMarkPerColumn(std::span<const ChartPoint> points, double from, double to,
                                         int columns) {
  columns = std::max(columns, 1);
  std::vector<ChartPoint> marks;
  long last = std::numeric_limits<long>::min();
  std::vector<ChartPoint> sorted(points.begin(), points.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const ChartPoint& a, const ChartPoint& b) { return a.x < b.x; });
  for (const ChartPoint& p : sorted) {
    const long c = Column(p.x, from, to, columns);
    if (c < 0 || c >= columns || c == last) continue;
    last = c;
    marks.push_back(p);
  }
  return marks;
}

ChartRange TimeRange(const ChartData& chart) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  auto take = [&](double x) {
    low = std::min(low, x);
    high = std::max(high, x);
  };
  for (const ChartLine& l : chart.lines) {
    for (const ChartPoint& p : l.points) take(p.x);
  }
  for (double x : chart.missing) take(x);
  if (low > high) return {0, 1};
  return {low, high};
}

double LocalX(const ChartData& chart, double x) {
  double offset = chart.offsets.empty() ? 0 : chart.offsets.front().offset_s;
  for (const ChartOffset& o : chart.offsets) {
    if (o.from <= x) offset = o.offset_s;
  }
  return x + offset;
}

std::optional<ChartRange> ValueRange(const ChartData& chart, Quantity quantity) {
  std::optional<ChartRange> range;
  for (const ChartLine& l : chart.lines) {
    if (l.quantity != quantity) continue;
    for (const ChartPoint& p : l.points) {
      if (!range) range = ChartRange{p.y, p.y};
      range->low = std::min(range->low, p.y);
      range->high = std::max(range->high, p.y);
    }
  }
  return range;
}

ChartData ReducedForWidth(const ChartData& chart, int columns) {
  const ChartRange r = TimeRange(chart);
  ChartData reduced{chart.title, chart.axis, {}, {}, {}, {}, chart.offsets, chart.breaks};
  for (const ChartLine& l : chart.lines) {
    reduced.lines.push_back({l.quantity, l.name, ReduceToColumns(l.points, r.low, r.high, columns), l.colour});
  }
  reduced.on = ReduceToColumns(chart.on, r.low, r.high, columns);
  reduced.off = ReduceToColumns(chart.off, r.low, r.high, columns);
  // The records without a value: where they are, at most two a column.
  std::vector<ChartPoint> missing;
  for (double x : chart.missing) missing.push_back({x, 0});
  for (const ChartPoint& p : ReduceToColumns(missing, r.low, r.high, columns)) reduced.missing.push_back(p.x);
  return reduced;
}

// The text form: "velutron-chart 1", then lines of tab-separated fields:
//   title TEXT | axis time|record | line C|RH NAME | p X Y (a point of the last line) | on X Y | off X Y |
//   missing X | offset X SECONDS (a UTC axis: its labels' offset from X on) | break X
namespace {

constexpr std::string_view kFirstLine = "velutron-chart 1";

void AppendNumber(std::string& out, double v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, ec == std::errc() ? end : buf);
}

std::string OneLine(std::string_view text) {
  std::string s(text);
  std::replace_if(
      s.begin(), s.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
  return s;
}

bool ParseNumber(std::string_view field, double& v) {
  if (field.empty()) return false;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
  return ec == std::errc() && end == field.data() + field.size() && std::isfinite(v);
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

std::string WriteChartData(const ChartData& chart) {
  std::string out(kFirstLine);
  out += "\ntitle\t" + OneLine(chart.title) + "\naxis\t" +
         (chart.axis == ChartAxis::Time ? "time" : "record") + "\n";
  auto point = [&out](std::string_view kind, const ChartPoint& p) {
    out += kind;
    out += '\t';
    AppendNumber(out, p.x);
    out += '\t';
    AppendNumber(out, p.y);
    out += '\n';
  };
  for (const ChartLine& l : chart.lines) {
    out += std::string("line\t") + (l.quantity == Quantity::Humidity ? "RH" : "C") + "\t" + OneLine(l.name) +
           (l.colour >= 0 ? "\t" + std::to_string(l.colour) : "") + "\n";
    for (const ChartPoint& p : l.points) point("p", p);
  }
  for (const ChartPoint& p : chart.on) point("on", p);
  for (const ChartPoint& p : chart.off) point("off", p);
  for (double x : chart.missing) {
    out += "missing\t";
    AppendNumber(out, x);
    out += '\n';
  }
  for (const ChartOffset& o : chart.offsets) point("offset", {o.from, o.offset_s});
  for (double x : chart.breaks) {
    out += "break\t";
    AppendNumber(out, x);
    out += '\n';
  }
  return out;
}

std::optional<ChartData> ReadChartData(std::string_view text) {
  ChartData chart;
  bool first = true;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (first) {
      if (line != kFirstLine) return std::nullopt;
      first = false;
      continue;
    }
    const auto f = Fields(line);
    ChartPoint p;
    const bool twoNumbers = f.size() == 3 && ParseNumber(f[1], p.x) && ParseNumber(f[2], p.y);
    if (f[0] == "title" && f.size() == 2) {
      chart.title = f[1];
    } else if (f[0] == "axis" && f.size() == 2 && (f[1] == "time" || f[1] == "record")) {
      chart.axis = f[1] == "time" ? ChartAxis::Time : ChartAxis::RecordNumber;
    } else if (f[0] == "line" && (f.size() == 3 || (f.size() == 4 && ParseNumber(f[3], p.x) && p.x >= 0 &&
                                                   p.x < 1000 && p.x == std::floor(p.x))) &&
               (f[1] == "C" || f[1] == "RH")) {
      chart.lines.push_back({f[1] == "RH" ? Quantity::Humidity : Quantity::Temperature, std::string(f[2]), {},
                             f.size() == 4 ? static_cast<int>(p.x) : -1});
    } else if (f[0] == "p" && twoNumbers && !chart.lines.empty()) {
      chart.lines.back().points.push_back(p);
    } else if ((f[0] == "on" || f[0] == "off") && twoNumbers) {
      (f[0] == "on" ? chart.on : chart.off).push_back(p);
    } else if (f[0] == "missing" && f.size() == 2 && ParseNumber(f[1], p.x)) {
      chart.missing.push_back(p.x);
    } else if (f[0] == "offset" && twoNumbers) {
      chart.offsets.push_back({p.x, p.y});
    } else if (f[0] == "break" && f.size() == 2 && ParseNumber(f[1], p.x) &&
               (chart.breaks.empty() || chart.breaks.back() <= p.x)) {
      chart.breaks.push_back(p.x);
    } else {
      return std::nullopt;
    }
  }
  if (first) return std::nullopt;
  return chart;
}

}  // namespace velutron
