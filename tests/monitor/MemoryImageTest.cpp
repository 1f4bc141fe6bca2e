// Saving the logger's configuration memory into an image file and writing it back, against the
// simulated logger on virtual time.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "monitor/MemoryImage.h"
#include "platform/AtomicFile.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::SimSession;
using Bytes = std::vector<uint8_t>;
using Events = std::vector<std::string>;

const std::string kTimeout = "message|Uwaga !|Przekroczenie czasu na odpowiedź !!!";
const Bytes kChecks{30, 62, 30, 14};  // probe and recording-state check

class MemoryImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.OpenPort());
    sim.s.settings.ServiceAccess = true;
    for (int a = 0; a < 256; ++a) {
      sim.device.params[a] = static_cast<uint8_t>(a * 7 + 1);
      sim.device.names[a] = static_cast<uint8_t>(255 - a);
    }
  }
  Bytes Memory() const {
    Bytes m(sim.device.params.begin(), sim.device.params.end());
    m.insert(m.end(), sim.device.names.begin(), sim.device.names.end());
    return m;
  }
  std::filesystem::path File(const std::string& name) const { return sim.s.workDir / name; }
  void Put(const std::string& name, const Bytes& bytes) {
    ASSERT_TRUE(WriteFileAtomically(File(name), bytes));
  }
  Outcome Restore(const std::string& name) {
    sim.ui.files.push_back(File(name).string());
    return Wczytanieobrazurej1Click(sim.s);
  }
  SimSession sim;
};

TEST_F(MemoryImageTest, SaveReadsBothSpacesIntoTheFileAndRestoreWritesAllButTheDeclarationTrigger) {
  const Bytes saved = Memory();
  sim.ui.inputs.push_back("cfg");
  EXPECT_EQ(Zapisobrazurej1Click(sim.s), Outcome::Completed);
  Bytes reads = kChecks;
  reads.push_back(75);
  for (int a = 0; a < 512; ++a)
    reads.insert(reads.end(), {static_cast<uint8_t>(a < 256 ? 35 : 37), static_cast<uint8_t>(a)});
  EXPECT_EQ(sim.TakeSent(), reads);
  Bytes file = saved;
  const uint16_t sum = ImageChecksum(*reinterpret_cast<const MemoryImage*>(saved.data()));
  file.insert(file.end(), {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum & 0xFF)});
  EXPECT_EQ(ReadWholeFile(File("cfg.eep")), file);
  EXPECT_EQ(
      sim.ui.events,
      (Events{"input|Nazwa pliku:|Wprowadź nazwę pliku konfiguracji:|Config_EEP_05-06-2009|cfg", "beep",
              "message|Kopia danych z do EEPROM do PC.|Zapisano poprawnie obraz pamięci do pliku:\rcfg"}));
  EXPECT_EQ(sim.ui.progress.front(), -515);
  EXPECT_EQ(sim.ui.progressMax, 0);

  sim.device.params.fill(0);
  sim.device.names.fill(0);
  sim.ui.events.clear();
  EXPECT_EQ(Restore("cfg.eep"), Outcome::Completed);
  Bytes expectedMemory = saved;
  expectedMemory[128] = 0;  // never written
  EXPECT_EQ(Memory(), expectedMemory);
  const Bytes sent = sim.TakeSent();
  EXPECT_EQ(sent.size(), kChecks.size() + 1 + 511 * 3);
  EXPECT_EQ(Bytes(sent.begin() + 5 + 127 * 3, sent.begin() + 5 + 129 * 3),
            (Bytes{25, 127, saved[127], 25, 129, saved[129]}));
  // Each write follows the previous one's answer after 5 ms; so every write starts at the same pace.
  const auto& wire = sim.port.sent;
  for (size_t k = wire.size() - 511 * 3 + 3; k < wire.size(); k += 3) {
    ASSERT_EQ(wire[k].atUs - wire[k - 3].atUs, wire[wire.size() - 3].atUs - wire[wire.size() - 6].atUs);
  }
  EXPECT_GE(wire[wire.size() - 3].atUs - wire[wire.size() - 6].atUs, 6'000u + 5'000u);
  EXPECT_EQ(sim.ui.events,
            (Events{"open-file|Wybierz nazwę pliku.|" + File("cfg.eep").string(),
                    "message|Wczytanie danych do EEPROM|Wczytano poprawnie konfigurację z pliku:\r" +
                        File("cfg.eep").string()}));
}

