#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <fstream>

#include "ReportFixture.h"
#include "data/DatabaseCommands.h"

namespace velutron::test {
namespace {

const char* kPrintRefused = "message|Uwaga !|Pusty bufor - brak danych do wydruku !!!";

TEST_F(ReportFixture, OpeningADatabaseRendersItAndPrintingPrintsTheView) {
  DumpBuilder dump;
  dump.Record({1000});
  Store(dump.File(), "chosen.dat");
  const std::string path = (dir.path() / "chosen.dat").string();
  ui.files = {path};
  ui.prints = {true, false};
  EXPECT_EQ(BitBtn1Click(s), Outcome::Completed);
  EXPECT_EQ(ui.lastDialog.title, "Wybierz nazwę pliku.");
  EXPECT_EQ(ui.lastDialog.filterDescription, "Bazy danych rejestratora");
  EXPECT_EQ(ui.lastDialog.filterPattern, "*.dat");
  EXPECT_EQ(s.report.DatabaseFileName, path);
  EXPECT_TRUE(ui.reportText.ends_with(" Plik:" + path + "\r\n " + std::string(50, '-')));
  EXPECT_EQ(Wydrukbufora1Click(s), Outcome::Completed);
  EXPECT_EQ(Wydrukbufora1Click(s), Outcome::Cancelled);
  EXPECT_EQ(ui.events, (std::vector<std::string>{
                           "open-file|Wybierz nazwę pliku.|" + path,
                           "question|Podgląd danych.|Czy otworzyć dane w arkuszu Excel?|cancel",
                           "print|ok",
                           "print|cancel",
                       }));
}

TEST_F(ReportFixture, FilesNoDatabaseCouldBeAreRefusedWithoutReadingThemWhole) {
  const std::string kUnreadable = "message|Uwaga !|Blokada odczytu danych z dysku !";
  const std::string kDamaged = "message|Błąd bazy danych!|Uszkodzenie struktury bazy danych !";
  DumpBuilder dump;
  dump.Record({1000});
  std::vector<uint8_t> tooLong = dump.File();
  tooLong.resize(dbfile::LargestFileSize() + 1);
  Store(tooLong, "long.dat");
  { std::ofstream(dir.path() / "huge.dat"); }
  std::filesystem::resize_file(dir.path() / "huge.dat", 3'000'000'000ULL);
  std::vector<std::pair<std::string, std::string>> cases = {
      {(dir.path() / "long.dat").string(), kDamaged},
      {(dir.path() / "huge.dat").string(), kDamaged},
      {dir.path().string(), kUnreadable},
  };
#ifdef _WIN32
  cases.push_back({"NUL", kUnreadable});
#else
  ASSERT_EQ(::mkfifo((dir.path() / "fifo.dat").c_str(), 0600), 0);
  cases.push_back({(dir.path() / "fifo.dat").string(), kUnreadable});
  cases.push_back({"/dev/zero", kUnreadable});
#endif
  for (const auto& [path, message] : cases) {
    ui.events.clear();
    ui.files = {path};
    EXPECT_EQ(BitBtn1Click(s), Outcome::Failed) << path;
    EXPECT_EQ(ui.events.back(), message) << path;
    EXPECT_FALSE(ReportExists());
  }
}

TEST_F(ReportFixture, CancelledOpenEmptiesTheViewAndSaysSo) {
  DumpBuilder dump;
  dump.Record({1000});
  ASSERT_EQ(Render(dump.File()), Outcome::Completed);
  ui.events.clear();
  EXPECT_EQ(BitBtn1Click(s), Outcome::Cancelled);
  EXPECT_EQ(ui.events, (std::vector<std::string>{
                           "open-file|Wybierz nazwę pliku.|cancel",
                           "message|Nie wybrany plik *.DAT|Nie wybrano bazy danych do konwersji !",
                       }));
  EXPECT_EQ(ui.reportText, "");
  EXPECT_FALSE(s.report.ReportLoaded);
  EXPECT_EQ(s.report.ReportBuffer, ZeroedBytes(kReportBufferSize, 0));
}

TEST_F(ReportFixture, PrintingIsRefusedAfterADamagedFileOrAnEmptiedView) {
  DumpBuilder dump;
  dump.Record({1000});
  auto file = dump.File();
  ASSERT_EQ(Render(file), Outcome::Completed);
  ASSERT_TRUE(s.report.ReportLoaded);
  Wyczy1Click(s);
  EXPECT_EQ(ui.reportText, "");
  EXPECT_TRUE(ReportExists());  // the file on disk stays
  EXPECT_EQ(Wydrukbufora1Click(s), Outcome::Failed);

  file[1] = 0xFD;
  Store(file);
  ui.files = {(dir.path() / "RT_test.DAT").string()};
  EXPECT_EQ(BitBtn1Click(s), Outcome::Failed);
  EXPECT_EQ(Wydrukbufora1Click(s), Outcome::Failed);
  EXPECT_EQ(ui.events, (std::vector<std::string>{
                           "question|Podgląd danych.|Czy otworzyć dane w arkuszu Excel?|cancel",
                           kPrintRefused,
                           "open-file|Wybierz nazwę pliku.|" + (dir.path() / "RT_test.DAT").string(),
                           "message|Błąd bazy danych!|Uszkodzenie struktury bazy danych !",
                           kPrintRefused,
                       }));
}

}  // namespace
}  // namespace velutron::test
