#include "data/Export.h"

#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "data/Measurements.h"

namespace velutron {

namespace {

using Json = nlohmann::ordered_json;

std::string_view UnitOf(Quantity q) { return q == Quantity::Humidity ? "%RH" : "°C"; }
std::string_view SuffixOf(Quantity q) { return q == Quantity::Humidity ? "_RH" : "_C"; }

std::string IsoTime(const CivilTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

// The shortest text that reads back as the same number, always with a decimal part (as JSON has it).
std::string NumberText(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  std::string s(text, end);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

// Texts become one comment line each: control characters would break it.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

struct Metadata {
  std::string owner;
  std::string supervision;
  std::vector<std::string> pointNames;
};

Metadata MetadataOf(const DatabaseContents& db) {
  Metadata m{LoggerText(db.ownerText), LoggerText(db.supervisionText), {}};
  for (int k = 1; k <= db.channels; ++k) m.pointNames.push_back(LoggerText(db.PointName(k)));
  return m;
}

std::string Csv(const DatabaseContents& db, std::string_view fileName) {
  const auto rows = Measurements(db);
  const auto columns = ChannelColumns(db.channels, rows);
  const Metadata meta = MetadataOf(db);
  std::string out;
  out += "# file: " + OneLine(std::string(fileName)) + "\n";
  out += "# owner: " + OneLine(meta.owner) + "\n";
  out += "# supervision: " + OneLine(meta.supervision) + "\n";
  for (int k = 1; k <= db.channels; ++k) {
    out += "# ch" + std::to_string(k) + ": " + OneLine(meta.pointNames[static_cast<size_t>(k - 1)]) + "\n";
  }
  if (db.switchThreshold > 0) out += "# switch threshold: " + std::to_string(db.switchThreshold) + " °C\n";

  std::vector<std::string> names;
  for (const ChannelColumn& c : columns)
    names.push_back("ch" + std::to_string(c.channel) + std::string(SuffixOf(c.quantity)));
  out += "record,time,switching";
  for (const std::string& name : names) out += "," + name;
  out += ",on_off,status\n";

  for (const Measurement& m : rows) {
    std::string status;
    auto note = [&status](std::string_view what) {
      if (!status.empty()) status += "; ";
      status += what;
    };
    out += std::to_string(m.number) + ",";
    if (m.time) {
      out += IsoTime(*m.time);
    } else {
      note("time=invalid");
    }
    out += ",";
    if (m.switching) out += std::to_string(*m.switching);
    for (size_t c = 0; c < columns.size(); ++c) {
      out += ",";
      const Reading& r = m.readings[static_cast<size_t>(columns[c].channel - 1)];
      if (r.quantity != columns[c].quantity) continue;
      if (r.value) {
        out += NumberText(*r.value);
      } else {
        note(names[c] + "=" + std::string(r.marker));
      }
    }
    out += ",";
    if (m.on) out += *m.on ? "ON" : "OFF";
    out += "," + status + "\n";
  }
  return out;
}

std::string JsonText(const DatabaseContents& db, std::string_view fileName) {
  const Metadata meta = MetadataOf(db);
  Json head;
  head["file"] = fileName;
  head["owner"] = meta.owner;
  head["supervision"] = meta.supervision;
  head["humidity"] = db.humidity;
  head["switch_threshold"] = db.switchThreshold > 0 ? Json(db.switchThreshold) : Json(nullptr);
  head["channels"] = Json::array();
  for (int k = 1; k <= db.channels; ++k) {
    head["channels"].push_back({{"channel", k}, {"name", meta.pointNames[static_cast<size_t>(k - 1)]}});
  }
  head["records"] = Json::array();
  // Logger texts may hold bytes that are not UTF-8 once decoded; they must not stop the export.
  std::string text = head.dump(-1, ' ', false, Json::error_handler_t::replace);
  text.erase(text.size() - 2);  // the empty records array's "]}", reopened below one record a line

  bool first = true;
  for (const Measurement& m : Measurements(db)) {
    Json record;
    record["record"] = m.number;
    record["time"] = m.time ? Json(IsoTime(*m.time)) : Json(nullptr);
    record["switching"] = m.switching ? Json(*m.switching) : Json(nullptr);
    record["on_off"] = m.on ? Json(*m.on ? "ON" : "OFF") : Json(nullptr);
    Json readings = Json::array();
    for (size_t k = 0; k < m.readings.size(); ++k) {
      const Reading& r = m.readings[k];
      readings.push_back({{"channel", k + 1},
                          {"unit", UnitOf(r.quantity)},
                          {"value", r.value ? Json(*r.value) : Json(nullptr)},
                          {"status", r.value ? Json(nullptr) : Json(r.marker)}});
    }
    record["readings"] = std::move(readings);
    text += first ? "\n" : ",\n";
    first = false;
    text += record.dump();
  }
  text += "\n]}\n";
  return text;
}

}  // namespace

std::string ExportDatabase(const DatabaseContents& db, ExportFormat format, std::string_view fileName) {
  return format == ExportFormat::Csv ? Csv(db, fileName) : JsonText(db, fileName);
}

}  // namespace velutron
