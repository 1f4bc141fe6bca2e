#include "data/Measurements.h"

#include <algorithm>

#include "platform/Cp1250.h"
#include "platform/FileRead.h"
#include "session/Format.h"
#include "session/Humidity.h"

namespace velutron {

namespace {

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The stamp as the report shows it, when it names a real moment; a damaged BCD byte gives none.
std::optional<CivilTime> StampOf(const RecordView& r) {
  const CivilTime t{2000 + r.Year(),        BcdToByte(r.MonthBcd()),  BcdToByte(r.DayBcd()),
                    BcdToByte(r.HourBcd()), BcdToByte(r.MinuteBcd()), BcdToByte(r.SecondBcd())};
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return std::nullopt;
  if (t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
  return t;
}

Reading TemperatureReading(uint16_t raw) {
  if (raw == 0) return {Quantity::Temperature, std::nullopt, "T_min"};
  if (raw > dbfile::kRawMaxValid) return {Quantity::Temperature, std::nullopt, "T_max"};
  // Sixteenths of a degree are exact in binary.
  return {Quantity::Temperature, raw / 16.0 - 55.0, {}};
}

Reading HumidityReading(uint16_t wetRaw, uint16_t dryRaw) {
  const HumidityResult h = HumidityFromPsychrometer(wetRaw, dryRaw, ".");
  if (h.HasValue()) {
    return {Quantity::Humidity, h.HumidityValue / 10.0, {}};
  }
  // Saturated: a depression under 0.2 degrees is 100 %RH, a reading rather than a fault.
  if (h.HumidityText == "100%RH") return {Quantity::Humidity, 100.0, {}};
  for (std::string_view marker : {"T suchy!", "Brak tab.", "MIN tab."}) {
    if (h.HumidityText == marker) return {Quantity::Humidity, std::nullopt, marker};
  }
  return {Quantity::Humidity, std::nullopt, "?"};
}

}  // namespace

std::vector<Measurement> Measurements(const DatabaseContents& db) {
  std::vector<Measurement> rows;
  rows.reserve(db.RecordsRead());
  for (size_t j = 0; j < db.RecordsRead(); ++j) {
    const RecordView r = db.Record(j);
    Measurement m;
    m.number = j + 1;
    m.time = StampOf(r);
    if (db.switchThreshold > 0) {
      m.switching = db.BelowSwitchThreshold(r) ? 0 : int{db.switchThreshold};
    }
    if (r.OnOffFlag()) m.on = r.OnOffState();
    uint16_t previousRaw = 0;
    for (int k = 1; k <= db.channels; ++k) {
      const uint16_t raw = r.Raw(k);
      if (db.IsHumidityCell(r, k)) {
        m.readings.push_back(HumidityReading(raw, previousRaw));
      } else {
        previousRaw = raw;
        m.readings.push_back(TemperatureReading(raw));
      }
    }
    rows.push_back(std::move(m));
  }
  return rows;
}

std::vector<ChannelColumn> ChannelColumns(int channels, const std::vector<Measurement>& rows) {
  std::vector<ChannelColumn> columns;
  for (int k = 1; k <= channels; ++k) {
    for (Quantity q : {Quantity::Temperature, Quantity::Humidity}) {
      const bool present = std::any_of(rows.begin(), rows.end(), [&](const Measurement& m) {
        return m.readings[static_cast<size_t>(k - 1)].quantity == q;
      });
      if (present) columns.push_back({k, q});
    }
  }
  return columns;
}

std::string LoggerText(std::span<const uint8_t> bytes) {
  std::vector<uint8_t> text(bytes.begin(), bytes.end());
  std::replace(text.begin(), text.end(), uint8_t{0}, uint8_t{' '});
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return Cp1250ToUtf8(text);
}

std::optional<DatabaseContents> LoadDatabase(Session& s, std::string_view file) {
  const auto bytes = ReadFileAtMost(s.InWorkDir(file), dbfile::LargestFileSize());
  if (!bytes) {
    s.ui.ShowMessage(text::kCaptionWarning, "Blokada odczytu danych z dysku !");
    return std::nullopt;
  }
  DatabaseContents db = DecodeDatabase(*bytes);
  if (!db.Valid()) {
    s.ui.ShowMessage("Błąd bazy danych!", "Uszkodzenie struktury bazy danych !");
    return std::nullopt;
  }
  return db;
}

}  // namespace velutron
