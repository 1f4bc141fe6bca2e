#pragma once

#include <filesystem>
#include <memory>
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

// The same workbook written a row at a time, for sheets too long to hold in memory: each row goes to
// disk as it is written, so the columns' widths (in characters) come with the header. A sheet longer
// than a spreadsheet's rows goes on in "NAME 2", "NAME 3"…, each with the header. The target is
// replaced whole by Commit, or left as it was.
class WorkbookStream {
 public:
  static constexpr size_t kRowsPerSheet = 1'048'575;  // below the header, as spreadsheets allow
  explicit WorkbookStream(const std::filesystem::path& target, size_t rowsPerSheet = kRowsPerSheet);
  ~WorkbookStream();
  WorkbookStream(const WorkbookStream&) = delete;
  WorkbookStream& operator=(const WorkbookStream&) = delete;

  // Unavailable without the library, Failed when the target cannot be written, else Written.
  WorkbookResult Open();
  bool Sheet(const std::string& name, const std::vector<std::string>& headers,
             const std::vector<size_t>& widths);
  bool Row(const std::vector<SheetCell>& cells);
  // A sheet held whole, its widths fitting its contents.
  bool Table(const SheetTable& table);
  WorkbookResult Commit();

 private:
  bool StartSheet(const std::string& name);
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velutron
