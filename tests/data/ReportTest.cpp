#include "ReportFixture.h"

namespace velutron::test {
namespace {

const std::string kRule54 = " " + std::string(54, '-');

TEST_F(ReportFixture, HumidityReportIsWrittenByteForByteAndShown) {
  DumpBuilder dump;
  dump.channelByte = 0x82;
  dump.owner =
      "Zak\xB3"
      "ad Testowy";  // Windows-1250 bytes, as the logger keeps them
  dump.supervision = "Kontrola 1";
  dump.pointNames = {"Suchy", "Mokry"};
  dump.Record({1200, 1184})
      .Record({964, 960}, 0x05, 0x06, 9, 0x09, 0x05, 0x07)
      .Record({1200, 1184}, 0x05, 0x06, 9, 0x15, 0x00, 0x00);  // ties: the first record stays named
  Store(dump.File(), "RT_05-06-2009_14`05.DAT");
  s.report.DatabaseFileName = "RT_05-06-2009_14`05.DAT";
  ASSERT_EQ(ViewBufor(s), Outcome::Completed);

  const std::string expected =
      "   1; 05-06-2009; 14:05:30; 20,0; 90,2%RH\r\n"
      "   2; 05-06-2009;  9:05:07;  5,3; 96,6%RH\r\n"
      "   3; 05-06-2009; 15:00:00; 20,0; 90,2%RH\r\n"
      "\r\n"
      " REJESTRATOR VELUTRON: RAPORT POMIAR\xD3W (wer 1.02a - 06/2009) Czujniki=2\r\n" +
      kRule54 +
      "\r\n"
      "\r\n"
      " U\xAFYTKOWNIK:  Zak\xB3"
      "ad Testowy                     \r\n"
      " KONTROLA POMIARU:  Kontrola 1      \r\n"
      "\r\n"
      " PKT POMIAROWY [1]: Suchy           \r\n"
      " PKT POMIAROWY [2]: Mokry           \r\n"
      "\r\n"
      " POMIARY SKRAJNE [MIN/MAX]:\r\n"
      " --------------------------\r\n"
      " WEJ.[1] MIN: 05-06-09  9:05:07 =  5,3 C  Lp.= 2\r\n"
      " WEJ.[1] MAX: 05-06-09 14:05:30 = 20,0 C  Lp.= 1\r\n"
      "\r\n"
      " WEJ.[2] MIN: 05-06-09 14:05:30 = 90,2%RH Lp.= 1\r\n"
      " WEJ.[2] MAX: 05-06-09  9:05:07 = 96,6%RH Lp.= 2\r\n"
      "\r\n"
      " KONWERSJA BAZY: 05-06-2009 14:05:30 Plik:RT_05-06-2009_14`05.DAT\r\n"
      " --------------------------------------------------";
  EXPECT_EQ(Report(), expected);

  EXPECT_TRUE(s.report.ReportLoaded);
  EXPECT_NE(ui.reportText.find(" UŻYTKOWNIK:  Zakład Testowy"), std::string::npos);
  EXPECT_EQ(ui.reportText.size(), expected.size() + 3);  // Ż, Ó and ł take two bytes in UTF-8
  EXPECT_EQ(std::string(s.report.ReportBuffer.begin(), s.report.ReportBuffer.begin() + expected.size()),
            expected);
  EXPECT_EQ(s.report.ReportBuffer[expected.size()], 0);
  EXPECT_EQ(ui.events,
            std::vector<std::string>{"question|Podgląd danych.|Czy otworzyć dane w arkuszu Excel?|cancel"});
  EXPECT_EQ(ui.progress, (std::vector<int>{-1, -4, 1, 2, 3, -1}));
}

TEST_F(ReportFixture, ThresholdColumnOnOffAndOutOfRangeCellsWithDotSeparator) {
  DumpBuilder dump;
  dump.channelByte = 3;
  dump.threshold = 25;
  dump.Record({1279, 0, 4003}, 0x05, 0x06, 9, 0xC9)     // 24.9375 degrees; ON, hour 9
      .Record({1280, 879, 2480}, 0x05, 0x06, 9, 0x94)   // 25.0; OFF, hour 14
      .Record({1280, 879, 4003}, 0x05, 0x06, 9, 0x54);  // no ON/OFF: byte taken whole
  ASSERT_EQ(Render(dump.File(), dotSession), Outcome::Completed);
  const auto lines = ReportLines();
  ASSERT_EQ(lines.size(), 28u);
  EXPECT_EQ(lines[0], "   1; 05-06-2009;  9:05:30;   0; 24.9; T_min; T_max; ON ");
  EXPECT_EQ(lines[1], "   2; 05-06-2009; 14:05:30; 25; 25.0; -0.1; 100.0; OFF");
  EXPECT_EQ(lines[2], "   3; 05-06-2009; 54:05:30; 25; 25.0; -0.1; T_max");
  EXPECT_EQ(lines[14], " PR\xD3G ZAL. ZAWORU = 25 C");
  EXPECT_EQ(lines[17], " WEJ.[1] MIN: 05-06-09  9:05:30 = 24.9 C  Lp.= 1");
  EXPECT_EQ(lines[18], " WEJ.[1] MAX: 05-06-09 14:05:30 = 25.0 C  Lp.= 2");
  EXPECT_EQ(lines[20], " WEJ.[2] MIN: 05-06-09  9:05:30 = T_min C  Lp.= 1");
  EXPECT_EQ(lines[21], " WEJ.[2] MAX: 05-06-09 14:05:30 = -0.1 C  Lp.= 2");
  EXPECT_EQ(lines[23], " WEJ.[3] MIN: 05-06-09 14:05:30 = 100.0 C  Lp.= 2");
  EXPECT_EQ(lines[24], " WEJ.[3] MAX: 05-06-09  9:05:30 = T_max C  Lp.= 1");

  // The older layout has no threshold: no switching column, no threshold line.
  ASSERT_EQ(Render(ToOlderLayout(dump.File()), dotSession), Outcome::Completed);
  const auto older = ReportLines();
  EXPECT_EQ(older[0], "   1; 05-06-2009;  9:05:30; 24.9; T_min; T_max; ON ");
  EXPECT_EQ(older[14], " POMIARY SKRAJNE [MIN/MAX]:");
}

TEST_F(ReportFixture, SinglePairFlagLeavesOnlyTheFirstPairAsHumidity) {
  DumpBuilder dump;
  dump.channelByte = 0x84;
  dump.Record({1200, 1184, 1280, 1264}).Record({1200, 1184, 1280, 1264}, 0x05, 0x06, 0x89);
  ASSERT_EQ(Render(dump.File()), Outcome::Completed);
  const auto lines = ReportLines();
  EXPECT_EQ(lines[0], "   1; 05-06-2009; 14:05:30; 20,0; 90,2%RH; 25,0; 91,4%RH");
  EXPECT_EQ(lines[1], "   2; 05-06-2009; 14:05:30; 20,0; 90,2%RH; 25,0; 24,0");
  // Channel 4 mixes humidity and temperature values in its extremes, as the logger's software always did.
  EXPECT_EQ(lines[25], " WEJ.[4] MIN: 05-06-09 14:05:30 = 91,4%RH Lp.= 1");
  EXPECT_EQ(lines[26], " WEJ.[4] MAX: 05-06-09 14:05:30 = 24,0 C  Lp.= 2");
}

TEST_F(ReportFixture, HumidityOutcomeTextsAndChannelsWithoutExtremes) {
  DumpBuilder dump;
  dump.channelByte = 0x82;
  dump.Record({1200, 1200}).Record({1200, 1198}).Record({2000, 1900}).Record({905, 871});
  ASSERT_EQ(Render(dump.File()), Outcome::Completed);
  const auto lines = ReportLines();
  EXPECT_EQ(lines[0], "   1; 05-06-2009; 14:05:30; 20,0; T suchy!");
  EXPECT_EQ(lines[1], "   2; 05-06-2009; 14:05:30; 20,0; 100%RH");
  EXPECT_EQ(lines[2], "   3; 05-06-2009; 14:05:30; 70,0; Brak tab.");
  EXPECT_EQ(lines[3], "   4; 05-06-2009; 14:05:30;  1,6; MIN tab.");
  EXPECT_EQ(lines[19], " WEJ.[2] MIN: ");
  EXPECT_EQ(lines[20], " WEJ.[2] MAX: ");
}

TEST_F(ReportFixture, ViewShowsTheWholeReportWithZeroBytesAsSpaces) {
  DumpBuilder dump;
  dump.threshold = 25;
  dump.owner = std::string("Own\0er", 6);
  dump.records.assign(dbfile::MaxRecords(1), {});
  for (auto& r : dump.records) r = {0x05, 0x06, 0x09, 0xD4, 0x05, 0x30, 0x05, 0x00};
  ASSERT_EQ(Render(dump.File()), Outcome::Completed);
  const std::string report = Report();
  ASSERT_GT(report.size(), kReportBufferSize);
  EXPECT_NE(report.find(std::string(" U\xAFYTKOWNIK:  Own\0er", 20)), std::string::npos);
  EXPECT_NE(ui.reportText.find(" UŻYTKOWNIK:  Own er"), std::string::npos);
  EXPECT_TRUE(ui.reportText.ends_with(" " + std::string(50, '-')));
  EXPECT_EQ(ui.reportText.find('\0'), std::string::npos);
  ASSERT_EQ(s.report.ReportBuffer.size(), report.size() + 1);
  EXPECT_EQ(s.report.ReportBuffer.back(), 0);
}

TEST_F(ReportFixture, DamagedFileLeavesNoReportAndAnEmptyView) {
  Store({'o', 'l', 'd'}, kReportFileName);
  DumpBuilder dump;
  dump.Record({1000}).Record({1100}).Record({1200});
  auto file = dump.File();
  file[8 + 10 + 7] ^= 0x40;  // record 2 damaged: it is read, the third is not
  EXPECT_EQ(Render(file), Outcome::Failed);
  EXPECT_EQ(ui.events,
            std::vector<std::string>{"message|Błąd bazy danych!|Uszkodzenie struktury bazy danych !"});
  EXPECT_EQ(ui.progress, (std::vector<int>{-1, -4, 1, 2, -1}));
  EXPECT_FALSE(ReportExists());
  EXPECT_EQ(ui.reportTextSets, 0);
  EXPECT_FALSE(s.report.ReportLoaded);
}

TEST_F(ReportFixture, UnreadableDatabaseAndBlockedReportFileAreReported) {
  Store({'o', 'l', 'd'}, kReportFileName);
  s.report.DatabaseFileName = "missing.DAT";
  EXPECT_EQ(ViewBufor(s), Outcome::Failed);
  EXPECT_FALSE(ReportExists());

  std::filesystem::create_directory(dir.path() / kReportFileName);  // cannot be replaced by a file
  DumpBuilder dump;
  dump.Record({1000});
  EXPECT_EQ(Render(dump.File()), Outcome::Failed);
  EXPECT_EQ(ui.events, (std::vector<std::string>{"message|Uwaga !|Blokada odczytu danych z dysku !",
                                                 "message|Uwaga !|Blokada zapisu pliku na dysku !"}));
  EXPECT_EQ(ui.reportTextSets, 0);
}

TEST_F(ReportFixture, AcceptedSpreadsheetQuestionOpensTheReport) {
  ui.answers = {true};
  DumpBuilder dump;
  dump.Record({1000});
  ASSERT_EQ(Render(dump.File()), Outcome::Completed);
#ifdef _WIN32
  EXPECT_EQ(ui.events.back(), "shell|Excel|ViewData.csv");
#else
  EXPECT_EQ(ui.events.back(), "shell|" + (dir.path() / kReportFileName).string() + "|");
#endif
}

}  // namespace
}  // namespace velutron::test
