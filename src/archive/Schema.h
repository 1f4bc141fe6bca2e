#pragma once

#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/Database.h"

namespace velutron::archive {

// The archive's tables, and the steps that bring an older file or database up to this version.
inline constexpr int kSchemaVersion = 3;

// Creates the tables or migrates them to kSchemaVersion, in one transaction that other programs opening
// the same archive wait for. With OpenMode::Existing a database without them is refused instead.
bool PrepareSchema(Database& db, std::string& error, OpenMode mode = OpenMode::Create);

// Whether a SQLite file, looked at read-only, may be opened as the archive: ours (of a version this
// program knows), or for OpenMode::Create a database with nothing in it. Says why not in `error`.
bool CheckSqliteArchive(Database& db, OpenMode mode, std::string& error);

}  // namespace velutron::archive
