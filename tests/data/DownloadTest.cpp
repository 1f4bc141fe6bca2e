// The download through the simulated logger: what goes over the wire, what the user sees, what lands
// on disk, and that an existing database survives every failure.

#include <gtest/gtest.h>

#include "app/Diagnostics.h"
#include "data/DatabaseCommands.h"
#include "data/DatabaseFile.h"
#include "data/Download.h"
#include "data/Report.h"
#include "platform/AtomicFile.h"
#include "platform/Process.h"
#include "platform/Utf8Path.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::SimSession;
using Events = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

const std::string kAscendingInput = "input|Nazwa pliku:|Wprowadź nazwę pliku [1..N]|RT_05-06-2009_14`05|";
const std::string kCut = "message|Uwaga !|Przerwanie transmisji pliku !!!";

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.OpenPort()); }
  std::filesystem::path File(const std::string& name) { return sim.s.workDir / name; }
  Bytes Encoded(bool descending) {
    Bytes out;
    EXPECT_EQ(EncodeDatabase(sim.device.Dump(descending), out), DatabaseWriteResult::Ok);
    return out;
  }
  // A database of the same name from an earlier download.
  void PutOldFile(const std::string& name) { ASSERT_TRUE(WriteFileAtomically(File(name), kOld)); }
  void ExpectOldFileIntact(const std::string& name) {
    EXPECT_EQ(ReadWholeFile(File(name)), std::optional<Bytes>(kOld));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sim.s.workDir),
                            std::filesystem::directory_iterator()),
              1);
  }

  const Bytes kOld{0xFF, 0xFE, 1, 0, 0, 0, 1, 0, 9, 9, 9};
  SimSession sim;
};

TEST_F(DownloadTest, AscendingDownloadStoresTheDumpAsADatabaseAndAsksToOpenIt) {
  sim.ui.inputs.push_back("data");
  EXPECT_EQ(Load_Dat(sim.s, proto::kDownloadAscending), Outcome::Completed);

  EXPECT_EQ(sim.TakeSent(), (Bytes{30, 62, 30, 14, 50}));
  EXPECT_EQ(sim.ui.events, (Events{kAscendingInput + "data",
                                   "question|Transmisja OK.|Plik: data\rzapisany poprawnie.\rCzy otworzyć "
                                   "wczytane dane?|cancel"}));
  EXPECT_EQ(ReadWholeFile(File("data.DAT")), std::optional<Bytes>(Encoded(false)));
  EXPECT_EQ(sim.s.report.DatabaseFileName, "");  // set only when the user opens the data
}

TEST_F(DownloadTest, DescendingDownloadSendsFiftyFiveAndAsksWithItsOwnPrompt) {
  sim.ui.inputs.push_back("down");
  EXPECT_EQ(BitBtn5Click(sim.s), Outcome::Completed);
  EXPECT_EQ(sim.TakeSent(), (Bytes{30, 62, 30, 14, 55}));
  EXPECT_EQ(sim.ui.events.front(), "input|Nazwa pliku:|Wprowadź nazwę pliku [N..1]|RT_05-06-2009_14`05|down");
  EXPECT_EQ(ReadWholeFile(File("down.DAT")), std::optional<Bytes>(Encoded(true)));
  EXPECT_NE(Encoded(true), Encoded(false));
}

TEST_F(DownloadTest, ReceptionWaitsAHundredMillisecondsThenEndsAtTheFirstQuietWindow) {
  const size_t dumpSize = sim.device.Dump(false).size();
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Completed);
  const uint64_t commandAt = sim.port.sent.back().atUs;
  const uint64_t wireUs = dumpSize * 11 * 1'000'000 / 57600;
  const uint64_t took = sim.clock.NowUs() - commandAt;
  // 100 ms lead, then 50 ms windows until one brings nothing: it ends with the first whole window
  // after the last byte.
  EXPECT_EQ((took - 100'000) % 50'000, 0u);
  EXPECT_GE(took, wireUs + 50'000);
  EXPECT_LE(took, wireUs + 2 * 50'000 + 1'000);
  // Progress: 30 for the reception, then N for the records, emptied in between and after.
  const int n = static_cast<int>(sim.device.measurements.size());
  EXPECT_EQ(sim.ui.progress.front(), -1);
  EXPECT_NE(std::find(sim.ui.progress.begin(), sim.ui.progress.end(), -31), sim.ui.progress.end());
  const auto records = std::find(sim.ui.progress.begin(), sim.ui.progress.end(), -n - 1);
  ASSERT_NE(records, sim.ui.progress.end());
  EXPECT_EQ(*(records + n), n);
  EXPECT_EQ(*(records + n + 1), -1);
}

TEST_F(DownloadTest, TheTypedNameGetsDatAppendedEvenWhenItEndsInIt) {
  sim.ui.inputs.push_back("x.DAT");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Completed);
  EXPECT_TRUE(std::filesystem::exists(File("x.DAT.DAT")));
}

