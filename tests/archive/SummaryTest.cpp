// The period report and chart from the archive's hourly summaries equal those worked out from every
// reading, on both engines: across gaps, excursions over block and period edges, limits changed inside
// an hour, invalid readings, humidity, overlapping imports with conflicts, a late reading into a
// summarized hour, another activation energy and an archive from before the summaries.

#include <cmath>

#include "ArchiveEngines.h"
#include "archive/PeriodReport.h"
#include "archive/Summary.h"

namespace velutron::test {
namespace {

using namespace archive;

constexpr int64_t kT0 = 1'774'656'000'000;  // 2026-03-28T00:00:00Z, the day before Warsaw's spring change
constexpr int64_t kMinute = 60'000;
constexpr int kIntervals = 3 * 1440;

bool Skipped(int i) {
  return (i >= 1000 && i < 1090) || (i >= 2500 && i < 2503) || (i >= 3000 && i < 3060 && i % 2);
}

Interval At(int i, double shift = 0) {
  Interval interval{kT0 + i * kMinute, std::nullopt, {}};
  const double wave = std::round((4 + 3 * std::sin(i / 200.0) + shift) * 16) / 16;
  interval.readings.push_back({1, Unit::Celsius, wave, ""});
  if (i % 500 == 7) {
    interval.readings.push_back({2, Unit::Celsius, std::nullopt, "T_min"});
  } else {
    interval.readings.push_back({2, Unit::Celsius, -18 + (i % 97) / 16.0, ""});
  }
  interval.readings.push_back({3, Unit::RelativeHumidity, 40 + (i % 50) / 10.0, ""});
  return interval;
}

bool Fill(PeriodArchive& a, int64_t logger, std::string& error) {
  const std::vector<ChannelInfo> first = {{1, "Komora", Unit::Celsius, 2.0, 6.0},
                                          {2, "Mroźnia", Unit::Celsius, std::nullopt, std::nullopt},
                                          {3, "Wilgotność", Unit::RelativeHumidity, std::nullopt, 45.0}};
  std::vector<ChannelInfo> later = first;
  later[0].high = 5.5;
  if (!a.SetChannels(logger, kT0, first, error) ||
      !a.SetChannels(logger, kT0 + 1440 * kMinute + 20 * kMinute, later, error))
    return false;
  std::vector<Interval> batch;
  AddCounts counts;
  for (int i = 0; i < kIntervals; ++i) {
    if (!Skipped(i)) batch.push_back(At(i));
    if (batch.size() == 360 || i + 1 == kIntervals) {
      if (!a.AddIntervals(logger, Source::Station, batch, counts, error)) return false;
      batch.clear();
    }
  }
  // A download over part of it: the same readings, and a few that disagree.
  for (int i = 2000; i < 2400; ++i) batch.push_back(At(i, i % 40 == 0 ? 0.5 : 0));
  return a.AddIntervals(logger, Source::Download, batch, counts, error);
}

std::string Figures(const PeriodResult& r, const TimeZone& zone, const StatsOptions& options) {
  std::string text;
  for (const ChannelStats& s : r.stats) text += StatsJson(s, "Gen", options, zone) + "\n";
  text += WriteChartData(r.chart) + "\n";
  for (const DayFigures& d : r.days) {
    text += std::to_string(d.day) + " " + std::to_string(d.channel) + " " + std::to_string(d.readings) + " " +
            std::to_string(d.min) + " " + std::to_string(d.max) + " " + std::to_string(d.sum) + "\n";
  }
  return text;
}

// The same figures from every reading of the period, one at a time.
PeriodResult FromReadings(PeriodArchive& a, const LoggerEntry& logger, const TimeZone& zone,
                          const StatsOptions& options, int columns, bool withStats) {
  std::string error;
  std::vector<ChannelEntry> channels;
  std::vector<PeriodPoint> points;
  EXPECT_TRUE(a.Channels(logger.key, channels, error)) << error;
  EXPECT_TRUE(a.Period(
      logger.key, options.from_ms, options.to_ms, [&points](const PeriodPoint& p) { points.push_back(p); },
      error))
      << error;
  PeriodChartBuilder chart(zone, options.from_ms, options.to_ms, columns, channels, options.channels);
  std::vector<int64_t> times;
  for (const PeriodPoint& p : points) chart.Add(p), times.push_back(p.utc_ms);
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  chart.Breaks(SpacingGaps(times));
  PeriodResult r;
  if (withStats) r.stats = ComputeStats(points, channels, options);
  r.chart = chart.Chart(logger.id.name + ", " + "x");
  r.days = chart.Days();
  return r;
}

struct SummaryCase {
  const char* name;
  int64_t from_minute, to_minute;
  std::vector<int> channels;
  std::optional<double> low, high;
  double dh;
  int columns;
  bool withStats;
  // Done to the archive before the report.
  std::function<void(const std::string& location, PeriodArchive&, int64_t logger)> before;
};

using SummaryTest = ArchiveEngineTest;

TEST_P(SummaryTest, ReportAndChartFromSummariesEqualThoseFromEveryReading) {
  std::string error;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  ASSERT_TRUE(zone) << error;
  std::unique_ptr<PeriodArchive> archive = Open();
  ASSERT_TRUE(archive);
  const auto key = archive->Logger({"Gen", "Gen", "SN"}, error);
  ASSERT_TRUE(key) << error;
  ASSERT_TRUE(Fill(*archive, *key, error)) << error;
  const LoggerEntry logger{*key, {"Gen", "Gen", "SN"}};
  const auto none = [](const std::string&, PeriodArchive&, int64_t) {};
  const int whole = kIntervals;
  const std::vector<SummaryCase> cases = {
      {"every channel over the whole span, a column per minute or so",
       0,
       whole,
       {},
       {},
       {},
       83.144,
       1600,
       true,
       none},
      {"the same again, now from the summaries kept", 0, whole, {}, {}, {}, 83.144, 1600, true, none},
      {"columns of several hours take whole blocks", 0, whole, {}, {}, {}, 83.144, 40, true, none},
      {"a period cut inside hours, one channel", 37, 2 * 1440 + 313, {1}, {}, {}, 83.144, 40, true, none},
      {"limits given: excursions everywhere, across block and period edges",
       95,
       whole - 17,
       {},
       3.0,
       5.0,
       83.144,
       40,
       true,
       none},
      {"another activation energy reads every reading", 0, whole, {}, {}, {}, 60.0, 40, true, none},
      {"the chart alone", 0, whole, {2, 3}, {}, {}, 83.144, 40, false, none},
      {"a late reading into a summarized hour is counted",
       0,
       whole,
       {},
       {},
       {},
       83.144,
       40,
       true,
       [](const std::string&, PeriodArchive& a, int64_t logger) {
         std::string error;
         AddCounts counts;
         const Interval late = At(3001, 9);
         EXPECT_TRUE(
             a.AddIntervals(logger, Source::Download, std::span<const Interval>(&late, 1), counts, error));
         EXPECT_EQ(counts.added, 3u);
       }},
      {"an archive from before the summaries gets them as it is read",
       0,
       whole,
       {},
       {},
       {},
       83.144,
       40,
       true,
       [](const std::string& location, PeriodArchive&, int64_t) {
         std::string error;
         auto db = location.starts_with("postgresql://") ? OpenPostgres(location, error)
                                                         : OpenSqlite(location, error);
         ASSERT_TRUE(db) << error;
         EXPECT_TRUE(db->Exec("DROP TABLE summaries", error)) << error;
         // Nor the columns of later versions.
         EXPECT_TRUE(db->Exec("ALTER TABLE loggers DROP COLUMN zone", error)) << error;
         EXPECT_TRUE(db->Exec("ALTER TABLE channels DROP COLUMN seen", error)) << error;
         EXPECT_TRUE(db->Exec("UPDATE meta SET value = '1' WHERE key = 'schema_version'", error)) << error;
       }},
  };
  for (const SummaryCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.before(location_, *archive, *key);
    archive = Open();  // as a new run of the program would
    ASSERT_TRUE(archive);
    const StatsOptions options{
        kT0 + c.from_minute * kMinute, kT0 + c.to_minute * kMinute, c.low, c.high, c.dh, c.channels, {}, {}};
    PeriodResult summarized;
    ASSERT_TRUE(ComputePeriod(*archive, logger, *zone, options, c.columns, c.withStats, summarized, error))
        << error;
    summarized.chart.title = logger.id.name + ", x";
    const PeriodResult read = FromReadings(*archive, logger, *zone, options, c.columns, c.withStats);
    EXPECT_EQ(Figures(summarized, *zone, options), Figures(read, *zone, options));
    if (c.withStats) {
      EXPECT_EQ(summarized.stats.size(), c.channels.empty() ? 3u : c.channels.size());
    }
  }
  // The summaries were there to be used.
  auto db =
      location_.starts_with("postgresql://") ? OpenPostgres(location_, error) : OpenSqlite(location_, error);
  int64_t built = 0;
  ASSERT_TRUE(db->Exec(
      "SELECT count(*) FROM summaries WHERE built = version AND series > 0", {},
      [&built](const SqlRow& row) { built = row.Int(0); }, error));
  EXPECT_GE(built, 3 * 70);
}

VELUTRON_ON_BOTH_ENGINES(SummaryTest);

}  // namespace
}  // namespace velutron::test
