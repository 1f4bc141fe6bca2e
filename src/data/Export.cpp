#include "data/Export.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "data/DatabaseCommands.h"
#include "platform/Utf8Path.h"

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

std::string ColumnName(const ChannelColumn& c) {
  return "ch" + std::to_string(c.channel) + std::string(SuffixOf(c.quantity));
}

// What a record has no number for, as "ch2_RH=T suchy!; ch3_C=T_max".
std::string StatusOf(const Measurement& m, const std::vector<ChannelColumn>& columns) {
  std::string status = m.time ? "" : "time=invalid";
  for (const ChannelColumn& c : columns) {
    const Reading& r = m.readings[static_cast<size_t>(c.channel - 1)];
    if (r.quantity != c.quantity || r.value) continue;
    if (!status.empty()) status += "; ";
    status += ColumnName(c) + "=" + std::string(r.marker);
  }
  return status;
}

std::string Csv(const DatabaseContents& db, std::string_view fileName, const CsvStyle& style) {
  const auto rows = Measurements(db);
  const auto columns = ChannelColumns(db.channels, rows);
  const std::string d(1, style.delimiter);
  std::string out;
  if (style.texts) {
    const ExportTexts texts = TextsOf(db, fileName);
    out += "# file: " + OneLine(texts.file) + "\n";
    out += "# owner: " + OneLine(texts.owner) + "\n";
    out += "# supervision: " + OneLine(texts.supervision) + "\n";
    for (size_t k = 0; k < texts.pointNames.size(); ++k) {
      out += "# ch" + std::to_string(k + 1) + ": " + OneLine(texts.pointNames[k]) + "\n";
    }
    if (texts.switchThreshold)
      out += "# switch threshold: " + std::to_string(*texts.switchThreshold) + " °C\n";
  }

  out += "record" + d + "time" + d + "switching";
  for (const ChannelColumn& c : columns) out += d + ColumnName(c);
  out += d + "on_off" + d + "status\n";

  for (const Measurement& m : rows) {
    out += std::to_string(m.number) + d;
    if (m.time) out += IsoTime(*m.time);
    out += d;
    if (m.switching) out += std::to_string(*m.switching);
    for (const ChannelColumn& c : columns) {
      out += d;
      const Reading& r = m.readings[static_cast<size_t>(c.channel - 1)];
      if (r.quantity != c.quantity || !r.value) continue;
      std::string number = NumberText(*r.value);
      std::replace(number.begin(), number.end(), '.', style.decimal);
      out += CsvField(number, style.delimiter);
    }
    out += d;
    if (m.on) out += *m.on ? "ON" : "OFF";
    out += d + CsvField(StatusOf(m, columns), style.delimiter) + "\n";
  }
  return out;
}

