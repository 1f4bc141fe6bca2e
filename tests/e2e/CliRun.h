#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/SimProcess.h"

namespace velutron::test {

// The end-to-end tests are built twice: e2e_cli_test runs the velutron-cli built for this machine,
// e2e_wine_cli_test the Windows velutron-cli.exe under wine, whose COM1..COM10 are the entries of the
// wine session's port folder. Both meet the same simulated logger and must give the same results.
#ifdef VELUTRON_WINDOWS_CLI
inline constexpr bool kUnderWine = true;
#else
inline constexpr bool kUnderWine = false;
#endif

// The simulated logger, logging what it receives, published where the program under test finds COMn.
inline std::unique_ptr<SimProcess> StartSim(std::vector<std::string> args = {}, int com = 1) {
  args.push_back("--verbose");
#ifdef VELUTRON_WINDOWS_CLI
  return std::make_unique<SimProcess>(args, com, VELUTRON_WINE_PORTS);
#else
  return std::make_unique<SimProcess>(args, com);
#endif
}

// velutron-cli ARGS in `workDir`, in Polish regional settings.
inline Command CliCommand([[maybe_unused]] const SimProcess& sim, const std::filesystem::path& workDir,
                          const std::vector<std::string>& args) {
  Command c;
#ifdef VELUTRON_WINDOWS_CLI
  c.argv = {VELUTRON_WINE64, VELUTRON_WINDOWS_CLI};
  c.env = {{"WINEPREFIX", VELUTRON_WINEPREFIX}, {"WINEDEBUG", "-all"}};
#else
  c.argv = {VELUTRON_CLI_PATH};
  c.env = {{"VELUTRON_PORT_DIR", sim.PortDir()}};
#endif
  c.argv.insert(c.argv.end(), args.begin(), args.end());
  c.env.insert(c.env.end(), {{"LC_ALL", "pl_PL.UTF-8"}, {"LANG", "pl_PL.UTF-8"}});
  c.workDir = workDir.string();
  return c;
}

// A file as the program under test names it: wine shows the Linux root as drive Z.
inline std::string ShownPath(const std::filesystem::path& file) {
  std::string path = file.string();
  if (kUnderWine) {
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    path.insert(0, "Z:");
  }
  return path;
}

}  // namespace velutron::test
