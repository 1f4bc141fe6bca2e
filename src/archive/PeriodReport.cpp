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

// "Europe/Warsaw (UTC+02:00; UTC+01:00 od 2026-10-25 02:00:00 +01:00)": each offset of the period's
// readings, as its chart carries them.
std::string ZoneText(const TimeZone& zone, int64_t from_ms, const std::vector<ChartOffset>& offsets) {
  std::string text = "UTC" + OffsetText(offsets.empty() ? zone.OffsetAt(from_ms / 1000)
                                                        : static_cast<int64_t>(offsets.front().offset_s));
  for (size_t i = 1; i < offsets.size(); ++i)
    text += "; UTC" + OffsetText(static_cast<int64_t>(offsets[i].offset_s)) + " od " +
            LocalTime(zone, static_cast<int64_t>(offsets[i].from) * 1000, true);
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
  // Readings come a series at a time in time order: mostly the same day as the one before.
  if (lastDay_ != nullptr && lastDay_->day == midnight && lastDay_->channel == channel &&
      lastDay_->unit == unit)
    return *lastDay_;
  auto [day, fresh] = days_.try_emplace({midnight, channel, unit});
  if (fresh) day->second = {midnight, channel, unit, 0, value, value, 0, 0};
  lastDay_ = &day->second;
  return day->second;
}