std::string JsonText(const DatabaseContents& db, std::string_view fileName) {
  const ExportTexts texts = TextsOf(db, fileName);
  Json head;
  head["file"] = texts.file;
  head["owner"] = texts.owner;
  head["supervision"] = texts.supervision;
  head["humidity"] = db.humidity;
  head["switch_threshold"] = texts.switchThreshold ? Json(*texts.switchThreshold) : Json(nullptr);
  head["channels"] = Json::array();
  for (size_t k = 0; k < texts.pointNames.size(); ++k) {
    head["channels"].push_back({{"channel", k + 1}, {"name", texts.pointNames[k]}});
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

// "Europe/Warsaw" out of "/usr/share/zoneinfo/Europe/Warsaw" or ":Europe/Warsaw".
std::string ZoneOfPath(std::string path) {
  if (!path.empty() && path.front() == ':') path.erase(0, 1);
  const size_t at = path.find("zoneinfo/");
  return at == std::string::npos ? path : path.substr(at + 9);
}

}  // namespace

std::string NumberText(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  std::string s(text, end);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

std::string CsvField(std::string_view text, char delimiter) {
  if (text.find_first_of(std::string{delimiter, '"', '\r', '\n'}) == std::string_view::npos) {
    return std::string(text);
  }
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string ExportDatabase(const DatabaseContents& db, ExportFormat format, std::string_view fileName,
                           const CsvStyle& csv) {
  return format == ExportFormat::Csv ? Csv(db, fileName, csv) : JsonText(db, fileName);
}

ExportTexts TextsOf(const DatabaseContents& db, std::string_view fileName) {
  ExportTexts t{std::string(fileName), LoggerText(db.ownerText), LoggerText(db.supervisionText), {}, {}};
  for (int k = 1; k <= db.channels; ++k) t.pointNames.push_back(LoggerText(db.PointName(k)));
  if (db.switchThreshold > 0) t.switchThreshold = db.switchThreshold;
  return t;
}

SheetTable RecordsSheet(const std::vector<Measurement>& rows, int channels, std::string_view timeZone) {
  const auto columns = ChannelColumns(channels, rows);
  SheetTable sheet;
  sheet.name = "Pomiary";
  sheet.headers = {"Nr", timeZone.empty() ? std::string("Czas") : "Czas (" + std::string(timeZone) + ")",
                   "Przełączanie [°C]"};
  for (const ChannelColumn& c : columns) {
    sheet.headers.push_back("Kanał " + std::to_string(c.channel) + " [" + std::string(UnitOf(c.quantity)) +
                            "]");
  }
  sheet.headers.insert(sheet.headers.end(), {"ON/OFF", "Status"});
  sheet.rows.reserve(rows.size());
  for (const Measurement& m : rows) {
    std::vector<SheetCell> row;
    row.reserve(sheet.headers.size());
    // Cells are built in place: GCC 12 takes a moved conditional variant for uninitialised (-O2).
    auto add = [&row](auto value) {
      if (value) {
        row.emplace_back(*value);
      } else {
        row.emplace_back();
      }
    };
    add(std::optional<double>(static_cast<double>(m.number)));
    add(m.time);
    add(m.switching ? std::optional<double>(*m.switching) : std::nullopt);
    for (const ChannelColumn& c : columns) {
      const Reading& r = m.readings[static_cast<size_t>(c.channel - 1)];
      add(r.quantity == c.quantity ? r.value : std::nullopt);
    }
    add(m.on ? std::optional<std::string>(*m.on ? "ON" : "OFF") : std::nullopt);
    std::string status = StatusOf(m, columns);
    add(status.empty() ? std::nullopt : std::optional<std::string>(std::move(status)));
    sheet.rows.push_back(std::move(row));
  }
  return sheet;
}

SheetTable TextsSheet(const ExportTexts& texts) {
  SheetTable sheet{"Opis", {"Pole", "Wartość"}, {}};
  auto add = [&sheet](std::string name, SheetCell value) {
    sheet.rows.push_back({SheetCell(std::move(name)), std::move(value)});
  };
  add("Plik", texts.file);
  add("Wpis użytkownika", texts.owner);
  add("Kontrola pomiaru", texts.supervision);
  for (size_t k = 0; k < texts.pointNames.size(); ++k) {
    add("Nazwa pkt. pomiaru " + std::to_string(k + 1), texts.pointNames[k]);
  }
  add("Próg przełączania [°C]",
      texts.switchThreshold ? SheetCell(static_cast<double>(*texts.switchThreshold)) : SheetCell());
  return sheet;
}

std::vector<SheetTable> DatabaseSheets(const DatabaseContents& db, std::string_view fileName,
                                       std::string_view timeZone) {
  return {RecordsSheet(Measurements(db), db.channels, timeZone), TextsSheet(TextsOf(db, fileName))};
}

Outcome Eksportdoarkusza1Click(Session& s, const WorkbookTargetChooser& chooseTarget) {
  const auto chosen = Wykresbazydanych1Click(s);
  if (!chosen) return Outcome::Failed;
  const std::filesystem::path database = PathFromUtf8(chosen->path);
  std::filesystem::path proposed = database;
  proposed.replace_extension(".xlsx");
  const auto target = chooseTarget(Utf8FromPath(proposed));
  if (!target) return Outcome::Cancelled;
  const auto sheets =
      DatabaseSheets(chosen->contents, Utf8FromPath(database.filename()), LocalTimeZoneName());
  if (WriteWorkbook(s.InWorkDir(*target), sheets) != WorkbookResult::Written) {
    s.ui.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }
  return Outcome::Completed;
}

std::string LocalTimeZoneName() {
  if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') return ZoneOfPath(tz);
#ifndef _WIN32
  std::error_code ec;
  const auto link = std::filesystem::read_symlink("/etc/localtime", ec);
  if (!ec) return ZoneOfPath(link.string());
  std::ifstream file("/etc/timezone");
  std::string zone;
  if (std::getline(file, zone)) return zone;
#endif
  return {};
}

}  // namespace velutron
