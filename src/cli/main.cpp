// velutron-cli: one operation of the program per run, for terminals and scripts.

#include <CLI/CLI.hpp>
#include <QLocale>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/Config.h"
#include "app/Session.h"
#include "app/StartUp.h"
#include "cli/ConsoleUi.h"
#include "data/DatabaseCommands.h"
#include "data/Download.h"
#include "link/Diagnostics.h"
#include "platform/PortNames.h"
#include "platform/QtLocale.h"
#include "platform/SystemSerialPort.h"

namespace velutron::cli {
namespace {

constexpr int kExitCompleted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 3;

struct Options {
  std::string port;
  bool odd = false;
  bool even = false;
  bool service = false;
  bool yes = false;
  bool json = false;
  std::string locale;
  // download
  std::optional<std::string> downloadName;
  bool descending = false;
  // report
  std::string reportFile;
};

int ExitCode(Outcome outcome) {
  switch (outcome) {
    case Outcome::Completed:
      return kExitCompleted;
    case Outcome::Cancelled:
      return kExitCancelled;
    case Outcome::Failed:
      break;
  }
  return kExitFailed;
}

// Settings and port as the desktop program's start-up would have them, without its probe.
class Runner {
 public:
  Runner(const Options& o, ConsoleUi& ui, const Locale& locale)
      : o_(o), ui_(ui), port_(MakeSystemSerialPort()), session_(*port_, clock_, ui_, locale) {}

  Session& session() { return session_; }

  // Port number, parity and service access from the configuration file and the options.
  void LoadSettings() {
    const bool needFile = o_.port.empty() || (!o_.odd && !o_.even);
    if (needFile) {
      LoadConfig(session_, std::nullopt);
      if (session_.settings.ConfigBad) session_.link.state.PortNumber = 1;
    }
    session_.settings.ServiceAccess = o_.service;
    if (o_.odd) session_.settings.OddParity = 1;
    if (o_.even) session_.settings.OddParity = 0;
  }

  // Opens the port; a port that cannot be opened is reported as the start-up reports it, and the
  // operation's own probe then refuses to go on.
  void OpenPort() {
    OpenProgramPort(session_, o_.port.empty() ? ComPortName(session_.link.state.PortNumber) : o_.port);
  }

 private:
  const Options& o_;
  ConsoleUi& ui_;
  SystemClock clock_;
  std::unique_ptr<SerialPort> port_;
  Session session_;
};

Outcome Probe(Runner& r) {
  r.LoadSettings();
  r.OpenPort();
  r.session().link.Test_COM_OK();
  return r.session().link.state.LinkOk ? Outcome::Completed : Outcome::Failed;
}

Outcome Scan(Runner& r) {
  r.LoadSettings();
  return TESTRS2321Click(r.session());
}

Outcome BusTest(Runner& r) {
  r.LoadSettings();
  r.OpenPort();
  return Test1Wie1Click(r.session());
}

Outcome Download(Runner& r, const Options& o, ConsoleUi& ui) {
  r.LoadSettings();
  r.OpenPort();
  ui.inputAnswer = o.downloadName;
  return Load_Dat(r.session(), o.descending ? proto::kDownloadDescending : proto::kDownloadAscending);
}

Outcome Report(Runner& r, const Options& o, ConsoleUi& ui) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(o.reportFile, ec);
  ui.fileAnswer = ec ? o.reportFile : absolute.string();
  return BitBtn1Click(r.session());
}

Outcome Ports(ConsoleUi& ui) {
  for (const PortInfo& p : ListSerialPorts()) {
    ui.Value("port", p.target.empty() ? p.path : p.path + " -> " + p.target);
  }
  for (const ComPortMapping& m : ComMapping()) {
    ui.Value(m.name, m.path + (m.exists ? "" : " (brak)"));
  }
  return Outcome::Completed;
}

int Main(int argc, char** argv) {
  Options o;
  CLI::App cli{"velutron-cli: reads out and configures the VELUTRON temperature logger", "velutron-cli"};
  cli.set_version_flag("--version", std::string(VELUTRON_VERSION));
  cli.require_subcommand(1);
  cli.add_option("--port", o.port, "COMn or a device path (default: the port of VELUTRON.cfg)");
  auto* odd = cli.add_flag("--odd", o.odd, "odd parity, overriding the configuration file");
  auto* even = cli.add_flag("--even", o.even, "even parity, overriding the configuration file");
  odd->excludes(even);
  cli.add_flag("--service", o.service, "service access");
  cli.add_flag("--yes", o.yes, "answer OK to every OK/Cancel question");
  cli.add_flag("--json", o.json, "one JSON object per line");
  cli.add_option("--locale", o.locale,
                 "regional settings (pl_PL, en_US, C, ...); default: the environment's");

  using Command = std::function<Outcome(Runner&, ConsoleUi&)>;
  Command command;
  cli.add_subcommand("probe", "the link probe alone")->callback([&] {
    command = [](Runner& r, ConsoleUi&) { return Probe(r); };
  });
  cli.add_subcommand("scan", "Test RS-232: find the port and parity the logger answers on")->callback([&] {
    command = [](Runner& r, ConsoleUi&) { return Scan(r); };
  });
  cli.add_subcommand("bus-test", "Test 1-Wire: the sensor bus and its CRC conflicts")->callback([&] {
    command = [](Runner& r, ConsoleUi&) { return BusTest(r); };
  });
  auto* download = cli.add_subcommand("download", "download the measurements into a database file NAME.DAT");
  download->add_option("NAME", o.downloadName, "file name without .DAT (default: the proposed name)");
  download->add_flag("--descending", o.descending, "records from N down to 1");
  download->callback([&] { command = [&o](Runner& r, ConsoleUi& ui) { return Download(r, o, ui); }; });
  auto* report = cli.add_subcommand("report", "render a database file into ViewData.CSV");
  report->add_option("FILE", o.reportFile, "database file (*.DAT)")->required();
  report->callback([&] { command = [&o](Runner& r, ConsoleUi& ui) { return Report(r, o, ui); }; });
  cli.add_subcommand("ports", "list the serial ports and what COM1..COM10 map to")->callback([&] {
    command = [](Runner&, ConsoleUi& ui) { return Ports(ui); };
  });

  try {
    cli.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return cli.exit(e);
  } catch (const CLI::ParseError& e) {
    cli.exit(e, std::cerr, std::cerr);
    return kExitUsage;
  }

  QLocale qlocale = o.locale.empty() ? QLocale::system() : QLocale(QString::fromStdString(o.locale));
  const QtLocale locale(qlocale);
  ConsoleUi ui(stdout, o.json, o.yes);
  Runner runner(o, ui, locale);
  const Outcome outcome = command(runner, ui);
  ui.Result(outcome);
  return ExitCode(outcome);
}

}  // namespace
}  // namespace velutron::cli

int main(int argc, char** argv) { return velutron::cli::Main(argc, argv); }
