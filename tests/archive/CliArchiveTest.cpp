// velutron-cli archive, end to end on both engines: two overlapping downloads imported, then the
// period exported, reported and verified, exactly as a script reads them.

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "../data/DumpBuilder.h"
#include "ArchiveCli.h"
#include "platform/AtomicFile.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron::test {
namespace {

using archive::GapCause;

uint8_t Bcd(int v) { return static_cast<uint8_t>(v / 10 * 16 + v % 10); }

// Hala B on 1 December 2026, local time; channel 1 as given, channel 2 always 21 °C.
std::vector<uint8_t> Day(std::vector<std::pair<int, uint16_t>> minuteAndRaw) {
  DumpBuilder dump;
  dump.channelByte = 2;
  dump.owner = "Hala B";
  dump.pointNames = {"Komora", "Rampa"};
  for (auto [minute, raw] : minuteAndRaw) dump.Record({raw, 1216}, 0x01, 0x12, 26, 0x08, Bcd(minute), 0);
  return dump.File();
}

class CliArchiveTest : public ArchiveCliTest {
 protected:
  void SetUp() override {
    ArchiveCliTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(WriteFileAtomically(work.path() / "day1.DAT", Day({{0, 1200}, {10, 1240}, {20, 1280}})));
    ASSERT_TRUE(WriteFileAtomically(work.path() / "day2.DAT", Day({{10, 1241}, {20, 1280}, {30, 0}})));
  }
};

TEST_P(CliArchiveTest, OverlappingDownloadsAreImportedOnceThenExportedReportedAndVerified) {
  const std::string period[] = {"--from", "2026-12-01", "--to", "2026-12-02", "--tz", "Europe/Warsaw"};
  auto with = [&period](std::vector<std::string> args) {
    args.insert(args.end(), std::begin(period), std::end(period));
    return args;
  };
  CommandResult r = Cli({"--json", "archive", "import", "day1.DAT", "day2.DAT", "--tz", "Europe/Warsaw"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            R"({"type":"import","file":"day1.DAT","logger":"Hala B","added":6,"present":0,"conflicts":0,)"
            R"("undated":0,"dst_gap":0,"dst_fold":0})"
            "\n"
            R"({"type":"import","file":"day2.DAT","logger":"Hala B","added":2,"present":3,"conflicts":1,)"
            R"("undated":0,"dst_gap":0,"dst_fold":0})"
            "\n"
            R"({"type":"result","outcome":"completed"})"
            "\n");

  r = Cli(with({"archive", "export", "--format", "csv"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "time,ch1_C,ch2_C,status\n"
            "2026-12-01T08:00:00+01:00,20.0,21.0,\n"
            "2026-12-01T08:10:00+01:00,22.5,21.0,\n"
            "2026-12-01T08:20:00+01:00,25.0,21.0,\n"
            "2026-12-01T08:30:00+01:00,,21.0,ch1_C=T_min\n");

  r = Cli(with({"archive", "export", "--format", "json", "--channel", "1", "--out", "period.json"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const auto bytes = ReadWholeFile(work.path() / "period.json");
  ASSERT_TRUE(bytes);
  const auto exported = nlohmann::json::parse(bytes->begin(), bytes->end());
  EXPECT_EQ(exported["channels"].dump(), R"([{"channel":1,"name":"Komora","unit":"°C"}])");
  ASSERT_EQ(exported["records"].size(), 4u);
  EXPECT_EQ(exported["records"][3].dump(),
            R"({"readings":[{"channel":1,"status":"T_min","unit":"°C","value":null}],)"
            R"("time":"2026-12-01T08:30:00+01:00"})");

  r = Cli(with({"--json", "archive", "report", "--channel", "1", "--high", "22.5"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string stats = r.out.substr(0, r.out.find('\n'));
  auto j = nlohmann::ordered_json::parse(stats);
  EXPECT_NEAR(j["mkt"].get<double>(), 22.722660044794964, 1e-9);
  j.erase("mkt");
  EXPECT_EQ(j.dump(),
            R"({"type":"stats","logger":"Hala B","channel":1,"point":"Komora","unit":"°C",)"
            R"("from":"2026-12-01T00:00:00+01:00","to":"2026-12-02T00:00:00+01:00","readings":3,"invalid":1,)"
            R"("gap_s":0,"min":20.0,"min_time":"2026-12-01T08:00:00+01:00","max":25.0,)"
            R"("max_time":"2026-12-01T08:20:00+01:00","mean":22.5,"stddev":2.5,"low":null,"high":22.5,)"
            R"("above_s":1200,"below_s":null,"above_share":0.6666666666666666,"below_share":null,)"
            R"("excursions":[{"kind":"high","start":"2026-12-01T08:10:00+01:00",)"
            R"("end":"2026-12-01T08:30:00+01:00","duration_s":1200,"extreme":25.0}],)"
            R"("sha256":"6583ad45a907d763fc8a52c842973607980bf0ae6894245bbddd384e752efd8f","mkt_dh":83.144,)"
            R"("limits":"given","changed_hours":[]})");

  const std::string hash = j["sha256"];
  EXPECT_EQ(Cli(with({"archive", "verify", "--hash", hash, "--channel", "1"})).exitCode, 0);
  r = Cli(with({"archive", "verify", "--hash", hash, "--channel", "2"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "[Error] the readings of that period no longer hash to " + hash + "\n");
}

// A CSV reader takes the first line as the header: the texts come before it only when asked for.
TEST_P(CliArchiveTest, ThePeriodCsvIsHeaderAndRowsForAnyReaderWithItsTextsOnlyWhenAsked) {
  ASSERT_EQ(Cli({"archive", "import", "day2.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  for (const char* texts : {"", "--texts"}) {
    std::vector<std::string> args = {"archive",  "export",     "--from", "2026-12-01",
                                     "--to",     "2026-12-02", "--tz",   "Europe/Warsaw",
                                     "--format", "csv",        "--out",  *texts ? "texts.csv" : "plain.csv"};
    if (*texts) args.push_back(texts);
    const CommandResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
  const std::string rows =
      "time,ch1_C,ch2_C,status\n"
      "2026-12-01T08:10:00+01:00,22.5625,21.0,\n"
      "2026-12-01T08:20:00+01:00,25.0,21.0,\n"
      "2026-12-01T08:30:00+01:00,,21.0,ch1_C=T_min\n";
  const auto plain = ReadWholeFile(work.path() / "plain.csv");
  const auto texts = ReadWholeFile(work.path() / "texts.csv");
  ASSERT_TRUE(plain && texts);
  EXPECT_EQ(std::string(plain->begin(), plain->end()), rows);
  EXPECT_EQ(std::string(texts->begin(), texts->end()),
            "# logger: Hala B\n"
            "# owner: Hala B\n"
            "# from: 2026-12-01T00:00:00+01:00\n"
            "# to: 2026-12-02T00:00:00+01:00\n"
            "# time zone: Europe/Warsaw\n"
            "# ch1: Komora\n"
            "# ch2: Rampa\n" +
                rows);

  Command read;
  read.argv = {"/usr/bin/python3", "-c",
               "import csv\n"
               "for row in csv.DictReader(open('plain.csv', newline='', encoding='utf-8')):\n"
               "  print(row)\n"};
  read.workDir = work.path().string();
  const CommandResult r = RunCommand(read);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "{'time': '2026-12-01T08:10:00+01:00', 'ch1_C': '22.5625', 'ch2_C': '21.0', 'status': ''}\n"
            "{'time': '2026-12-01T08:20:00+01:00', 'ch1_C': '25.0', 'ch2_C': '21.0', 'status': ''}\n"
            "{'time': '2026-12-01T08:30:00+01:00', 'ch1_C': '', 'ch2_C': '21.0', 'status': 'ch1_C=T_min'}\n");
}

// Records every 5 minutes missing from 08:20 to 08:40 and from 09:00 to 09:20, the station having
// recorded the second stretch itself (and a pause before any reading): each gap is listed once, in
// time order, the one found in the readings named as such; a spacing of exactly twice the usual is none.
TEST_P(CliArchiveTest, TheListShowsTheGapsTheStationRecordedAndThoseTheReadingsShow) {
  DumpBuilder dump;
  dump.channelByte = 1;
  dump.owner = "Hala B";
  dump.pointNames = {"Komora"};
  for (auto [hour, minute] : std::vector<std::pair<int, int>>{
           {8, 0}, {8, 5}, {8, 10}, {8, 15}, {8, 40}, {8, 45}, {8, 50}, {8, 55}, {9, 20}, {9, 25}, {9, 35}})
    dump.Record({1200}, 0x01, 0x12, 26, Bcd(hour), Bcd(minute), 0);
  ASSERT_TRUE(WriteFileAtomically(work.path() / "gaps.DAT", dump.File()));
  ASSERT_EQ(Cli({"archive", "import", "gaps.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  {
    auto archive = Open();
    std::string error;
    const auto logger = archive->FindLogger("Hala B", error);
    ASSERT_TRUE(logger) << error;
    constexpr int64_t kEight = 1'796'108'400'000;  // 2026-12-01T08:00:00+01:00
    ASSERT_TRUE(
        archive->AddGap(*logger, {kEight + 56 * 60'000, kEight + 79 * 60'000, GapCause::Silence}, error));
    ASSERT_TRUE(
        archive->AddGap(*logger, {kEight - 60 * 60'000, kEight - 30 * 60'000, GapCause::Paused}, error));
  }
  CommandResult r = Cli({"archive", "list", "--tz", "Europe/Warsaw"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Hala B: 2026-12-01T08:00:00+01:00 .. 2026-12-01T09:35:00+01:00\n"
            "  ch1 °C \"Komora\" from 2026-12-01T08:00:00+01:00\n"
            "  gap 2026-12-01T07:00:00+01:00 .. 2026-12-01T07:30:00+01:00 (paused)\n"
            "  gap 2026-12-01T08:20:00+01:00 .. 2026-12-01T08:40:00+01:00 (missing readings)\n"
            "  gap 2026-12-01T08:56:00+01:00 .. 2026-12-01T09:19:00+01:00 (silence)\n");
  r = Cli({"--json", "archive", "list", "--tz", "Europe/Warsaw"});
  EXPECT_EQ(
      r.out.substr(r.out.find("\"gaps\"")),
      R"("gaps":[{"from":"2026-12-01T07:00:00+01:00","to":"2026-12-01T07:30:00+01:00","cause":"paused"},)"
      R"({"from":"2026-12-01T08:20:00+01:00","to":"2026-12-01T08:40:00+01:00","cause":"missing readings"},)"
      R"({"from":"2026-12-01T08:56:00+01:00","to":"2026-12-01T09:19:00+01:00","cause":"silence"}],)"
      R"("conflicts":0})"
      "\n"
      R"({"type":"result","outcome":"completed"})"
      "\n");
}

// What `archive report --json` printed, saved, is checked channel by channel against the archive as it is
// now: a later download into the period changes the day's hashes, not those of the morning before it.
TEST_P(CliArchiveTest, ASavedReportIsVerifiedChannelByChannelAgainstTheArchiveAsItIsNow) {
  ASSERT_EQ(Cli({"archive", "import", "day1.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  const CommandResult day = Cli(
      {"--json", "archive", "report", "--from", "2026-12-01", "--to", "2026-12-02", "--tz", "Europe/Warsaw"});
  const CommandResult morning = Cli({"--json", "archive", "report", "--from", "2026-12-01", "--to",
                                     "2026-12-01T08:15", "--channel", "1", "--tz", "Europe/Warsaw"});
  ASSERT_EQ(day.exitCode, 0) << day.err;
  ASSERT_EQ(morning.exitCode, 0) << morning.err;
  auto hashes = [](const std::string& lines) {
    std::vector<std::string> out;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
      const auto j = nlohmann::json::parse(line);
      if (j["type"] == "stats") out.push_back(j["sha256"]);
    }
    return out;
  };
  const std::vector<std::string> dayHashes = hashes(day.out), morningHashes = hashes(morning.out);
  ASSERT_EQ(dayHashes.size(), 2u);
  ASSERT_EQ(morningHashes.size(), 1u);
  ASSERT_TRUE(
      WriteFileAtomically(work.path() / "day.json", std::vector<uint8_t>(day.out.begin(), day.out.end())));
  const std::string both = morning.out + day.out;
  ASSERT_TRUE(WriteFileAtomically(work.path() / "both.json", std::vector<uint8_t>(both.begin(), both.end())));

  const std::string dayPeriod = "(Hala B, 2026-12-01T00:00:00+01:00 .. 2026-12-02T00:00:00+01:00): ";
  CommandResult r = Cli({"archive", "verify", "day.json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string figures = " and give every figure of the report\n";
  EXPECT_EQ(r.out, "ch1 " + dayPeriod + "the readings still hash to " + dayHashes[0] + figures + "ch2 " +
                       dayPeriod + "the readings still hash to " + dayHashes[1] + figures);

  // The same report after an editor on Windows: a byte order mark and CR LF line ends.
  std::string edited = "\xEF\xBB\xBF" + day.out;
  for (size_t at = 0; (at = edited.find('\n', at)) != std::string::npos; at += 2) edited.insert(at, "\r");
  ASSERT_TRUE(
      WriteFileAtomically(work.path() / "edited.json", std::vector<uint8_t>(edited.begin(), edited.end())));
  EXPECT_EQ(Cli({"archive", "verify", "edited.json"}).out, r.out);

  ASSERT_EQ(Cli({"archive", "import", "day2.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  r = Cli({"--json", "archive", "verify", "both.json"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.out, R"({"type":"verified","logger":"Hala B","channel":1,"unit":"°C",)"
                   R"("from":"2026-12-01T00:00:00+01:00","to":"2026-12-01T08:15:00+01:00","sha256":")" +
                       morningHashes[0] + "\"}\n" + R"({"type":"error","text":"ch1 )" + dayPeriod +
                       "the readings no longer hash to " + dayHashes[0] + "\"}\n" +
                       R"({"type":"error","text":"ch1 )" + dayPeriod +
                       "invalid is 0 in the report, 1 from the readings\"}\n" +
                       R"({"type":"error","text":"ch2 )" + dayPeriod + "the readings no longer hash to " +
                       dayHashes[1] + "\"}\n" + R"({"type":"error","text":"ch2 )" + dayPeriod +
                       "readings is 3 in the report, 4 from the readings\"}\n" +
                       R"({"type":"result","outcome":"failed"})" + "\n");
}

// A person who verifies a report means its figures: each one is worked out again from the archive with
// the report's own limits and ΔH, and each that differs is named; a report from before the lines said
// which limits and ΔH they took still verifies.
TEST_P(CliArchiveTest, AReportWhoseFiguresWereEditedByHandIsRefusedNamingEachOne) {
  ASSERT_EQ(Cli({"archive", "import", "day1.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::pair<std::string, std::string>> edits;  // in the stats line
    int exitCode;
    std::vector<std::string> named;  // what verify says after the channel and period
  };
  const std::string still = "the readings still hash to ";
  const std::vector<Case> cases = {
      {"as printed, with limits given and another ΔH", {"--high", "22.5", "--mkt-dh", "60"}, {}, 0, {}},
      {"mean, maximum and time above edited",
       {"--high", "22.5"},
       {{R"("mean":22.5)", R"("mean":-99)"},
        {R"("max":25.0)", R"("max":1.0)"},
        {R"("above_s":1200)", R"("above_s":0)"}},
       1,
       {"max is 1.0 in the report, 25.0 from the readings",
        "mean is -99 in the report, 22.5 from the readings",
        "above_s is 0 in the report, 1200 from the readings"}},
      {"a figure left out",
       {},
       {{R"("stddev":2.5,)", ""}},
       1,
       {"stddev is absent in the report, 2.5 from the readings"}},
      {"written before the lines said their limits and ΔH",
       {"--high", "22.5"},
       {{R"(,"mkt_dh":83.144,"limits":"given","changed_hours":[])", ""}},
       0,
       {}},
      {"a time printed with another offset is the same moment",
       {},
       {{R"("min_time":"2026-12-01T08:00:00+01:00")", R"("min_time":"2026-12-01T07:00:00Z")"}},
       0,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--json",     "archive",   "report", "--from", "2026-12-01",   "--to",
                                     "2026-12-02", "--channel", "1",      "--tz",   "Europe/Warsaw"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CommandResult report = Cli(args);
    ASSERT_EQ(report.exitCode, 0) << report.err;
    std::string text = report.out;
    for (const auto& [from, to] : c.edits) {
      const size_t at = text.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      text.replace(at, from.size(), to);
    }
    ASSERT_TRUE(
        WriteFileAtomically(work.path() / "edited.json", std::vector<uint8_t>(text.begin(), text.end())));
    const CommandResult r = Cli({"archive", "verify", "edited.json"});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    const std::string channel = "ch1 (Hala B, 2026-12-01T00:00:00+01:00 .. 2026-12-02T00:00:00+01:00): ";
    const std::string hash = nlohmann::json::parse(report.out.substr(0, report.out.find('\n')))["sha256"];
    std::string expected =
        c.named.empty() ? channel + still + hash + " and give every figure of the report\n" : "";
    for (const std::string& named : c.named) expected += "[Error] " + channel + named + "\n";
    EXPECT_EQ(r.out, expected);
  }
}

// Costs follow the readings, not the period: a year typed wrong or a period of millennia is read only
// where the archive holds readings, and still named as asked.
TEST_P(CliArchiveTest, APeriodOfMillenniaCostsWhatItsReadingsCost) {
  ASSERT_EQ(Cli({"archive", "import", "day1.DAT", "--tz", "Europe/Warsaw"}).exitCode, 0);
  const std::vector<std::string> far = {"--from", "0001-01-01", "--to", "9999-01-01", "--tz", "UTC"};
  auto with = [](std::vector<std::string> args, const std::vector<std::string>& period) {
    args.insert(args.end(), period.begin(), period.end());
    return args;
  };
  CommandResult r = Cli(with({"--json", "archive", "report", "--channel", "2"}, far));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto stats = nlohmann::json::parse(r.out.substr(0, r.out.find('\n')));
  EXPECT_EQ(stats["from"], "0001-01-01T00:00:00+00:00");
  EXPECT_EQ(stats["to"], "9999-01-01T00:00:00+00:00");
  EXPECT_EQ(stats["readings"], 3);
  EXPECT_EQ(stats["mean"], 21.0);
  const std::string hash = stats["sha256"];
  EXPECT_EQ(Cli(with({"archive", "verify", "--hash", hash, "--channel", "2"}, far)).exitCode, 0);

  r = Cli(with({"archive", "chart", "--out", "far.svg"}, far));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(std::filesystem::exists(work.path() / "far.svg"));

  r = Cli(
      {"archive", "export", "--format", "csv", "--from", "2026-12-01", "--to", "2926-12-01", "--tz", "UTC"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "time,ch1_C,ch2_C,status\n"
            "2026-12-01T07:00:00+00:00,20.0,21.0,\n"
            "2026-12-01T07:10:00+00:00,22.5,21.0,\n"
            "2026-12-01T07:20:00+00:00,25.0,21.0,\n");
}

// Whatever the file holds, a file that is not such a report is refused with the line that says why.
TEST_P(CliArchiveTest, AFileThatIsNotAReportIsRefusedWithTheUsageCodeAndWhy) {
  const std::string stats =
      R"({"type":"stats","logger":"Hala B","channel":1,"unit":"°C","from":"2026-12-01T00:00:00+01:00",)"
      R"("to":"2026-12-02T00:00:00+01:00","readings":3,"sha256":")" +
      std::string(64, 'a') + "\"}";
  auto with = [&stats](const std::string& from, const std::string& to) {
    std::string line = stats;
    return line.replace(line.find(from), from.size(), to);
  };
  struct Case {
    const char* name;
    std::optional<std::string> content;  // none: no such file
    std::string why;
  };
  const std::vector<Case> cases = {
      {"no such file", std::nullopt, "cannot be read"},
      {"empty", "", R"(no "stats" line: not what archive report --json writes)"},
      {"the result alone", R"({"type":"result","outcome":"completed"})",
       R"(no "stats" line: not what archive report --json writes)"},
      {"a CSV export", "time,ch1_C,status\n2026-12-01T08:00:00+01:00,20.0,\n", "line 1: not a JSON object"},
      {"an array", "[1,2]", "line 1: not a JSON object"},
      {"cut short", stats.substr(0, 50), "line 1: not a JSON object"},
      {"binary", std::string("\xFF\xFE\x00\x01\x80", 5), "line 1: not a JSON object"},
      {"nested without end", std::string(100000, '['), "line 1: not a JSON object"},
      {"bad on line 3", stats + "\n\n{\"type\":", "line 3: not a JSON object"},
      {"no type", R"({"logger":"Hala B"})", R"(line 1: an object without "type")"},
      {"no logger", with(R"("logger":"Hala B")", R"("logger":"")"), "line 1: no logger"},
      {"channel 11", with(R"("channel":1)", R"("channel":11)"), "line 1: no channel 1..10"},
      {"channel as text", with(R"("channel":1)", R"("channel":"1")"), "line 1: no channel 1..10"},
      {"channel past any integer", with(R"("channel":1)", R"("channel":1e400)"), "line 1: not a JSON object"},
      {"channel a fraction", with(R"("channel":1)", R"("channel":1.5)"), "line 1: no channel 1..10"},
      {"unit kelvin", with("°C", "K"), "line 1: no unit °C or %RH"},
      {"from not a time", with("2026-12-01T00:00:00+01:00", "yesterday"), "line 1: no period (from, to)"},
      {"period backwards", with("2026-12-02T00:00:00+01:00", "2026-11-30T00:00:00+01:00"),
       "line 1: no period (from, to)"},
      {"hash too short", with(std::string(64, 'a'), "abc"), "line 1: no sha256"},
      {"hash in capitals", with(std::string(64, 'a'), std::string(64, 'A')), "line 1: no sha256"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(work.path() / "bad.json");
    if (c.content) {
      ASSERT_TRUE(WriteFileAtomically(work.path() / "bad.json",
                                      std::vector<uint8_t>(c.content->begin(), c.content->end())));
    }
    const CommandResult r = Cli({"archive", "verify", "bad.json"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "velutron-cli: bad.json: " + c.why + "\n");
  }
  // A folder of that name is no report either.
  std::filesystem::create_directory(work.path() / "folder.json");
  EXPECT_EQ(Cli({"archive", "verify", "folder.json"}).err, "velutron-cli: folder.json: cannot be read\n");
}

TEST_P(CliArchiveTest, AWrongCommandLineIsRefusedWithTheUsageCode) {
  const std::vector<std::vector<std::string>> lines = {
      {"archive", "report", "--from", "yesterday", "--to", "2026-12-02"},
      {"archive", "report", "--from", "2026-02-30", "--to", "2026-12-02"},
      {"archive", "export", "--from", "2026-12-01", "--to", "2026-12-02", "--format", "xml"},
      {"archive", "export", "--from", "2026-12-01", "--to", "2026-12-02", "--format", "json", "--texts"},
      {"archive", "import", "day1.DAT", "--tz", "Mars/Olympus"},
      {"archive", "report", "--from", "2026-12-01", "--to", "2026-12-02", "--channel", "11"},
      {"archive", "verify", "day.json", "--hash", "abc"},
      {"archive", "verify", "day.json", "--from", "2026-12-01"},
      {"archive", "verify", "--hash", "abc", "--from", "2026-12-01"},
      {"archive", "verify", "--tz", "UTC"},
  };
  for (const auto& line : lines) {
    SCOPED_TRACE(line[1] + " " + line[3]);
    EXPECT_EQ(Cli(line).exitCode, 2);
  }
  // A period asked of an empty archive, or of a logger it does not hold, fails with a word why.
  CommandResult r = Cli({"archive", "report", "--from", "2026-12-01", "--to", "2026-12-02"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "[Error] the archive holds no readings yet\n");
}

VELUTRON_ON_BOTH_ENGINES(CliArchiveTest);

}  // namespace
}  // namespace velutron::test
