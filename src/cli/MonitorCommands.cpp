// monitor, eeprom save, eeprom restore: live monitoring and memory images.

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

#include "cli/Runner.h"
#include "monitor/MemoryImage.h"
#include "monitor/Monitoring.h"
#include "platform/Process.h"

namespace velutron::cli {

void AddMonitorCommands(CLI::App& app, Command& chosen) {
  auto readings = std::make_shared<std::optional<int>>();
  auto* monitor = app.add_subcommand(
      "monitor",
      "Monitoring rejestratora: one block per reading, a refresh every second, until K readings "
      "or Ctrl+C");
  monitor
      ->add_option("--refreshes", *readings, "readings shown before the window closes (the first included)")
      ->transform(Decimal())
      ->check(CLI::PositiveNumber);
  monitor->callback([&chosen, readings] {
    chosen = [readings](Runner& r) {
      r.Connect();
      r.ui().monitorReadings = *readings;
      // Ctrl+C closes the window between two refreshes instead of stopping the link, so the closing
      // sequence still runs; a run that ends that way is complete.
      r.session().link.stopOnInterrupt = false;
      const Outcome outcome = BitBtn6Click(r.session());
      ClearInterrupt();
      return outcome;
    };
  });

  auto* eeprom = app.add_subcommand("eeprom", "the logger's configuration memory as an image file (*.eep)");
  eeprom->require_subcommand(1);
  auto saveName = std::make_shared<std::optional<std::string>>();
  auto* save = eeprom->add_subcommand("save", "Zapis obrazu pamięci: into NAME.eep (service access)");
  save->add_option("NAME", *saveName, "file name without .eep (default: the proposed name)");
  save->callback([&chosen, saveName] {
    chosen = [saveName](Runner& r) {
      r.Connect();
      r.ui().inputAnswer = *saveName;
      return Zapisobrazurej1Click(r.session());
    };
  });
  auto restoreFile = std::make_shared<std::string>();
  auto* restore =
      eeprom->add_subcommand("restore", "Wczytanie obrazu pamięci: FILE into the logger (service access)");
  restore->add_option("FILE", *restoreFile, "image file (*.eep)")->required();
  restore->callback([&chosen, restoreFile] {
    chosen = [restoreFile](Runner& r) {
      r.Connect();
      r.ui().fileAnswer = ChosenFile(*restoreFile);
      return Wczytanieobrazurej1Click(r.session());
    };
  });
}

}  // namespace velutron::cli
