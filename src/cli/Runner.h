#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/ConsoleUi.h"
#include "platform/Clock.h"
#include "platform/Locale.h"
#include "platform/SerialPort.h"
#include "session/Session.h"

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace velutron::cli {

inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 3;

int ExitCode(Outcome outcome);

// The options that come before the command.
struct GlobalOptions {
  std::string port;
  bool odd = false;
  bool even = false;
  bool service = false;
  bool yes = false;
  bool json = false;
  std::string locale;
  std::string archive = "velutron.db";  // a SQLite file or a postgresql:// URL
};

// Settings and port as the desktop program's start-up would have them, without its probe.
class Runner {
 public:
  Runner(const GlobalOptions& o, ConsoleUi& ui, const Locale& locale);

  Session& session() { return session_; }
  const GlobalOptions& options() const { return o_; }
  ConsoleUi& ui() { return ui_; }

  // Port number, parity and service access from the configuration file and the options.
  void LoadSettings();
  // Opens the port; a port that cannot be opened is reported as the start-up reports it, and the
  // operation's own probe then refuses to go on.
  void OpenPort();
  // Both of the above: what every device command does first.
  void Connect() {
    LoadSettings();
    OpenPort();
  }

 private:
  const GlobalOptions& o_;
  ConsoleUi& ui_;
  SystemClock clock_;
  std::unique_ptr<SerialPort> port_;
  Session session_;
};

// A file named on the command line as the open dialog would return it: absolute when possible, UTF-8.
std::string ChosenFile(const std::string& name);

// Whole numbers as people type them: "010" is ten, not the octal eight the argument parser would read.
// `hex` keeps "0x25" for the one option that documents it (--bits).
CLI::Validator Decimal(bool hex = false);

// The check every command that writes a file from a database makes first: the output must not be the
// input (the same file, or a link to it). Refuses the command line and returns true when it is.
bool OutputIsInput(Runner& r, const std::string& input, const std::string& output);

// velutron-draw, which draws the charts and prints the reports; nullopt, said on standard error, when
// it is not installed.
std::optional<std::filesystem::path> DrawingProgram();

// The command chosen on the command line, run once the options are parsed.
using Command = std::function<Outcome(Runner&)>;

// Each room adds its commands to the parser; the callback of the one given sets `chosen`. Option values
// live in the callbacks, so they last as long as the parser.
void AddLinkCommands(CLI::App& app, Command& chosen);
void AddDataCommands(CLI::App& app, Command& chosen);
void AddSettingsCommands(CLI::App& app, Command& chosen);
void AddMonitorCommands(CLI::App& app, Command& chosen);
// Drawn by velutron-draw beside velutron-cli where the build has it; elsewhere the command says it is
// missing.
void AddChartCommands(CLI::App& app, Command& chosen);
// The archive, in a build with SQLite.
void AddArchiveCommands(CLI::App& app, Command& chosen);

}  // namespace velutron::cli
