#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/DatabaseFile.h"
#include "data/Measurements.h"
#include "data/Workbook.h"
#include "session/Session.h"

namespace velutron {

// The records of a database for spreadsheets, scripts and databases: one row per record, ISO 8601
// times, numbers with "." (°C, %RH), UTF-8. ViewData.CSV stays the report; this is an addition.
enum class ExportFormat { Csv, Json };

// A CSV is RFC 4180 (",", ".") unless asked for a regional spreadsheet's separators; the file's texts
// go before the header as "# " lines only when asked for, since readers take the first line as the header.
struct CsvStyle {
  char delimiter = ',';
  char decimal = '.';
  bool texts = false;
};

// The pieces every export of readings shares (also the archive's period export).
// The shortest text that reads back as the same number, always with a decimal part (as JSON has it).
std::string NumberText(double value);
// Texts become one comment line each: control characters would break it.
std::string OneLine(std::string text);
// RFC 4180: a field holding the delimiter, a quote or a line break is quoted, its quotes doubled.
std::string CsvField(std::string_view text, char delimiter);

// `fileName` names the database in the texts. `db` must have passed every check.
std::string ExportDatabase(const DatabaseContents& db, ExportFormat format, std::string_view fileName,
                           const CsvStyle& csv = {});

// What a database says besides its records.
struct ExportTexts {
  std::string file;
  std::string owner;
  std::string supervision;
  std::vector<std::string> pointNames;  // channel 1 first
  std::optional<int> switchThreshold;   // °C
};
ExportTexts TextsOf(const DatabaseContents& db, std::string_view fileName);

// The workbook's sheets. The records sheet takes any rows, a database's or a period's: its times are
// real date-times in `timeZone`, which the time column's header names ("Czas (Europe/Warsaw)"), each
// value a number under its channel and unit, and a marker leaves the cell empty and goes into "Status".
SheetTable RecordsSheet(const std::vector<Measurement>& rows, int channels, std::string_view timeZone);
SheetTable TextsSheet(const ExportTexts& texts);
std::vector<SheetTable> DatabaseSheets(const DatabaseContents& db, std::string_view fileName,
                                       std::string_view timeZone);

// "Eksport do arkusza…": the workbook of a database the user chooses, saved where `chooseTarget` says
// (given the proposed name, the database's with ".xlsx"; nullopt when cancelled).
using WorkbookTargetChooser = std::function<std::optional<std::string>(const std::string& proposed)>;
Outcome Eksportdoarkusza1Click(Session& s, const WorkbookTargetChooser& chooseTarget);

// The zone this machine's local times are in ("Europe/Warsaw"); empty when it cannot tell.
std::string LocalTimeZoneName();

}  // namespace velutron
