// Downloads into the archive: each reading once however often or overlapping the files come, a
// disagreement kept apart, and the logger's local stamps placed in UTC across both changes of the
// clocks in Europe/Warsaw.

#include "../data/DumpBuilder.h"
#include "ArchiveEngines.h"
#include "SummaryCheck.h"
#include "archive/Import.h"

namespace velutron::test {
namespace {

using namespace archive;

uint8_t Bcd(int v) { return static_cast<uint8_t>(v / 10 * 16 + v % 10); }

struct Stamp {
  int day, month, hour, minute;
  uint16_t raw = 1200;  // 20 °C
};

// A two-channel file of 2026 with these records, channel 2 always 21 °C.
std::vector<uint8_t> File(std::vector<Stamp> stamps, const std::string& owner = "Chłodnia 3") {
  DumpBuilder dump;
  dump.channelByte = 2;
  dump.owner = owner == "Chłodnia 3" ? "Ch\xB3odnia 3" : owner;
  dump.pointNames = {"Komora", "Rampa"};
  for (const Stamp& s : stamps)
    dump.Record({s.raw, 1216}, Bcd(s.day), Bcd(s.month), 26, Bcd(s.hour), Bcd(s.minute), 0);
  return dump.File();
}

struct Expected {
  size_t added, present, conflicts, marked;
};

struct ImportCase {
  const char* name;
  std::string zone;
  std::string logger;  // --logger, or empty for the owner text
  std::vector<std::vector<Stamp>> files;
  std::vector<Expected> expected;  // per file
  std::vector<std::string> times;  // channel 1 as archived, UTC
  std::string archivedAs;
  size_t hoursSummarized;  // finished by the last file, summarized as it is imported
};

std::vector<Stamp> Reversed(std::vector<Stamp> s) { return {s.rbegin(), s.rend()}; }

using ImportTest = ArchiveEngineTest;

TEST_P(ImportTest, ReadingsArriveOnceInUtcWithDisagreementsKeptApart) {
  const std::vector<Stamp> three = {{1, 12, 8, 0}, {1, 12, 8, 10}, {1, 12, 8, 20}};
  const std::vector<Stamp> overlap = {{1, 12, 8, 10}, {1, 12, 8, 20}, {1, 12, 8, 30}};
  const std::vector<Stamp> disagree = {{1, 12, 8, 10, 1201}};
  // 29 March: 02:00 becomes 03:00. 25 October: 03:00 becomes 02:00, the hour from 02:00 comes twice.
  const std::vector<Stamp> spring = {{29, 3, 1, 40}, {29, 3, 2, 20}, {29, 3, 3, 0}};
  const std::vector<Stamp> autumn = {{25, 10, 1, 30}, {25, 10, 2, 0},  {25, 10, 2, 30},
                                     {25, 10, 2, 0},  {25, 10, 2, 30}, {25, 10, 3, 0}};
  const std::vector<ImportCase> cases = {
      {"the same file twice adds its readings once",
       "Europe/Warsaw",
       "",
       {three, three},
       {{6, 0, 0, 0}, {0, 6, 0, 0}},
       {"2026-12-01T07:00:00Z", "2026-12-01T07:10:00Z", "2026-12-01T07:20:00Z"},
       "Chłodnia 3",
       0},
      {"an overlapping download adds only what is new",
       "Europe/Warsaw",
       "Hala B",
       {three, overlap},
       {{6, 0, 0, 0}, {2, 4, 0, 0}},
       {"2026-12-01T07:00:00Z", "2026-12-01T07:10:00Z", "2026-12-01T07:20:00Z", "2026-12-01T07:30:00Z"},
       "Hala B",
       0},
      {"a disagreeing reading is a conflict and the archived one stays",
       "Europe/Warsaw",
       "",
       {three, disagree},
       {{6, 0, 0, 0}, {0, 1, 1, 0}},
       {"2026-12-01T07:00:00Z", "2026-12-01T07:10:00Z", "2026-12-01T07:20:00Z"},
       "Chłodnia 3",
       0},
      {"a time the spring change skipped is read with the winter offset and marked",
       "Europe/Warsaw",
       "",
       {spring},
       {{6, 0, 0, 1}},
       {"2026-03-29T00:40:00Z", "2026-03-29T01:00:00Z", "2026-03-29T01:20:00Z"},
       "Chłodnia 3",
       1},
      {"the autumn hour that comes twice is summer time first, then winter time",
       "Europe/Warsaw",
       "",
       {autumn},
       {{12, 0, 0, 4}},
       {"2026-10-24T23:30:00Z", "2026-10-25T00:00:00Z", "2026-10-25T00:30:00Z", "2026-10-25T01:00:00Z",
        "2026-10-25T01:30:00Z", "2026-10-25T02:00:00Z"},
       "Chłodnia 3",
       3},
      {"a file downloaded from the last record reads the autumn hour the same way",
       "Europe/Warsaw",
       "",
       {Reversed(autumn)},
       {{12, 0, 0, 4}},
       {"2026-10-24T23:30:00Z", "2026-10-25T00:00:00Z", "2026-10-25T00:30:00Z", "2026-10-25T01:00:00Z",
        "2026-10-25T01:30:00Z", "2026-10-25T02:00:00Z"},
       "Chłodnia 3",
       3},
      {"another zone places the same stamps elsewhere",
       "America/New_York",
       "",
       {{{1, 12, 8, 0}}},
       {{2, 0, 0, 0}},
       {"2026-12-01T13:00:00Z"},
       "Chłodnia 3",
       0},
  };
  for (const ImportCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string skip;
    location_ = FreshArchive(GetParam(), skip);
    auto a = Open();
    ASSERT_TRUE(a);
    std::string error;
    auto zone = TimeZone::Named(c.zone, error);
    ASSERT_TRUE(zone) << error;
    for (size_t f = 0; f < c.files.size(); ++f) {
      const DatabaseContents db = DecodeDatabase(File(c.files[f]));
      ASSERT_TRUE(db.Valid());
      ImportResult result;
      ASSERT_TRUE(ImportDatabase(*a, db, c.logger, *zone, result, error)) << error;
      EXPECT_EQ(result.logger, c.archivedAs);
      EXPECT_EQ(result.counts.added, c.expected[f].added);
      EXPECT_EQ(result.counts.present, c.expected[f].present);
      EXPECT_EQ(result.counts.conflicts, c.expected[f].conflicts);
      EXPECT_EQ(result.gap_times + result.fold_times, c.expected[f].marked);
    }
    std::vector<HistoryPoint> history;
    const auto logger = a->FindLogger(c.archivedAs, error);
    ASSERT_TRUE(logger) << error;
    ASSERT_TRUE(a->History(*logger, 1, 0, INT64_C(4'000'000'000'000), history, error)) << error;
    std::vector<std::string> times;
    auto utc = TimeZone::Named("UTC", error);
    for (const HistoryPoint& p : history) {
      times.push_back(utc->Format(p.utc_ms / 1000).replace(19, 6, "Z"));
      EXPECT_EQ(p.value, 20.0);
    }
    EXPECT_EQ(times, c.times);
    const std::vector<std::pair<int64_t, int64_t>> built = BuiltHours(location_);
    EXPECT_EQ(built.size(), c.hoursSummarized);
    for (const auto& [hour, channels] : built) EXPECT_EQ(channels, 2) << hour;
    const int64_t first = history.front().utc_ms / 3'600'000 * 3'600'000;
    ExpectReportAsFromReadings(*a, {*logger, {c.archivedAs, "", ""}}, first, history.back().utc_ms + 1);
  }
}

TEST_P(ImportTest, AFileWithoutOwnerNeedsALoggerName) {
  auto a = Open();
  std::string error;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  ImportResult result;
  EXPECT_FALSE(ImportDatabase(*a, DecodeDatabase(File({{1, 12, 8, 0}}, "")), "", *zone, result, error));
  EXPECT_EQ(error, "the file names no owner: give the logger a name (--logger)");
  EXPECT_FALSE(TimeZone::Named("Europe/Nowhere", error));
  EXPECT_EQ(error, "unknown time zone: Europe/Nowhere");
}

VELUTRON_ON_BOTH_ENGINES(ImportTest);

}  // namespace
}  // namespace velutron::test
