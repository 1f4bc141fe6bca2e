#pragma once

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "platform/Clock.h"

namespace velutron {

// One cell of a sheet: empty, a number, a text, or a date and time the spreadsheet reads as one.
using SheetCell = std::variant<std::monostate, double, std::string, CivilTime>;

// A sheet as the spreadsheet shows it: a header row, then the rows, one cell per header.
struct SheetTable {
  std::string name;
  std::vector<std::string> headers;
  std::vector<std::vector<SheetCell>> rows;
};

enum class WorkbookResult { Written, Failed, Unavailable };

// False in a build without the xlsx library (the Windows cross build), or where it cannot be loaded.
bool WorkbookAvailable();

// Writes `sheets` as one xlsx workbook: header rows in bold and frozen, column widths that fit their
// contents, date-times as "yyyy-mm-dd hh:mm:ss". The target is replaced whole or not at all, with the
// rules of every file the program writes (a protected target is refused, a link followed).
WorkbookResult WriteWorkbook(const std::filesystem::path& target, const std::vector<SheetTable>& sheets);

}  // namespace velutron