TEST_F(MemoryImageTest, ANameEndingInEepGetsItAppendedAgain) {
  sim.ui.inputs.push_back("x.eep");
  EXPECT_EQ(Zapisobrazurej1Click(sim.s), Outcome::Completed);
  EXPECT_TRUE(std::filesystem::exists(File("x.eep.eep")));
}

TEST_F(MemoryImageTest, ImageFilesAreCheckedWholeBeforeAnythingIsSent) {
  MemoryImage ff;
  ff.fill(255);
  const auto file = ImageFileBytes(ff);
  Bytes intact(file.begin(), file.end());
  EXPECT_EQ(Bytes(intact.end() - 2, intact.end()), (Bytes{254, 0}));
  Bytes swapped = intact;
  std::swap(swapped[512], swapped[513]);
  const std::string notImage = "message|Błąd strukury pliku.|To nie jest plik danych EEPROM !!!";
  const std::string damaged = "message|Błąd strukury pliku.|Uszkodzona stuktura pliku danych EEP !!!";
  const std::string unreadable = "message|Uwaga !|Blokada odczytu danych z dysku !";
  struct Case {
    const char* what;
    std::function<void(const std::filesystem::path&)> make;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"513 bytes", [&](auto& p) { WriteFileAtomically(p, Bytes(intact.begin(), intact.end() - 1)); },
       notImage},
      {"515 bytes",
       [&](auto& p) {
         auto b = intact;
         b.push_back(0);
         WriteFileAtomically(p, b);
       },
       notImage},
      {"swapped checksum", [&](auto& p) { WriteFileAtomically(p, swapped); }, damaged},
      {"absent", [](auto&) {}, unreadable},
      {"a folder", [](auto& p) { std::filesystem::create_directory(p); }, unreadable},
  };
  const Bytes before = Memory();
  for (const Case& c : cases) {
    const std::string name = std::string(c.what) + ".eep";
    c.make(File(name));
    sim.ui.events.clear();
    EXPECT_EQ(Restore(name), Outcome::Failed) << c.what;
    EXPECT_EQ(sim.ui.events.back(), c.message) << c.what;
    EXPECT_EQ(sim.TakeSent(), kChecks) << c.what;
  }
  EXPECT_EQ(Memory(), before);

  // 512 zero bytes with a zero checksum are an image too.
  EXPECT_EQ(ParseImageFile(Bytes(514, 0)).check, ImageFileCheck::Intact);
  swapped[512] = swapped[513] = 7;
  EXPECT_EQ(ParseImageFile(ImageFileBytes(*reinterpret_cast<const MemoryImage*>(swapped.data()))).check,
            ImageFileCheck::Intact);
}

// A backup the user made read-only is still read: the file is opened for reading only.
TEST_F(MemoryImageTest, AReadOnlyImageIsRestored) {
  Put("ro.eep", Bytes(514, 0));
  std::filesystem::permissions(File("ro.eep"), std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::group_read |
                                                   std::filesystem::perms::others_read);
  std::filesystem::permissions(sim.s.workDir, std::filesystem::perms::all);
  // Root may write any file: look at it as somebody else, as a user would.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::seteuid(65534), 0);
  }
  const Outcome outcome = Restore("ro.eep");
  if (root) {
    ASSERT_EQ(::seteuid(0), 0);
  }
  EXPECT_EQ(outcome, Outcome::Completed) << sim.ui.events.back();
}

