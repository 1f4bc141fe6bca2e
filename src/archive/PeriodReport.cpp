#include "archive/PeriodReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "archive/PointNames.h"
#include "archive/Sha256.h"
#include "archive/Summary.h"

namespace velutron::archive {

namespace {

using Json = nlohmann::json;

constexpr const char* kDocumentKind = "velutron-report 1";
constexpr size_t kChannelsPerTable = 4;  // what fits across an A4 page beside the labels

const char* UnitText(Unit u) { return u == Unit::RelativeHumidity ? "%RH" : "°C"; }

// A number as the Polish regional settings show it: a decimal comma.
std::string Decimal(double v, int places) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", places, v);
  std::string s = text;
  // No "-0,00" for a value that rounds to zero.
  if (s.starts_with("-0") && s.find_first_not_of("0.", 1) == std::string::npos) s.erase(0, 1);
  std::replace(s.begin(), s.end(), '.', ',');
  return s;
}

// A reading at the sensor's resolution (1/16 °C, 0.1 %RH): its decimals, no trailing zeros beyond one.
std::string Reading(double v) {
  std::string s = Decimal(v, 4);
  while (s.size() > 2 && s.back() == '0' && s[s.size() - 2] != ',') s.pop_back();
  return s;
}

std::string WithUnit(const std::optional<double>& v, Unit u, int places = -1) {
  if (!v) return "—";
  return (places < 0 ? Reading(*v) : Decimal(*v, places)) + " " + UnitText(u);
}

// With `offset` (a period across a change of the clocks, where an autumn 02:59 comes twice) the offset
// follows: "2026-10-25 02:59:00 +01:00".
std::string LocalTime(const TimeZone& zone, int64_t utc_ms, bool offset = false) {
  const int64_t s = utc_ms >= 0 ? utc_ms / 1000 : -((999 - utc_ms) / 1000);
  const CivilTime c = CivilOf(s + zone.OffsetAt(s));
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                c.second);
  return offset ? text + (" " + OffsetText(zone.OffsetAt(s))) : text;
}

// The zone's changes of offset inside [from_ms, to_ms).
std::vector<TimeZone::Change> ChangesIn(const TimeZone& zone, int64_t from_ms, int64_t to_ms) {
  return zone.Changes(from_ms / 1000, to_ms / 1000 - 1);
}

std::string Day(int64_t wall_s) {
  const CivilTime c = CivilOf(wall_s);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", c.year, c.month, c.day);
  return text;
}

std::string Duration(int64_t s) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(s / 3600),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  return text;
}

std::string Share(const std::optional<double>& share) {
  return share ? Decimal(*share * 100.0, 2) + " %" : "—";
}

// "Europe/Warsaw (UTC+02:00; UTC+01:00 od 2026-10-25 02:00:00 +01:00)": each offset of the period.
std::string ZoneText(const TimeZone& zone, int64_t from_ms, int64_t to_ms) {
  std::string text = "UTC" + OffsetText(zone.OffsetAt(from_ms / 1000));
  for (const TimeZone::Change& c : ChangesIn(zone, from_ms, to_ms))
    text += "; UTC" + OffsetText(c.after) + " od " + LocalTime(zone, c.utc_s * 1000, true);
  return (zone.Name().empty() ? std::string("strefa systemu") : zone.Name()) + " (" + text + ")";
}

std::string ChannelTitle(int channel, const std::string& point, Unit unit) {
  std::string name = std::to_string(channel) + ".";
  if (!point.empty()) name += " " + point;
  return name + " [" + UnitText(unit) + "]";
}

ReportBlock Heading(std::string text) { return {ReportBlock::Kind::Heading, std::move(text), {}, {}}; }
ReportBlock Lines(std::vector<std::string> lines) {
  ReportBlock b{ReportBlock::Kind::Lines, {}, {}, {}};
  for (std::string& l : lines) b.rows.push_back({std::move(l)});
  return b;
}

}  // namespace

