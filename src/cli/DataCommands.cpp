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
};

Outcome Export(Runner& r, const ExportArgs& a) {
  if (a.out && OutputIsInput(r, a.file, *a.out)) return Outcome::Failed;
  // The export itself is standard output when no file is named: the messages must not mix into it.
  if (!a.out) r.ui().SetOutput(stderr);
  Session& s = r.session();
  const auto db = LoadDatabase(s, a.file);
  if (!db) return Outcome::Failed;
  const ExportFormat format = a.format == "json" ? ExportFormat::Json : ExportFormat::Csv;
  const std::string exported = ExportDatabase(*db, format, Utf8FromPath(PathFromUtf8(a.file).filename()));
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
  auto* ex = app.add_subcommand("export", "the records of a database as CSV or JSON for other tools");
  ex->add_option("FILE", exportArgs->file, "database file (*.DAT)")->required();
  ex->add_option("--format", exportArgs->format, "csv or json")
      ->required()
      ->check(CLI::IsMember({"csv", "json"}));
  ex->add_option("--out", exportArgs->out, "file to write (default: standard output)");
  ex->callback(
      [&chosen, exportArgs] { chosen = [exportArgs](Runner& r) { return Export(r, *exportArgs); }; });
}

}  // namespace velutron::cli