TEST_F(MemoryImageTest, ServiceFunctionsRefuseWithoutServiceAccessAndSendNothingMore) {
  sim.s.settings.ServiceAccess = false;
  for (auto operation : {Zapisobrazurej1Click, Wczytanieobrazurej1Click}) {
    sim.ui.events.clear();
    EXPECT_EQ(operation(sim.s), Outcome::Failed);
    EXPECT_EQ(sim.ui.events,
              Events{"message|Blokada funkcji !!!|Użytkownik nie ma dostępu do tej funkcji !"});
    EXPECT_EQ(sim.TakeSent(), kChecks);
  }
}

TEST_F(MemoryImageTest, ARestoreStopsAtTheFirstWriteThatIsRefusedOrUnanswered) {
  struct Case {
    const char* what;
    std::function<void(sim::Faults&)> fault;
    std::string message;
    size_t writes;  // sent, the failing one included
  };
  const std::vector<Case> cases = {
      {"refused", [](sim::Faults& f) { f.replyCodes[27] = 20; },
       "message|Uwaga !|Uszkodzenie bufora danych EEPROM !", 256},
      {"unanswered", [](sim::Faults& f) { f.silentAfter = 2 + 10; }, kTimeout, 11},
  };
  Put("img.eep", Bytes(514, 0));
  for (const Case& c : cases) {
    SimSession run;
    ASSERT_TRUE(run.OpenPort());
    run.s.settings.ServiceAccess = true;
    c.fault(run.device.faults);
    run.ui.files.push_back(File("img.eep").string());
    EXPECT_EQ(Wczytanieobrazurej1Click(run.s), Outcome::Failed) << c.what;
    EXPECT_EQ(run.ui.events, (Events{"open-file|Wybierz nazwę pliku.|" + File("img.eep").string(), c.message,
                                     "message|Błąd zapisu danych.|Przerwanie zapisu danych!!!"}))
        << c.what;
    EXPECT_EQ(run.TakeSent().size(), kChecks.size() + 1 + 3 * c.writes) << c.what;
  }
}

TEST_F(MemoryImageTest, AFailedSaveLeavesAnOlderFileOfThatNameWhole) {
  const Bytes old(514, 9);
  rlimit unlimited{};
  getrlimit(RLIMIT_FSIZE, &unlimited);
  struct Case {
    const char* what;
    std::string name;
    std::function<void(SimSession&)> fault;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"read time-out", "cfg", [](SimSession& run) { run.device.faults.silentAfter = 2 + 100; }, kTimeout},
      {"no such folder", "missing/cfg", [](SimSession&) {},
       "message|Uwaga !|Popraw nazwę pliku lub sprawdź dysk !!!"},
      // The file system takes no more than 100 bytes of a file from this process.
      {"write fails", "cfg",
       [&](SimSession&) {
         std::signal(SIGXFSZ, SIG_IGN);
         rlimit limit{100, unlimited.rlim_max};
         setrlimit(RLIMIT_FSIZE, &limit);
       },
       "message|Uwaga !|Błąd wejścia/wyjścia przy zapisie pliku:\rcfg.eep"},
  };
  for (const Case& c : cases) {
    SimSession run;
    ASSERT_TRUE(run.OpenPort());
    run.s.settings.ServiceAccess = true;
    ASSERT_TRUE(WriteFileAtomically(run.s.workDir / "cfg.eep", old));
    run.ui.inputs.push_back(c.name);
    c.fault(run);
    const Outcome outcome = Zapisobrazurej1Click(run.s);
    setrlimit(RLIMIT_FSIZE, &unlimited);
    EXPECT_EQ(outcome, Outcome::Failed) << c.what;
    EXPECT_EQ(run.ui.events.back(), c.message) << c.what;
    EXPECT_EQ(ReadWholeFile(run.s.workDir / "cfg.eep"), old) << c.what;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(run.s.workDir), {}), 1) << c.what;
  }
}

}  // namespace
}  // namespace velutron
