#include "archive/ArchiveFiles.h"

#include "archive/Import.h"
#include "data/Measurements.h"

namespace velutron::archive {

namespace {
constexpr std::string_view kCaptionArchive = "Archiwizacja";
}

Outcome ArchiveDatabaseFiles(Session& s, const std::string& location, const std::vector<std::string>& files) {
  std::string error;
  const bool server = location.starts_with("postgresql://") || location.starts_with("postgres://");
  auto archive = OpenPeriodArchive(server ? location : Utf8FromPath(s.InWorkDir(location)), error);
  if (!archive) {
    s.ui.ShowMessage(text::kCaptionWarning, "Nie można otworzyć archiwum " + location + " !\r" + error);
    return Outcome::Failed;
  }
  Outcome outcome = Outcome::Completed;
  std::string lines;
  for (const std::string& file : files) {
    const std::string name = Utf8FromPath(PathFromUtf8(file).filename());
    const auto db = LoadDatabase(s, file);
    ImportResult result;
    if (!db) {
      outcome = Outcome::Failed;
      continue;
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
  return outcome;
}

}  // namespace velutron::archive
