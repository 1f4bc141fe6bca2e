// download, report: the measurement databases.

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

#include "cli/Runner.h"
#include "data/DatabaseCommands.h"
#include "data/Download.h"

namespace velutron::cli {

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
}

}  // namespace velutron::cli