TEST_F(DownloadTest, PathSeparatorsOfTheShortDateAreReplacedInTheProposedName) {
  FixedLocale slashes(",", "/");
  Session s(sim.port, sim.clock, sim.ui, slashes);
  s.workDir = sim.s.workDir;
  EXPECT_EQ(BitBtn4Click(s), Outcome::Completed);
  EXPECT_EQ(sim.ui.events.front(), kAscendingInput + "RT_05-06-2009_14`05");
  EXPECT_TRUE(std::filesystem::exists(File("RT_05-06-2009_14`05.DAT")));
}

TEST_F(DownloadTest, OpeningTheDataRendersTheReportOfTheNewFile) {
  sim.ui.inputs.push_back("data");
  sim.ui.answers = {true, false};
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Completed);
  EXPECT_EQ(sim.s.report.DatabaseFileName, "data.DAT");
  EXPECT_TRUE(sim.s.report.ReportLoaded);
  EXPECT_NE(sim.ui.reportText.find(" Plik:data.DAT"), std::string::npos);
  EXPECT_EQ(sim.ui.events.back(), "question|Podgląd danych.|Czy otworzyć dane w arkuszu Excel?|cancel");
}

// On Windows a name read in the ANSI code page would land on another file.
TEST_F(DownloadTest, APolishNameTypedOrChosenInAPolishFolderIsThatVeryFile) {
  const std::filesystem::path folder = sim.s.workDir / std::filesystem::path(u8"Żółta teczka");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  sim.s.workDir = folder;
  sim.ui.inputs.push_back("Pomiary_żółć");
  sim.ui.answers = {true, false};
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Completed);
  const std::filesystem::path file = folder / std::filesystem::path(u8"Pomiary_żółć.DAT");
  EXPECT_EQ(ReadWholeFile(file), std::optional<Bytes>(Encoded(false)));
  EXPECT_NE(sim.ui.reportText.find(" Plik:Pomiary_żółć.DAT\r\n"), std::string::npos);

  const std::string chosen = Utf8FromPath(file);
  sim.ui.files = {chosen};
  EXPECT_EQ(BitBtn1Click(sim.s), Outcome::Completed);
  EXPECT_NE(sim.ui.reportText.find(" Plik:" + chosen + "\r\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(folder / kReportFileName));
}

TEST_F(DownloadTest, CancelledNameSendsNoDownload) {
  sim.ui.inputs.push_back(std::nullopt);
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Cancelled);
  EXPECT_EQ(sim.TakeSent(), (Bytes{30, 62, 30, 14}));
}

TEST_F(DownloadTest, AFileThatCannotBeCreatedIsReportedBeforeTheDownload) {
  sim.ui.inputs.push_back("no-such-folder/data");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events.back(), "message|Uwaga !|Popraw nazwę pliku lub sprawdź dysk !!!");
  EXPECT_EQ(sim.TakeSent(), (Bytes{30, 62, 30, 14}));
}

TEST_F(DownloadTest, RecordingLoggerIsRefusedBeforeAnyQuestion) {
  sim.device.SetRecording(true);
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events,
            Events{"message|Zmień tryb pracy!|Wybrana opcja wymaga wyłączenia rejestracji pomiarów!"});
  EXPECT_EQ(sim.TakeSent(), (Bytes{30, 62, 30, 14}));
}

TEST_F(DownloadTest, EmptyMemoryIsReportedAndTheOldFileSurvives) {
  PutOldFile("data.DAT");
  sim.device.measurements.clear();
  sim.ui.inputs.push_back("data");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events.back(),
            "message|Zatrzymanie opcji !|Brak danych do transmisji !!!\r[bufor VELUTRON pusty]");
  ExpectOldFileIntact("data.DAT");
}

