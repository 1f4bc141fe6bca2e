// The exports of a known database: values, times, markers and texts, exactly as other tools read them.

#include <clocale>
#include <nlohmann/json.hpp>

#include "KnownDatabase.h"
#include "ReportFixture.h"
#include "data/DatabaseCommands.h"
#include "data/Export.h"
#include "support/SimProcess.h"

namespace velutron::test {
namespace {

DatabaseContents KnownDatabase() { return DecodeDatabase(KnownDump().File()); }

TEST(ExportTest, CsvIsTheHeaderAndOneRowPerRecordInTheSeparatorsAskedFor) {
  struct Case {
    const char* what;
    CsvStyle style;
    std::string expected;
  };
  const Case cases[] = {
      {"RFC 4180",
       {},
       "record,time,switching,ch1_C,ch2_RH,ch3_C,ch4_C,ch4_RH,on_off,status\n"
       "1,2009-06-05T14:05:30,0,20.0,90.2,25.0,,91.4,ON,\n"
       "2,2009-06-05T14:15:30,0,,,25.0,,91.4,OFF,ch1_C=T_min; ch2_RH=T suchy!\n"
       "3,2009-06-05T14:25:30,25,25.0,91.4,,20.0625,,,ch3_C=T_max\n"
       "4,,0,20.0,90.2,25.0,,91.4,,time=invalid\n"},
      {"a Polish spreadsheet's separators: the status holding ';' is quoted",
       {';', ',', false},
       "record;time;switching;ch1_C;ch2_RH;ch3_C;ch4_C;ch4_RH;on_off;status\n"
       "1;2009-06-05T14:05:30;0;20,0;90,2;25,0;;91,4;ON;\n"
       "2;2009-06-05T14:15:30;0;;;25,0;;91,4;OFF;\"ch1_C=T_min; ch2_RH=T suchy!\"\n"
       "3;2009-06-05T14:25:30;25;25,0;91,4;;20,0625;;;ch3_C=T_max\n"
       "4;;0;20,0;90,2;25,0;;91,4;;time=invalid\n"},
      {"decimal commas between tabs",
       {'\t', ',', false},
       "record\ttime\tswitching\tch1_C\tch2_RH\tch3_C\tch4_C\tch4_RH\ton_off\tstatus\n"
       "1\t2009-06-05T14:05:30\t0\t20,0\t90,2\t25,0\t\t91,4\tON\t\n"
       "2\t2009-06-05T14:15:30\t0\t\t\t25,0\t\t91,4\tOFF\tch1_C=T_min; ch2_RH=T suchy!\n"
       "3\t2009-06-05T14:25:30\t25\t25,0\t91,4\t\t20,0625\t\t\tch3_C=T_max\n"
       "4\t\t0\t20,0\t90,2\t25,0\t\t91,4\t\ttime=invalid\n"},
      {"the texts asked for",
       {',', '.', true},
       "# file: RT_test.DAT\n"
       "# owner: Zakład Testowy\n"
       "# supervision: Kontrola 1\n"
       "# ch1: Suchy\n"
       "# ch2: Mokry\n"
       "# ch3: \n"
       "# ch4: \n"
       "# switch threshold: 25 °C\n"
       "record,time,switching,ch1_C,ch2_RH,ch3_C,ch4_C,ch4_RH,on_off,status\n"
       "1,2009-06-05T14:05:30,0,20.0,90.2,25.0,,91.4,ON,\n"
       "2,2009-06-05T14:15:30,0,,,25.0,,91.4,OFF,ch1_C=T_min; ch2_RH=T suchy!\n"
       "3,2009-06-05T14:25:30,25,25.0,91.4,,20.0625,,,ch3_C=T_max\n"
       "4,,0,20.0,90.2,25.0,,91.4,,time=invalid\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ExportDatabase(KnownDatabase(), ExportFormat::Csv, "RT_test.DAT", c.style), c.expected);
  }
}

TEST(ExportTest, JsonCarriesTheTextsAndOneObjectPerRecordWithNullsForMarkers) {
  const std::string text = ExportDatabase(KnownDatabase(), ExportFormat::Json, "RT_test.DAT");
  const auto j = nlohmann::json::parse(text);
  EXPECT_EQ(j["owner"], "Zakład Testowy");
  EXPECT_EQ(j["supervision"], "Kontrola 1");
  EXPECT_EQ(j["switch_threshold"], 25);
  EXPECT_EQ(j["channels"][1], (nlohmann::json{{"channel", 2}, {"name", "Mokry"}}));
  ASSERT_EQ(j["records"].size(), 4u);
  // A record as other tools read it: nulls with a status, the units, the ON/OFF mark.
  const std::string second = text.substr(text.find("{\"record\":2"));
  EXPECT_EQ(second.substr(0, second.find('\n')),
            R"({"record":2,"time":"2009-06-05T14:15:30","switching":0,"on_off":"OFF","readings":[)"
            R"({"channel":1,"unit":"°C","value":null,"status":"T_min"},)"
            R"({"channel":2,"unit":"%RH","value":null,"status":"T suchy!"},)"
            R"({"channel":3,"unit":"°C","value":25.0,"status":null},)"
            R"({"channel":4,"unit":"%RH","value":91.4,"status":null}]},)");
  EXPECT_EQ(j["records"][2]["readings"][3],
            (nlohmann::json{{"channel", 4}, {"unit", "°C"}, {"value", 20.0625}, {"status", nullptr}}));
  EXPECT_EQ(j["records"][3]["time"], nullptr);
  // One record a line, for line tools and diffs.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
}

TEST_F(ReportFixture, AWorkbookReplacesItsTargetWholeOrLeavesItAsItWas) {
  if (!WorkbookAvailable()) GTEST_SKIP() << "built without libxlsxwriter";
  const std::vector<uint8_t> old{'o', 'l', 'd'};
  Store(old, "kept.xlsx");
  std::filesystem::permissions(dir.path() / "kept.xlsx", std::filesystem::perms::owner_read);
  Store(old, "replaced.xlsx");
  const auto sheets = DatabaseSheets(KnownDatabase(), "RT_test.DAT", "Europe/Warsaw");
  struct Case {
    std::string target;
    WorkbookResult result;
  };
  const Case cases[] = {{"kept.xlsx", WorkbookResult::Failed},
                        {"no/such/folder.xlsx", WorkbookResult::Failed},
                        {"replaced.xlsx", WorkbookResult::Written}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    EXPECT_EQ(WriteWorkbook(dir.path() / c.target, sheets), c.result);
  }
  EXPECT_EQ(ReadWholeFile(dir.path() / "kept.xlsx"), std::optional(old));
  const auto written = ReadWholeFile(dir.path() / "replaced.xlsx");
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(std::string(written->begin(), written->begin() + 2), "PK");  // a zip container
  // Nothing of the work is left beside the targets.
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
      2);
}

// Rows past what a sheet may hold go on in a sheet of the same header, named after the first. Read back
// by openpyxl, run as the end-to-end tests run programs: not in the Windows build, which has no
// workbooks anyway. Written under the decimal comma the desktop's C library has in Poland.
#ifdef VELUTRON_SIM_PATH
TEST_F(ReportFixture, AStreamedSheetLongerThanASheetGoesOnInTheNext) {
  if (!WorkbookAvailable()) GTEST_SKIP() << "built without libxlsxwriter";
  // As Qt sets it at the desktop's start.
  struct Restored {
    std::string numeric = setlocale(LC_NUMERIC, nullptr);
    ~Restored() { setlocale(LC_NUMERIC, numeric.c_str()); }
  } restored;
  ASSERT_NE(setlocale(LC_NUMERIC, "pl_PL.UTF-8"), nullptr) << "needs the pl_PL.UTF-8 locale";
  WorkbookStream book(dir.path() / "long.xlsx", 2);
  ASSERT_EQ(book.Open(), WorkbookResult::Written);
  ASSERT_TRUE(book.Sheet("Pomiary", {"Nr", "Czas", "ch1_C"}, {3, 19, 7}));
  for (int i = 1; i <= 5; ++i)
    ASSERT_TRUE(book.Row(
        {SheetCell(double(i)), SheetCell(CivilTime{2026, 12, 1, 8, i, 0}), SheetCell(20 + i / 16.0)}));
  ASSERT_TRUE(book.Table({"Opis", {"Pole", "Wartość"}, {{SheetCell("Rejestrator"), SheetCell("Hala B")}}}));
  ASSERT_EQ(book.Commit(), WorkbookResult::Written);
  EXPECT_STREQ(localeconv()->decimal_point, ",");  // the program's own, as it was
  Command read;
  read.argv = {"/usr/bin/python3", "-c", R"(
import openpyxl
for sheet in openpyxl.load_workbook('long.xlsx'):
  widths = [sheet.column_dimensions[cell.column_letter].width for cell in sheet[1]]
  print(sheet.title, widths, [list(row) for row in sheet.iter_rows(values_only=True)])
)"};
  read.workDir = dir.path().string();
  const CommandResult r = RunCommand(read);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Pomiary [5.7109375, 21.7109375, 9.7109375] [['Nr', 'Czas', 'ch1_C'], "
            "[1, datetime.datetime(2026, 12, 1, 8, 1), 20.0625], "
            "[2, datetime.datetime(2026, 12, 1, 8, 2), 20.125]]\n"
            "Pomiary 2 [5.7109375, 21.7109375, 9.7109375] [['Nr', 'Czas', 'ch1_C'], "
            "[3, datetime.datetime(2026, 12, 1, 8, 3), 20.1875], "
            "[4, datetime.datetime(2026, 12, 1, 8, 4), 20.25]]\n"
            "Pomiary 3 [5.7109375, 21.7109375, 9.7109375] [['Nr', 'Czas', 'ch1_C'], "
            "[5, datetime.datetime(2026, 12, 1, 8, 5), 20.3125]]\n"
            "Opis [13.7109375, 9.7109375] [['Pole', 'Wartość'], ['Rejestrator', 'Hala B']]\n");
}
#endif

TEST_F(ReportFixture, TheSpreadsheetItemSavesTheChosenDatabaseWhereTheUserSays) {
  if (!WorkbookAvailable()) GTEST_SKIP() << "built without libxlsxwriter";
  Store(KnownDump().File(), "known.DAT");
  const std::string known = (dir.path() / "known.DAT").string();
  const std::string proposed = (dir.path() / "known.xlsx").string();
  struct Case {
    std::optional<std::string> database;
    std::optional<std::string> target;
    Outcome outcome;
    std::vector<std::string> events;
  };
  const std::string chosen = "open-file|Wybierz nazwę pliku.|" + known;
  const Case cases[] = {
      {known, "out.xlsx", Outcome::Completed, {chosen, "save|" + proposed}},
      {known, std::nullopt, Outcome::Cancelled, {chosen, "save|" + proposed}},
      {known,
       "no/such/folder.xlsx",
       Outcome::Failed,
       {chosen, "save|" + proposed, "message|Uwaga !|Blokada zapisu pliku na dysku !"}},
      {std::nullopt, std::nullopt, Outcome::Failed, {"open-file|Wybierz nazwę pliku.|cancel"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.events.back());
    ui.events.clear();
    ui.files = {c.database};
    const auto answer = [&](const std::string& name) {
      ui.events.push_back("save|" + name);
      return c.target;
    };
    EXPECT_EQ(Eksportdoarkusza1Click(s, answer), c.outcome);
    EXPECT_EQ(ui.events, c.events);
  }
  const auto workbook = ReadWholeFile(dir.path() / "out.xlsx");
  ASSERT_TRUE(workbook.has_value());
  EXPECT_EQ(std::string(workbook->begin(), workbook->begin() + 2), "PK");
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
      2);
}

TEST_F(ReportFixture, TheChartItemReadsTheChosenDatabaseOrSaysWhyNot) {
  Store(KnownDump().File(), "known.DAT");
  Store({0xFF, 0xFE, 0x01}, "damaged.DAT");
  DumpBuilder noValue;
  noValue.Record({0}).Record({4003});
  Store(noValue.File(), "novalue.DAT");
  const std::string known = (dir.path() / "known.DAT").string();
  ui.files = {known, (dir.path() / "damaged.DAT").string(), (dir.path() / "absent.DAT").string(),
              (dir.path() / "novalue.DAT").string(), std::nullopt};
  const auto chosen = Wykresbazydanych1Click(s);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->path, known);
  EXPECT_EQ(chosen->contents.RecordsRead(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(Wykresbazydanych1Click(s).has_value());
  EXPECT_EQ(ui.events, (std::vector<std::string>{
                           "open-file|Wybierz nazwę pliku.|" + known,
                           "open-file|Wybierz nazwę pliku.|" + (dir.path() / "damaged.DAT").string(),
                           "message|Błąd bazy danych!|Uszkodzenie struktury bazy danych !",
                           "open-file|Wybierz nazwę pliku.|" + (dir.path() / "absent.DAT").string(),
                           "message|Uwaga !|Blokada odczytu danych z dysku !",
                           "open-file|Wybierz nazwę pliku.|" + (dir.path() / "novalue.DAT").string(),
                           "message|Uwaga !|Brak pomiarów do narysowania wykresu !",
                           "open-file|Wybierz nazwę pliku.|cancel",
                       }));
}

}  // namespace
}  // namespace velutron::test
