#include "data/Workbook.h"

#ifdef VELUTRON_XLSX
#include <dlfcn.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <random>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/FileRead.h"
#include "platform/LoadedSymbol.h"
#endif

namespace velutron {

#ifndef VELUTRON_XLSX

bool WorkbookAvailable() { return false; }

WorkbookResult WriteWorkbook(const std::filesystem::path&, const std::vector<SheetTable>&) {
  return WorkbookResult::Unavailable;
}

#else

namespace {

// libxlsxwriter brings zlib, minizip and libcrypto with it, which cost every start of velutron-cli more
// than a millisecond; it is loaded only when a workbook is written.
struct Xlsx {
  decltype(&::format_set_bold) setBold = nullptr;
  decltype(&::format_set_num_format) setNumFormat = nullptr;
  decltype(&::workbook_add_format) addFormat = nullptr;
  decltype(&::workbook_add_worksheet) addWorksheet = nullptr;
  decltype(&::workbook_close) close = nullptr;
  decltype(&::workbook_new_opt) newOpt = nullptr;
  decltype(&::worksheet_freeze_panes) freezePanes = nullptr;
  decltype(&::worksheet_set_column) setColumn = nullptr;
  decltype(&::worksheet_write_datetime) writeDatetime = nullptr;
  decltype(&::worksheet_write_number) writeNumber = nullptr;
  decltype(&::worksheet_write_string) writeString = nullptr;
};

std::optional<Xlsx> Load() {
  void* handle = dlopen("libxlsxwriter.so.4", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return std::nullopt;
  Xlsx f;
  const bool complete = LoadedSymbol(handle, "format_set_bold", f.setBold) &&
                        LoadedSymbol(handle, "format_set_num_format", f.setNumFormat) &&
                        LoadedSymbol(handle, "workbook_add_format", f.addFormat) &&
                        LoadedSymbol(handle, "workbook_add_worksheet", f.addWorksheet) &&
                        LoadedSymbol(handle, "workbook_close", f.close) &&
                        LoadedSymbol(handle, "workbook_new_opt", f.newOpt) &&
                        LoadedSymbol(handle, "worksheet_freeze_panes", f.freezePanes) &&
                        LoadedSymbol(handle, "worksheet_set_column", f.setColumn) &&
                        LoadedSymbol(handle, "worksheet_write_datetime", f.writeDatetime) &&
                        LoadedSymbol(handle, "worksheet_write_number", f.writeNumber) &&
                        LoadedSymbol(handle, "worksheet_write_string", f.writeString);
  if (!complete) return std::nullopt;
  return f;
}

// The library's functions, or null when it cannot be loaded.
const Xlsx* Library() {
  static const std::optional<Xlsx> loaded = Load();
  return loaded ? &*loaded : nullptr;
}

constexpr double kMaxColumnWidth = 60;
constexpr size_t kDateTimeWidth = 19;  // yyyy-mm-dd hh:mm:ss

// XML cannot carry control characters other than tab and line breaks.
std::string XmlSafe(std::string text) {
  for (char& c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\t' && c != '\n') c = ' ';
  }
  return text;
}

size_t Characters(std::string_view utf8) {
  return static_cast<size_t>(std::count_if(
      utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string NumberText(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

size_t CellWidth(const SheetCell& cell) {
  if (const auto* text = std::get_if<std::string>(&cell)) return Characters(*text);
  if (const auto* number = std::get_if<double>(&cell)) return NumberText(*number).size();
  if (std::holds_alternative<CivilTime>(cell)) return kDateTimeWidth;
  return 0;
}

// Removes the library's scratch copy however the writing ends.
struct Scratch {
  std::filesystem::path path;
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
};

bool WriteSheet(const Xlsx& x, lxw_workbook* book, const SheetTable& table, lxw_format* header,
                lxw_format* dateTime) {
  lxw_worksheet* sheet = x.addWorksheet(book, XmlSafe(table.name).c_str());
  if (sheet == nullptr) return false;
  // Widths first: rows go to disk as they are written.
  for (size_t c = 0; c < table.headers.size(); ++c) {
    size_t width = Characters(table.headers[c]);
    for (const auto& row : table.rows) {
      if (c < row.size()) width = std::max(width, CellWidth(row[c]));
    }
    const auto col = static_cast<lxw_col_t>(c);
    if (x.setColumn(sheet, col, col, std::min(kMaxColumnWidth, static_cast<double>(width) + 2), nullptr) !=
        LXW_NO_ERROR) {
      return false;
    }
  }
  x.freezePanes(sheet, 1, 0);
  for (size_t c = 0; c < table.headers.size(); ++c) {
    if (x.writeString(sheet, 0, static_cast<lxw_col_t>(c), XmlSafe(table.headers[c]).c_str(), header) !=
        LXW_NO_ERROR) {
      return false;
    }
  }
  for (size_t r = 0; r < table.rows.size(); ++r) {
    const auto row = static_cast<lxw_row_t>(r + 1);
    for (size_t c = 0; c < table.rows[r].size(); ++c) {
      const SheetCell& cell = table.rows[r][c];
      const auto col = static_cast<lxw_col_t>(c);
      lxw_error error = LXW_NO_ERROR;
      if (const auto* text = std::get_if<std::string>(&cell)) {
        error = x.writeString(sheet, row, col, XmlSafe(*text).c_str(), nullptr);
      } else if (const auto* number = std::get_if<double>(&cell)) {
        error = x.writeNumber(sheet, row, col, *number, nullptr);
      } else if (const auto* t = std::get_if<CivilTime>(&cell)) {
        lxw_datetime dt{t->year, t->month, t->day, t->hour, t->minute, static_cast<double>(t->second)};
        error = x.writeDatetime(sheet, row, col, &dt, dateTime);
      }
      if (error != LXW_NO_ERROR) return false;
    }
  }
  return true;
}

bool WriteScratch(const Xlsx& x, const std::filesystem::path& path, const std::vector<SheetTable>& sheets) {
  // Constant memory: each row goes to the library's temporary file as soon as the next one starts.
  lxw_workbook_options options{LXW_TRUE, nullptr, LXW_FALSE};
  lxw_workbook* book = x.newOpt(path.string().c_str(), &options);
  if (book == nullptr) return false;
  lxw_format* header = x.addFormat(book);
  x.setBold(header);
  lxw_format* dateTime = x.addFormat(book);
  x.setNumFormat(dateTime, "yyyy-mm-dd hh:mm:ss");
  bool ok = true;
  for (const SheetTable& table : sheets) {
    if (!WriteSheet(x, book, table, header, dateTime)) {
      ok = false;
      break;
    }
  }
  // Closing frees the workbook whatever happened, and writes the file only now.
  return x.close(book) == LXW_NO_ERROR && ok;
}

}  // namespace

bool WorkbookAvailable() { return Library() != nullptr; }

WorkbookResult WriteWorkbook(const std::filesystem::path& target, const std::vector<SheetTable>& sheets) {
  const Xlsx* x = Library();
  if (x == nullptr) return WorkbookResult::Unavailable;
  AtomicFile file(target);
  if (!file.Ok()) return WorkbookResult::Failed;
  std::random_device rd;
  std::filesystem::path name(".");
  name += target.filename().native();
  name += "." + std::to_string(rd() & 0xFFFFFF) + ".xlsx";
  const Scratch scratch{target.parent_path() / name};
  if (!WriteScratch(*x, scratch.path, sheets)) return WorkbookResult::Failed;
  // The reader holds as much as it is allowed to read: allow exactly the scratch copy's size.
  std::error_code ec;
  const auto size = static_cast<size_t>(std::filesystem::file_size(scratch.path, ec));
  if (ec) return WorkbookResult::Failed;
  const auto bytes = ReadFileAtMost(scratch.path, size);
  if (!bytes || bytes->size() != size || !file.Write(*bytes) || !file.Commit()) {
    return WorkbookResult::Failed;
  }
  return WorkbookResult::Written;
}

#endif

}  // namespace velutron
