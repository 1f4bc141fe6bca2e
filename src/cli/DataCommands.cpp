// download, report, export: the measurement databases.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "cli/Runner.h"
#include "data/DatabaseCommands.h"
#include "data/Download.h"
#include "data/Export.h"
#include "data/Measurements.h"
#include "platform/AtomicFile.h"
#include "platform/Utf8Path.h"

namespace velutron::cli {

namespace {

struct ExportArgs {
  std::string file;
  std::string format;
  std::optional<std::string> out;
  std::optional<std::string> delimiter;
  std::optional<std::string> decimal;
  bool texts = false;
};

// Choices the parser cannot check one option at a time; a wrong one is a usage error, exit 2.
void CheckExportArgs(const ExportArgs& a) {
  if (a.format != "csv" && (a.delimiter || a.decimal || a.texts)) {
    throw CLI::ValidationError("--delimiter, --decimal and --texts are for --format csv only");
  }
  if (a.format == "xlsx" && !a.out) throw CLI::ValidationError("--format xlsx needs --out FILE.xlsx");
  if (a.delimiter.value_or(",") == a.decimal.value_or(".")) {
    throw CLI::ValidationError("--delimiter and --decimal must differ");
  }
}

char DelimiterOf(const std::optional<std::string>& given) {
  if (!given) return ',';
  return *given == "tab" ? '\t' : given->front();
}

Outcome Workbook(Runner& r, const ExportArgs& a) {
  if (!WorkbookAvailable()) {
    std::fputs(
        "velutron-cli: no xlsx workbooks here: libxlsxwriter is not installed, or this build has none\n",
        stderr);
    return Outcome::Failed;
  }
  Session& s = r.session();
  const auto db = LoadDatabase(s, a.file);
  if (!db) return Outcome::Failed;
  const auto sheets = DatabaseSheets(*db, Utf8FromPath(PathFromUtf8(a.file).filename()), LocalTimeZoneName());
  if (WriteWorkbook(s.InWorkDir(*a.out), sheets) != WorkbookResult::Written) {
    s.ui.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }
  return Outcome::Completed;
}

Outcome Export(Runner& r, const ExportArgs& a) {
  if (a.out && OutputIsInput(r, a.file, *a.out)) return Outcome::Failed;
  if (a.format == "xlsx") return Workbook(r, a);
  // The export itself is standard output when no file is named: the messages must not mix into it.
  if (!a.out) r.ui().SetOutput(stderr);
  Session& s = r.session();
  const auto db = LoadDatabase(s, a.file);
  if (!db) return Outcome::Failed;
  const ExportFormat format = a.format == "json" ? ExportFormat::Json : ExportFormat::Csv;
  const CsvStyle style{DelimiterOf(a.delimiter), a.decimal ? a.decimal->front() : '.', a.texts};
  const std::string exported =
      ExportDatabase(*db, format, Utf8FromPath(PathFromUtf8(a.file).filename()), style);
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(exported.data()), exported.size());
  const bool written = a.out ? WriteFileAtomically(s.InWorkDir(*a.out), bytes)
                             : std::fwrite(exported.data(), 1, exported.size(), stdout) == exported.size() &&
                                   std::fflush(stdout) == 0;
  if (!written) {
    s.ui.ShowMessage(text::kCaptionWarning, "Blokada zapisu pliku na dysku !");
    return Outcome::Failed;
  }
  return Outcome::Completed;
}

}  // namespace

void AddDataCommands(CLI::App& app, Command& chosen) {
  struct DownloadArgs {
    std::optional<std::string> name;
    bool descending = false;
  };
  auto download = std::make_shared<DownloadArgs>();
  auto* dl = app.add_subcommand("download", "download the measurements into a database file NAME.DAT");
  dl->add_option("NAME", download->name, "file name without .DAT (default: the proposed name)");
  dl->add_flag("--descending", download->descending, "records from N down to 1");
  dl->callback([&chosen, download] {
    chosen = [download](Runner& r) {
      r.Connect();
      r.ui().inputAnswer = download->name;
      return Load_Dat(r.session(),
                      download->descending ? proto::kDownloadDescending : proto::kDownloadAscending);
    };
  });

  auto reportFile = std::make_shared<std::string>();
  auto* report = app.add_subcommand("report", "render a database file into ViewData.CSV");
  report->add_option("FILE", *reportFile, "database file (*.DAT)")->required();
  report->callback([&chosen, reportFile] {
    chosen = [reportFile](Runner& r) {
      r.ui().fileAnswer = ChosenFile(*reportFile);
      return BitBtn1Click(r.session());
    };
  });

  auto exportArgs = std::make_shared<ExportArgs>();
  auto* ex = app.add_subcommand("export", "the records of a database as CSV, JSON or an xlsx workbook");
  ex->add_option("FILE", exportArgs->file, "database file (*.DAT)")->required();
  ex->add_option("--format", exportArgs->format, "csv, json or xlsx")
      ->required()
      ->check(CLI::IsMember({"csv", "json", "xlsx"}));
  ex->add_option("--out", exportArgs->out, "file to write (default: standard output; required for xlsx)");
  ex->add_option("--delimiter", exportArgs->delimiter, "CSV field separator: , ; | or tab (default ,)")
      ->check(CLI::IsMember({",", ";", "|", "\t", "tab"}));
  ex->add_option("--decimal", exportArgs->decimal, "CSV decimal mark: . or , (default .)")
      ->check(CLI::IsMember({".", ","}));
  ex->add_flag("--texts", exportArgs->texts, "CSV: the file's texts as # lines before the header");
  ex->callback([&chosen, exportArgs] {
    CheckExportArgs(*exportArgs);
    chosen = [exportArgs](Runner& r) { return Export(r, *exportArgs); };
  });
}

}  // namespace velutron::cli