void PeriodChartBuilder::Add(const PeriodPoint& point) {
  if (!only_.empty() && std::find(only_.begin(), only_.end(), point.channel) == only_.end()) return;
  const auto x = static_cast<double>(point.utc_ms / 1000);
  const int column = ColumnOf(x);
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

ChartData PeriodChartBuilder::Chart(std::string title) const {
  ChartData chart;
  chart.title = std::move(title);
  std::vector<const Line*> ordered;
  for (const Line& l : lines_) ordered.push_back(&l);
  std::sort(ordered.begin(), ordered.end(), [](const Line* a, const Line* b) {
    return std::tie(a->channel, a->unit) < std::tie(b->channel, b->unit);
  });
  for (const Line* l : ordered) {
    // One colour per channel, whichever others are shown beside it.
    const int colour = ((l->channel - 1) % 10 + 10) % 10 + (l->unit == Unit::RelativeHumidity ? 10 : 0);
    ChartLine line{l->unit == Unit::RelativeHumidity ? Quantity::Humidity : Quantity::Temperature,
                   ChannelTitle(l->channel, PointAtEnd(channels_, l->channel, from_ms_, to_ms_), l->unit),
                   {},
                   colour};
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
  const int64_t from = std::max(static_cast<int64_t>(from_), readFrom_ / 1000);
  const int64_t to = std::min(static_cast<int64_t>(to_), readTo_ / 1000);
  chart.offsets.push_back({from_, static_cast<double>(zone_.OffsetAt(from))});
  if (from < to) {
    for (const TimeZone::Change& c : zone_.Changes(from, to - 1))
      chart.offsets.push_back({static_cast<double>(c.utc_s), static_cast<double>(c.after)});
  }
  return chart;
}

void PeriodChartBuilder::Readings(int64_t from_ms, int64_t to_ms) {
  readFrom_ = from_ms;
  readTo_ = to_ms;
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

std::vector<std::pair<int64_t, int64_t>> HourRuns(const std::vector<int64_t>& changed_ms) {
  constexpr int64_t kHourMs = kBlockSeconds * 1000;
  std::vector<std::pair<int64_t, int64_t>> runs;
  for (int64_t hour : changed_ms) {
    if (!runs.empty() && runs.back().second == hour) {
      runs.back().second += kHourMs;
    } else {
      runs.emplace_back(hour, hour + kHourMs);
    }
  }
  return runs;
}

std::vector<std::string> ChangedRuns(const ChannelStats& s, const TimeZone& zone) {
  std::vector<std::string> runs;
  for (const auto& [from, to] : HourRuns(s.changed_ms))
    runs.push_back(zone.Format(from / 1000) + " .. " + zone.Format(to / 1000));
  return runs;
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
  const bool offsets = chart.offsets.size() > 1;
  d.blocks.push_back(Lines({
      "Rejestrator: " + context.logger.name,
      "Właściciel: " + context.logger.owner,
      "Numer seryjny: " + (context.logger.serial.empty() ? std::string("—") : context.logger.serial),
      "Okres: od " + LocalTime(zone, context.from_ms, offsets) + " do " +
          LocalTime(zone, context.to_ms, offsets),
      "Strefa czasowa: " + ZoneText(zone, context.from_ms, chart.offsets),
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
  // Readings changed under the archive after their hour was summarized: the figures above are those of
  // the readings as they are now.
  for (const ChannelStats& s : stats) {
    if (s.changed_ms.empty()) continue;
    std::string line =
        "Kanał " + ChannelTitle(s.channel, s.point, s.unit) + ": godziny zmienione od ich podsumowania: ";
    const auto runs = HourRuns(s.changed_ms);
    for (size_t i = 0; i < runs.size(); ++i)
      line += (i ? ", " : "") + LocalTime(zone, runs[i].first) + " – " + LocalTime(zone, runs[i].second);
    hashes.push_back(std::move(line));
  }
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
  // The days with readings, so that a long stretch without any is passed over at once.
  std::vector<int64_t> withReadings;
  for (const auto& [key, figures] : byDay) {
    if (withReadings.empty() || withReadings.back() != std::get<0>(key))
      withReadings.push_back(std::get<0>(key));
  }
  const int64_t lastDay = midnight(context.to_ms - 1);
  for (int64_t day = midnight(context.from_ms); !stats.empty() && day <= lastDay;) {
    const auto next = std::lower_bound(withReadings.begin(), withReadings.end(), day);
    const int64_t busy = next == withReadings.end() ? lastDay + 86400 : std::min(*next, lastDay + 86400);
    if (busy > day) {
      const std::string when = busy - 86400 == day ? Day(day) : Day(day) + " – " + Day(busy - 86400);
      table2.rows.push_back({when, "—", kNoReadings, "—", "—", "—"});
      day = busy;
      continue;
    }
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
    day += 86400;
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

// The period's edge hours that it holds only in part, checked against their kept summaries by reading
// each whole: the hours inside it were checked as the report read them.
bool CheckEdges(PeriodArchive& archive, int64_t logger, const std::vector<int64_t>& edges,
                PeriodSummaries& kept, std::vector<ChannelStats>& stats, std::string& error) {
  for (int64_t b : edges) {
    std::vector<std::pair<const SeriesEntry*, const BlockSummary*>> compared;
    for (const SeriesEntry& series : kept.series) {
      const auto& blocks = kept.blocks[series.key];
      const auto found = blocks.find(b);
      const bool reported = std::any_of(stats.begin(), stats.end(), [&series](const ChannelStats& s) {
        return s.channel == series.channel && s.unit == series.unit;
      });
      if (found != blocks.end() && reported) compared.emplace_back(&series, &found->second);
    }
    if (compared.empty()) continue;
    std::map<std::pair<int, Unit>, BlockBuilder> now;
    if (!archive.Period(
            logger, b * kBlockSeconds * 1000, (b + 1) * kBlockSeconds * 1000,
            [&now](const PeriodPoint& p) {
              now.try_emplace({p.channel, p.unit}, p.unit, kDefaultMktDh)
                  .first->second.Add(p.utc_ms / 1000, p.value, p.status);
            },
            error))
      return false;
    for (const auto& [series, summary] : compared) {
      auto built = now.find({series->channel, series->unit});
      if (built != now.end() && SameReadings(*summary, built->second.Finish())) continue;
      for (ChannelStats& s : stats) {
        if (s.channel != series->channel || s.unit != series->unit) continue;
        s.changed_ms.insert(
            std::upper_bound(s.changed_ms.begin(), s.changed_ms.end(), b * kBlockSeconds * 1000),
            b * kBlockSeconds * 1000);
      }
    }
  }
  return true;
}

}  // namespace

bool ComputePeriod(PeriodArchive& archive, const LoggerEntry& logger, const TimeZone& zone,
                   const StatsOptions& options, int chartColumns, bool withStats, PeriodResult& result,
                   std::string& error) {
  result = {};
  std::vector<ChannelEntry> channels;
  int64_t first_ms = 0, last_ms = 0;
  bool any = false;
  if (!archive.Channels(logger.key, channels, error) ||
      !archive.Span(logger.key, first_ms, last_ms, any, error))
    return false;
  // Only the part of the period that holds readings is read: a period of centuries costs what its
  // readings cost. The figures still speak of the period asked for.
  const int64_t from = std::max(options.from_ms, first_ms), to = std::min(options.to_ms, last_ms + 1000);
  const bool read = any && from < to;
  std::optional<StatsBuilder> stats;
  std::vector<int64_t> edges;
  PeriodSummaries edgesKept;
  std::optional<PeriodChartBuilder> chart;
  if (chartColumns > 0)
    chart.emplace(zone, options.from_ms, options.to_ms, chartColumns, channels, options.channels);
  std::vector<int64_t> times;
  if (read && (withStats || chart) && !archive.Times(logger.key, from, to, times, error)) return false;
  // No line is drawn across a gap in the records, found as the statistics find them.
  if (chart) {
    chart->Breaks(SpacingGaps(times));
    if (read) chart->Readings(from, to);
  }
  if (withStats) {
    stats.emplace(std::move(times), channels, options);
    if (read) {
      // The hours the period holds whole, [whole, wholeEnd), and those it cuts.
      const int64_t from_s = CeilSeconds(options.from_ms), to_s = CeilSeconds(options.to_ms);
      const int64_t whole = BlockOf(from_s) + (BlockOf(from_s) * kBlockSeconds < from_s ? 1 : 0);
      const int64_t wholeEnd = std::max(whole, BlockOf(to_s));
      const int64_t first = BlockOfMs(from), end = BlockOfMs(to - 1) + 1;
      PeriodSummaries kept;
      if (!archive.KeptSummaries(logger.key, first, end, kept, error)) return false;
      edgesKept.series = kept.series;
      for (int64_t b : {first, end - 1}) {
        if ((b >= whole && b < wholeEnd) || (!edges.empty() && edges.back() == b)) continue;
        edges.push_back(b);
        for (auto& [series, blocks] : kept.blocks) {
          if (auto found = blocks.find(b); found != blocks.end()) edgesKept.blocks[series][b] = found->second;
        }
      }
      stats->Check(std::move(kept), whole, wholeEnd);
    }
  }
  // One pass over the readings gives the statistics, the chart and the days together.
  if (read && !archive.Period(
                  logger.key, from, to,
                  [&](const PeriodPoint& p) {
                    if (stats) stats->Add(p);
                    if (chart) chart->Add(p);
                  },
                  error))
    return false;
  if (stats) {
    result.stats = stats->Finish();
    if (!CheckEdges(archive, logger.key, edges, edgesKept, result.stats, error)) return false;
  }
  if (chart) {
    result.chart = chart->Chart({});
    const bool offsets = result.chart.offsets.size() > 1;
    result.chart.title = logger.id.name + ", " + LocalTime(zone, options.from_ms, offsets) + " – " +
                         LocalTime(zone, options.to_ms, offsets);
    result.days = chart->Days();
  }
  return true;
}

}  // namespace velutron::archive