std::string WriteReportDocument(const ReportDocument& document) {
  Json j{{"kind", kDocumentKind},
         {"title", document.title},
         {"footer", document.footer},
         {"hash", document.hash}};
  j["blocks"] = Json::array();
  static constexpr const char* kKinds[] = {"heading", "lines", "table", "chart"};
  for (const ReportBlock& b : document.blocks) {
    j["blocks"].push_back(
        {{"kind", kKinds[static_cast<int>(b.kind)]}, {"text", b.text}, {"rows", b.rows}, {"chart", b.chart}});
  }
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<ReportDocument> ReadReportDocument(std::string_view text) {
  const Json j = Json::parse(text, nullptr, false);
  if (!j.is_object() || j.value("kind", "") != kDocumentKind) return std::nullopt;
  ReportDocument d;
  try {
    d.title = j.at("title").get<std::string>();
    d.footer = j.at("footer").get<std::string>();
    d.hash = j.at("hash").get<std::string>();
    for (const Json& b : j.at("blocks")) {
      static constexpr std::string_view kKinds[] = {"heading", "lines", "table", "chart"};
      const std::string kind = b.at("kind").get<std::string>();
      const auto* found = std::find(std::begin(kKinds), std::end(kKinds), kind);
      if (found == std::end(kKinds)) return std::nullopt;
      d.blocks.push_back(
          {static_cast<ReportBlock::Kind>(found - std::begin(kKinds)), b.at("text").get<std::string>(),
           b.at("rows").get<std::vector<std::vector<std::string>>>(), b.at("chart").get<std::string>()});
      if (d.blocks.back().kind == ReportBlock::Kind::Chart && !ReadChartData(d.blocks.back().chart))
        return std::nullopt;
    }
  } catch (const Json::exception&) {
    return std::nullopt;
  }
  return d;
}

PeriodChartBuilder::PeriodChartBuilder(const TimeZone& zone, int64_t from_ms, int64_t to_ms, int columns,
                                       std::vector<ChannelEntry> channels, std::vector<int> only)
    : zone_(zone),
      from_ms_(from_ms),
      to_ms_(to_ms),
      columns_(std::max(1, columns)),
      channels_(std::move(channels)),
      only_(std::move(only)) {
  // The axis is UTC, continuous across changes of the clocks; the labels add the zone's offsets.
  from_ = static_cast<double>(from_ms / 1000);
  to_ = std::max(from_ + 1, static_cast<double>(to_ms / 1000));
  missing_.assign(static_cast<size_t>(columns_), false);
}

double PeriodChartBuilder::LocalSeconds(int64_t utc_ms) {
  const int64_t s = utc_ms / 1000;
  // Offsets change at most on the quarter hour; asking the C library for every reading of a year is slow.
  const int64_t slot = s / 900;
  if (slot != cachedSlot_) {
    cachedSlot_ = slot;
    cachedOffset_ = zone_.OffsetAt(s);
  }
  return static_cast<double>(s + cachedOffset_);
}

int PeriodChartBuilder::ColumnAt(int64_t utc_s, double x) const {
  // Columns of a block or more take whole blocks, by where each block starts, so that a long period
  // is drawn from the blocks' summaries alone.
  if ((to_ - from_) / columns_ >= static_cast<double>(kBlockSeconds))
    return ColumnOf(x - static_cast<double>(utc_s - BlockOf(utc_s) * kBlockSeconds));
  return ColumnOf(x);
}

int PeriodChartBuilder::ColumnOf(double x) const {
  const double c = std::floor((x - from_) / (to_ - from_) * columns_);
  return static_cast<int>(std::clamp(c, 0.0, static_cast<double>(columns_ - 1)));
}

PeriodChartBuilder::Line& PeriodChartBuilder::LineOf(int channel, Unit unit) {
  if (lines_.empty() || lines_.back().channel != channel || lines_.back().unit != unit) {
    auto found = std::find_if(lines_.begin(), lines_.end(),
                              [&](const Line& l) { return l.channel == channel && l.unit == unit; });
    if (found == lines_.end()) {
      lines_.push_back({channel, unit, std::vector<Column>(static_cast<size_t>(columns_))});
    } else {
      std::rotate(found, found + 1, lines_.end());
    }
  }
  return lines_.back();
}

DayFigures& PeriodChartBuilder::DayOf(double x, int channel, Unit unit, double value) {
  const auto wall = static_cast<int64_t>(x);
  const int64_t midnight = (wall >= 0 ? wall / 86400 : -((86399 - wall) / 86400)) * 86400;
  auto [day, fresh] = days_.try_emplace({midnight, channel, unit});
  if (fresh) day->second = {midnight, channel, unit, 0, value, value, 0, 0};
  return day->second;
}

void PeriodChartBuilder::Add(const PeriodPoint& point) {
  if (!only_.empty() && std::find(only_.begin(), only_.end(), point.channel) == only_.end()) return;
  const auto x = static_cast<double>(point.utc_ms / 1000);
  const int column = ColumnAt(point.utc_ms / 1000, x);
  if (!point.value) {
    missing_[static_cast<size_t>(column)] = true;
    return;
  }
  Column& c = LineOf(point.channel, point.unit).columns[static_cast<size_t>(column)];
  const ChartPoint p{x, *point.value};
  if (!c.low || p.y < c.low->y) c.low = p;
  if (!c.high || p.y > c.high->y) c.high = p;

  DayFigures& d = DayOf(LocalSeconds(point.utc_ms), point.channel, point.unit, p.y);
  ++d.readings;
  d.min = std::min(d.min, p.y);
  d.max = std::max(d.max, p.y);
  d.sum_steps += StepsOf(point.unit, p.y);
}

bool PeriodChartBuilder::CanMerge(int64_t block, const BlockSummary& summary) {
  if (summary.invalid > 0 || summary.valid == 0) return false;
  const int64_t first = block * kBlockSeconds, last = first + kBlockSeconds - 1;
  if (zone_.OffsetAt(first) != zone_.OffsetAt(last)) return false;
  const double from = LocalSeconds(first * 1000), to = from + (kBlockSeconds - 1);
  auto midnight = [](double x) {
    const auto wall = static_cast<int64_t>(x);
    return wall >= 0 ? wall / 86400 : -((86399 - wall) / 86400);
  };
  return ColumnAt(first, static_cast<double>(first)) == ColumnAt(last, static_cast<double>(last)) &&
         midnight(from) == midnight(to);
}

void PeriodChartBuilder::Merge(int channel, Unit unit, const BlockSummary& summary) {
  if (!only_.empty() && std::find(only_.begin(), only_.end(), channel) == only_.end()) return;
  const ChartPoint low{static_cast<double>(summary.min_t), ValueOf(unit, summary.min)};
  const ChartPoint high{static_cast<double>(summary.max_t), ValueOf(unit, summary.max)};
  Column& c = LineOf(channel, unit).columns[static_cast<size_t>(ColumnAt(summary.min_t, low.x))];
  if (!c.low || low.y < c.low->y) c.low = low;
  if (!c.high || high.y > c.high->y) c.high = high;
  DayFigures& d = DayOf(LocalSeconds(summary.min_t * 1000), channel, unit, low.y);
  d.readings += static_cast<size_t>(summary.valid);
  d.min = std::min(d.min, low.y);
  d.max = std::max(d.max, high.y);
  d.sum_steps += summary.sum;
}

ChartData PeriodChartBuilder::Chart(std::string title) const {
  ChartData chart;
  chart.title = std::move(title);
  std::vector<const Line*> ordered;
  for (const Line& l : lines_) ordered.push_back(&l);
  std::sort(ordered.begin(), ordered.end(), [](const Line* a, const Line* b) {
    return std::tie(a->channel, a->unit) < std::tie(b->channel, b->unit);
  });
  for (const Line* l : ordered) {
    ChartLine line{l->unit == Unit::RelativeHumidity ? Quantity::Humidity : Quantity::Temperature,
                   ChannelTitle(l->channel, PointAtEnd(channels_, l->channel, from_ms_, to_ms_), l->unit),
                   {}};
    for (const Column& c : l->columns) {
      if (!c.low) continue;
      const bool lowFirst = c.low->x <= c.high->x;
      line.points.push_back(lowFirst ? *c.low : *c.high);
      if (!(*c.low == *c.high)) line.points.push_back(lowFirst ? *c.high : *c.low);
    }
    chart.lines.push_back(std::move(line));
  }
  chart.breaks = breaks_;
  for (int i = 0; i < columns_; ++i) {
    if (missing_[static_cast<size_t>(i)])
      chart.missing.push_back(from_ + (to_ - from_) * (i + 0.5) / columns_);
  }
  const auto from = static_cast<int64_t>(from_), to = static_cast<int64_t>(to_);
  chart.offsets.push_back({from_, static_cast<double>(zone_.OffsetAt(from))});
  for (const TimeZone::Change& c : zone_.Changes(from, to))
    chart.offsets.push_back({static_cast<double>(c.utc_s), static_cast<double>(c.after)});
  return chart;
}

void PeriodChartBuilder::Breaks(const std::vector<SpacingGap>& gaps) {
  // Where the next reading was due: after the last one before the gap, before the one that ends it.
  for (const SpacingGap& g : gaps) breaks_.push_back(static_cast<double>(g.from_ms / 1000));
  std::sort(breaks_.begin(), breaks_.end());
}

std::vector<DayFigures> PeriodChartBuilder::Days() const {
  std::vector<DayFigures> days;
  for (const auto& [key, figures] : days_) {
    days.push_back(figures);
    days.back().sum = ValueOf(figures.unit, figures.sum_steps);
  }
  return days;
}

std::string CombinedHash(const std::vector<ChannelStats>& stats) {
  if (stats.size() == 1) return stats.front().sha256;
  Sha256 hash;
  for (const ChannelStats& s : stats) hash.Add(s.sha256 + "\n");
  return hash.Hex();
}

std::vector<std::vector<std::string>> StatisticsTable(const std::vector<ChannelStats>& stats,
                                                      const TimeZone& zone, bool offsets) {
  std::vector<std::vector<std::string>> rows = {
      {"Kanał"},
      {"Odczyty poprawne"},
      {"Odczyty błędne"},
      {"Przerwy w zapisie"},
      {"Minimum"},
      {"Czas minimum"},
      {"Maksimum"},
      {"Czas maksimum"},
      {"Średnia"},
      {"Odchylenie standardowe"},
      {"MKT"},
      {"Granica dolna"},
      {"Granica górna"},
      {"Czas poniżej granicy"},
      {"Udział poniżej"},
      {"Czas powyżej granicy"},
      {"Udział powyżej"},
  };
  for (const ChannelStats& s : stats) {
    const bool any = s.min.has_value();
    const std::vector<std::string> column = {
        ChannelTitle(s.channel, s.point, s.unit),
        std::to_string(s.readings),
        std::to_string(s.invalid),
        Duration(s.gap_s),
        WithUnit(s.min, s.unit),
        any ? LocalTime(zone, s.min_ms, offsets) : "—",
        WithUnit(s.max, s.unit),
        any ? LocalTime(zone, s.max_ms, offsets) : "—",
        WithUnit(s.mean, s.unit, 2),
        WithUnit(s.stddev, s.unit, 2),
        s.unit == Unit::Celsius ? WithUnit(s.mkt, s.unit, 2) : "—",
        WithUnit(s.low, s.unit),
        WithUnit(s.high, s.unit),
        s.below_s ? Duration(*s.below_s) : "—",
        Share(s.below_share),
        s.above_s ? Duration(*s.above_s) : "—",
        Share(s.above_share),
    };
    for (size_t i = 0; i < rows.size(); ++i) rows[i].push_back(column[i]);
  }
  return rows;
}

ReportDocument MakeReportDocument(const ReportContext& context, const TimeZone& zone,
                                  const std::vector<ChannelStats>& stats, const ChartData& chart,
                                  const std::vector<DayFigures>& days) {
  ReportDocument d;
  d.title = "Raport okresowy rejestratora";
  // Across a change of the clocks a local time alone may name two moments: each carries its offset.
  const bool offsets = !ChangesIn(zone, context.from_ms, context.to_ms).empty();
  d.blocks.push_back(Lines({
      "Rejestrator: " + context.logger.name,
      "Właściciel: " + context.logger.owner,
      "Numer seryjny: " + (context.logger.serial.empty() ? std::string("—") : context.logger.serial),
      "Okres: od " + LocalTime(zone, context.from_ms, offsets) + " do " +
          LocalTime(zone, context.to_ms, offsets),
      "Strefa czasowa: " + ZoneText(zone, context.from_ms, context.to_ms),
  }));

  d.blocks.push_back(Heading("Wykres okresu"));
  if (chart.HasValues()) {
    d.blocks.push_back({ReportBlock::Kind::Chart, {}, {}, WriteChartData(chart)});
  } else {
    d.blocks.push_back(Lines({"Brak pomiarów do narysowania wykresu."}));
  }

  d.blocks.push_back(Heading("Statystyki kanałów"));
  if (stats.empty()) d.blocks.push_back(Lines({"Brak pomiarów w wybranym okresie."}));
  const auto table = StatisticsTable(stats, zone, offsets);
  for (size_t first = 0; first < stats.size(); first += kChannelsPerTable) {
    ReportBlock b{ReportBlock::Kind::Table, {}, {}, {}};
    const size_t last = std::min(stats.size(), first + kChannelsPerTable);
    for (const auto& row : table) {
      std::vector<std::string> cells = {row[0]};
      cells.insert(cells.end(), row.begin() + 1 + static_cast<std::ptrdiff_t>(first),
                   row.begin() + 1 + static_cast<std::ptrdiff_t>(last));
      b.rows.push_back(std::move(cells));
    }
    d.blocks.push_back(std::move(b));
  }

  // A channel renamed inside the period: its earlier names, the latest first.
  std::vector<std::string> renamed;
  for (const ChannelStats& s : stats) {
    if (s.points.size() < 2) continue;
    std::string line = ChannelTitle(s.channel, s.point, s.unit);
    for (size_t i = s.points.size(); i-- > 1;)
      line += (i + 1 == s.points.size() ? " (przed " : ", przed ") + LocalTime(zone, s.points[i].from_ms) +
              ": „" + s.points[i - 1].point + "”";
    renamed.push_back(line + ")");
  }
  if (!renamed.empty()) {
    renamed.insert(renamed.begin(), "Nazwy punktów zmienione w okresie:");
    d.blocks.push_back(Lines(std::move(renamed)));
  }

  d.hash = CombinedHash(stats);
  d.blocks.push_back(Heading("Sumy kontrolne danych (SHA-256)"));
  std::vector<std::string> hashes;
  for (const ChannelStats& s : stats)
    hashes.push_back("Kanał " + ChannelTitle(s.channel, s.point, s.unit) + ": " + s.sha256);
  if (stats.size() > 1)
    hashes.push_back("Łącznie (SHA-256 sum kanałów po kolei, każda z końcem wiersza): " + d.hash);
  d.blocks.push_back(Lines(std::move(hashes)));

  d.blocks.push_back(Heading("Przekroczenia"));
  ReportBlock excursions{ReportBlock::Kind::Table,
                         {},
                         {{"Kanał", "Rodzaj", "Początek", "Koniec", "Czas trwania", "Wartość skrajna"}},
                         {}};
  for (const ChannelStats& s : stats) {
    for (const Excursion& e : s.excursions) {
      excursions.rows.push_back({ChannelTitle(s.channel, s.point, s.unit), e.high ? "powyżej" : "poniżej",
                                 LocalTime(zone, e.start_ms, offsets), LocalTime(zone, e.end_ms, offsets),
                                 Duration((e.end_ms - e.start_ms) / 1000), WithUnit(e.extreme, s.unit)});
    }
  }
  if (excursions.rows.size() > 1) {
    d.blocks.push_back(std::move(excursions));
  } else {
    d.blocks.push_back(Lines({"Brak przekroczeń w wybranym okresie."}));
  }

  d.blocks.push_back(Heading("Zestawienie dzienne"));
  ReportBlock table2{
      ReportBlock::Kind::Table, {}, {{"Dzień", "Kanał", "Odczyty", "Minimum", "Średnia", "Maksimum"}}, {}};
  // Every local day of the period: a channel's day without readings is marked, and a run of days
  // without any is one row.
  std::map<std::tuple<int64_t, int, Unit>, const DayFigures*> byDay;
  for (const DayFigures& day : days) byDay[{day.day, day.channel, day.unit}] = &day;
  auto midnight = [&zone](int64_t utc_ms) {
    const int64_t s = utc_ms >= 0 ? utc_ms / 1000 : -((999 - utc_ms) / 1000);
    const int64_t wall = s + zone.OffsetAt(s);
    return (wall >= 0 ? wall / 86400 : -((86399 - wall) / 86400)) * 86400;
  };
  constexpr const char* kNoReadings = "brak pomiarów";
  std::optional<int64_t> emptySince;
  const int64_t lastDay = midnight(context.to_ms - 1);
  for (int64_t day = midnight(context.from_ms); !stats.empty() && day <= lastDay + 86400; day += 86400) {
    const bool any = day <= lastDay && std::any_of(stats.begin(), stats.end(), [&](const ChannelStats& s) {
                       return byDay.contains({day, s.channel, s.unit});
                     });
    if (!any && day <= lastDay) {
      if (!emptySince) emptySince = day;
      continue;
    }
    if (emptySince) {
      const std::string when =
          *emptySince == day - 86400 ? Day(*emptySince) : Day(*emptySince) + " – " + Day(day - 86400);
      table2.rows.push_back({when, "—", kNoReadings, "—", "—", "—"});
      emptySince.reset();
    }
    if (day > lastDay) break;
    for (const ChannelStats& s : stats) {
      const auto found = byDay.find({day, s.channel, s.unit});
      if (found == byDay.end()) {
        table2.rows.push_back(
            {Day(day), ChannelTitle(s.channel, s.point, s.unit), kNoReadings, "—", "—", "—"});
        continue;
      }
      const DayFigures& f = *found->second;
      table2.rows.push_back({Day(day), ChannelTitle(s.channel, s.point, s.unit), std::to_string(f.readings),
                             WithUnit(f.min, f.unit),
                             WithUnit(f.sum / static_cast<double>(f.readings), f.unit, 2),
                             WithUnit(f.max, f.unit)});
    }
  }
  if (table2.rows.size() > 1) {
    d.blocks.push_back(std::move(table2));
  } else {
    d.blocks.push_back(Lines({"Brak pomiarów w wybranym okresie."}));
  }

  d.footer =
      "Wygenerowano: " + LocalTime(zone, context.generated_utc_s * 1000) + ", velutron " + context.version;
  return d;
}

namespace {

int64_t CeilSeconds(int64_t ms) { return ms >= 0 ? (ms + 999) / 1000 : -(-ms / 1000); }

// The logger's record times of the blocks that the statistics read one reading at a time; the others
// come as their time summaries.
bool TimelineOf(PeriodArchive& archive, int64_t logger,
                const std::vector<std::pair<int64_t, int64_t>>& ranges, const PeriodSummaries& sums,
                const std::vector<bool>& summarized, int64_t first, Timeline& timeline, std::string& error) {
  std::vector<int64_t> times, block;
  for (const auto& [from, to] : ranges) {
    if (!archive.Times(logger, from * 1000, to * 1000, times, error)) return false;
    for (size_t i = 0; i < times.size();) {
      const int64_t b = BlockOf(times[i] / 1000);
      block.clear();
      for (; i < times.size() && BlockOf(times[i] / 1000) == b; ++i) block.push_back(times[i] / 1000);
      timeline.AddTimes(b, block);
    }
  }
  for (const auto& [b, summary] : sums.times) {
    if (summarized[static_cast<size_t>(b - first)]) timeline.AddSummary(b, summary);
  }
  timeline.Finish();
  return true;
}

}  // namespace

bool ComputePeriod(PeriodArchive& archive, const LoggerEntry& logger, const TimeZone& zone,
                   const StatsOptions& options, int chartColumns, bool withStats, PeriodResult& result,
                   std::string& error) {
  std::vector<ChannelEntry> channels;
  if (!archive.Channels(logger.key, channels, error)) return false;
  // The blocks the period touches, [first, end), and those of them it holds whole, [whole, wholeEnd).
  const int64_t from_s = CeilSeconds(options.from_ms), to_s = std::max(from_s, CeilSeconds(options.to_ms));
  const int64_t first = BlockOf(from_s), end = from_s < to_s ? BlockOf(to_s - 1) + 1 : first;
  const int64_t whole = first + (first * kBlockSeconds < from_s ? 1 : 0);
  const int64_t wholeEnd = std::max(whole, end - (end * kBlockSeconds > to_s ? 1 : 0));
  // Only the default activation energy is summarized.
  const bool useSummaries = !withStats || options.mkt_dh_kj == kDefaultMktDh;
  PeriodSummaries sums;
  if (!archive.Summaries(logger.key, useSummaries ? whole : 0, useSummaries ? wholeEnd : 0, sums, error))
    return false;
  auto wanted = [&](int channel) {
    return options.channels.empty() ||
           std::find(options.channels.begin(), options.channels.end(), channel) != options.channels.end();
  };
  auto summaryOf = [&](const SeriesEntry& series, int64_t b) -> const BlockSummary* {
    if (!useSummaries || b < whole || b >= wholeEnd) return nullptr;
    const auto& blocks = sums.blocks[series.key];
    auto found = blocks.find(b);
    return found == blocks.end() ? nullptr : &found->second;
  };
  // Whether the statistics may take a series' whole block from its summary: a reading at each of the
  // logger's record times in it, and nothing an excursion or a limit change would need.
  auto statsMerge = [&](const SeriesEntry& series, int64_t b, const BlockSummary* s) {
    if (s == nullptr) return false;
    auto times = sums.times.find(b);
    return times != sums.times.end() && times->second.count == s->valid &&
           SummaryFits(channels, options, series.channel, series.unit, b, *s);
  };
  // A whole block without a summary has no readings: Summaries reads every block it has none for.
  auto absent = [&](const SeriesEntry& series, int64_t b) {
    if (!useSummaries || b < whole || b >= wholeEnd) return false;
    return !sums.blocks[series.key].contains(b);
  };

  std::optional<StatsBuilder> stats;
  if (withStats) {
    // A block's times are read where any reported series reads its readings.
    std::vector<bool> summarized(static_cast<size_t>(end - first), true);
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (int64_t b = first; b < end; ++b) {
      bool own = !useSummaries || b < whole || b >= wholeEnd;
      for (const SeriesEntry& series : sums.series) {
        if (own) break;
        if (!wanted(series.channel) || absent(series, b)) continue;
        own = !statsMerge(series, b, summaryOf(series, b));
      }
      if (!own) continue;
      summarized[static_cast<size_t>(b - first)] = false;
      const int64_t from = std::max(from_s, b * kBlockSeconds), to = std::min(to_s, (b + 1) * kBlockSeconds);
      if (!ranges.empty() && ranges.back().second == from) {
        ranges.back().second = to;
      } else {
        ranges.emplace_back(from, to);
      }
    }
    Timeline timeline(options.to_ms);
    if (!TimelineOf(archive, logger.key, ranges, sums, summarized, first, timeline, error)) return false;
    stats.emplace(std::move(timeline), channels, options);
  }
  PeriodChartBuilder chart(zone, options.from_ms, options.to_ms, chartColumns, channels, options.channels);
  std::vector<SpacingGap> gaps;
  if (options.to_ms > options.from_ms &&
      !SpacingGapsOf(archive, logger.key, options.from_ms, options.to_ms - 1, gaps, error))
    return false;
  chart.Breaks(gaps);

  // Each series block by block in time order: a block from its summary, or from its readings, fetched
  // a batch of blocks at a time.
  struct Step {
    int64_t block;
    const BlockSummary* summary;
    bool stats, chart;  // taken from the summary
  };
  constexpr size_t kBlocksPerBatch = 64;
  std::vector<Step> steps;
  std::vector<std::pair<int64_t, int64_t>> ranges;
  std::vector<PeriodPoint> points;
  for (const SeriesEntry& series : sums.series) {
    if (!wanted(series.channel)) continue;
    steps.clear();
    for (int64_t b = first; b < end; ++b) {
      if (absent(series, b)) continue;
      const BlockSummary* s = summaryOf(series, b);
      steps.push_back({b, s, withStats && statsMerge(series, b, s), s != nullptr && chart.CanMerge(b, *s)});
    }
    for (size_t i = 0; i < steps.size();) {
      ranges.clear();
      size_t j = i;
      for (size_t batch = 0; j < steps.size() && batch < kBlocksPerBatch; ++j) {
        const Step& step = steps[j];
        if (step.chart && (step.stats || !withStats)) continue;
        ++batch;
        const int64_t from = std::max(from_s, step.block * kBlockSeconds);
        const int64_t to = std::min(to_s, (step.block + 1) * kBlockSeconds);
        if (!ranges.empty() && ranges.back().second == from) {
          ranges.back().second = to;
        } else {
          ranges.emplace_back(from, to);
        }
      }
      points.clear();
      if (!archive.SeriesPeriod(
              series.key, series.channel, series.unit, ranges,
              [&points](const PeriodPoint& p) { points.push_back(p); }, error))
        return false;
      size_t k = 0;
      for (; i < j; ++i) {
        const Step& step = steps[i];
        if (step.stats) stats->Merge(series.channel, series.unit, step.block, *step.summary);
        if (step.chart && (step.stats || !withStats)) {
          chart.Merge(series.channel, series.unit, *step.summary);
          continue;
        }
        for (; k < points.size() && BlockOf(points[k].utc_ms / 1000) == step.block; ++k) {
          if (withStats && !step.stats) stats->Add(points[k]);
          if (step.chart) continue;
          chart.Add(points[k]);
        }
        if (step.chart) chart.Merge(series.channel, series.unit, *step.summary);
      }
    }
  }
  if (withStats) result.stats = stats->Finish();
  const bool offsets = !ChangesIn(zone, options.from_ms, options.to_ms).empty();
  result.chart = chart.Chart(logger.id.name + ", " + LocalTime(zone, options.from_ms, offsets) + " – " +
                             LocalTime(zone, options.to_ms, offsets));
  result.days = chart.Days();
  return true;
}

}  // namespace velutron::archive
