// Downloads into the archive: each reading once however often or overlapping the files come, a
// disagreement kept apart, and the logger's local stamps placed in UTC across both changes of the
// clocks in Europe/Warsaw, for a clock that runs as it was set and for one that follows summer time.

#include <ctime>
#include <filesystem>
#include <thread>

#include "../data/DumpBuilder.h"
#include "ArchiveEngines.h"
#include "archive/Import.h"
#include "archive/PointNames.h"

namespace velutron::test {
namespace {

using namespace archive;

uint8_t Bcd(int v) { return static_cast<uint8_t>(v / 10 * 16 + v % 10); }

struct Stamp {
  int day, month, hour, minute;
  uint16_t raw = 1200;  // 20 °C
};

// A two-channel file of 2026 with these records, channel 2 always 21 °C.
std::vector<uint8_t> File(std::vector<Stamp> stamps, const std::string& owner = "Chłodnia 3",
                          std::vector<std::string> points = {"Komora", "Rampa"}) {
  DumpBuilder dump;
  dump.channelByte = 2;
  dump.owner = owner == "Chłodnia 3" ? "Ch\xB3odnia 3" : owner;
  dump.pointNames = std::move(points);
  for (const Stamp& s : stamps)
    dump.Record({s.raw, 1216}, Bcd(s.day), Bcd(s.month), 26, Bcd(s.hour), Bcd(s.minute), 0);
  return dump.File();
}

struct Expected {
  size_t added, present, conflicts, marked;
  std::vector<int64_t> offsets;  // the offsets the stamps were read with, in hours
};

struct ImportCase {
  const char* name;
  std::string zone;
  std::optional<int64_t> offset;  // --offset, in hours
  std::string logger;             // --logger, or empty for the owner text
  std::vector<std::vector<Stamp>> files;
  std::vector<Expected> expected;  // per file
  std::vector<std::string> times;  // channel 1 as archived, UTC
  std::string archivedAs;
};

std::vector<Stamp> Reversed(std::vector<Stamp> s) { return {s.rbegin(), s.rend()}; }

using ImportTest = ArchiveEngineTest;

TEST_P(ImportTest, ReadingsArriveOnceInUtcWithDisagreementsKeptApart) {
  const std::vector<Stamp> three = {{1, 12, 8, 0}, {1, 12, 8, 10}, {1, 12, 8, 20}};
  const std::vector<Stamp> overlap = {{1, 12, 8, 10}, {1, 12, 8, 20}, {1, 12, 8, 30}};
  const std::vector<Stamp> disagree = {{1, 12, 8, 10, 1201}};
  // 29 March: 02:00 becomes 03:00. 25 October: 03:00 becomes 02:00, the hour from 02:00 comes twice.
  // A clock that runs as it was set shows every hour once; one that follows summer time jumps.
  const std::vector<Stamp> springAsSet = {{29, 3, 1, 40}, {29, 3, 2, 0}, {29, 3, 2, 20},
                                          {29, 3, 2, 40}, {29, 3, 3, 0}, {29, 3, 3, 20}};
  const std::vector<Stamp> springFollowed = {{29, 3, 1, 20}, {29, 3, 1, 40}, {29, 3, 3, 0}, {29, 3, 3, 20}};
  const std::vector<Stamp> autumnAsSet = {{25, 10, 1, 30}, {25, 10, 2, 0},  {25, 10, 2, 30},
                                          {25, 10, 3, 0},  {25, 10, 3, 30}, {25, 10, 4, 0}};
  const std::vector<Stamp> autumnFollowed = {{25, 10, 1, 30}, {25, 10, 2, 0},  {25, 10, 2, 30},
                                             {25, 10, 2, 0},  {25, 10, 2, 30}, {25, 10, 3, 0}};
  const std::vector<std::string> autumnUtc = {"2026-10-24T23:30:00Z", "2026-10-25T00:00:00Z",
                                              "2026-10-25T00:30:00Z", "2026-10-25T01:00:00Z",
                                              "2026-10-25T01:30:00Z", "2026-10-25T02:00:00Z"};
  const std::vector<ImportCase> cases = {
      {"the same file twice adds its readings once",
       "Europe/Warsaw",
       {},
       "",
       {three, three},
       {{6, 0, 0, 0, {1}}, {0, 6, 0, 0, {1}}},
       {"2026-12-01T07:00:00Z", "2026-12-01T07:10:00Z", "2026-12-01T07:20:00Z"},
       "Chłodnia 3"},
      {"an overlapping download adds only what is new",
       "Europe/Warsaw",
       {},
       "Hala B",
       {three, overlap},
       {{6, 0, 0, 0, {1}}, {2, 4, 0, 0, {1}}},
       {"2026-12-01T07:00:00Z", "2026-12-01T07:10:00Z", "2026-12-01T07:20:00Z", "2026-12-01T07:30:00Z"},
       "Hala B"},
      {"a disagreeing reading is a conflict and the archived one stays",
       "Europe/Warsaw",
       {},
       "",
       {three, disagree},
       {{6, 0, 0, 0, {1}}, {0, 1, 1, 0, {1}}},
       {"2026-12-01T07:00:00Z", "2026-12-01T07:10:00Z", "2026-12-01T07:20:00Z"},
       "Chłodnia 3"},
      {"spring, a clock as set: one offset, the hour the zone skips marked",
       "Europe/Warsaw",
       {},
       "",
       {springAsSet},
       {{12, 0, 0, 3, {1}}},
       {"2026-03-29T00:40:00Z", "2026-03-29T01:00:00Z", "2026-03-29T01:20:00Z", "2026-03-29T01:40:00Z",
        "2026-03-29T02:00:00Z", "2026-03-29T02:20:00Z"},
       "Chłodnia 3"},
      {"spring, a clock that follows summer time: the offset changes at the jump",
       "Europe/Warsaw",
       {},
       "",
       {springFollowed},
       {{8, 0, 0, 0, {1, 2}}},
       {"2026-03-29T00:20:00Z", "2026-03-29T00:40:00Z", "2026-03-29T01:00:00Z", "2026-03-29T01:20:00Z"},
       "Chłodnia 3"},
      {"autumn, a clock as set: one offset, the hour the zone repeats marked",
       "Europe/Warsaw",
       {},
       "",
       {autumnAsSet},
       {{12, 0, 0, 2, {2}}},
       autumnUtc,
       "Chłodnia 3"},
      {"autumn, a clock that follows summer time: summer time first, then winter time",
       "Europe/Warsaw",
       {},
       "",
       {autumnFollowed},
       {{12, 0, 0, 4, {2, 1}}},
       autumnUtc,
       "Chłodnia 3"},
      {"autumn, a clock that follows summer time, downloaded from the last record",
       "Europe/Warsaw",
       {},
       "",
       {Reversed(autumnFollowed)},
       {{12, 0, 0, 4, {2, 1}}},
       autumnUtc,
       "Chłodnia 3"},
      {"a jump of another size is a clock set by hand: one offset",
       "Europe/Warsaw",
       {},
       "",
       {{{29, 3, 1, 20}, {29, 3, 1, 40}, {29, 3, 3, 10}, {29, 3, 3, 30}}},
       {{8, 0, 0, 0, {1}}},
       {"2026-03-29T00:20:00Z", "2026-03-29T00:40:00Z", "2026-03-29T02:10:00Z", "2026-03-29T02:30:00Z"},
       "Chłodnia 3"},
      {"an hour's jump on another day is no change of the zone: one offset",
       "Europe/Warsaw",
       {},
       "",
       {{{28, 3, 1, 20}, {28, 3, 1, 40}, {28, 3, 3, 0}, {28, 3, 3, 20}}},
       {{8, 0, 0, 0, {1}}},
       {"2026-03-28T00:20:00Z", "2026-03-28T00:40:00Z", "2026-03-28T02:00:00Z", "2026-03-28T02:20:00Z"},
       "Chłodnia 3"},
      {"an offset given holds for the whole file, across the jump too",
       "Europe/Warsaw",
       1,
       "",
       {springFollowed},
       {{8, 0, 0, 0, {1}}},
       {"2026-03-29T00:20:00Z", "2026-03-29T00:40:00Z", "2026-03-29T02:00:00Z", "2026-03-29T02:20:00Z"},
       "Chłodnia 3"},
      {"an offset given places a summer day of a clock kept on winter time",
       "Europe/Warsaw",
       1,
       "",
       {{{1, 6, 8, 0}}},
       {{2, 0, 0, 0, {1}}},
       {"2026-06-01T07:00:00Z"},
       "Chłodnia 3"},
      {"another zone places the same stamps elsewhere",
       "America/New_York",
       {},
       "",
       {{{1, 12, 8, 0}}},
       {{2, 0, 0, 0, {-5}}},
       {"2026-12-01T13:00:00Z"},
       "Chłodnia 3"},
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
      const std::optional<int64_t> offset =
          c.offset ? std::optional<int64_t>(*c.offset * 3600) : std::nullopt;
      ASSERT_TRUE(ImportDatabase(*a, db, ImportOptions{c.logger, offset, ""}, *zone, result, error)) << error;
      EXPECT_EQ(result.logger, c.archivedAs);
      std::vector<int64_t> offsets;
      for (const ClockOffset& o : result.offsets) offsets.push_back(o.offset_s / 3600);
      EXPECT_EQ(offsets, c.expected[f].offsets);
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

// Every zone of the system's database gives the C library's offsets, to the second of each change and
// past the file's last transition; and no zone, on any thread, moves the program's own local time.
TEST(TimeZoneTest, OffsetsAreTheCLibrarysAndTheProgramsZoneStaysItsOwn) {
  auto libc = [](int64_t utc_s) {
    const auto t = static_cast<time_t>(utc_s);
    tm local{};
    localtime_r(&t, &local);
    return static_cast<int64_t>(local.tm_gmtoff);
  };
  const std::filesystem::path root = "/usr/share/zoneinfo";
  size_t zones = 0, changes = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(root); it != decltype(it)(); ++it) {
    const std::string name = std::filesystem::relative(it->path(), root).generic_string();
    if (name == "posix" || name == "right") it.disable_recursion_pending();
    std::string error;
    auto zone = it->is_regular_file() && !name.ends_with(".tab") ? TimeZone::Named(name, error) : std::nullopt;
    if (!zone) continue;
    ++zones;
    setenv("TZ", (":" + name).c_str(), 1);
    tzset();
    // 1880 .. 2120 in steps that fall at every hour of the day; each change found is bisected.
    int64_t before = -2'840'140'800, offset = libc(before);
    for (int64_t at = before; at < 4'733'510'400; at += 29 * 86400 + 5820) {
      const int64_t now = libc(at);
      ASSERT_EQ(zone->OffsetAt(at), now) << name << " " << at;
      if (now != offset) {
        int64_t lo = before, hi = at;
        while (hi - lo > 1) (libc(lo + (hi - lo) / 2) == offset ? lo : hi) = lo + (hi - lo) / 2;
        ASSERT_EQ(zone->OffsetAt(lo), offset) << name << " " << lo;
        ASSERT_EQ(zone->OffsetAt(hi), libc(hi)) << name << " " << hi;
        ++changes;
      }
      before = at;
      offset = now;
    }
  }
  EXPECT_GT(zones, 300u);
  EXPECT_GT(changes, 10'000u);

  setenv("TZ", "UTC", 1);
  tzset();
  constexpr time_t kKnown = 1'796'083'200;  // 2026-12-01T00:00:00Z
  auto localHour = [] {
    tm local{};
    const time_t known = kKnown;
    localtime_r(&known, &local);
    return std::pair<int, long>(local.tm_hour, local.tm_gmtoff);
  };
  std::string error;
  auto warsaw = TimeZone::Named("Europe/Warsaw", error);
  ASSERT_TRUE(warsaw) << error;
  EXPECT_EQ(warsaw->Format(kKnown), "2026-12-01T01:00:00+01:00");
  EXPECT_EQ(localHour(), (std::pair<int, long>(0, 0)));
  std::pair<int, long> elsewhere;
  std::thread([&] {
    std::string why;
    auto york = TimeZone::Named("America/New_York", why);
    elsewhere = localHour();
    EXPECT_EQ(york->Format(kKnown), "2026-11-30T19:00:00-05:00");
  }).join();
  EXPECT_EQ(elsewhere, (std::pair<int, long>(0, 0)));
  EXPECT_EQ(warsaw->Format(kKnown + 180 * 86400), "2027-05-30T02:00:00+02:00");
  unsetenv("TZ");
  tzset();
}

// Three programs importing one logger's day at once: each reading is archived once, and each program
// counts it either added or already present, whoever came first.
TEST_P(ImportTest, OneFileImportedByThreeProgramsAtOnceIsArchivedOnce) {
  std::string error;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  ASSERT_TRUE(zone) << error;
  {
    // The logger and its channels known before, so that the importers race for the readings alone.
    ImportResult before;
    ASSERT_TRUE(ImportDatabase(*Open(), DecodeDatabase(File({{30, 11, 8, 0}})), "", *zone, before, error));
  }
  std::vector<Stamp> day;
  for (int minutes = 0; minutes < 24 * 60; minutes += 5) day.push_back({1, 12, minutes / 60, minutes % 60});
  const DatabaseContents db = DecodeDatabase(File(day));
  std::vector<ImportResult> results(3);
  std::vector<std::string> errors(3);
  std::vector<std::thread> importers;
  for (size_t k = 0; k < results.size(); ++k) {
    importers.emplace_back([&, k] {
      auto a = OpenPeriodArchive(location_, errors[k]);
      if (a) ImportDatabase(*a, db, "", *zone, results[k], errors[k]);
    });
  }
  for (std::thread& t : importers) t.join();
  size_t added = 0, present = 0, conflicts = 0;
  for (size_t k = 0; k < results.size(); ++k) {
    EXPECT_EQ(errors[k], "");
    added += results[k].counts.added;
    present += results[k].counts.present;
    conflicts += results[k].counts.conflicts;
  }
  EXPECT_EQ(added, 576u);
  EXPECT_EQ(present, 2 * 576u);
  EXPECT_EQ(conflicts, 0u);
  auto a = Open();
  std::vector<LoggerEntry> loggers;
  ASSERT_TRUE(a->Loggers(loggers, error)) << error;
  ASSERT_EQ(loggers.size(), 1u);
  std::vector<Conflict> kept;
  ASSERT_TRUE(a->Conflicts(loggers[0].key, 0, INT64_C(4'000'000'000'000), kept, error)) << error;
  EXPECT_TRUE(kept.empty());
}

// Two downloads of one memory, channel 2 renamed between them: each name keeps the time it stood,
// whatever order the files come in and however often.
TEST_P(ImportTest, EachPointNameKeepsTheTimeItStood) {
  const std::vector<Stamp> first = {{1, 12, 8, 0}, {1, 12, 8, 10}, {1, 12, 8, 20}};
  std::vector<Stamp> second = first;
  second.insert(second.end(), {{1, 12, 8, 30}, {1, 12, 8, 40}});
  const DatabaseContents files[] = {DecodeDatabase(File(first)), DecodeDatabase(File(second, "Chłodnia 3",
                                                                                     {"Komora",
                                                                                      "Wej\x9C"
                                                                                      "cie"}))};
  constexpr int64_t kDay = 1'796'083'200'000;  // 2026-12-01T00:00:00Z
  const std::vector<PointSpan> renamed = {{"Rampa", Unit::Celsius, kDay},
                                          {"Wejście", Unit::Celsius, kDay + (7 * 60 + 20) * 60'000 + 1000}};
  std::string error;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  for (const std::vector<int>& order : std::vector<std::vector<int>>{{0, 1, 0}, {1, 0}, {0, 1, 1, 0}}) {
    SCOPED_TRACE(::testing::PrintToString(order));
    std::string skip;
    location_ = FreshArchive(GetParam(), skip);
    auto a = Open();
    ASSERT_TRUE(a);
    ImportResult result;
    for (int f : order) ASSERT_TRUE(ImportDatabase(*a, files[f], "", *zone, result, error)) << error;
    std::vector<ChannelEntry> channels;
    ASSERT_TRUE(a->Channels(*a->FindLogger("Chłodnia 3", error), channels, error)) << error;
    EXPECT_EQ(PointsIn(channels, 1, kDay, kDay + 86'400'000),
              (std::vector<PointSpan>{{"Komora", Unit::Celsius, kDay}}));
    EXPECT_EQ(PointsIn(channels, 2, kDay, kDay + 86'400'000), renamed);
    EXPECT_EQ(channels.size(), 3u);  // the same name seen again is not stored again
  }
}

VELUTRON_ON_BOTH_ENGINES(ImportTest);

}  // namespace
}  // namespace velutron::test
