#include "archive/ArchiveFiles.h"

#include <filesystem>

#include "archive/Import.h"
#include "archive/Location.h"
#include "data/Measurements.h"
#include "platform/Utf8Path.h"

namespace velutron::archive {

namespace {
constexpr std::string_view kCaptionArchive = "Archiwizacja";

// Whether the archive holds no reading of any logger (a station may have begun writing it meanwhile).
bool HoldsNoReadings(PeriodArchive& archive) {
  std::vector<LoggerEntry> loggers;
  std::string error;
  if (!archive.Loggers(loggers, error)) return false;
  for (const LoggerEntry& l : loggers) {
    int64_t first = 0, last = 0;
    bool any = false;
    if (!archive.Span(l.key, first, last, any, error) || any) return false;
  }
  return true;
}
}  // namespace

Outcome ArchiveDatabaseFiles(Session& s, const std::string& location, const std::vector<std::string>& files) {
  std::string error;
  const bool server = IsServerLocation(location);
  const std::string opened = server ? location : Utf8FromPath(s.InWorkDir(location));
  std::error_code ec;
  const bool existed = server || std::filesystem::exists(PathFromUtf8(opened), ec);
  std::unique_ptr<PeriodArchive> archive;
  Outcome outcome = Outcome::Completed;
  std::string lines;
  size_t added = 0;
  for (const std::string& file : files) {
    const std::string name = Utf8FromPath(PathFromUtf8(file).filename());
    const auto db = LoadDatabase(s, file);
    ImportResult result;
    if (!db) {
      outcome = Outcome::Failed;
      continue;
    }
    // Opened once a file has been read: files that are no databases leave no archive behind.
    if (!archive) {
      archive = OpenPeriodArchive(opened, error);
      if (!archive) {
        s.ui.ShowMessage(text::kCaptionWarning,
                         "Nie można otworzyć archiwum " + MaskedLocation(location) + " !\r" + error);
        return Outcome::Failed;
      }
    }
    // Each logger's stamps in the zone stored with it at its first import, else the machine's.
    ClockZone clock;
    auto zone = ChooseClockZone(*archive, ImportedLoggerName(*db, ""), "", false, false, clock, error)
                    ? TimeZone::Named(clock.name, error)
                    : std::nullopt;
    if (!zone ||
        !ImportDatabase(*archive, *db, ImportOptions{"", std::nullopt, clock.record}, *zone, result, error)) {
      lines += name + ": błąd archiwum: " + error + "\r";
      outcome = Outcome::Failed;
      continue;
    }
    added += result.counts.added;
    const AddCounts& c = result.counts;
    lines += name + " (" + result.logger + "): dodane " + std::to_string(c.added) + ", już obecne " +
             std::to_string(c.present) + ", w konflikcie " + std::to_string(c.conflicts);
    // Records whose stamp is no date cannot be placed in time: the user learns they stayed out.
    if (result.undated) lines += ", bez poprawnej daty " + std::to_string(result.undated);
    lines += "\r";
  }
  if (!lines.empty()) {
    lines.pop_back();
    s.ui.ShowMessage(kCaptionArchive, lines);
  }
  // An archive this made and nothing went into (a file without records) is taken away again.
  if (!existed && added == 0 && archive && HoldsNoReadings(*archive)) {
    archive.reset();
    for (const char* suffix : {"", "-wal", "-shm"})
      std::filesystem::remove(PathFromUtf8(opened + suffix), ec);
  }
  return outcome;
}

}  // namespace velutron::archive
