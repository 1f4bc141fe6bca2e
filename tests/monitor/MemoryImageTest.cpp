// Saving the logger's configuration memory into an image file and writing it back, against the
// simulated logger on virtual time.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <csignal>

#include "monitor/MemoryImage.h"
#include "platform/AtomicFile.h"
#include "platform/Process.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::SimSession;
using Bytes = std::vector<uint8_t>;
using Events = std::vector<std::string>;

const std::string kTimeout = "message|Uwaga !|Przekroczenie czasu na odpowiedź !!!";
const Bytes kChecks{30, 62, 30, 14};  // probe and recording-state check

Bytes WithChecksum(Bytes memory) {
  uint16_t sum = 0;
  for (uint8_t b : memory) sum = static_cast<uint16_t>(sum + b);
  memory.insert(memory.end(), {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum & 0xFF)});
  return memory;
}

// The question a restore asks once the file is read, without its answer.
std::string Question(const std::string& path) {
  return "question|Wczytanie obrazu pamięci|Wczytanie obrazu zastąpi całą konfigurację rejestratora (parametry "
         "pracy, liczbę i parametry czujników, progi alarmowe, wpisy użytkownika i numer seryjny, nazwy punktów "
         "pomiaru) zawartością pliku:\r" +
         path + "\rKontynuować?|";
}

struct Images : SimSession {
  Images() {
    EXPECT_TRUE(OpenPort());
    s.settings.ServiceAccess = true;
    for (int a = 0; a < 256; ++a) {
      device.params[a] = static_cast<uint8_t>(a * 7 + 1);
      device.names[a] = static_cast<uint8_t>(255 - a);
    }
  }
  Bytes Memory() const {
    Bytes m(device.params.begin(), device.params.end());
    m.insert(m.end(), device.names.begin(), device.names.end());
    return m;
  }
  std::string File(const std::string& name) const { return (s.workDir / name).string(); }
  // `overwrite` answers the question asked once the file is read.
  Outcome Restore(const std::string& name, bool overwrite = true) {
    ui.files.push_back(File(name));
    ui.answers = {overwrite};
    return Wczytanieobrazurej1Click(s);
  }
};

TEST(MemoryImageTest, SaveReadsBothSpacesIntoTheFileAndRestoreWritesAllButTheDeclarationTrigger) {
  Images m;
  const Bytes saved = m.Memory();
  m.ui.inputs.push_back("cfg.eep");  // ".eep" is appended all the same
  EXPECT_EQ(Zapisobrazurej1Click(m.s), Outcome::Completed);
  Bytes reads = kChecks;
  reads.push_back(75);
  for (int a = 0; a < 512; ++a)
    reads.insert(reads.end(), {static_cast<uint8_t>(a < 256 ? 35 : 37), static_cast<uint8_t>(a)});
  EXPECT_EQ(m.TakeSent(), reads);
  EXPECT_EQ(ReadWholeFile(m.File("cfg.eep.eep")), WithChecksum(saved));
  EXPECT_EQ(
      m.ui.events,
      (Events{
          "input|Nazwa pliku:|Wprowadź nazwę pliku konfiguracji:|Config_EEP_05-06-2009|cfg.eep", "beep",
          "message|Kopia danych z do EEPROM do PC.|Zapisano poprawnie obraz pamięci do pliku:\rcfg.eep"}));
  EXPECT_EQ(m.ui.progress.front(), -515);  // a maximum of 514, emptied at the end
  EXPECT_EQ(m.ui.progressMax, 0);

  m.device.params.fill(0);
  m.device.names.fill(0);
  m.ui.events.clear();
  const std::string question = Question(m.File("cfg.eep.eep"));
  EXPECT_EQ(m.Restore("cfg.eep.eep", false), Outcome::Cancelled);
  EXPECT_EQ(m.TakeSent(), kChecks);
  EXPECT_EQ(m.Memory(), Bytes(512, 0));
  EXPECT_EQ(m.ui.events.back(), question + "cancel");
  m.ui.events.clear();
  EXPECT_EQ(m.Restore("cfg.eep.eep"), Outcome::Completed);
  Bytes expected = saved;
  expected[128] = 0;
  EXPECT_EQ(m.Memory(), expected);
  const Bytes sent = m.TakeSent();
  ASSERT_EQ(sent.size(), kChecks.size() + 1 + 511 * 3);
  EXPECT_EQ(Bytes(sent.begin() + 5 + 127 * 3, sent.begin() + 5 + 129 * 3),
            (Bytes{25, 127, saved[127], 25, 129, saved[129]}));
  // Every write starts 5 ms after the previous one's answer: all at one pace, its two 3 ms gaps and more.
  const auto& wire = m.port.sent;
  const uint64_t pace = wire[wire.size() - 3].atUs - wire[wire.size() - 6].atUs;
  for (size_t k = wire.size() - 510 * 3; k < wire.size(); k += 3)
    ASSERT_EQ(wire[k].atUs - wire[k - 3].atUs, pace);
  EXPECT_GE(pace, 6'000u + 5'000u);
  EXPECT_EQ(m.ui.events,
            (Events{"open-file|Wybierz nazwę pliku.|" + m.File("cfg.eep.eep"), question + "ok",
                    "message|Wczytanie danych do EEPROM|Wczytano poprawnie konfigurację z pliku:\r" +
                        m.File("cfg.eep.eep")}));
}

