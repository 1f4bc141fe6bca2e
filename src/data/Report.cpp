#include "data/Report.h"

#include <algorithm>
#include <array>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/FileRead.h"
#include "session/Format.h"
#include "session/Humidity.h"
#include "platform/Cp1250.h"

namespace velutron {

namespace {

constexpr uint16_t kNoMinimum = 4096;

std::string_view AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// "at least two digits" and right-aligned fields of the record line.
std::string Padded(unsigned value, size_t width, char fill) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), fill);
  return text;
}

struct ChannelExtremes {
  uint16_t minimum = kNoMinimum;
  uint16_t maximum = 0;
  std::string minimumText;
  std::string maximumText;

  void Offer(uint16_t value, const std::string& text) {
    if (value < minimum) {
      minimum = value;
      minimumText = text;
    }
    if (value > maximum) {
      maximum = value;
      maximumText = text;
    }
  }
};

class ReportBuilder {
 public:
  ReportBuilder(const DatabaseContents& db, const Locale& locale)
      : db_(db), separator_(ToCp1250(locale.DecimalSeparator())) {
    if (db.switchThreshold > 0) thresholdText_ = std::to_string(db.switchThreshold);
    out_.reserve(db.RecordsRead() * (16 + 8 * static_cast<size_t>(db.channels)) + 2048);
  }

  void Records() {
    for (size_t j = 0; j < db_.RecordsRead(); ++j) RecordLine(j + 1, db_.Record(j));
  }

  void Summary(const CivilTime& now, const Locale& locale, std::string_view databaseFileName) {
    Line("");
    Line(" REJESTRATOR VELUTRON:" + ToCp1250(" RAPORT POMIARÓW") +
         " (wer 1.02a - 06/2009) Czujniki=" + std::to_string(db_.channels));
    Line(" " + std::string(54, '-'));
    Line("");
    Line(ToCp1250(" UŻYTKOWNIK:  ") + std::string(AsText(db_.ownerText)));
    Line(" KONTROLA POMIARU:  " + std::string(AsText(db_.supervisionText)));
    Line("");
    for (int k = 1; k <= db_.channels; ++k) {
      Line(" PKT POMIAROWY [" + std::to_string(k) + "]: " + std::string(AsText(db_.PointName(k))));
    }
    Line("");
    if (db_.switchThreshold > 0) Line(ToCp1250(" PRÓG ZAL. ZAWORU = ") + thresholdText_ + " C");
    Line(" POMIARY SKRAJNE [MIN/MAX]:");
    Line(" " + std::string(26, '-'));
    for (int k = 1; k <= db_.channels; ++k) {
      const auto& e = extremes_[k - 1];
      Line(" WEJ.[" + std::to_string(k) + "] MIN: " + e.minimumText);
      Line(" WEJ.[" + std::to_string(k) + "] MAX: " + e.maximumText);
      Line("");
    }
    Line(" KONWERSJA BAZY: " + ToCp1250(locale.ShortDate(now)) + " " + ToCp1250(locale.LongTime(now)) +
         " Plik:" + ToCp1250(databaseFileName));
    Text(" " + std::string(50, '-'));
  }

  std::vector<uint8_t> Take() { return std::move(out_); }

 private:
  static std::string ToCp1250(std::string_view utf8) {
    const auto bytes = Utf8ToCp1250Lossy(utf8);
    return std::string(AsText(bytes));
  }
  void Text(std::string_view text) { out_.insert(out_.end(), text.begin(), text.end()); }
  void Line(std::string_view text) {
    Text(text);
    Text("\r\n");
  }

