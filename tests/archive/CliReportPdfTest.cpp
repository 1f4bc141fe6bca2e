// velutron-cli archive report --pdf and archive chart, end to end: the document read back as its text
// through pdftotext, the picture by its header.

#include <algorithm>
#include <nlohmann/json.hpp>

#include "../data/DumpBuilder.h"
#include "ArchiveCli.h"
#include "archive/Database.h"
#include "archive/Summary.h"
#include "platform/AtomicFile.h"
#include "platform/FileRead.h"
#include "support/Pattern.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"

namespace velutron::test {
namespace {

uint8_t Bcd(int v) { return static_cast<uint8_t>(v / 10 * 16 + v % 10); }

// Hala B across midnight of 1/2 December 2026: channel 1 20, 22.5, 25, then an invalid reading and
// 21.5 the next day; channel 2 always 21 °C.
std::vector<uint8_t> Downloaded() {
  DumpBuilder dump;
  dump.channelByte = 2;
  dump.owner = "Hala B";
  dump.pointNames = {"Komora", "Rampa"};
  const std::vector<std::tuple<int, int, int, uint16_t>> records = {
      {1, 23, 20, 1200}, {1, 23, 30, 1240}, {1, 23, 40, 1280}, {1, 23, 50, 0}, {2, 0, 0, 1224}};
  for (auto [day, hour, minute, raw] : records)
    dump.Record({raw, 1216}, Bcd(day), 0x12, 26, Bcd(hour), Bcd(minute), 0);
  return dump.File();
}

class CliReportPdfTest : public ArchiveCliTest {
 protected:
  void SetUp() override {
    ArchiveCliTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(WriteFileAtomically(work.path() / "hala.DAT", Downloaded()));
    ASSERT_EQ(Cli({"archive", "import", "hala.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  }
  std::vector<std::string> Period(std::vector<std::string> args) {
    args.insert(args.end(), {"--from", "2026-12-01", "--to", "2026-12-03", "--tz", "Europe/Warsaw"});
    return args;
  }
};

TEST_P(CliReportPdfTest, ThePrintedReportCarriesTheFiguresPagesAndAHashThatVerifies) {
  struct Row {
    std::vector<std::string> channels;
    std::vector<std::string> texts;  // in this order in the document
  };
  const Row rows[] = {
      {{},
       {"Raport okresowy rejestratora",
        "Rejestrator: Hala B",
        "Właściciel: Hala B",
        "Numer seryjny: —",
        "Okres: od 2026-12-01 00:00:00 do 2026-12-03 00:00:00",
        "Strefa czasowa: Europe/Warsaw (UTC+01:00)",
        "Wykres okresu",
        "Statystyki kanałów",
        "1. Komora [°C]",
        "2. Rampa [°C]",
        "Odczyty poprawne",
        "Minimum",
        "20,0 °C",
        "21,0 °C",
        "2026-12-01 23:20:00",
        "Maksimum",
        "25,0 °C",
        "Średnia",
        "22,25 °C",
        "21,00 °C",
        "Odchylenie standardowe",
        "2,10 °C",
        "0,00 °C",
        "Granica górna",
        "22,5 °C",
        "Czas powyżej granicy",
        "0:20:00",
        "Udział powyżej",
        "50,00 %",
        "0,00 %",
        "Przekroczenia",
        "powyżej",
        "2026-12-01 23:30:00",
        "2026-12-01 23:50:00",
        "0:20:00",
        "25,0 °C",
        "Zestawienie dzienne",
        "2026-12-01",
        "1. Komora [°C]",
        "3",
        "20,0 °C",
        "22,50 °C",
        "25,0 °C",
        "2026-12-02",
        "1. Komora [°C]",
        "1",
        "21,5 °C",
        "21,50 °C",
        "21,5 °C"}},
      {{"--channel", "1"}, {"1. Komora [°C]", "Przekroczenia", "powyżej", "Zestawienie dzienne"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.channels.empty() ? "every channel" : "channel 1");
    std::vector<std::string> args = {"--json", "archive", "report", "--high", "22.5", "--pdf", "r.pdf"};
    args.insert(args.end(), row.channels.begin(), row.channels.end());
    const CommandResult r = Cli(Period(args));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const CommandResult text =
        RunCommand({"/usr/bin/pdftotext", "-layout", (work.path() / "r.pdf").string(), "-"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    size_t at = 0;
    // Footers interleave with the pages' text: the rest reads in document order.
    std::string body = ReplaceAll(text.out, "Wygenerowano: [^\n]*\n[^\n]*SHA-256 danych: [0-9a-f]+", "");
    for (const std::string& expected : row.texts) {
      const size_t found = body.find(expected, at);
      EXPECT_NE(found, std::string::npos) << "\"" << expected << "\" after position " << at << " in\n"
                                          << body;
      if (found != std::string::npos) at = found + expected.size();
    }
    // Every page says which of how many it is.
    std::vector<std::pair<int, int>> pages;
    for (const auto& page : FindAll(text.out, "Strona ([0-9]+) z ([0-9]+)"))
      pages.emplace_back(std::stoi(page[1]), std::stoi(page[2]));
    const auto formFeeds = std::count(text.out.begin(), text.out.end(), '\f');
    ASSERT_EQ(static_cast<long>(pages.size()), formFeeds);
    EXPECT_EQ(
        static_cast<long>(FindAll(text.out, "Wygenerowano: 20[0-9-]+ [0-9:]+, velutron [0-9]+\\.[0-9]+\\.[0-9]+").size()),
        formFeeds);
    for (size_t i = 0; i < pages.size(); ++i)
      EXPECT_EQ(pages[i], std::make_pair(int(i) + 1, int(pages.size())));

    // The footer's hash is the one `archive verify` accepts for the period; for one channel, the
    // channel's own hash.
    const auto hashes = FindAll(text.out, "SHA-256 danych: ([0-9a-f]{64})");
    ASSERT_FALSE(hashes.empty());
    const std::string hash = hashes[0][1];
    std::vector<std::string> verify = {"archive", "verify", "--hash", hash};
    verify.insert(verify.end(), row.channels.begin(), row.channels.end());
    EXPECT_EQ(Cli(Period(verify)).exitCode, 0);
    if (!row.channels.empty()) {
      EXPECT_EQ(nlohmann::json::parse(r.out.substr(0, r.out.find('\n')))["sha256"], hash);
    }
  }
}

// A reading changed under the archive after its hour was summarized (here by SQL): the JSON and the PDF
// give the same figures and hash, those of the readings as they are now, and both name the hour, as
// verify does.
TEST_P(CliReportPdfTest, AReadingChangedUnderTheArchiveGivesTheSameFiguresOnEveryRouteAndNamesItsHour) {
  constexpr int64_t kHour = 1'796'162'400;  // 2026-12-01T22:00:00Z, 23:00 in Warsaw
  {
    // The import summarised the hours it added to, as the station summarises its finished hours.
    std::string error;
    auto db = location_.starts_with("postgresql://") ? archive::OpenPostgres(location_, error)
                                                     : archive::OpenSqlite(location_, error);
    ASSERT_TRUE(db) << error;
    // 22.5 °C at 23:30 becomes 23.5 °C.
    ASSERT_TRUE(
        db->Exec("UPDATE readings SET v = v + 32 WHERE t = $1 AND series = (SELECT id FROM series "
                 "WHERE channel = 1)",
                 std::vector<archive::SqlValue>{kHour + 1800}, {}, error))
        << error;
  }
  const CommandResult json = Cli(Period({"--json", "archive", "report", "--channel", "1", "--high", "22.5"}));
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const auto stats = nlohmann::json::parse(json.out.substr(0, json.out.find('\n')));
  EXPECT_EQ(stats["mean"], 22.5);
  EXPECT_EQ(stats["changed_hours"].dump(), R"(["2026-12-01T23:00:00+01:00"])");
  CommandResult r = Cli(Period({"archive", "report", "--channel", "1", "--high", "22.5", "--pdf", "r.pdf"}));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(
      r.out.find("\n  changed since summarised: 2026-12-01T23:00:00+01:00 .. 2026-12-02T00:00:00+01:00\n"),
      std::string::npos)
      << r.out;
  const CommandResult text =
      RunCommand({"/usr/bin/pdftotext", "-layout", (work.path() / "r.pdf").string(), "-"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  const auto hashes = FindAll(text.out, "SHA-256 danych: ([0-9a-f]{64})");
  ASSERT_FALSE(hashes.empty());
  EXPECT_EQ(hashes[0][1], stats["sha256"]);
  for (const char* shown :
       {"22,83 °C", "godziny zmienione od ich podsumowania: 2026-12-01 23:00:00 – 2026-12-02"})
    EXPECT_NE(text.out.find(shown), std::string::npos) << shown << " in\n" << text.out;
  // The hash is that of the readings as they are, and still the hour is named.
  const std::string hash = stats["sha256"];
  r = Cli(Period({"archive", "verify", "--channel", "1", "--hash", hash}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(
      r.out,
      "[Error] ch1: the readings of 2026-12-01T23:00:00+01:00 .. 2026-12-02T00:00:00+01:00 changed since "
      "that hour was summarised\n");
}

TEST_P(CliReportPdfTest, ThePeriodsChartIsDrawnAtTheSizeAskedAndAnEmptyPeriodIsRefused) {
  CommandResult r =
      Cli(Period({"archive", "chart", "--out", "hala.png", "--width", "800", "--height", "400"}));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const auto png = ReadFileAtMost(work.path() / "hala.png", 1 << 24);
  ASSERT_TRUE(png);
  ASSERT_GT(png->size(), 24u);
  // The signature, then IHDR's width and height.
  EXPECT_EQ(std::vector<uint8_t>(png->begin(), png->begin() + 8),
            (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
  EXPECT_EQ(std::vector<uint8_t>(png->begin() + 16, png->begin() + 24),
            (std::vector<uint8_t>{0, 0, 0x03, 0x20, 0, 0, 0x01, 0x90}));

  r = Cli({"archive", "chart", "--out", "empty.svg", "--from", "2027-01-01", "--to", "2027-01-02"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "[Uwaga !] Brak pomiarów do narysowania wykresu !\n");
  EXPECT_FALSE(std::filesystem::exists(work.path() / "empty.svg"));

  // A document that cannot be written leaves nothing behind and says so.
  r = Cli(Period({"archive", "report", "--pdf", "missing/r.pdf"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("[Uwaga !] Blokada zapisu pliku na dysku !\n"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(work.path() / "missing"));
}

// A point name holding control characters (an ESC sequence, a byte 0x01) is shown with their codes on
// the terminal, in the chart and in the report, whose chart is drawn as for any other name; the JSON
// output keeps the name exactly.
TEST_P(CliReportPdfTest, ControlCharactersInANameAreShownAsTheirCodesAndTheChartIsDrawn) {
  DumpBuilder dump;
  dump.channelByte = 1;
  dump.owner = "Hala C";
  dump.pointNames = {"Ko\x01mo\x1b[2Jra"};
  for (int minute : {0, 10, 20}) dump.Record({1200}, 0x01, 0x12, 26, 0x08, Bcd(minute), 0);
  ASSERT_TRUE(WriteFileAtomically(work.path() / "hala-c.DAT", dump.File()));
  ASSERT_EQ(Cli({"archive", "import", "hala-c.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  const std::string shown = "Ko\\x01mo\\x1b[2Jra";

  CommandResult r = Cli({"archive", "list", "--tz", "Europe/Warsaw"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Hala C: 2026-12-01T08:00:00+01:00 .. 2026-12-01T08:20:00+01:00\n  ch1 °C \"" + shown +
                       "\" from 2026-12-01T08:00:00+01:00\n"),
            std::string::npos)
      << r.out;
  r = Cli(Period({"archive", "report", "--logger", "Hala C"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("ch1 \"" + shown + "\": readings 3, invalid 0, gaps 0 s\n")) << r.out;
  r = Cli(Period({"--json", "archive", "report", "--logger", "Hala C"}));
  EXPECT_EQ(nlohmann::json::parse(r.out.substr(0, r.out.find('\n')))["point"], "Ko\x01mo\x1b[2Jra");

  r = Cli(Period({"archive", "report", "--logger", "Hala C", "--pdf", "c.pdf"}));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string pdf = (work.path() / "c.pdf").string();
  const CommandResult text = RunCommand({"/usr/bin/pdftotext", "-layout", pdf, "-"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("1. " + shown + " [°C]"), std::string::npos) << text.out;
  // The chart is drawn as lines and text, which pdftotext does not see: the page between its heading and
  // the next one, rendered at 72 dpi (a pixel a point), holds more than a few dark pixels.
  const CommandResult words = RunCommand({"/usr/bin/pdftotext", "-bbox", "-f", "1", "-l", "1", pdf, "-"});
  const auto chart = FindAll(words.out, R"re(yMax="([0-9.]+)">Wykres<)re");
  const auto table = FindAll(words.out, R"re(yMin="([0-9.]+)" xMax="[0-9.]+" yMax="[0-9.]+">Statystyki<)re");
  ASSERT_EQ(chart.size(), 1u) << words.out;
  ASSERT_EQ(table.size(), 1u) << words.out;
  const int top = static_cast<int>(std::stod(chart[0][1])) + 2,
            bottom = static_cast<int>(std::stod(table[0][1]));
  ASSERT_TRUE(RunCommand({"/usr/bin/pdftoppm", "-r", "72", "-gray", "-f", "1", "-singlefile", "-y",
                          std::to_string(top), "-H", std::to_string(bottom - top), "-W", "595", pdf,
                          (work.path() / "band").string()})
                  .exitCode == 0);
  const auto band = ReadFileAtMost(work.path() / "band.pgm", 1 << 24);
  ASSERT_TRUE(band);
  const std::string pixels(band->begin(), band->end());
  const auto header = FindAll(pixels.substr(0, 32), "^P5\\s+[0-9]+\\s+[0-9]+\\s+255\\s");
  ASSERT_EQ(header.size(), 1u);
  const auto dark = std::count_if(pixels.begin() + static_cast<long>(header[0][0].size()), pixels.end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 128; });
  EXPECT_GT(dark, static_cast<long>(pixels.size() / 500)) << "a blank chart";

  r = Cli(Period({"archive", "chart", "--logger", "Hala C", "--out", "c.svg"}));
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  Command parse;
  parse.argv = {"/usr/bin/python3", "-c",
                "import xml.dom.minidom\n"
                "svg = xml.dom.minidom.parse('c.svg')\n"
                "print([t.firstChild.data.strip() for t in svg.getElementsByTagName('text') if 'Ko' in "
                "t.firstChild.data])\n"};
  parse.workDir = work.path().string();
  const CommandResult svg = RunCommand(parse);
  EXPECT_EQ(svg.exitCode, 0) << svg.err;
  EXPECT_EQ(svg.out, "['1. Ko\\\\x01mo\\\\x1b[2Jra [°C]']\n");
}

// A clock that follows summer time stamps 02:00 … 02:50 twice on 25 October 2026, the second hour at
// 9 °C. Across the change every time printed carries its offset, the zone line gives both, and the
// chart runs on in UTC: the second hour is drawn after the first, both labelled with their local times.
TEST_P(CliReportPdfTest, AcrossTheAutumnChangeTimesCarryTheirOffsetsAndTheRepeatedHourIsDrawnAfterTheFirst) {
  DumpBuilder dump;
  dump.channelByte = 1;
  dump.owner = "Hala C";
  dump.pointNames = {"Komora"};
  for (int k = 0; k < 24; ++k) {
    const int hour = k < 12 ? 1 + k / 6 : k / 6, minute = k % 6 * 10;
    dump.Record({static_cast<uint16_t>(k >= 12 && k < 18 ? 1024 : 960)}, 0x25, 0x10, 26, Bcd(hour),
                Bcd(minute), 0);
  }
  ASSERT_TRUE(WriteFileAtomically(work.path() / "autumn.DAT", dump.File()));
  ASSERT_EQ(Cli({"archive", "import", "autumn.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  const std::vector<std::string> period = {"--logger", "Hala C",           "--from", "2026-10-25T01:00",
                                           "--to",     "2026-10-25T05:00", "--tz",   "Europe/Warsaw"};
  std::vector<std::string> args = {"archive", "report", "--high", "8", "--pdf", "autumn.pdf"};
  args.insert(args.end(), period.begin(), period.end());
  CommandResult r = Cli(args);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const CommandResult text =
      RunCommand({"/usr/bin/pdftotext", "-layout", (work.path() / "autumn.pdf").string(), "-"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  size_t at = 0;
  for (const std::string expected :
       {"Okres: od 2026-10-25 01:00:00 +02:00 do 2026-10-25 05:00:00 +01:00",
        "Strefa czasowa: Europe/Warsaw (UTC+02:00; UTC+01:00 od 2026-10-25 02:00:00 +01:00)", "Czas minimum",
        "2026-10-25 01:00:00 +02:00", "Czas maksimum", "2026-10-25 02:00:00 +01:00", "Czas powyżej granicy",
        "1:00:00", "Przekroczenia", "powyżej", "2026-10-25 02:00:00 +01:00", "2026-10-25 03:00:00 +01:00"}) {
    const size_t found = text.out.find(expected, at);
    EXPECT_NE(found, std::string::npos) << "\"" << expected << "\" after position " << at << " in\n"
                                        << text.out;
    if (found != std::string::npos) at = found + expected.size();
  }

  args = {"archive", "chart", "--out", "autumn.svg", "--width", "1600"};
  args.insert(args.end(), period.begin(), period.end());
  r = Cli(args);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const auto bytes = ReadFileAtMost(work.path() / "autumn.svg", 1 << 24);
  ASSERT_TRUE(bytes);
  const std::string svg(bytes->begin(), bytes->end());
  EXPECT_NE(svg.find("<title>Hala C, 2026-10-25 01:00:00 +02:00 – 2026-10-25 05:00:00 +01:00</title>"),
            std::string::npos);
  std::vector<std::string> hours;
  for (const auto& label : FindAll(svg, ">([0-9]{2}:[0-9]{2})</text>")) hours.push_back(label[1]);
  EXPECT_EQ(hours, (std::vector<std::string>{"01:00", "01:30", "02:00", "02:30", "02:00", "02:30", "03:00",
                                             "03:30"}));
  // The channel's line: every reading at its own place, left to right.
  const auto line =
      FindAll(svg, "stroke=\"#1f77b4\"[^>]*stroke-width=\"1.5\"[^<]*<polyline[^>]*points=\"([^\"]*)\"");
  ASSERT_EQ(line.size(), 1u) << svg;
  std::vector<double> xs;
  for (const auto& point : FindAll(line[0][1], "([0-9.]+),[0-9.]+")) xs.push_back(std::stod(point[1]));
  EXPECT_EQ(xs.size(), 24u);
  EXPECT_EQ(std::adjacent_find(xs.begin(), xs.end(), std::greater_equal<>()), xs.end()) << line[0][1];
}

// Hala G read on 1 and 7 December, nothing between: the chart's line stops at the gap and starts again
// after it, and the day-by-day table lists every day, those without readings marked.
TEST_P(CliReportPdfTest, AGapOfDaysBreaksTheLineAndTheDailyTableMarksTheDaysWithoutReadings) {
  DumpBuilder dump;
  dump.channelByte = 1;
  dump.owner = "Hala G";
  dump.pointNames = {"Komora"};
  for (auto [day, minute, raw] : std::vector<std::tuple<int, int, uint16_t>>{
           {1, 0, 1200}, {1, 10, 1240}, {1, 20, 1280}, {7, 0, 1300}, {7, 10, 1320}, {7, 20, 1280}})
    dump.Record({raw}, Bcd(day), 0x12, 26, 0x08, Bcd(minute), 0);
  ASSERT_TRUE(WriteFileAtomically(work.path() / "gap.DAT", dump.File()));
  ASSERT_EQ(Cli({"archive", "import", "gap.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  const std::vector<std::string> period = {"--logger", "Hala G",     "--from", "2026-11-30",
                                           "--to",     "2026-12-09", "--tz",   "Europe/Warsaw"};
  auto with = [&period](std::vector<std::string> args) {
    args.insert(args.end(), period.begin(), period.end());
    return args;
  };
  ASSERT_EQ(Cli(with({"archive", "chart", "--out", "gap.svg"})).exitCode, 0);
  const auto svg = ReadFileAtMost(work.path() / "gap.svg", 1 << 24);
  ASSERT_TRUE(svg);
  // The grid and the legend's sample are lines of two points; the readings are two runs of three.
  const auto runs = FindAll(std::string(svg->begin(), svg->end()), "<polyline[^>]*points=\"([^\"]*)\"");
  EXPECT_EQ(std::count_if(runs.begin(), runs.end(),
                          [](const auto& run) { return std::count(run[1].begin(), run[1].end(), ' ') == 3; }),
            2);

  ASSERT_EQ(Cli(with({"archive", "report", "--pdf", "gap.pdf"})).exitCode, 0);
  const CommandResult text =
      RunCommand({"/usr/bin/pdftotext", "-layout", (work.path() / "gap.pdf").string(), "-"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  const std::string days = text.out.substr(text.out.find("Zestawienie dzienne"));
  size_t at = 0;
  for (const std::string expected :
       {"2026-11-30", "brak pomiarów", "2026-12-01", "1. Komora [°C]", "3", "2026-12-02 – 2026-12-06",
        "brak pomiarów", "2026-12-07", "1. Komora [°C]", "3", "2026-12-08", "brak pomiarów"}) {
    const size_t found = days.find(expected, at);
    ASSERT_NE(found, std::string::npos) << "\"" << expected << "\" after position " << at << " in\n" << days;
    at = found + expected.size();
  }
}

VELUTRON_ON_BOTH_ENGINES(CliReportPdfTest);

}  // namespace
}  // namespace velutron::test
