#pragma once

#include <string>
#include <vector>

#include "archive/Database.h"

namespace velutron::archive {

// The archive's tables, and the steps that bring an older file or database up to this version.
inline constexpr int kSchemaVersion = 3;

// Creates the tables or migrates them to kSchemaVersion, in one transaction that other programs opening
// the same archive wait for.
bool PrepareSchema(Database& db, std::string& error);

}  // namespace velutron::archive
