// archive export: the readings of a period as CSV, JSON or an xlsx workbook.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

#include "archive/PeriodExport.h"
#include "cli/ArchiveCommands.h"
#include "data/Workbook.h"
#include "platform/AtomicFile.h"
#include "platform/Utf8Path.h"

namespace velutron::cli {

using namespace archive;

namespace {

struct ExportArgs {
  PeriodArgs period;
  std::string format;
  std::optional<std::string> out;
  bool texts = false;
};

// The period as the workbook `export` writes of a database, a day at a time: a year's rows never sit
// in memory, and the file is replaced whole or not at all.
Outcome PeriodWorkbook(Runner& r, Period& p, PeriodWriter& writer, const std::string& out) {
  WorkbookStream book(PathFromUtf8(ChosenFile(out)));
  const WorkbookResult opened = book.Open();
  if (opened == WorkbookResult::Unavailable) {
    std::fputs(
        "velutron-cli: no xlsx workbooks here: libxlsxwriter is not installed, or this build has none\n",
        stderr);
    return Outcome::Failed;
  }
  bool written =
      opened == WorkbookResult::Written && book.Sheet("Pomiary", writer.SheetHeaders(), writer.SheetWidths());
  std::string error;
  if (!ForEachDay(
          *p.archive, p.logger.key, p.from_ms, p.to_ms,
          [&](const std::vector<PeriodPoint>& points) {
            return writer.SheetRows(points,
                                    [&book](const std::vector<SheetCell>& row) { return book.Row(row); });
          },
          written, error))
    return Failed(r, error);
  written = written && book.Table(writer.TextsSheet());
  if (!written || book.Commit() != WorkbookResult::Written) {
    r.session().ui.ShowMessage("Uwaga !", "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }
  return Outcome::Completed;
}

// Written a day at a time, so that a year's export never sits in memory whole.
Outcome Export(Runner& r, const ExportArgs& a) {
  // The export itself is standard output when no file is named: the messages must not mix into it.
  if (!a.out) r.ui().SetOutput(stderr);
  Period p;
  if (!LoadPeriod(r, a.period, p)) return Outcome::Failed;
  const PeriodExportOptions options{p.from_ms, p.to_ms, a.period.channels, a.texts};
  std::vector<std::pair<int, Unit>> present;
  std::string error;
  if (!p.archive->SeriesIn(p.logger.key, p.from_ms, p.to_ms, present, error)) return Failed(r, error);
  std::vector<SeriesKey> columns;
  for (const auto& [channel, unit] : present) {
    if (a.period.channels.empty() ||
        std::find(a.period.channels.begin(), a.period.channels.end(), channel) != a.period.channels.end())
      columns.push_back({channel, unit});
  }
  PeriodWriter writer(p.logger, p.channels, columns, options, *p.zone,
                      a.format == "json" ? PeriodFormat::Json : PeriodFormat::Csv);
  if (a.format == "xlsx") return PeriodWorkbook(r, p, writer, *a.out);
  std::optional<AtomicFile> file;
  if (a.out) file.emplace(PathFromUtf8(ChosenFile(*a.out)));
  auto write = [&](const std::string& text) {
    if (file) return file->Ok() && file->Write({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  };
  bool written = write(writer.Head());
  if (!ForEachDay(
          *p.archive, p.logger.key, p.from_ms, p.to_ms,
          [&](const std::vector<PeriodPoint>& points) { return write(writer.Rows(points)); }, written, error))
    return Failed(r, error);
  written = written && write(writer.End()) && (file ? file->Commit() : std::fflush(stdout) == 0);
  if (!written) {
    r.session().ui.ShowMessage("Uwaga !", "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }
  return Outcome::Completed;
}

}  // namespace

void AddArchiveExportCommands(CLI::App* archive, Command& chosen) {
  auto exportArgs = std::make_shared<ExportArgs>();
  auto* ex = archive->add_subcommand("export", "the readings of a period as CSV, JSON or an xlsx workbook");
  AddPeriodOptions(ex, exportArgs->period);
  ex->add_option("--format", exportArgs->format, "csv, json or xlsx")
      ->required()
      ->check(CLI::IsMember({"csv", "json", "xlsx"}));
  ex->add_option("--out", exportArgs->out, "file to write (default: standard output; required for xlsx)");
  ex->add_flag("--texts", exportArgs->texts,
               "CSV: the logger's texts and the period as # lines before the header");
  ex->callback([&chosen, exportArgs] {
    CheckPeriod(exportArgs->period);
    if (exportArgs->texts && exportArgs->format != "csv")
      throw CLI::ValidationError("--texts is for --format csv only");
    if (exportArgs->format == "xlsx" && !exportArgs->out)
      throw CLI::ValidationError("--format xlsx needs --out FILE.xlsx");
    chosen = [exportArgs](Runner& r) { return Export(r, *exportArgs); };
  });
}

}  // namespace velutron::cli
