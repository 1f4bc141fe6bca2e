#pragma once

#include <string>
#include <string_view>

#include "data/DatabaseFile.h"

namespace velutron {

// The records of a database for spreadsheets, scripts and databases: one row per record, ISO 8601
// times, numbers with "." (°C, %RH), UTF-8. ViewData.CSV stays the report; this is an addition.
enum class ExportFormat { Csv, Json };

// `fileName` names the database in the metadata. `db` must have passed every check.
std::string ExportDatabase(const DatabaseContents& db, ExportFormat format, std::string_view fileName);

}  // namespace velutron
