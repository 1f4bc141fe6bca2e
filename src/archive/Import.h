#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/TimeZone.h"
#include "data/DatabaseFile.h"

namespace velutron::archive {

// An offset a file's stamps were read with, from the first record read with it on.
struct ClockOffset {
  int64_t offset_s = 0;  // east of UTC
  int64_t from_utc_ms = 0;
};

struct ImportResult {
  std::string logger;
  AddCounts counts;
  size_t undated = 0;     // records whose stamp is no real date: they cannot be placed in time
  size_t gap_times = 0;   // stamps in the hour the zone skips (clocks forward), marked "dst-gap"
  size_t fold_times = 0;  // stamps in the hour the zone repeats (clocks back), marked "dst-fold"
  // One offset for a clock that runs as it was set; two or more when it followed the zone's changes.
  std::vector<ClockOffset> offsets;
  // Why the hours the file added to were not summarised (their readings are archived all the same):
  // until they are, a change made to them outside the program goes unnamed by reports.
  std::string summary_error;
};

struct ImportOptions {
  std::string logger;               // the logger's name; empty: the owner text of the file
  std::optional<int64_t> offset_s;  // one offset for the whole file instead of the zone's
  std::string record_zone;          // stored with the logger as its clock's zone; empty: left as it is
};

// Adds every reading of a database file (that passed every check) to the archive as readings of its
// logger. A logger's clock runs as it was set, so one offset holds for the whole file: `offset_s`, or
// else the zone's at the first record. Only when the stamps jump by exactly the zone's change at the
// zone's moment (a clock that follows summer time) does the offset change there with them. Records are
// taken in time order whichever way the file was downloaded.
bool ImportDatabase(PeriodArchive& archive, const DatabaseContents& db, const ImportOptions& options,
                    const TimeZone& zone, ImportResult& result, std::string& error);
// The same with the zone's offsets and the zone left as stored.
bool ImportDatabase(PeriodArchive& archive, const DatabaseContents& db, const std::string& logger,
                    const TimeZone& zone, ImportResult& result, std::string& error);

// The name a file's readings are archived under: `logger`, or else the owner text the file carries.
std::string ImportedLoggerName(const DatabaseContents& db, const std::string& logger);

// The zone a logger's stamps are read in and what is stored: the zone `asked` for (--tz), else the
// one stored with the logger, else the machine's; a logger without a stored zone keeps the one used.
struct ClockZone {
  std::string name;    // empty: the machine's, of no known name
  std::string record;  // for ImportOptions::record_zone
};
// A zone asked for that is not the stored one is refused (false, `error` saying why and how to insist)
// unless `replace` (it becomes the stored zone) or `once` (an offset given for this file alone).
bool ChooseClockZone(PeriodArchive& archive, const std::string& logger, const std::string& asked,
                     bool replace, bool once, ClockZone& zone, std::string& error);

}  // namespace velutron::archive
