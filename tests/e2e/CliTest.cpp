// velutron-cli against velutron-sim over a pseudo-terminal: the real programs, end to end.

#include <gtest/gtest.h>

#include "platform/AtomicFile.h"
#include "data/DatabaseFile.h"
#include "sim/Device.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::Command;
using test::CommandResult;
using test::SimProcess;

class CliTest : public ::testing::Test {
 protected:
  CommandResult Cli(const SimProcess& sim, std::vector<std::string> args) {
    Command c;
    c.argv = {VELUTRON_CLI_PATH};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.env = {{"VELUTRON_PORT_DIR", sim.PortDir()}, {"LC_ALL", "pl_PL.UTF-8"}, {"LANG", "pl_PL.UTF-8"}};
    c.workDir = work.path().string();
    return RunCommand(c);
  }
  test::TempDir work;
};

TEST_F(CliTest, ProbeOfAnAnsweringLoggerSucceedsQuietly) {
  SimProcess sim;
  ASSERT_TRUE(sim.Ready());
  const CommandResult r = Cli(sim, {"--port", "COM1", "--even", "--json", "probe"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "{\"type\":\"result\",\"outcome\":\"completed\"}\n");
}

TEST_F(CliTest, ProbeOfASilentLoggerSaysSoAndFails) {
  SimProcess sim({"--silent"});
  ASSERT_TRUE(sim.Ready());
  const CommandResult human = Cli(sim, {"--port", "COM1", "--even", "probe"});
  EXPECT_EQ(human.exitCode, 1);
  EXPECT_EQ(human.out, "[Uwaga !] Brak połączenia z VELUTRON !\n");

  const CommandResult json = Cli(sim, {"--port", "COM1", "--even", "--json", "probe"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_EQ(json.out,
            "{\"type\":\"message\",\"caption\":\"Uwaga !\",\"text\":\"Brak połączenia z VELUTRON !\"}\n"
            "{\"type\":\"result\",\"outcome\":\"failed\"}\n");
}

TEST_F(CliTest, ProbeWithTheWrongParityHearsNothing) {
  SimProcess sim({"--parity", "odd"});
  ASSERT_TRUE(sim.Ready());
  EXPECT_EQ(Cli(sim, {"--port", "COM1", "--even", "probe"}).exitCode, 1);
  EXPECT_EQ(Cli(sim, {"--port", "COM1", "--odd", "probe"}).exitCode, 0);
}

TEST_F(CliTest, ScanFindsTheLoggerAndSavesTheConfiguration) {
  SimProcess sim({}, 3);
  ASSERT_TRUE(sim.Ready());
  const CommandResult r = Cli(sim, {"scan"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "[Uwaga !] Prawdopodobnie brak zbioru konfiguracyjnego.\n"
            "[TEST_OK !] Wykryto połączenie z VELUTRON [COM 3].\n"
            "---------------------------------------------------\n"
            "Szybkość transmisji - 57 600,\n"
            "Test parzystości - EVENPARITY,\n"
            "1 bit stopu / 8 bitów danych.\n");
  EXPECT_EQ(ReadWholeFile(work.path() / "VELUTRON.cfg"), (std::vector<uint8_t>{3, 0, 0, 0, 0, 0, 3, 0}));

  // The saved port is the default of the next command.
  EXPECT_EQ(Cli(sim, {"probe"}).exitCode, 0);
}

TEST_F(CliTest, DownloadStoresTheMemoryAndReportRendersIt) {
  SimProcess sim({"--records", "30"});
  ASSERT_TRUE(sim.Ready());
  const CommandResult d = Cli(sim, {"--port", "COM1", "--even", "download", "data"});
  EXPECT_EQ(d.exitCode, 0) << d.out << d.err;
  EXPECT_EQ(d.out,
            "[Nazwa pliku:] Wprowadź nazwę pliku [1..N]: data\n"
            "[Transmisja OK.] Plik: data\nzapisany poprawnie.\nCzy otworzyć wczytane dane? -> Anuluj\n");

  // The simulator stamps its records from today's clock, so the file is checked by its content.
  const auto file = ReadWholeFile(work.path() / "data.DAT");
  ASSERT_TRUE(file.has_value());
  const DatabaseContents db = DecodeDatabase(*file);
  EXPECT_TRUE(db.Valid());
  EXPECT_EQ(db.channels, 4);
  EXPECT_EQ(db.RecordsRead(), 30u);
  const sim::Device defaults;
  EXPECT_EQ(db.ownerText, std::vector<uint8_t>(defaults.params.begin() + 32, defaults.params.begin() + 67));

  const CommandResult r = Cli(sim, {"report", "data.DAT"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "[Podgląd danych.] Czy otworzyć dane w arkuszu Excel? -> Anuluj\n");
  const auto report = ReadWholeFile(work.path() / "ViewData.CSV");
  ASSERT_TRUE(report.has_value());
  const std::string text(report->begin(), report->end());
  EXPECT_EQ(text.substr(0, 6), "   1; ");
  EXPECT_NE(text.find("  30; "), std::string::npos);
  EXPECT_NE(text.find(" Plik:" + (work.path() / "data.DAT").string()), std::string::npos);
}

TEST_F(CliTest, DownloadWithYesOpensTheDataAndReportOfAMissingFileFails) {
  SimProcess sim({"--records", "5"});
  ASSERT_TRUE(sim.Ready());
  const CommandResult d = Cli(sim, {"--port", "COM1", "--even", "--yes", "--json", "download", "x", "--descending"});
  EXPECT_EQ(d.exitCode, 0) << d.out;
  EXPECT_NE(d.out.find("\"prompt\":\"Wprowadź nazwę pliku [N..1]\""), std::string::npos);
  EXPECT_NE(d.out.find("\"answer\":\"ok\""), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(work.path() / "ViewData.CSV"));

  const CommandResult r = Cli(sim, {"report", "missing.DAT"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "[Uwaga !] Blokada odczytu danych z dysku !\n");
}

TEST_F(CliTest, AWrongCommandLineIsAUsageError) {
  SimProcess sim;
  const CommandResult r = Cli(sim, {"frobnicate"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(r.err.empty());
  EXPECT_EQ(Cli(sim, {"--odd", "--even", "probe"}).exitCode, 2);
}

TEST_F(CliTest, PortThatCannotBeOpenedIsNamed) {
  SimProcess sim;
  const CommandResult r = Cli(sim, {"--port", "COM7", "--even", "--json", "bus-test"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out,
            "{\"type\":\"beep\"}\n"
            "{\"type\":\"error\",\"text\":\"Niewłaściwa nazwa portu COM7\\r lub jest on aktywny !!!\"}\n"
            "{\"type\":\"message\",\"caption\":\"Uwaga !\",\"text\":\"Niewłaściwy port lub nie jest on aktywny !!!\"}\n"
            "{\"type\":\"result\",\"outcome\":\"failed\"}\n");
}

}  // namespace
}  // namespace velutron