  void RecordLine(size_t j, const RecordView& record) {
    const std::string day = Padded(BcdToByte(record.DayBcd()), 2, '0');
    const std::string month = Padded(BcdToByte(record.MonthBcd()), 2, '0');
    const std::string year = Padded(record.Year(), 2, '0');
    const std::string hour = Padded(BcdToByte(record.HourBcd()), 2, ' ');
    const std::string minute = Padded(BcdToByte(record.MinuteBcd()), 2, '0');
    const std::string second = Padded(BcdToByte(record.SecondBcd()), 2, '0');
    const std::string label =
        day + "-" + month + "-" + year + " " + hour + ":" + minute + ":" + second + " = ";

    Text(Padded(static_cast<unsigned>(j), 4, ' '));
    Text("; " + day + "-" + month + "-20" + year + "; " + hour + ":" + minute + ":" + second + "; ");

    uint16_t previousRaw = 0;
    for (int k = 1; k <= db_.channels; ++k) {
      if (k > 1) Text("; ");
      const uint16_t raw = record.Raw(k);
      auto& extremes = extremes_[k - 1];
      if (db_.IsHumidityCell(record, k)) {
        const HumidityResult h = HumidityFromPsychrometer(raw, previousRaw, separator_);
        std::string cell = h.HumidityText;
        if (cell.size() < 4) cell.insert(0, 1, ' ');
        Text(cell);
        if (h.HasValue()) {
          if (h.HumidityValue < extremes.minimum || h.HumidityValue > extremes.maximum) {
            extremes.Offer(h.HumidityValue, label + cell + " Lp.= " + std::to_string(j));
          }
        }
        continue;
      }
      previousRaw = raw;
      std::string cell = FormatTemperature(raw, separator_);
      if (cell.size() < 4) cell.insert(0, 1, ' ');
      if (raw > dbfile::kRawMaxValid) cell = "T_max";
      if (raw == 0) cell = "T_min";
      if (k == 1 && db_.switchThreshold > 0) {
        Text(db_.BelowSwitchThreshold(record) ? "  0; " : thresholdText_ + "; ");
      }
      Text(cell);
      if (raw < extremes.minimum || raw > extremes.maximum) {
        extremes.Offer(raw, label + cell + " C " + " Lp.= " + std::to_string(j));
      }
    }
    if (record.OnOffFlag()) Text(record.OnOffState() ? "; ON " : "; OFF");
    Text("\r\n");
  }

  const DatabaseContents& db_;
  std::string separator_;
  std::string thresholdText_;
  std::array<ChannelExtremes, dbfile::kMaxChannels> extremes_{};
  std::vector<uint8_t> out_;
};

// Whether the report file can be created or replaced now (it may be held open by a spreadsheet).
void RemoveReportFile(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

}  // namespace

std::vector<uint8_t> RenderReport(const DatabaseContents& db, const Locale& locale, const CivilTime& now,
                                  std::string_view databaseFileName) {
  ReportBuilder builder(db, locale);
  builder.Records();
  builder.Summary(now, locale, databaseFileName);
  return builder.Take();
}

void LoadReportView(Session& s, std::span<const uint8_t> report) {
  auto& buffer = s.report.ReportBuffer;
  // Keeps the trailing zero byte; a report longer than the usual buffer grows it rather than being cut.
  buffer.assign(std::max(kReportBufferSize, report.size() + 1), 0);
  std::copy(report.begin(), report.end(), buffer.begin());
  std::vector<uint8_t> shown(report.begin(), report.end());
  std::replace(shown.begin(), shown.end(), uint8_t{0}, uint8_t{' '});
  s.ui.SetReportText(Cp1250ToUtf8(shown));
}

Outcome ViewBufor(Session& s) {
  s.ui.SetProgressMax(0);
  const auto reportPath = s.InWorkDir(kReportFileName);
  AtomicFile out(reportPath);
  if (!out.Ok()) {
    s.ui.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }
  // Never more than the longest valid database: a huge file, /dev/zero or a FIFO must not exhaust the
  // memory or hang the program.
  const auto file = ReadFileAtMost(s.InWorkDir(s.report.DatabaseFileName), dbfile::LargestFileSize());
  if (!file) {
    out.Discard();
    RemoveReportFile(reportPath);
    s.ui.ShowMessage(text::kCaptionWarning, "Blokada odczytu danych z dysku !");
    return Outcome::Failed;
  }

  const DatabaseContents db = DecodeDatabase(*file);
  if (db.headerValid) {
    s.ui.SetProgressMax(db.recordCount);
    for (size_t j = 0; j < db.RecordsRead(); ++j) s.ui.StepProgress();
  }
  if (!db.Valid()) {
    s.ui.SetProgressMax(0);
    out.Discard();
    RemoveReportFile(reportPath);
    s.ui.ShowMessage("Błąd bazy danych!", "Uszkodzenie struktury bazy danych !");
    return Outcome::Failed;
  }

  const auto report = RenderReport(db, s.locale, s.clock.Now(), s.report.DatabaseFileName);
  const bool written = out.Write(report) && out.Commit();
  s.ui.SetProgressMax(0);
  if (!written) {
    s.ui.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }

  const auto shown = ReadFileAtMost(reportPath, report.size());
  if (!shown) return Outcome::Failed;
  LoadReportView(s, *shown);
  s.report.ReportLoaded = true;
  if (s.ui.AskOkCancel("Podgląd danych.", "Czy otworzyć dane w arkuszu Excel?")) {
#ifdef _WIN32
    s.ui.ShellOpen("Excel", "ViewData.csv");
#else
    s.ui.ShellOpen(Utf8FromPath(reportPath));
#endif
  }
  return Outcome::Completed;
}

}  // namespace velutron
