#pragma once

#include <optional>
#include <string>

#include "archive/Archive.h"
#include "archive/TimeZone.h"
#include "data/DatabaseFile.h"

namespace velutron::archive {

struct ImportResult {
  std::string logger;
  AddCounts counts;
  size_t undated = 0;     // records whose stamp is no real date: they cannot be placed in time
  size_t gap_times = 0;   // local times that never existed (clocks forward), marked "dst-gap"
  size_t fold_times = 0;  // local times that existed twice (clocks back), marked "dst-fold"
};

// Adds every reading of a database file (that passed every check) to the archive as readings of its
// logger, named `logger` or else by the owner text the file carries (the file holds no serial number).
// The records' local stamps become UTC through `zone`; records are taken in time order whichever way
// the file was downloaded, so a repeated hour in autumn reads as its two hours.
bool ImportDatabase(PeriodArchive& archive, const DatabaseContents& db, const std::string& logger,
                    const TimeZone& zone, ImportResult& result, std::string& error);

}  // namespace velutron::archive
