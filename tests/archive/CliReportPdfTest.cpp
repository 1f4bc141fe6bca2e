// velutron-cli archive report --pdf and archive chart, end to end: the document read back as its text
// through pdftotext, the picture by its header.

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
        static_cast<long>(FindAll(text.out, "Wygenerowano: 20[0-9-]+ [0-9:]+, velutron 1\\.0\\.0").size()),
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
    auto archive = Open();
    std::string error;
    const auto logger = archive->FindLogger("Hala B", error);
    ASSERT_TRUE(logger) << error;
    // As the station summarizes its finished hours.
    archive::PeriodSummaries kept;
    ASSERT_TRUE(archive->Summaries(*logger, kHour / 3600, kHour / 3600 + 2, kept, error)) << error;
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

VELUTRON_ON_BOTH_ENGINES(CliReportPdfTest);

}  // namespace
}  // namespace velutron::test