TEST(MemoryImageTest, ImageFilesAreCheckedWholeBeforeAnythingIsSent) {
  Images m;
  const Bytes intact = WithChecksum(Bytes(512, 255));
  EXPECT_EQ(Bytes(intact.end() - 2, intact.end()), (Bytes{254, 0}));
  Bytes swapped = intact;
  std::swap(swapped[512], swapped[513]);
  const std::string notImage = "message|Błąd strukury pliku.|To nie jest plik danych EEPROM !!!";
  const std::string unreadable = "message|Uwaga !|Blokada odczytu danych z dysku !";
  const std::vector<std::pair<std::optional<Bytes>, std::string>> cases = {
      {Bytes(intact.begin(), intact.end() - 1), notImage},
      {WithChecksum(Bytes(513, 0)), notImage},  // 515 bytes
      {swapped, "message|Błąd strukury pliku.|Uszkodzona stuktura pliku danych EEP !!!"},
      {std::nullopt, unreadable},  // absent
      {Bytes{}, unreadable},       // a folder
  };
  const Bytes before = m.Memory();
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string name = std::to_string(i) + ".eep";
    if (cases[i].first && !cases[i].first->empty()) WriteFileAtomically(m.File(name), *cases[i].first);
    if (cases[i].first && cases[i].first->empty()) std::filesystem::create_directory(m.File(name));
    EXPECT_EQ(m.Restore(name), Outcome::Failed) << i;
    EXPECT_EQ(m.ui.events.back(), cases[i].second) << i;
    EXPECT_EQ(m.TakeSent(), kChecks) << i;
  }
  EXPECT_EQ(m.Memory(), before);
  // Checksum bytes that are equal may stand either way round; 512 zero bytes and two more are an image.
  Bytes equal = WithChecksum({255, 2});  // 0x0101
  equal.insert(equal.begin() + 2, 510, 0);
  std::swap(equal[512], equal[513]);
  EXPECT_EQ(ParseImageFile(equal).check, ImageFileCheck::Intact);
  EXPECT_EQ(ParseImageFile(Bytes(514, 0)).check, ImageFileCheck::Intact);
}

