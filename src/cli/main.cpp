// velutron-cli: one operation of the program per run, for terminals and scripts.

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/ConsoleUi.h"
#include "cli/Runner.h"
#include "platform/Console.h"
#include "platform/Process.h"

#ifdef _WIN32
#include "platform/Win32Locale.h"
#else
#include "platform/TableLocale.h"
#endif

namespace velutron::cli {
namespace {

// The regional settings: the Windows API's on Windows, elsewhere the table of the common locales (a
// locale library would cost every short command its start-up).
std::unique_ptr<Locale> RegionalSettings(const std::string& name) {
#ifdef _WIN32
  return name.empty() ? std::make_unique<Win32Locale>() : std::make_unique<Win32Locale>(name);
#else
  return std::make_unique<TableLocale>(name.empty() ? TableLocale::FromEnvironment() : TableLocale(name));
#endif
}

int Main(std::vector<std::string> arguments) {
  GlobalOptions o;
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
#ifdef VELUTRON_ARCHIVE
  cli.add_option("--archive", o.archive,
                 "the archive: a SQLite file or a postgresql:// URL (default: velutron.db)");
#endif

  Command command;
  AddLinkCommands(cli, command);
  AddDataCommands(cli, command);
  AddSettingsCommands(cli, command);
  AddMonitorCommands(cli, command);
  AddChartCommands(cli, command);
#ifdef VELUTRON_ARCHIVE
  AddArchiveCommands(cli, command);
#endif

  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  try {
    cli.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::Success& e) {
    return cli.exit(e);
  } catch (const CLI::ParseError& e) {
    cli.exit(e, std::cerr, std::cerr);
    return kExitUsage;
  }

  const std::unique_ptr<Locale> locale = RegionalSettings(o.locale);
  ConsoleUi ui(stdout, o.json, o.yes);
  Runner runner(o, ui, *locale);
  // Ctrl+C or SIGTERM ends the operation at its next exchange; whatever it had begun to write is removed
  // as it unwinds, and it counts as cancelled.
  InstallInterruptHandlers();
  Outcome outcome = command(runner);
  if (InterruptRequested()) outcome = Outcome::Cancelled;
  // A value the logger's state rules out (a sensor it lacks, a limit past the other) is a wrong command
  // line: refused before anything was written.
  if (!ui.Refusal().empty()) {
    ui.Result(Outcome::Failed);
    return kExitUsage;
  }
  ui.Result(outcome);
  return ExitCode(outcome);
}

}  // namespace
}  // namespace velutron::cli

int main(int argc, char** argv) {
  velutron::EnsureStandardDescriptors();
  velutron::PrepareConsoleOutput();
  return velutron::cli::Main(velutron::Utf8Arguments(argc, argv));
}
