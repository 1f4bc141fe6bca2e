#include "archive/PeriodExport.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <nlohmann/json.hpp>

namespace velutron::archive {

namespace {

using Json = nlohmann::ordered_json;

std::string UnitText(Unit u) { return u == Unit::RelativeHumidity ? "%RH" : "°C"; }
std::string Suffix(Unit u) { return u == Unit::RelativeHumidity ? "_RH" : "_C"; }

// As the database export writes numbers: the shortest text that reads back the same, with a decimal part.
std::string NumberText(double value) {
  char text[32];
  std::string s(text, std::to_chars(text, text + sizeof text, value).ptr);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

struct Column {
  int channel;
  Unit unit;
  bool operator<(const Column& o) const { return std::tie(channel, unit) < std::tie(o.channel, o.unit); }
};

}  // namespace

std::string ExportPeriod(const std::vector<PeriodPoint>& points, const LoggerEntry& logger,
                         const std::vector<ChannelEntry>& channels, const PeriodExportOptions& options,
                         const TimeZone& zone, PeriodFormat format) {
  auto wanted = [&options](int channel) {
    return options.channels.empty() ||
           std::find(options.channels.begin(), options.channels.end(), channel) != options.channels.end();
  };
  std::vector<Column> columns;
  std::map<int64_t, std::map<Column, const PeriodPoint*>> rows;
  for (const PeriodPoint& p : points) {
    if (!wanted(p.channel)) continue;
    const Column c{p.channel, p.unit};
    if (columns.empty() || columns.back().channel != c.channel || columns.back().unit != c.unit)
      columns.push_back(c);
    rows[p.utc_ms][c] = &p;
  }
  std::sort(columns.begin(), columns.end());
  columns.erase(std::unique(columns.begin(), columns.end(),
                            [](const Column& a, const Column& b) { return !(a < b) && !(b < a); }),
                columns.end());
  // The point names in force at the period's end.
  std::map<int, std::string> names;
  for (const ChannelEntry& e : channels) {
    if (e.from_ms < options.to_ms && wanted(e.info.channel)) names[e.info.channel] = e.info.point;
  }
  auto columnName = [](const Column& c) { return "ch" + std::to_string(c.channel) + Suffix(c.unit); };
  auto time = [&zone](int64_t ms) { return zone.Format(ms / 1000); };

  if (format == PeriodFormat::Csv) {
    std::string out;
    out += "# logger: " + OneLine(logger.id.name) + "\n";
    out += "# owner: " + OneLine(logger.id.owner) + "\n";
    out += "# from: " + time(options.from_ms) + "\n";
    out += "# to: " + time(options.to_ms) + "\n";
    out += "# time zone: " + (zone.Name().empty() ? std::string("local") : zone.Name()) + "\n";
    for (const auto& [channel, name] : names)
      out += "# ch" + std::to_string(channel) + ": " + OneLine(name) + "\n";
    out += "time";
    for (const Column& c : columns) out += "," + columnName(c);
    out += ",status\n";
    for (const auto& [t, cells] : rows) {
      std::string status;
      out += time(t);
      for (const Column& c : columns) {
        out += ",";
        auto it = cells.find(c);
        if (it == cells.end()) continue;
        if (it->second->value) {
          out += NumberText(*it->second->value);
        } else {
          status += (status.empty() ? "" : "; ") + columnName(c) + "=" + it->second->status;
        }
      }
      out += "," + CsvField(status) + "\n";
    }
    return out;
  }

  Json head;
  head["logger"] = logger.id.name;
  head["owner"] = logger.id.owner;
  head["from"] = time(options.from_ms);
  head["to"] = time(options.to_ms);
  head["time_zone"] = zone.Name().empty() ? Json(nullptr) : Json(zone.Name());
  head["channels"] = Json::array();
  for (const Column& c : columns) {
    head["channels"].push_back(
        {{"channel", c.channel}, {"name", names[c.channel]}, {"unit", UnitText(c.unit)}});
  }
  head["records"] = Json::array();
  std::string text = head.dump(-1, ' ', false, Json::error_handler_t::replace);
  text.erase(text.size() - 2);  // the empty records array's "]}", reopened below one record a line
  bool first = true;
  for (const auto& [t, cells] : rows) {
    Json readings = Json::array();
    for (const auto& [c, p] : cells) {
      readings.push_back({{"channel", c.channel},
                          {"unit", UnitText(c.unit)},
                          {"value", p->value ? Json(*p->value) : Json(nullptr)},
                          {"status", p->value ? Json(nullptr) : Json(p->status)}});
    }
    Json record;
    record["time"] = time(t);
    record["readings"] = std::move(readings);
    text += first ? "\n" : ",\n";
    first = false;
    text += record.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  text += "\n]}\n";
  return text;
}

}  // namespace velutron::archive