TEST_F(DownloadTest, ShortDumpsAreRefusedAndTheOldFileSurvives) {
  struct Case {
    const char* what;
    std::function<void(sim::Faults&)> fault;
  };
  const std::vector<Case> cases = {
      {"cut half-way", [](sim::Faults& f) { f.dumpCutAfter = 200; }},
      {"cut inside the texts",
       [this](sim::Faults& f) { f.dumpCutAfter = static_cast<uint32_t>(sim.device.Dump(false).size() - 1); }},
      // Silence is counted in whole 50 ms windows: a 1050 ms pause holds at least twenty of them.
      {"pause just over a second",
       [](sim::Faults& f) {
         f.dumpPauseAfter = 300;
         f.dumpPauseMs = 1050;
       }},
      {"pause before the header is complete",
       [](sim::Faults& f) {
         f.dumpPauseAfter = 3;
         f.dumpPauseMs = 250;
       }},
      {"nothing sent", [](sim::Faults& f) { f.dumpCutAfter = 0; }},
      {"starts too late", [](sim::Faults& f) { f.dumpStartDelayMs = 200; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimSession fresh;
    ASSERT_TRUE(fresh.OpenPort());
    ASSERT_TRUE(WriteFileAtomically(fresh.s.workDir / "data.DAT", kOld));
    // A complete header from an earlier exchange must not be taken for this one.
    const Bytes earlier = fresh.device.Dump(false);
    std::copy(earlier.begin(), earlier.end(), fresh.s.link.state.RxBuffer.begin());
    c.fault(fresh.device.faults);
    fresh.ui.inputs.push_back("data");
    EXPECT_EQ(BitBtn4Click(fresh.s), Outcome::Failed);
    EXPECT_EQ(fresh.ui.events.back(), kCut);
    EXPECT_EQ(ReadWholeFile(fresh.s.workDir / "data.DAT"), std::optional<Bytes>(kOld));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fresh.s.workDir),
                            std::filesystem::directory_iterator()),
              1);
  }
}

TEST_F(DownloadTest, APauseInTheDumpUpToASecondIsWaitedOutWhileTheHeaderDeclaresMore) {
  for (const uint32_t pauseMs : {30u, 120u, 500u, 990u}) {
    SCOPED_TRACE(pauseMs);
    SimSession fresh;
    ASSERT_TRUE(fresh.OpenPort());
    fresh.device.faults.dumpPauseAfter = 300;
    fresh.device.faults.dumpPauseMs = pauseMs;
    fresh.ui.inputs.push_back("data");
    EXPECT_EQ(BitBtn4Click(fresh.s), Outcome::Completed);
    Bytes expected;
    EXPECT_EQ(EncodeDatabase(fresh.device.Dump(false), expected), DatabaseWriteResult::Ok);
    EXPECT_EQ(ReadWholeFile(fresh.s.workDir / "data.DAT"), std::optional<Bytes>(expected));
  }
}

TEST_F(DownloadTest, DumpsTheReaderWouldRejectAreRefused) {
  PutOldFile("data.DAT");
  sim.device.SetSensors(11, false);  // channel count outside 1..10
  sim.device.GenerateMeasurements(3);
  sim.ui.inputs.push_back("data");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events.back(), kCut);
  ExpectOldFileIntact("data.DAT");

  sim.ui.events.clear();
  sim.device.SetSensors(10, false);  // one record more than the memory holds
  sim.device.faults.overfullMemory = true;
  sim.device.GenerateMeasurements(static_cast<int>(dbfile::MaxRecords(10)) + 1);
  sim.ui.inputs.push_back("data");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events.back(), kCut);
  ExpectOldFileIntact("data.DAT");
}

