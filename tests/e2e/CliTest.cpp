// velutron-cli against velutron-sim over a pseudo-terminal: the real programs, end to end, on this
// machine and (e2e_wine_cli_test) with the Windows program under wine.

#include <gtest/gtest.h>

#include <memory>

#include "CliRun.h"
#include "data/DatabaseFile.h"
#include "platform/Cp1250.h"
#include "sim/Device.h"
#include "support/Pattern.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

namespace fs = std::filesystem;
using test::Command;
using test::CommandResult;
using test::SimProcess;
using test::StartSim;

class CliTest : public ::testing::Test {
 protected:
  // Every run works in a folder with Polish letters, which the Windows program must reach by name.
  CliTest() : folder(work.path() / fs::path(u8"Pomiary_żółć")) { fs::create_directory(folder); }

  CommandResult Cli(const SimProcess& sim, const std::vector<std::string>& args) {
    return RunCommand(test::CliCommand(sim, folder, args));
  }
  std::string Shown(const std::string& name) const {
    return test::ShownPath(folder / fs::path(std::u8string(name.begin(), name.end())));
  }

  size_t FilesInFolder() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }

  test::TempDir work;
  fs::path folder;
};

TEST_F(CliTest, ProbeOfAnAnsweringLoggerSucceedsQuietly) {
  const auto sim = StartSim();
  ASSERT_TRUE(sim->Ready());
  const CommandResult r = Cli(*sim, {"--port", "COM1", "--even", "--json", "probe"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "{\"type\":\"result\",\"outcome\":\"completed\"}\n");
  EXPECT_EQ(sim->Received(), (std::vector<int>{30, 62}));
}

TEST_F(CliTest, ProbeOfASilentLoggerSaysSoAndFails) {
  const auto sim = StartSim({"--silent"});
  ASSERT_TRUE(sim->Ready());
  const CommandResult human = Cli(*sim, {"--port", "COM1", "--even", "probe"});
  EXPECT_EQ(human.exitCode, 1);
  EXPECT_EQ(human.out, "[Uwaga !] Brak połączenia z VELUTRON !\n");

  const CommandResult json = Cli(*sim, {"--port", "COM1", "--even", "--json", "probe"});
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_EQ(json.out,
            "{\"type\":\"message\",\"caption\":\"Uwaga !\",\"text\":\"Brak połączenia z VELUTRON !\"}\n"
            "{\"type\":\"result\",\"outcome\":\"failed\"}\n");
  EXPECT_EQ(sim->Received(), (std::vector<int>{30, 62, 30, 62}));
}

TEST_F(CliTest, ALinkToTheDeviceIsAcceptedAsItsPortLikeAStableName) {
  if (test::kUnderWine) GTEST_SKIP() << "a device path is a Linux name";
  const auto sim = StartSim();
  ASSERT_TRUE(sim->Ready());
  // PortPath() is a link to the simulator's terminal, as /dev/serial/by-id/... is to an adapter.
  EXPECT_EQ(Cli(*sim, {"--port", sim->PortPath(), "--even", "probe"}).exitCode, 0);
}

TEST_F(CliTest, ProbeWithTheWrongParityHearsNothing) {
  const auto sim = StartSim({"--parity", "odd"});
  ASSERT_TRUE(sim->Ready());
  EXPECT_EQ(Cli(*sim, {"--port", "COM1", "--even", "probe"}).exitCode, 1);
  EXPECT_EQ(Cli(*sim, {"--port", "COM1", "--odd", "probe"}).exitCode, 0);
  // The logger heard the first probe as line noise.
  EXPECT_EQ(sim->Received(), (std::vector<int>{30, 62}));
  EXPECT_NE(sim->Log().find("ignored: parity mismatch"), std::string::npos);
}

TEST_F(CliTest, ScanFindsTheLoggerAndSavesTheConfiguration) {
  const auto sim = StartSim({}, 3);
  ASSERT_TRUE(sim->Ready());
  const CommandResult r = Cli(*sim, {"scan"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "[Uwaga !] Prawdopodobnie brak zbioru konfiguracyjnego.\n"
            "[TEST_OK !] Wykryto połączenie z VELUTRON [COM 3].\n"
            "---------------------------------------------------\n"
            "Szybkość transmisji - 57 600,\n"
            "Test parzystości - EVENPARITY,\n"
            "1 bit stopu / 8 bitów danych.\n");
  EXPECT_EQ(ReadWholeFile(folder / "VELUTRON.cfg"), (std::vector<uint8_t>{3, 0, 0, 0, 0, 0, 3, 0}));

  // The saved port is the default of the next command.
  EXPECT_EQ(Cli(*sim, {"probe"}).exitCode, 0);
}

TEST_F(CliTest, DownloadStoresTheMemoryAndReportRendersIt) {
  const auto sim = StartSim({"--records", "30"});
  ASSERT_TRUE(sim->Ready());
  const CommandResult d = Cli(*sim, {"--port", "COM1", "--even", "download", "Pomiary_żółć"});
  EXPECT_EQ(d.exitCode, 0) << d.out << d.err;
  EXPECT_EQ(
      d.out,
      "[Nazwa pliku:] Wprowadź nazwę pliku [1..N]: Pomiary_żółć\n"
      "[Transmisja OK.] Plik: Pomiary_żółć\nzapisany poprawnie.\nCzy otworzyć wczytane dane? -> Anuluj\n");
  EXPECT_EQ(sim->Received(), (std::vector<int>{30, 62, 30, 14, 50}));

  // The simulator stamps its records from today's clock, so the file is checked by its content.
  const auto file = ReadWholeFile(folder / fs::path(u8"Pomiary_żółć.DAT"));
  ASSERT_TRUE(file.has_value());
  const DatabaseContents db = DecodeDatabase(*file);
  EXPECT_TRUE(db.Valid());
  EXPECT_EQ(db.channels, 4);
  EXPECT_EQ(db.RecordsRead(), 30u);
  const sim::Device defaults;
  EXPECT_EQ(db.ownerText, std::vector<uint8_t>(defaults.params.begin() + 32, defaults.params.begin() + 67));

  const CommandResult r = Cli(*sim, {"report", "Pomiary_żółć.DAT"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "[Podgląd danych.] Czy otworzyć dane w arkuszu Excel? -> Anuluj\n");
  const auto report = ReadWholeFile(folder / "ViewData.CSV");
  ASSERT_TRUE(report.has_value());
  const std::string text = Cp1250ToUtf8(*report);
  EXPECT_EQ(text.substr(0, 6), "   1; ");
  EXPECT_NE(text.find("  30; "), std::string::npos);
  EXPECT_NE(text.find(" Plik:" + Shown("Pomiary_żółć.DAT") + "\r\n"), std::string::npos) << text;
  // Polish regional settings: decimal commas, day.month.year and a 24-hour time.
  EXPECT_FALSE(test::FindAll(text, "; -?[0-9]+,[0-9]").empty());
  EXPECT_FALSE(
      test::FindAll(text, "KONWERSJA BAZY: [0-9]{1,2}\\.[0-9]{2}\\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}")
          .empty())
      << text;
}

TEST_F(CliTest, ACutDumpIsRefusedAndLeavesNoFile) {
  const auto sim = StartSim({"--records", "30", "--dump-cut-after", "200"});
  ASSERT_TRUE(sim->Ready());
  const CommandResult d = Cli(*sim, {"--port", "COM1", "--even", "download", "data"});
  EXPECT_EQ(d.exitCode, 1);
  EXPECT_EQ(d.out,
            "[Nazwa pliku:] Wprowadź nazwę pliku [1..N]: data\n"
            "[Uwaga !] Przerwanie transmisji pliku !!!\n");
  EXPECT_EQ(FilesInFolder(), 0u);
}

TEST_F(CliTest, DownloadDrawsItsProgressBarOnlyOnATerminalAndNeverWithJson) {
  if (test::kUnderWine) GTEST_SKIP() << "a pseudo-terminal is no Windows console";
  const auto sim = StartSim({"--records", "300"});
  ASSERT_TRUE(sim->Ready());
  struct Case {
    bool terminal;
    bool json;
    bool bar;
  };
  for (const Case c : {Case{true, false, true}, Case{false, false, false}, Case{true, true, false}}) {
    std::vector<std::string> args = {"--port", "COM1", "--even", "download", "data"};
    if (c.json) args.insert(args.begin(), "--json");
    Command command = test::CliCommand(*sim, folder, args);
    command.errorOnTerminal = c.terminal;
    const CommandResult r = RunCommand(command);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    // 4 channels: 6 + 300 x 14 + 51 + 64 bytes; the last drawing shows them all, then the line ends.
    const std::string last = "\r100% [" + std::string(24, '#') + "] 4321/4321 B";
    EXPECT_EQ(r.err.find(last) != std::string::npos, c.bar) << r.err;
    if (!c.bar) {
      EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(r.out.find('\r'), std::string::npos);  // the bar never reaches standard output
  }
}

TEST_F(CliTest, DownloadWithYesOpensTheDataAndReportOfAMissingFileFails) {
  const auto sim = StartSim({"--records", "5"});
  ASSERT_TRUE(sim->Ready());
  const CommandResult d =
      Cli(*sim, {"--port", "COM1", "--even", "--yes", "--json", "download", "x", "--descending"});
  EXPECT_EQ(d.exitCode, 0) << d.out;
  EXPECT_NE(d.out.find("\"prompt\":\"Wprowadź nazwę pliku [N..1]\""), std::string::npos);
  EXPECT_NE(d.out.find("\"answer\":\"ok\""), std::string::npos);
  EXPECT_TRUE(fs::exists(folder / "ViewData.CSV"));

  const CommandResult r = Cli(*sim, {"report", "missing.DAT"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "[Uwaga !] Blokada odczytu danych z dysku !\n");
}

TEST_F(CliTest, AWrongCommandLineIsAUsageError) {
  const auto sim = StartSim();
  const CommandResult r = Cli(*sim, {"frobnicate"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(r.err.empty());
  EXPECT_EQ(Cli(*sim, {"--odd", "--even", "probe"}).exitCode, 2);
}

TEST_F(CliTest, PortThatCannotBeOpenedIsNamed) {
  const auto sim = StartSim();
  const CommandResult r = Cli(*sim, {"--port", "COM7", "--even", "--json", "bus-test"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out,
            "{\"type\":\"beep\"}\n"
            "{\"type\":\"error\",\"text\":\"Niewłaściwa nazwa portu COM7\\r lub jest on aktywny !!!\"}\n"
            "{\"type\":\"message\",\"caption\":\"Uwaga !\",\"text\":\"Niewłaściwy port lub nie jest on "
            "aktywny !!!\"}\n"
            "{\"type\":\"result\",\"outcome\":\"failed\"}\n");
}

TEST_F(CliTest, OptionsPrintWhatIsReadAndWriteOnlyTheValueGiven) {
  const auto sim = StartSim();
  ASSERT_TRUE(sim->Ready());
  const std::string read =
      "{\"type\":\"value\",\"name\":\"interval_min\",\"value\":%d}\n"
      "{\"type\":\"value\",\"name\":\"threshold_c\",\"value\":0}\n"
      "{\"type\":\"value\",\"name\":\"options_bits\",\"value\":1}\n"
      "{\"type\":\"value\",\"name\":\"humidity\",\"value\":0}\n"
      "{\"type\":\"result\",\"outcome\":\"completed\"}\n";
  auto expected = [&read](int minutes) {
    std::string out = read;
    out.replace(out.find("%d"), 2, std::to_string(minutes));
    return out;
  };
  const CommandResult before = Cli(*sim, {"--port", "COM1", "--even", "--json", "options"});
  EXPECT_EQ(before.exitCode, 0) << before.err;
  EXPECT_EQ(before.out, expected(10));
  const CommandResult write = Cli(*sim, {"--port", "COM1", "--even", "--json", "options", "--interval", "5"});
  EXPECT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(write.out, expected(10));  // the write is acknowledged silently
  EXPECT_EQ(Cli(*sim, {"--port", "COM1", "--even", "--json", "options"}).out, expected(5));
  // A leading zero is still decimal.
  EXPECT_EQ(Cli(*sim, {"--port", "COM1", "--even", "options", "--interval", "010"}).exitCode, 0);
  EXPECT_EQ(Cli(*sim, {"--port", "COM1", "--even", "--json", "options"}).out, expected(10));
  // A value outside the dialog's range is a wrong command line.
  EXPECT_EQ(Cli(*sim, {"--port", "COM1", "--even", "options", "--interval", "181"}).exitCode, 2);
}

TEST_F(CliTest, PointNameIsWrittenAndReadBackAndASensorTheLoggerLacksIsRefused) {
  const auto sim = StartSim();
  ASSERT_TRUE(sim->Ready());
  const CommandResult write =
      Cli(*sim, {"--port", "COM1", "--even", "text", "point", "2", "--set", "Hala B"});
  EXPECT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(write.out,
            "sensor_count: 4\n"
            "point_name: Freezer 2       \n"
            "[Nazwa punktu pomiarowego.] Nazwa pkt. pomiarowego [max.16 znaków]: Hala B\n"
            "[Zapis danych.] Zapisano nazwę punktu pomiarowego.\n");

  const CommandResult refused = Cli(*sim, {"--port", "COM1", "--even", "text", "point", "7", "--set", "X"});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_EQ(refused.out, "sensor_count: 4\n");
  EXPECT_EQ(refused.err, "velutron-cli: sensor 7 refused: the logger has 4 sensors, so N must lie in 1..4\n");

  const CommandResult read = Cli(*sim, {"--port", "COM1", "--even", "--json", "text", "point", "2"});
  EXPECT_EQ(read.exitCode, 0);
  EXPECT_NE(read.out.find("{\"type\":\"value\",\"name\":\"point_name\",\"value\":\"Hala B          \"}"),
            std::string::npos);
  EXPECT_NE(Cli(*sim, {"--port", "COM1", "--even", "text", "point", "1"}).out.find("point_name: Freezer 1"),
            std::string::npos);
}

TEST_F(CliTest, ServiceFunctionsAreRefusedWithoutServiceAndQuestionsWithoutYesAreCancelled) {
  const auto sim = StartSim();
  ASSERT_TRUE(sim->Ready());
  const CommandResult format = Cli(*sim, {"--port", "COM1", "--even", "--yes", "format"});
  EXPECT_EQ(format.exitCode, 1);
  EXPECT_EQ(format.out, "[Blokada funkcji !!!] Użytkownik nie ma dostępu do tej funkcji !\n");

  const CommandResult reset = Cli(*sim, {"--port", "COM1", "--even", "--json", "reset"});
  EXPECT_EQ(reset.exitCode, 3);
  EXPECT_EQ(
      reset.out,
      "{\"type\":\"question\",\"caption\":\"Reset rejestratora!\",\"text\":\"Czy napewno chcesz zresetować "
      "rejestrator?\",\"answer\":\"cancel\"}\n"
      "{\"type\":\"result\",\"outcome\":\"cancelled\"}\n");
}

}  // namespace
}  // namespace velutron
