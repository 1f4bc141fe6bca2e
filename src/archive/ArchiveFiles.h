#pragma once

#include <string>
#include <vector>

#include "session/Session.h"

namespace velutron::archive {

// "Archiwizuj": adds the readings of database files to the archive at `location` (a SQLite file or a
// postgresql:// URL), with the machine's time zone, and shows per file how many readings were added,
// were already archived, or disagree with the archived ones. A file that cannot be read is reported as
// the report reports it and the others still go in.
Outcome ArchiveDatabaseFiles(Session& s, const std::string& location, const std::vector<std::string>& files);

inline constexpr const char* kDefaultArchive = "velutron.db";

}  // namespace velutron::archive
