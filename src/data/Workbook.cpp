#include "data/Workbook.h"

#ifdef VELUTRON_XLSX
#include <dlfcn.h>
#include <locale.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <random>
#include <span>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/LoadedSymbol.h"
#endif

namespace velutron {

#ifndef VELUTRON_XLSX

bool WorkbookAvailable() { return false; }

WorkbookResult WriteWorkbook(const std::filesystem::path&, const std::vector<SheetTable>&) {
  return WorkbookResult::Unavailable;
}

struct WorkbookStream::State {};
WorkbookStream::WorkbookStream(const std::filesystem::path&, size_t) {}
WorkbookStream::~WorkbookStream() = default;
WorkbookResult WorkbookStream::Open() { return WorkbookResult::Unavailable; }
bool WorkbookStream::Sheet(const std::string&, const std::vector<std::string>&, const std::vector<size_t>&) {
  return false;
}
bool WorkbookStream::Row(const std::vector<SheetCell>&) { return false; }
bool WorkbookStream::Table(const SheetTable&) { return false; }
bool WorkbookStream::StartSheet(const std::string&) { return false; }
WorkbookResult WorkbookStream::Commit() { return WorkbookResult::Unavailable; }

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

// The library prints numbers and widths with printf, whose decimal point is the C library's numeric
// locale's; the desktop takes that from the regional settings, and a decimal comma breaks the workbook.
// The "C" one is in force while the library works, for this thread only.
class CNumbers {
 public:
  CNumbers() : previous_(C() != nullptr ? uselocale(C()) : nullptr) {}
  ~CNumbers() {
    if (previous_ != nullptr) uselocale(previous_);
  }
  CNumbers(const CNumbers&) = delete;
  CNumbers& operator=(const CNumbers&) = delete;

 private:
  static locale_t C() {
    static const locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    return c;
  }
  locale_t previous_;
};

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

size_t WidthOf(const SheetTable& table, size_t column) {
  size_t width = Characters(table.headers[column]);
  for (const auto& row : table.rows) {
    if (column < row.size()) width = std::max(width, CellWidth(row[column]));
  }
  return width;
}

}  // namespace

bool WorkbookAvailable() { return Library() != nullptr; }

struct WorkbookStream::State {
  const Xlsx* x = nullptr;
  std::filesystem::path target;
  std::optional<AtomicFile> file;
  std::optional<Scratch> scratch;
  lxw_workbook* book = nullptr;
  lxw_format* header = nullptr;
  lxw_format* dateTime = nullptr;
  lxw_worksheet* sheet = nullptr;
  lxw_row_t row = 0;
  bool ok = true;
  // The sheet being written, to go on in another when it is full.
  size_t rowsPerSheet = 0;
  std::string name;
  std::vector<std::string> headers;
  std::vector<size_t> widths;
  int part = 1;
};

WorkbookStream::WorkbookStream(const std::filesystem::path& target, size_t rowsPerSheet)
    : state_(std::make_unique<State>()) {
  state_->target = target;
  state_->rowsPerSheet = std::max<size_t>(1, std::min(rowsPerSheet, kRowsPerSheet));
}

WorkbookStream::~WorkbookStream() {
  // Closing frees the workbook; the scratch copy goes with the state, the target stays as it was.
  const CNumbers numbers;
  if (state_->book != nullptr) state_->x->close(state_->book);
}

WorkbookResult WorkbookStream::Open() {
  State& st = *state_;
  st.x = Library();
  if (st.x == nullptr) return WorkbookResult::Unavailable;
  st.file.emplace(st.target);
  if (!st.file->Ok()) return WorkbookResult::Failed;
  std::random_device rd;
  std::filesystem::path name(".");
  name += st.target.filename().native();
  name += "." + std::to_string(rd() & 0xFFFFFF) + ".xlsx";
  st.scratch.emplace();
  st.scratch->path = st.target.parent_path() / name;
  const CNumbers numbers;
  // Constant memory: each row goes to the library's temporary file as soon as the next one starts.
  lxw_workbook_options options{LXW_TRUE, nullptr, LXW_FALSE};
  st.book = st.x->newOpt(st.scratch->path.string().c_str(), &options);
  if (st.book == nullptr) return WorkbookResult::Failed;
  st.header = st.x->addFormat(st.book);
  st.x->setBold(st.header);
  st.dateTime = st.x->addFormat(st.book);
  st.x->setNumFormat(st.dateTime, "yyyy-mm-dd hh:mm:ss");
  return WorkbookResult::Written;
}

