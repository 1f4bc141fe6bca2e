// Feeds arbitrary bytes to the database-file reader and, when they pass every check, to the report
// renderer; checks that what the reader claims agrees with the bytes it was given.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "data/DatabaseFile.h"
#include "data/Report.h"
#include "platform/Locale.h"

using namespace velutron;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const DatabaseContents db = DecodeDatabase(file);
  const size_t recordSize = db.channels > 0 ? dbfile::RecordSize(db.channels) : 1;
  if (db.records.size() % recordSize != 0 || db.RecordsRead() > db.recordCount) std::abort();
  if (!db.Valid()) return 0;

  if (db.RecordsRead() != db.recordCount || db.ownerText.size() != dbfile::kOwnerTextSize ||
      db.pointNames.size() != dbfile::kPointNameSize * static_cast<size_t>(db.channels)) {
    std::abort();
  }
  const size_t header = db.olderLayout ? dbfile::kOlderHeaderSize : dbfile::kHeaderSize;
  if (size < dbfile::FileSize(db.channels, db.recordCount) - dbfile::kHeaderSize + header) std::abort();

  static const FixedLocale locale(",");
  const auto report = RenderReport(db, locale, CivilTime{2009, 6, 5, 14, 5, 30}, "fuzz.DAT");
  if (report.size() < 51 || report.back() != '-') std::abort();
  return 0;
}
