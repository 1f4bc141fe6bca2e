// velutron-cli export and chart: what other tools get, on standard output or in files.

#include <gtest/gtest.h>

#include "data/Export.h"
#include "data/KnownDatabase.h"
#include "platform/AtomicFile.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::CommandResult;

class CliExportTest : public ::testing::Test {
 protected:
  CliExportTest() {
    EXPECT_TRUE(WriteFileAtomically(work.path() / "known.DAT", test::KnownDump().File()));
    EXPECT_TRUE(WriteFileAtomically(work.path() / "damaged.DAT", std::vector<uint8_t>{0xFF, 0xFE, 0x01}));
  }
  CommandResult Cli(std::vector<std::string> args) {
    test::Command c;
    c.argv = {VELUTRON_CLI_PATH};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.workDir = work.path().string();
    return RunCommand(c);
  }
  std::string File(const std::string& name) const {
    const auto bytes = ReadWholeFile(work.path() / name);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("(none)");
  }
  test::TempDir work;
  const DatabaseContents known = DecodeDatabase(test::KnownDump().File());
};

TEST_F(CliExportTest, ExportGoesToStandardOutputOrItsFileWithMessagesKeptOutOfIt) {
  const std::string csv = ExportDatabase(known, ExportFormat::Csv, "known.DAT");
  const std::string json = ExportDatabase(known, ExportFormat::Json, "known.DAT");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"export", "known.DAT", "--format", "csv"}, 0, csv, ""},
      {{"export", "known.DAT", "--format", "csv", "--texts", "--delimiter", "tab", "--decimal", ","},
       0,
       ExportDatabase(known, ExportFormat::Csv, "known.DAT", {'\t', ',', true}),
       ""},
      {{"--json", "export", "known.DAT", "--format", "json"},
       0,
       json,
       "{\"type\":\"result\",\"outcome\":\"completed\"}\n"},
      {{"export", "known.DAT", "--format", "json", "--out", "known.json"}, 0, "", ""},
      {{"export", "damaged.DAT", "--format", "csv"},
       1,
       "",
       "[Błąd bazy danych!] Uszkodzenie struktury bazy danych !\n"},
      {{"export", "known.DAT", "--format", "csv", "--out", "no/such/folder.csv"},
       1,
       "[Uwaga !] Blokada zapisu pliku na dysku !\n",
       ""},
      {{"export", "known.DAT", "--format", "xlsx", "--out", "no/such/folder.xlsx"},
       1,
       "[Uwaga !] Blokada zapisu pliku na dysku !\n",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const CommandResult r = Cli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(File("known.json"), json);
}

TEST_F(CliExportTest, ChoicesThatDoNotFitTheFormatAreUsageErrors) {
  const std::vector<std::vector<std::string>> wrong = {
      {"--format", "xml"},
      {"--format", "xlsx"},  // a workbook is no text for standard output
      {"--format", "json", "--delimiter", ";"},
      {"--format", "xlsx", "--out", "x.xlsx", "--decimal", ","},
      {"--format", "json", "--texts"},
      {"--format", "csv", "--delimiter", ",", "--decimal", ","},
      {"--format", "csv", "--decimal", ";"},
      {"--format", "csv", "--delimiter", "x"},
      {"--format", "xlsx", "--out", "known.DAT"},  // the database itself
  };
  for (std::vector<std::string> args : wrong) {
    SCOPED_TRACE(args.back());
    args.insert(args.begin(), {"export", "known.DAT"});
    const CommandResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(work.path() / "x.xlsx"));
  EXPECT_EQ(ReadWholeFile(work.path() / "known.DAT"), std::optional(test::KnownDump().File()));
}