bool WorkbookStream::Sheet(const std::string& name, const std::vector<std::string>& headers,
                           const std::vector<size_t>& widths) {
  State& st = *state_;
  st.name = name;
  st.headers = headers;
  st.widths = widths;
  st.part = 1;
  return StartSheet(name);
}

bool WorkbookStream::StartSheet(const std::string& name) {
  State& st = *state_;
  if (st.book == nullptr || !st.ok) return false;
  const CNumbers numbers;
  const Xlsx& x = *st.x;
  const std::vector<std::string>& headers = st.headers;
  const std::vector<size_t>& widths = st.widths;
  st.sheet = x.addWorksheet(st.book, XmlSafe(name).c_str());
  st.ok = st.sheet != nullptr;
  for (size_t c = 0; st.ok && c < headers.size(); ++c) {
    const auto col = static_cast<lxw_col_t>(c);
    const size_t width = std::max(Characters(headers[c]), c < widths.size() ? widths[c] : 0);
    st.ok = x.setColumn(st.sheet, col, col, std::min(kMaxColumnWidth, static_cast<double>(width) + 2),
                        nullptr) == LXW_NO_ERROR;
  }
  if (!st.ok) return false;
  x.freezePanes(st.sheet, 1, 0);
  for (size_t c = 0; st.ok && c < headers.size(); ++c) {
    st.ok = x.writeString(st.sheet, 0, static_cast<lxw_col_t>(c), XmlSafe(headers[c]).c_str(), st.header) ==
            LXW_NO_ERROR;
  }
  st.row = 1;
  return st.ok;
}

bool WorkbookStream::Row(const std::vector<SheetCell>& cells) {
  State& st = *state_;
  if (st.sheet == nullptr || !st.ok) return false;
  const CNumbers numbers;
  if (st.row > st.rowsPerSheet && !StartSheet(st.name + " " + std::to_string(++st.part))) return false;
  const Xlsx& x = *st.x;
  for (size_t c = 0; st.ok && c < cells.size(); ++c) {
    const SheetCell& cell = cells[c];
    const auto col = static_cast<lxw_col_t>(c);
    lxw_error error = LXW_NO_ERROR;
    if (const auto* text = std::get_if<std::string>(&cell)) {
      error = x.writeString(st.sheet, st.row, col, XmlSafe(*text).c_str(), nullptr);
    } else if (const auto* number = std::get_if<double>(&cell)) {
      error = x.writeNumber(st.sheet, st.row, col, *number, nullptr);
    } else if (const auto* t = std::get_if<CivilTime>(&cell)) {
      lxw_datetime dt{t->year, t->month, t->day, t->hour, t->minute, static_cast<double>(t->second)};
      error = x.writeDatetime(st.sheet, st.row, col, &dt, st.dateTime);
    }
    st.ok = error == LXW_NO_ERROR;
  }
  ++st.row;
  return st.ok;
}

bool WorkbookStream::Table(const SheetTable& table) {
  // Widths first: rows go to disk as they are written.
  std::vector<size_t> widths;
  for (size_t c = 0; c < table.headers.size(); ++c) widths.push_back(WidthOf(table, c));
  if (!Sheet(table.name, table.headers, widths)) return false;
  for (const auto& row : table.rows) {
    if (!Row(row)) return false;
  }
  return true;
}

WorkbookResult WorkbookStream::Commit() {
  State& st = *state_;
  if (st.book == nullptr) return st.x == nullptr ? WorkbookResult::Unavailable : WorkbookResult::Failed;
  const CNumbers numbers;
  // The library writes the file only now, and frees the workbook whatever happened.
  const bool closed = st.x->close(st.book) == LXW_NO_ERROR;
  st.book = nullptr;
  if (!closed || !st.ok) return WorkbookResult::Failed;
  // Copied a piece at a time: a year's workbook need not sit in memory.
  std::ifstream in(st.scratch->path, std::ios::binary);
  std::vector<uint8_t> piece(1 << 20);
  while (in) {
    in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
    const auto n = static_cast<size_t>(in.gcount());
    if (n > 0 && !st.file->Write(std::span<const uint8_t>(piece.data(), n))) return WorkbookResult::Failed;
  }
  if (!in.eof() || !st.file->Commit()) return WorkbookResult::Failed;
  return WorkbookResult::Written;
}

WorkbookResult WriteWorkbook(const std::filesystem::path& target, const std::vector<SheetTable>& sheets) {
  WorkbookStream book(target);
  const WorkbookResult opened = book.Open();
  if (opened != WorkbookResult::Written) return opened;
  for (const SheetTable& table : sheets) {
    if (!book.Table(table)) return WorkbookResult::Failed;
  }
  return book.Commit();
}

#endif

}  // namespace velutron
