#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "session/Session.h"
#include "data/DatabaseFile.h"

namespace velutron {

inline constexpr const char* kReportFileName = "ViewData.CSV";

// Renders the database file named by DatabaseFileName into "ViewData.CSV" and the report view.
Outcome ViewBufor(Session& s);

// The report of a database that passed every check: Windows-1250 bytes, CR LF line ends, no line end
// after the closing rule. `now` stamps the conversion; `databaseFileName` is named as given (UTF-8).
std::vector<uint8_t> RenderReport(const DatabaseContents& db, const Locale& locale, const CivilTime& now,
                                  std::string_view databaseFileName);

// Puts report bytes into ReportBuffer (grown when the report is longer) and the whole report into the
// view; zero bytes from logger texts are shown as spaces.
void LoadReportView(Session& s, std::span<const uint8_t> report);

}  // namespace velutron