// A backup the user made read-only is still read: the file is opened for reading only.
TEST(MemoryImageTest, AReadOnlyImageIsRestored) {
  Images m;
  ASSERT_TRUE(WriteFileAtomically(m.File("ro.eep"), Bytes(514, 0)));
  namespace fs = std::filesystem;
  fs::permissions(m.File("ro.eep"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(m.s.workDir, fs::perms::all);
#ifdef _WIN32
  const Outcome outcome = m.Restore("ro.eep");
#else
  // Root may write any file: look at it as somebody else, as a user would.
  const bool root = ::geteuid() == 0;
  ASSERT_TRUE(!root || ::seteuid(65534) == 0);
  const Outcome outcome = m.Restore("ro.eep");
  ASSERT_TRUE(!root || ::seteuid(0) == 0);
#endif
  EXPECT_EQ(outcome, Outcome::Completed) << m.ui.events.back();
}

TEST(MemoryImageTest, WithoutServiceAccessBothRefuseAfterTheChecksAndSendNothingMore) {
  Images m;
  m.s.settings.ServiceAccess = false;
  for (auto operation : {Zapisobrazurej1Click, Wczytanieobrazurej1Click}) {
    m.ui.events.clear();
    EXPECT_EQ(operation(m.s), Outcome::Failed);
    EXPECT_EQ(m.ui.events, Events{"message|Blokada funkcji !!!|Użytkownik nie ma dostępu do tej funkcji !"});
    EXPECT_EQ(m.TakeSent(), kChecks);
  }
}

TEST(MemoryImageTest, ARestoreStopsAtTheFirstWriteThatIsRefusedOrUnanswered) {
  struct Case {
    std::function<void(sim::Faults&)> fault;
    std::string message;
    size_t writes;  // sent, the failing one included
  };
  for (const Case& c : {Case{[](sim::Faults& f) { f.replyCodes[27] = 20; },
                             "message|Uwaga !|Uszkodzenie bufora danych EEPROM !", 256},
                        Case{[](sim::Faults& f) { f.silentAfter = 2 + 10; }, kTimeout, 11}}) {
    Images m;
    ASSERT_TRUE(WriteFileAtomically(m.File("img.eep"), Bytes(514, 0)));
    c.fault(m.device.faults);
    EXPECT_EQ(m.Restore("img.eep"), Outcome::Failed);
    EXPECT_EQ(m.ui.events, (Events{"open-file|Wybierz nazwę pliku.|" + m.File("img.eep"),
                                   Question(m.File("img.eep")) + "ok", c.message,
                                   "message|Błąd zapisu danych.|Przerwanie zapisu danych!!!"}));
    EXPECT_EQ(m.TakeSent().size(), kChecks.size() + 1 + 3 * c.writes);
  }
}

TEST(MemoryImageTest, AnInterruptedRestoreStopsAtTheNextWriteAndSaysHowFarItGot) {
  Images m;
  ASSERT_TRUE(WriteFileAtomically(m.File("img.eep"), Bytes(514, 0)));
  const size_t opening = kChecks.size() + 1;
  m.port.afterSend = [&](size_t sent) {
    if (sent == opening + 3 * 300) RequestInterrupt();
  };
  EXPECT_EQ(m.Restore("img.eep"), Outcome::Cancelled);
  ClearInterrupt();
  EXPECT_EQ(m.ui.events,
            (Events{"open-file|Wybierz nazwę pliku.|" + m.File("img.eep"), Question(m.File("img.eep")) + "ok",
                    "message|Błąd zapisu danych.|Przerwanie zapisu danych!!!\rZapisano 300 z 511 bajtów."}));
  EXPECT_EQ(m.TakeSent().size(), opening + 3 * 300);
  EXPECT_TRUE(m.s.link.StoppedByInterrupt());
}

TEST(MemoryImageTest, AFailedSaveLeavesAnOlderFileOfThatNameWhole) {
  struct Case {
    std::string name;
    std::function<void(Images&)> fault;
    std::string message;
  };
  std::vector<Case> cases = {
      {"cfg", [](Images& m) { m.device.faults.silentAfter = 2 + 100; }, kTimeout},
      {"missing/cfg", [](Images&) {}, "message|Uwaga !|Popraw nazwę pliku lub sprawdź dysk !!!"},
  };
#ifndef _WIN32  // Windows has no file size limit of a process
  rlimit unlimited{};
  getrlimit(RLIMIT_FSIZE, &unlimited);
  // The file system takes no more than 100 bytes of a file from this process.
  cases.push_back({"cfg",
                   [&](Images&) {
                     std::signal(SIGXFSZ, SIG_IGN);
                     rlimit limit{100, unlimited.rlim_max};
                     setrlimit(RLIMIT_FSIZE, &limit);
                   },
                   "message|Uwaga !|Błąd wejścia/wyjścia przy zapisie pliku:\rcfg.eep"});
#endif
  for (const Case& c : cases) {
    Images m;
    ASSERT_TRUE(WriteFileAtomically(m.File("cfg.eep"), Bytes(514, 9)));
    m.ui.inputs.push_back(c.name);
    c.fault(m);
    const Outcome outcome = Zapisobrazurej1Click(m.s);
#ifndef _WIN32
    setrlimit(RLIMIT_FSIZE, &unlimited);
#endif
    EXPECT_EQ(outcome, Outcome::Failed) << c.message;
    EXPECT_EQ(m.ui.events.back(), c.message);
    EXPECT_EQ(ReadWholeFile(m.File("cfg.eep")), Bytes(514, 9)) << c.message;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m.s.workDir), {}), 1) << c.message;
  }
}

}  // namespace
}  // namespace velutron
