// The period report reads every reading, whatever the hourly summaries say, and gives what the readings
// alone give (across gaps, excursions over block and period edges, limits changed inside an hour,
// invalid readings, humidity, overlapping imports with conflicts); the summaries the station kept only
// check the readings: each hour whose readings were changed under the archive (by SQL) is named on its
// channel, an edge hour of the period checked whole. A report writes no summary. On both engines.

#include <algorithm>
#include <cmath>

#include "ArchiveEngines.h"
#include "archive/Database.h"
#include "archive/PeriodReport.h"
#include "archive/SpacingGaps.h"
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
  std::string sql;  // done to the archive before the report, on top of the cases before
  int64_t from_minute, to_minute;
  std::vector<int> channels;
  double dh;
  std::vector<std::pair<int, int64_t>> changed;  // channel, hour from the start
};

using SummaryTest = ArchiveEngineTest;

TEST_P(SummaryTest, TheReportReadsTheReadingsAndNamesEachHourChangedSinceItWasSummarized) {
  std::string error;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  ASSERT_TRUE(zone) << error;
  std::unique_ptr<PeriodArchive> archive = Open();
  ASSERT_TRUE(archive);
  const auto key = archive->Logger({"Gen", "Gen", "SN"}, error);
  ASSERT_TRUE(key) << error;
  ASSERT_TRUE(Fill(*archive, *key, error)) << error;
  const LoggerEntry logger{*key, {"Gen", "Gen", "SN"}};
  // Every hour summarized but the last, as the station leaves them.
  const int64_t first = kT0 / 3'600'000;
  PeriodSummaries kept;
  ASSERT_TRUE(archive->Summaries(*key, first, first + kIntervals / 60 - 1, kept, error)) << error;
  auto db =
      location_.starts_with("postgresql://") ? OpenPostgres(location_, error) : OpenSqlite(location_, error);
  ASSERT_TRUE(db) << error;
  auto summaries = [&db, &error] {
    std::string rows;
    EXPECT_TRUE(db->Exec(
        "SELECT series, b, version, built FROM summaries ORDER BY series, b", {},
        [&rows](const SqlRow& row) {
          rows += std::to_string(row.Int(0)) + " " + std::to_string(row.Int(1)) + " " +
                  std::to_string(row.Int(2)) + " " + std::to_string(row.Int(3)) + "\n";
        },
        error))
        << error;
    return rows;
  };
  const std::string before = summaries();
  // A reading of a channel at a minute from the start, by SQL.
  auto at = [](int channel, int64_t minute, int64_t second = 0) {
    return "series = (SELECT id FROM series WHERE channel = " + std::to_string(channel) +
           ") AND t = " + std::to_string(kT0 / 1000 + minute * 60 + second);
  };
  const int whole = kIntervals;
  const std::vector<SummaryCase> cases = {
      {"nothing changed: no hour named", "", 0, whole, {}, 83.144, {}},
      {"a value changed",
       "UPDATE readings SET v = v + 2 WHERE " + at(1, 600),
       0,
       whole,
       {},
       83.144,
       {{1, 10}}},
      {"a reading deleted",
       "DELETE FROM readings WHERE " + at(2, 1500),
       0,
       whole,
       {},
       83.144,
       {{1, 10}, {2, 25}}},
      {"a reading added into a summarized hour",
       "INSERT INTO readings(series, t, v) SELECT id, " + std::to_string(kT0 / 1000 + 2000 * 60 + 30) +
           ", 800 FROM series WHERE channel = 3",
       0,
       whole,
       {},
       83.144,
       {{1, 10}, {2, 25}, {3, 33}}},
      {"a change in an hour not summarized yet cannot be told",
       "UPDATE readings SET v = v + 2 WHERE " + at(1, whole - 30),
       0,
       whole,
       {},
       83.144,
       {{1, 10}, {2, 25}, {3, 33}}},
      {"every reading of a summarized hour deleted",
       "DELETE FROM readings WHERE series = (SELECT id FROM series WHERE channel = 1) AND t >= " +
           std::to_string(kT0 / 1000 + 40 * 3600) + " AND t < " + std::to_string(kT0 / 1000 + 41 * 3600),
       0,
       whole,
       {},
       83.144,
       {{1, 10}, {1, 40}, {2, 25}, {3, 33}}},
      {"a period cut inside hours checks its edge hours whole",
       "",
       605,
       1503,
       {},
       83.144,
       {{1, 10}, {2, 25}}},
      {"one channel, another activation energy", "", 0, whole, {2}, 60.0, {{2, 25}}},
  };
  for (const SummaryCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.sql.empty()) {
      ASSERT_TRUE(db->Exec(c.sql, error)) << error;
    }
    archive = Open();  // as a new run of the program would
    ASSERT_TRUE(archive);
    const StatsOptions options{
        kT0 + c.from_minute * kMinute, kT0 + c.to_minute * kMinute, {}, {}, c.dh, c.channels, {}, {}};
    PeriodResult report;
    ASSERT_TRUE(ComputePeriod(*archive, logger, *zone, options, 40, true, report, error)) << error;
    std::vector<std::pair<int, int64_t>> changed;
    for (ChannelStats& s : report.stats) {
      for (int64_t ms : s.changed_ms) changed.emplace_back(s.channel, (ms - kT0) / 3'600'000);
      s.changed_ms.clear();
    }
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(changed, c.changed);
    report.chart.title = logger.id.name + ", x";
    const PeriodResult read = FromReadings(*archive, logger, *zone, options, 40, true);
    EXPECT_EQ(Figures(report, *zone, options), Figures(read, *zone, options));
  }
  EXPECT_EQ(summaries(), before);
}

VELUTRON_ON_BOTH_ENGINES(SummaryTest);

}  // namespace
}  // namespace velutron::test
