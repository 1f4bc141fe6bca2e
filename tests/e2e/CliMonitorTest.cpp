// velutron-cli's monitoring and memory images against velutron-sim over a pseudo-terminal, on this
// machine and (e2e_wine_cli_test) with the Windows program under wine.

#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include "CliRun.h"
#include "sim/Device.h"
#include "support/Pattern.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::Command;
using test::CommandResult;
using test::SimProcess;
using test::StartSim;

class CliMonitorTest : public ::testing::Test {
 protected:
  Command Cli(const SimProcess& sim, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", "COM1", "--even", "--locale", "pl_PL"});
    return test::CliCommand(sim, work.path(), args);
  }
  test::TempDir work;
};

std::vector<nlohmann::json> Lines(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

TEST_F(CliMonitorTest, MonitorPrintsOneLinePerReadingThenClosesWithTheLeadIn) {
  const auto sim = StartSim({"--sensors", "2", "--reading", "1=876", "--reading", "2=2239"});
  ASSERT_TRUE(sim->Ready());
  const CommandResult r = RunCommand(Cli(*sim, {"--json", "monitor", "--refreshes", "3"}));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(lines[i]["type"], "monitor");
    EXPECT_TRUE(test::FullMatch(lines[i]["time"].get<std::string>(), "[ 12][0-9]:[0-5][0-9]:[0-5][0-9]"));
    EXPECT_EQ(
        lines[i]["channels"],
        nlohmann::json::parse(R"([{"name":"1. Freezer 1       ","band":"-5°C<AL>25°C","value":"-0,3°C",)"
                              R"("alarm":0,"extremes":"Min:-0,3°C Max:-0,3°C"},)"
                              R"({"name":"2. Freezer 2       ","band":"-5°C<AL>25°C","value":"ERROR!",)"
                              R"("alarm":0,"extremes":""}])"));
  }
  EXPECT_EQ(lines[3], nlohmann::json::parse(R"({"type":"result","outcome":"completed"})"));
  sim->Stop();
  EXPECT_EQ(sim->Received().back(), 75);
}

TEST_F(CliMonitorTest, CtrlCClosesTheMonitoringBetweenTwoRefreshesAndTheRunCompletes) {
  const auto sim = StartSim({"--sensors", "1", "--bus-down"});
  ASSERT_TRUE(sim->Ready());
  Command c = Cli(*sim, {"monitor"});
  c.signalWhenOutput = "ERROR!";
  c.signal = SIGINT;
  const CommandResult r = RunCommand(c);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;  // the bus failure seen by the last reading is reported
  EXPECT_TRUE(r.out.ends_with("[Awaria !!!] Brak komunikacji magistralą 1-WIRE z czujnikami!\n")) << r.out;
  sim->Stop();
  EXPECT_EQ(sim->Received().back(), 75);

  const auto healthy = StartSim({"--sensors", "1"});
  ASSERT_TRUE(healthy->Ready());
  c = Cli(*healthy, {"--json", "monitor"});
  c.signalWhenOutput = "\"type\":\"monitor\"";
  c.signal = SIGINT;
  const CommandResult h = RunCommand(c);
  EXPECT_EQ(h.exitCode, 0) << h.out << h.err;
  EXPECT_TRUE(h.out.ends_with("{\"type\":\"result\",\"outcome\":\"completed\"}\n")) << h.out;
}

// The image's name has Polish letters, which the Windows program must keep.
TEST_F(CliMonitorTest, EepromSaveThenRestoreRoundTripsTheLoggersMemory) {
  const auto sim = StartSim();
  ASSERT_TRUE(sim->Ready());
  const CommandResult refused = RunCommand(Cli(*sim, {"eeprom", "save", "Obraz_żółć"}));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "[Blokada funkcji !!!] Użytkownik nie ma dostępu do tej funkcji !\n");

  const CommandResult save = RunCommand(Cli(*sim, {"--service", "eeprom", "save", "Obraz_żółć"}));
  EXPECT_EQ(save.exitCode, 0) << save.out << save.err;
  EXPECT_EQ(save.out,
            "[Nazwa pliku:] Wprowadź nazwę pliku konfiguracji: Obraz_żółć\n"
            "[Kopia danych z do EEPROM do PC.] Zapisano poprawnie obraz pamięci do pliku:\nObraz_żółć\n");
  const sim::Device defaults;
  std::vector<uint8_t> expected(defaults.params.begin(), defaults.params.end());
  expected.insert(expected.end(), defaults.names.begin(), defaults.names.end());
  uint16_t sum = 0;
  for (uint8_t b : expected) sum = static_cast<uint16_t>(sum + b);
  expected.insert(expected.end(), {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum & 0xFF)});
  const std::filesystem::path image = work.path() / std::filesystem::path(u8"Obraz_żółć.eep");
  EXPECT_EQ(ReadWholeFile(image), expected);

  // It overwrites the logger's whole configuration: without --yes and with no terminal to ask on, it
  // is refused and nothing is written.
  const std::string question =
      "[Wczytanie obrazu pamięci] Wczytanie obrazu zastąpi całą konfigurację rejestratora (parametry pracy, "
      "liczbę i parametry czujników, progi alarmowe, wpisy użytkownika i numer seryjny, nazwy punktów "
      "pomiaru) zawartością pliku:\n" +
      test::ShownPath(image) + "\nKontynuować?";
  const size_t before = sim->Received().size();
  const CommandResult refusal = RunCommand(Cli(*sim, {"--service", "eeprom", "restore", "Obraz_żółć.eep"}));
  EXPECT_EQ(refusal.exitCode, 3) << refusal.out << refusal.err;
  EXPECT_EQ(refusal.out, question + " -> Anuluj\n");
  EXPECT_EQ(sim->Received().size(), before + 4);  // the probe and the recording-state check

  const CommandResult restore =
      RunCommand(Cli(*sim, {"--service", "--yes", "eeprom", "restore", "Obraz_żółć.eep"}));
  EXPECT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  EXPECT_EQ(restore.out, question + " -> OK\n[Wczytanie danych do EEPROM] Wczytano poprawnie konfigurację z pliku:\n" +
                             test::ShownPath(image) + "\n");
  sim->Stop();
  // Every cell but the declaration trigger was written back, each with the value saved.
  std::vector<int> writes;
  for (int a = 0; a < 512; ++a) {
    if (a != 128) writes.insert(writes.end(), {a < 256 ? 25 : 27, a % 256, expected[static_cast<size_t>(a)]});
  }
  const std::vector<int> received = sim->Received();
  ASSERT_GE(received.size(), writes.size());
  EXPECT_TRUE(std::equal(writes.rbegin(), writes.rend(), received.rbegin()));
}

}  // namespace
}  // namespace velutron