TEST_F(DownloadTest, AnOversizedDumpIsRefusedAndItsRestNeverReachesTheNextCommands) {
  // More than the reception buffer: 4 sensors, 18 724 records are 262 271 bytes.
  sim.device.faults.overfullMemory = true;
  sim.device.GenerateMeasurements(18724);
  ASSERT_GT(sim.device.Dump(false).size(), proto::kRxBufferSize);
  sim.ui.inputs.push_back("data");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events.back(), kCut);
  EXPECT_FALSE(std::filesystem::exists(File("data.DAT")));

  sim.ui.events.clear();
  sim.s.link.Test_COM_OK();
  sim.s.link.Read_COM_Byte(proto::kRegisterRead, proto::reg::kSensors);
  EXPECT_TRUE(sim.s.link.state.LinkOk);
  EXPECT_EQ(sim.s.link.state.DataByte, 4);
  EXPECT_EQ(sim.ui.events, Events{});
}

TEST_F(DownloadTest, AFileTheUserProtectedIsRefusedBeforeTheDownloadAndALinkIsFollowed) {
  PutOldFile("data.DAT");
  std::filesystem::permissions(File("data.DAT"), std::filesystem::perms::owner_read);
  sim.ui.inputs.push_back("data");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events.back(), "message|Uwaga !|Popraw nazwę pliku lub sprawdź dysk !!!");
  EXPECT_EQ(sim.TakeSent(), (Bytes{30, 62, 30, 14}));
  ExpectOldFileIntact("data.DAT");

#ifndef _WIN32  // MinGW's library cannot make symbolic links
  std::filesystem::create_directory(File("store"));
  std::filesystem::create_symlink("store/kept.DAT", File("link.DAT"));
  sim.ui.inputs.push_back("link");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Completed);
  EXPECT_TRUE(std::filesystem::is_symlink(File("link.DAT")));
  EXPECT_EQ(ReadWholeFile(File("store/kept.DAT")), std::optional<Bytes>(Encoded(false)));
#endif
}

TEST_F(DownloadTest, ThePortVanishingMidDumpEndsTheDownloadAndTheScanFindsTheLoggerOnceItIsBack) {
  PutOldFile("data.DAT");
  sim.device.GenerateMeasurements(2000);
  sim.bench.Unplug("COM1", sim.clock.NowUs() + 500'000);
  sim.ui.inputs.push_back("data");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events.back(), kCut);
  ExpectOldFileIntact("data.DAT");

  // The dead handle answers nothing, at the cost of one wait and no more.
  sim.ui.events.clear();
  const uint64_t before = sim.clock.NowUs();
  sim.s.link.Test_COM_OK();
  EXPECT_EQ(sim.clock.NowUs() - before, 253'000u);
  EXPECT_EQ(sim.ui.events, Events{"message|Uwaga !|Brak połączenia z VELUTRON !"});

  sim.bench.PlugIn("COM1");
  sim.clock.SleepMs(6000);  // the logger has finished sending its dump into the void
  sim.ui.events.clear();
  EXPECT_EQ(TESTRS2321Click(sim.s), Outcome::Completed);
  EXPECT_TRUE(sim.s.link.state.LinkOk);
  sim.ui.inputs.push_back("data");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Completed);
  EXPECT_EQ(ReadWholeFile(File("data.DAT")), std::optional<Bytes>(Encoded(false)));
}

TEST_F(DownloadTest, AnInterruptDuringTheReceptionCancelsWithoutAWordAndKeepsTheOldFile) {
  // The interrupt arrives while the dump comes in: at the reception's third window.
  struct InterruptingUi : test::ScriptedUi {
    void StepProgress() override {
      ScriptedUi::StepProgress();
      if (progressMax == 30 && progressPos == 3) RequestInterrupt();
    }
  } ui;
  Session s(sim.port, sim.clock, ui, sim.locale);
  s.workDir = sim.s.workDir;
  PutOldFile("data.DAT");
  sim.device.GenerateMeasurements(2000);
  ui.inputs.push_back("data");
  EXPECT_EQ(BitBtn4Click(s), Outcome::Cancelled);
  ClearInterrupt();
  EXPECT_EQ(ui.events, Events{kAscendingInput + "data"});
  ExpectOldFileIntact("data.DAT");
}

TEST_F(DownloadTest, ASuccessfulDownloadReplacesAnOlderFileWhole) {
  PutOldFile("data.DAT");
  sim.ui.inputs.push_back("data");
  EXPECT_EQ(BitBtn4Click(sim.s), Outcome::Completed);
  EXPECT_EQ(ReadWholeFile(File("data.DAT")), std::optional<Bytes>(Encoded(false)));
}

}  // namespace
}  // namespace velutron
