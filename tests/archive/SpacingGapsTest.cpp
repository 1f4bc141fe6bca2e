// The gaps `archive list` finds from the hourly time summaries equal those found from every record
// time, on both engines.

#include "ArchiveEngines.h"
#include "archive/SpacingGaps.h"

namespace velutron::test {
namespace {

using namespace archive;

constexpr int64_t kT0 = 1'774'656'000;  // 2026-03-28T00:00:00Z, on an hour

// `count` records from `from` seconds after kT0, spaced by `steps` in turn.
struct Run {
  int64_t from;
  int count;
  std::vector<int64_t> steps;
};

struct GapsCase {
  const char* name;
  std::vector<Run> runs;
  std::vector<Run> late;  // written after a first listing has summarized the hours
  size_t gaps;
};

bool Write(PeriodArchive& a, int64_t logger, const std::vector<Run>& runs, std::string& error) {
  std::vector<Interval> intervals;
  for (const Run& run : runs) {
    int64_t t = run.from;
    for (int i = 0; i < run.count; ++i) {
      intervals.push_back({(kT0 + t) * 1000, std::nullopt, {{1, Unit::Celsius, 4.0, ""}}});
      t += run.steps[static_cast<size_t>(i) % run.steps.size()];
    }
  }
  AddCounts counts;
  return a.AddIntervals(logger, Source::Station, intervals, counts, error);
}

using SpacingGapsTest = ArchiveEngineTest;

TEST_P(SpacingGapsTest, GapsFromHourlySummariesEqualThoseFromEveryRecordTime) {
  const std::vector<GapsCase> cases = {
      {"regular", {{0, 2000, {10}}}, {}, 0},
      {"a gap inside an hour", {{0, 500, {10}}, {5500, 800, {10}}}, {}, 1},
      {"a gap across an hour's end", {{0, 700, {10}}, {7400, 700, {10}}}, {}, 1},
      {"a gap of several hours", {{0, 400, {10}}, {18070, 800, {10}}}, {}, 1},
      // 199 of 10 s, 198 of 30 s and one of 45 s: the median is 20 s, so 45 s is a gap.
      {"an even number of spacings", {{0, 200, {10, 30}}, {4015, 199, {30, 10}}}, {}, 1},
      // The median is 11 s: the spacings of 31, 45 and 90 s are gaps.
      {"irregular", {{0, 1500, {7, 13, 9, 31, 11, 8, 45, 10, 12, 90}}}, {}, 449},
      {"a single record", {{5000, 1, {10}}}, {}, 0},
      {"gaps in the edge hours",
       {{0, 100, {10}}, {1300, 1000, {10}}, {11600, 10, {10}}, {12000, 5, {10}}},
       {},
       3},
      {"a late record into a summarized hour", {{0, 1000, {10}}, {18000, 720, {10}}}, {{10500, 1, {10}}}, 2},
      {"a late record into an empty hour", {{0, 720, {10}}, {18000, 720, {10}}}, {{11000, 1, {10}}}, 2},
  };
  std::unique_ptr<PeriodArchive> archive = Open();
  ASSERT_TRUE(archive);
  for (const GapsCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    const auto logger = archive->Logger({c.name, c.name, "SN"}, error);
    ASSERT_TRUE(logger) << error;
    ASSERT_TRUE(Write(*archive, *logger, c.runs, error)) << error;
    int64_t first = 0, last = 0;
    bool any = false;
    std::vector<SpacingGap> summarized, again;
    if (!c.late.empty()) {
      ASSERT_TRUE(archive->Span(*logger, first, last, any, error)) << error;
      ASSERT_TRUE(SpacingGapsOf(*archive, *logger, first, last, summarized, error)) << error;
      ASSERT_TRUE(Write(*archive, *logger, c.late, error)) << error;
    }
    ASSERT_TRUE(archive->Span(*logger, first, last, any, error)) << error;
    ASSERT_TRUE(any);
    std::vector<int64_t> times;
    ASSERT_TRUE(archive->Times(*logger, first, last + 1000, times, error)) << error;
    const std::vector<SpacingGap> everyTime = SpacingGaps(times);
    ASSERT_TRUE(SpacingGapsOf(*archive, *logger, first, last, summarized, error)) << error;
    // And again from the summaries kept.
    ASSERT_TRUE(SpacingGapsOf(*archive, *logger, first, last, again, error)) << error;
    EXPECT_EQ(summarized, everyTime);
    EXPECT_EQ(again, everyTime);
    EXPECT_EQ(everyTime.size(), c.gaps);
  }
}

VELUTRON_ON_BOTH_ENGINES(SpacingGapsTest);

}  // namespace
}  // namespace velutron::test
