// velutron-cli archive, end to end on both engines: two overlapping downloads imported, then the
// period exported, reported and verified, exactly as a script reads them.

#include <nlohmann/json.hpp>

#include "../data/DumpBuilder.h"
#include "ArchiveEngines.h"
#include "platform/AtomicFile.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron::test {
namespace {

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

class CliArchiveTest : public ArchiveEngineTest {
 protected:
  void SetUp() override {
    ArchiveEngineTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(WriteFileAtomically(work.path() / "day1.DAT", Day({{0, 1200}, {10, 1240}, {20, 1280}})));
    ASSERT_TRUE(WriteFileAtomically(work.path() / "day2.DAT", Day({{10, 1241}, {20, 1280}, {30, 0}})));
  }
  CommandResult Cli(std::vector<std::string> args) {
    Command c;
    c.argv = {VELUTRON_CLI_PATH, "--archive", location_};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.workDir = work.path().string();
    return RunCommand(c);
  }
  TempDir work;
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
            "# logger: Hala B\n"
            "# owner: Hala B\n"
            "# from: 2026-12-01T00:00:00+01:00\n"
            "# to: 2026-12-02T00:00:00+01:00\n"
            "# time zone: Europe/Warsaw\n"
            "# ch1: Komora\n"
            "# ch2: Rampa\n"
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
            R"("sha256":"6583ad45a907d763fc8a52c842973607980bf0ae6894245bbddd384e752efd8f"})");

  const std::string hash = j["sha256"];
  EXPECT_EQ(Cli(with({"archive", "verify", "--hash", hash, "--channel", "1"})).exitCode, 0);
  r = Cli(with({"archive", "verify", "--hash", hash, "--channel", "2"}));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "[Error] the readings of that period no longer hash to " + hash + "\n");
}

TEST_P(CliArchiveTest, AWrongCommandLineIsRefusedWithTheUsageCode) {
  const std::vector<std::vector<std::string>> lines = {
      {"archive", "report", "--from", "yesterday", "--to", "2026-12-02"},
      {"archive", "report", "--from", "2026-02-30", "--to", "2026-12-02"},
      {"archive", "export", "--from", "2026-12-01", "--to", "2026-12-02", "--format", "xml"},
      {"archive", "import", "day1.DAT", "--tz", "Mars/Olympus"},
      {"archive", "report", "--from", "2026-12-01", "--to", "2026-12-02", "--channel", "11"},
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
