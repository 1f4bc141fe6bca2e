// probe, scan, bus-test, ports: the link and its diagnostics.

#include <CLI/CLI.hpp>

#include "app/Diagnostics.h"
#include "cli/Runner.h"
#include "platform/PortNames.h"

namespace velutron::cli {

void AddLinkCommands(CLI::App& app, Command& chosen) {
  app.add_subcommand("probe", "the link probe alone")->callback([&chosen] {
    chosen = [](Runner& r) {
      r.Connect();
      r.session().link.Test_COM_OK();
      return r.session().link.state.LinkOk ? Outcome::Completed : Outcome::Failed;
    };
  });
  app.add_subcommand("scan", "Test RS-232: find the port and parity the logger answers on")
      ->callback([&chosen] {
        chosen = [](Runner& r) {
          r.LoadSettings();
          return TESTRS2321Click(r.session());
        };
      });
  app.add_subcommand("bus-test", "Test 1-Wire: the sensor bus and its CRC conflicts")->callback([&chosen] {
    chosen = [](Runner& r) {
      r.Connect();
      return Test1Wie1Click(r.session());
    };
  });
  app.add_subcommand("ports", "list the serial ports and what COM1..COM10 map to")->callback([&chosen] {
    chosen = [](Runner& r) {
      for (const PortInfo& p : ListSerialPorts()) {
        r.ui().Value("port", p.target.empty() ? p.path : p.path + " -> " + p.target);
      }
      for (const ComPortMapping& m : ComMapping()) {
        r.ui().Value(m.name, m.path + (m.exists ? "" : " (brak)"));
      }
      return Outcome::Completed;
    };
  });
}

}  // namespace velutron::cli