// The CSV as the tools it is for read it: the first line is the header, numbers are numbers.
TEST_F(CliExportTest, TheCsvLoadsInPythonSqliteAndPandas) {
  ASSERT_EQ(Cli({"export", "known.DAT", "--format", "csv", "--out", "known.csv"}).exitCode, 0);
  ASSERT_EQ(Cli({"export", "known.DAT", "--format", "csv", "--delimiter", ";", "--decimal", ",", "--out",
                 "polish.csv"})
                .exitCode,
            0);
  struct Case {
    const char* reader;
    std::vector<std::string> argv;
    std::string out;
  };
  const Case cases[] = {
      {"csv module",
       {"/usr/bin/python3", "-c",
        "import csv\n"
        "for name, sep in (('known.csv', ','), ('polish.csv', ';')):\n"
        "  rows = list(csv.DictReader(open(name, newline='', encoding='utf-8'), delimiter=sep))\n"
        "  print(len(rows), rows[0]['time'], rows[2]['ch4_C'], rows[1]['status'])\n"},
       "4 2009-06-05T14:05:30 20.0625 ch1_C=T_min; ch2_RH=T suchy!\n"
       "4 2009-06-05T14:05:30 20,0625 ch1_C=T_min; ch2_RH=T suchy!\n"},
      {"sqlite3 .import",
       {"/usr/bin/sqlite3", ":memory:", ".import --csv known.csv t",
        "SELECT count(*), sum(ch3_C), count(NULLIF(status, '')) FROM t"},
       "4|75.0|3\n"},
      {"pandas",
       {"/usr/bin/python3", "-c",
        "import pandas\n"
        "for frame in (pandas.read_csv('known.csv'),\n"
        "              pandas.read_csv('polish.csv', sep=';', decimal=',')):\n"
        "  print(list(frame.columns)[3:6], frame['ch2_RH'].dtype, frame['ch1_C'].sum(), "
        "frame['ch1_C'].isna().sum())\n"},
       "['ch1_C', 'ch2_RH', 'ch3_C'] float64 65.0 1\n"
       "['ch1_C', 'ch2_RH', 'ch3_C'] float64 65.0 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reader);
    test::Command command;
    command.argv = c.argv;
    command.workDir = work.path().string();
    const CommandResult r = RunCommand(command);
    if (r.exitCode != 0 && r.err.find("No module named 'pandas'") != std::string::npos) continue;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

// A humidity database with markers, read back with openpyxl: numbers are numbers, times are date-times,
// a marker is an empty cell and a status, and the texts have a sheet of their own.
TEST_F(CliExportTest, TheWorkbookReadsBackWithTypesValuesAndTexts) {
  test::Command c;
  c.argv = {VELUTRON_CLI_PATH, "export", "known.DAT", "--format", "xlsx", "--out", "known.xlsx"};
  c.env = {{"TZ", "Europe/Warsaw"}};
  c.workDir = work.path().string();
  const CommandResult r = RunCommand(c);
  if (r.exitCode == 1 && r.err.find("without libxlsxwriter") != std::string::npos) {
    GTEST_SKIP() << "built without libxlsxwriter";
  }
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");

  test::Command read;
  read.argv = {"/usr/bin/python3", "-c", R"(
import openpyxl
book = openpyxl.load_workbook('known.xlsx')
print(book.sheetnames)
for sheet in book:
  print(sheet.title, sheet.freeze_panes)
  for row in sheet.iter_rows(values_only=True):
    print(list(row))
  widths = [sheet.column_dimensions[openpyxl.utils.get_column_letter(k + 1)].width
            for k in range(sheet.max_column)]
  longest = [max(len(str(cell.value or '')) for cell in column) for column in sheet.iter_cols()]
  print('widths fit', all(w >= n for w, n in zip(widths, longest)))
print('time column fits', book['Pomiary'].column_dimensions['B'].width >= 19)
)"};
  read.workDir = work.path().string();
  const CommandResult book = RunCommand(read);
  ASSERT_EQ(book.exitCode, 0) << book.err;
  EXPECT_EQ(book.out,
            "['Pomiary', 'Opis']\n"
            "Pomiary A2\n"
            "['Nr', 'Czas (Europe/Warsaw)', 'Przełączanie [°C]', 'Kanał 1 [°C]', 'Kanał 2 [%RH]', "
            "'Kanał 3 [°C]', 'Kanał 4 [°C]', 'Kanał 4 [%RH]', 'ON/OFF', 'Status']\n"
            "[1, datetime.datetime(2009, 6, 5, 14, 5, 30), 0, 20, 90.2, 25, None, 91.4, 'ON', None]\n"
            "[2, datetime.datetime(2009, 6, 5, 14, 15, 30), 0, None, None, 25, None, 91.4, 'OFF', "
            "'ch1_C=T_min; ch2_RH=T suchy!']\n"
            "[3, datetime.datetime(2009, 6, 5, 14, 25, 30), 25, 25, 91.4, None, 20.0625, None, None, "
            "'ch3_C=T_max']\n"
            "[4, None, 0, 20, 90.2, 25, None, 91.4, None, 'time=invalid']\n"
            "widths fit True\n"
            "Opis A2\n"
            "['Pole', 'Wartość']\n"
            "['Plik', 'known.DAT']\n"
            "['Wpis użytkownika', 'Zakład Testowy']\n"
            "['Kontrola pomiaru', 'Kontrola 1']\n"
            "['Nazwa pkt. pomiaru 1', 'Suchy']\n"
            "['Nazwa pkt. pomiaru 2', 'Mokry']\n"
            "['Nazwa pkt. pomiaru 3', None]\n"
            "['Nazwa pkt. pomiaru 4', None]\n"
            "['Próg przełączania [°C]', 25]\n"
            "widths fit True\n"
            "time column fits True\n");
}

TEST_F(CliExportTest, ChartIsDrawnWithoutADisplayAsPngOfTheSizeAskedOrSvg) {
#ifndef VELUTRON_CHARTS
  GTEST_SKIP() << "built without the drawing program";
#endif
  const CommandResult png =
      Cli({"chart", "known.DAT", "--out", "known.png", "--width", "640", "--height", "480"});
  EXPECT_EQ(png.exitCode, 0) << png.err;
  const std::string picture = File("known.png");
  ASSERT_GT(picture.size(), 24u);
  EXPECT_EQ(picture.substr(1, 3), "PNG");
  // IHDR: width and height, big-endian, at bytes 16 and 20.
  EXPECT_EQ(picture.substr(16, 8), std::string("\0\0\x02\x80\0\0\x01\xE0", 8));

  EXPECT_EQ(Cli({"chart", "known.DAT", "--out", "known.jpg"}).exitCode, 2);
  EXPECT_EQ(Cli({"chart", "damaged.DAT", "--out", "damaged.png"}).exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(work.path() / "damaged.png"));
}

TEST_F(CliExportTest, ChartPlacesEveryRecordAndRefusesAFileWithNothingToDraw) {
#ifndef VELUTRON_CHARTS
  GTEST_SKIP() << "built without the drawing program";
#endif
  test::DumpBuilder noTime;
  noTime.Record({1200}, 0x05, 0x13).Record({1208}, 0x05, 0x13);
  test::DumpBuilder noValue;
  noValue.Record({0}).Record({4003});
  ASSERT_TRUE(WriteFileAtomically(work.path() / "notime.DAT", noTime.File()));
  ASSERT_TRUE(WriteFileAtomically(work.path() / "novalue.DAT", noValue.File()));
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
    std::string inPicture;  // a text the SVG holds
  };
  const std::vector<Case> cases = {
      {{"--locale", "pl_PL", "chart", "known.DAT", "--out", "a.SVG"}, 0, "", "<title>known.DAT</title>"},
      {{"--locale", "pl_PL", "chart", "known.DAT", "--out", "b.svg"}, 0, "", ">22,5</text>"},
      {{"--locale", "en_US", "chart", "known.DAT", "--out", "c.svg"}, 0, "", ">22.5</text>"},
      {{"chart", "notime.DAT", "--out", "d.svg"}, 0, "", ">Numer rekordu (brak poprawnego czasu)</text>"},
      {{"chart", "novalue.DAT", "--out", "e.svg"},
       1,
       "[Uwaga !] Brak pomiarów do narysowania wykresu !\n",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 3]);
    const CommandResult r = Cli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");  // not a word from a drawing program stopped for want of a chart
    const std::string svg = File(c.args.back());
    if (c.inPicture.empty()) {
      EXPECT_EQ(svg, "(none)");
    } else {
      EXPECT_NE(svg.find(c.inPicture), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace velutron
