#include "archive/PeriodExport.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "archive/PointNames.h"
#include "data/Export.h"

namespace velutron::archive {

namespace {

using Json = nlohmann::ordered_json;

std::string UnitText(Unit u) { return u == Unit::RelativeHumidity ? "%RH" : "°C"; }
std::string Suffix(Unit u) { return u == Unit::RelativeHumidity ? "_RH" : "_C"; }

}  // namespace

bool ForEachDay(PeriodArchive& archive, int64_t logger, int64_t from_ms, int64_t to_ms,
                const std::function<bool(const std::vector<PeriodPoint>&)>& take, bool& taken,
                std::string& error) {
  int64_t first = 0, last = 0;
  bool any = false;
  if (!archive.Span(logger, first, last, any, error)) return false;
  const int64_t end = any ? std::min(to_ms, last + 1000) : from_ms;
  constexpr int64_t kSlice = 86'400'000;
  std::vector<PeriodPoint> points;
  for (int64_t from = any ? std::max(from_ms, first) : end; taken && from < end; from += kSlice) {
    points.clear();
    if (!archive.Period(
            logger, from, std::min(end, from + kSlice),
            [&points](const PeriodPoint& point) { points.push_back(point); }, error))
      return false;
    taken = take(points);
  }
  return true;
}

PeriodWriter::PeriodWriter(const LoggerEntry& logger, const std::vector<ChannelEntry>& channels,
                           std::vector<SeriesKey> columns, const PeriodExportOptions& options,
                           const TimeZone& zone, PeriodFormat format)
    : logger_(logger), columns_(std::move(columns)), options_(options), zone_(zone), format_(format) {
  std::sort(columns_.begin(), columns_.end());
  columns_.erase(std::unique(columns_.begin(), columns_.end()), columns_.end());
  // The point names in force at the period's end.
  for (const SeriesKey& c : columns_) {
    const auto spans = PointsIn(channels, c.channel, options.from_ms, options.to_ms);
    if (!spans.empty()) names_[c.channel] = spans.back().point;
  }
}

std::string PeriodWriter::ColumnName(const SeriesKey& c) const {
  return "ch" + std::to_string(c.channel) + Suffix(c.unit);
}

std::string PeriodWriter::Head() const {
  if (format_ == PeriodFormat::Csv) {
    std::string out;
    if (options_.texts) {
      out += "# logger: " + OneLine(logger_.id.name) + "\n";
      out += "# owner: " + OneLine(logger_.id.owner) + "\n";
      out += "# from: " + Time(options_.from_ms) + "\n";
      out += "# to: " + Time(options_.to_ms) + "\n";
      out += "# time zone: " + (zone_.Name().empty() ? std::string("local") : zone_.Name()) + "\n";
      for (const auto& [channel, name] : names_)
        out += "# ch" + std::to_string(channel) + ": " + OneLine(name) + "\n";
    }
    out += "time";
    for (const SeriesKey& c : columns_) out += "," + ColumnName(c);
    return out + ",status\n";
  }
  Json head;
  head["logger"] = logger_.id.name;
  head["owner"] = logger_.id.owner;
  head["from"] = Time(options_.from_ms);
  head["to"] = Time(options_.to_ms);
  head["time_zone"] = zone_.Name().empty() ? Json(nullptr) : Json(zone_.Name());
  head["channels"] = Json::array();
  for (const SeriesKey& c : columns_) {
    auto name = names_.find(c.channel);
    head["channels"].push_back({{"channel", c.channel},
                                {"name", name != names_.end() ? name->second : std::string()},
                                {"unit", UnitText(c.unit)}});
  }
  head["records"] = Json::array();
  std::string text = head.dump(-1, ' ', false, Json::error_handler_t::replace);
  text.erase(text.size() - 2);  // the empty records array's "]}", reopened below one record a line
  return text;
}

std::string PeriodWriter::Rows(const std::vector<PeriodPoint>& points) {
  std::map<int64_t, std::map<SeriesKey, const PeriodPoint*>> rows;
  for (const PeriodPoint& p : points) {
    const SeriesKey key{p.channel, p.unit};
    if (std::binary_search(columns_.begin(), columns_.end(), key)) rows[p.utc_ms][key] = &p;
  }
  std::string out;
  for (const auto& [t, cells] : rows) {
    if (format_ == PeriodFormat::Csv) {
      std::string status;
      out += Time(t);
      for (const SeriesKey& c : columns_) {
        out += ",";
        auto it = cells.find(c);
        if (it == cells.end()) continue;
        if (it->second->value) {
          out += NumberText(*it->second->value);
        } else {
          status += (status.empty() ? "" : "; ") + ColumnName(c) + "=" + it->second->status;
        }
      }
      out += "," + CsvField(status, ',') + "\n";
      continue;
    }
    Json readings = Json::array();
    for (const auto& [c, p] : cells) {
      readings.push_back({{"channel", c.channel},
                          {"unit", UnitText(c.unit)},
                          {"value", p->value ? Json(*p->value) : Json(nullptr)},
                          {"status", p->value ? Json(nullptr) : Json(p->status)}});
    }
    Json record;
    record["time"] = Time(t);
    record["readings"] = std::move(readings);
    out += first_ ? "\n" : ",\n";
    first_ = false;
    out += record.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  return out;
}

std::string PeriodWriter::End() const { return format_ == PeriodFormat::Csv ? "" : "\n]}\n"; }

std::vector<std::string> PeriodWriter::SheetHeaders() const {
  const std::string zone = zone_.Name().empty() ? LocalTimeZoneName() : zone_.Name();
  std::vector<std::string> headers = {"Nr", zone.empty() ? std::string("Czas") : "Czas (" + zone + ")",
                                      "Przełączanie [°C]"};
  for (const SeriesKey& c : columns_)
    headers.push_back("Kanał " + std::to_string(c.channel) + " [" + UnitText(c.unit) + "]");
  headers.insert(headers.end(), {"ON/OFF", "Status"});
  return headers;
}

std::vector<size_t> PeriodWriter::SheetWidths() const {
  // The rows are not known before they are written: room for a year's numbers, a date-time, a reading.
  std::vector<size_t> widths = {7, 19, 0};
  widths.insert(widths.end(), columns_.size(), 8);
  widths.insert(widths.end(), {0, 16});
  return widths;
}

bool PeriodWriter::SheetRows(const std::vector<PeriodPoint>& points,
                             const std::function<bool(const std::vector<SheetCell>&)>& row) {
  std::map<int64_t, std::map<SeriesKey, const PeriodPoint*>> rows;
  for (const PeriodPoint& p : points) {
    const SeriesKey key{p.channel, p.unit};
    if (std::binary_search(columns_.begin(), columns_.end(), key)) rows[p.utc_ms][key] = &p;
  }
  std::vector<SheetCell> cells;
  for (const auto& [t, readings] : rows) {
    cells.clear();
    const int64_t s = t >= 0 ? t / 1000 : -((999 - t) / 1000);
    cells.emplace_back(static_cast<double>(++number_));
    cells.emplace_back(CivilOf(s + zone_.OffsetAt(s)));
    cells.emplace_back();
    std::string status;
    for (const SeriesKey& c : columns_) {
      auto it = readings.find(c);
      if (it != readings.end() && it->second->value) {
        cells.emplace_back(*it->second->value);
        continue;
      }
      cells.emplace_back();
      if (it != readings.end())
        status += (status.empty() ? "" : "; ") + ColumnName(c) + "=" + it->second->status;
    }
    cells.emplace_back();
    if (status.empty()) {
      cells.emplace_back();
    } else {
      cells.emplace_back(std::move(status));
    }
    if (!row(cells)) return false;
  }
  return true;
}

SheetTable PeriodWriter::TextsSheet() const {
  SheetTable sheet{"Opis", {"Pole", "Wartość"}, {}};
  auto add = [&sheet](std::string name, std::string value) {
    sheet.rows.push_back({SheetCell(std::move(name)), SheetCell(std::move(value))});
  };
  add("Rejestrator", logger_.id.name);
  add("Wpis użytkownika", logger_.id.owner);
  add("Od", Time(options_.from_ms));
  add("Do", Time(options_.to_ms));
  add("Strefa czasowa", zone_.Name().empty() ? LocalTimeZoneName() : zone_.Name());
  for (const auto& [channel, name] : names_) add("Nazwa pkt. pomiaru " + std::to_string(channel), name);
  return sheet;
}

std::string ExportPeriod(const std::vector<PeriodPoint>& points, const LoggerEntry& logger,
                         const std::vector<ChannelEntry>& channels, const PeriodExportOptions& options,
                         const TimeZone& zone, PeriodFormat format) {
  std::vector<SeriesKey> columns;
  for (const PeriodPoint& p : points) {
    if (options.channels.empty() ||
        std::find(options.channels.begin(), options.channels.end(), p.channel) != options.channels.end())
      columns.push_back({p.channel, p.unit});
  }
  PeriodWriter writer(logger, channels, std::move(columns), options, zone, format);
  return writer.Head() + writer.Rows(points) + writer.End();
}

}  // namespace velutron::archive
