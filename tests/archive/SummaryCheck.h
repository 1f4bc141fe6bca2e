#pragma once

// What the tests of the writers ask of the summaries they leave: which hours are built and current, and
// that a report over them says what the readings alone say.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "archive/Database.h"
#include "archive/PeriodReport.h"
#include "archive/Statistics.h"

namespace velutron::test {

// The hours (from the epoch) with current summaries, and of how many channels each.
inline std::vector<std::pair<int64_t, int64_t>> BuiltHours(const std::string& location) {
  std::string error;
  auto db = location.starts_with("postgresql://") ? archive::OpenPostgres(location, error)
                                                  : archive::OpenSqlite(location, error);
  std::vector<std::pair<int64_t, int64_t>> hours;
  EXPECT_TRUE(db &&
              db->Exec(
                  "SELECT b, count(*) FROM summaries WHERE series > 0 AND built = version GROUP BY b "
                  "ORDER BY b",
                  {}, [&hours](const archive::SqlRow& row) { hours.emplace_back(row.Int(0), row.Int(1)); },
                  error))
      << error;
  return hours;
}

// The report's statistics over [from_ms, to_ms) equal those computed from every reading of it.
inline void ExpectReportAsFromReadings(archive::PeriodArchive& a, const archive::LoggerEntry& logger,
                                       int64_t from_ms, int64_t to_ms) {
  std::string error;
  auto zone = archive::TimeZone::Named("Europe/Warsaw", error);
  ASSERT_TRUE(zone) << error;
  const archive::StatsOptions options{from_ms, to_ms, std::nullopt, std::nullopt, 83.144, {}, {}, {}};
  archive::PeriodResult report;
  ASSERT_TRUE(archive::ComputePeriod(a, logger, *zone, options, 40, true, report, error)) << error;
  std::vector<archive::ChannelEntry> channels;
  std::vector<archive::PeriodPoint> points;
  ASSERT_TRUE(a.Channels(logger.key, channels, error)) << error;
  ASSERT_TRUE(a.Period(
      logger.key, from_ms, to_ms, [&points](const archive::PeriodPoint& p) { points.push_back(p); }, error))
      << error;
  const std::vector<archive::ChannelStats> read = archive::ComputeStats(points, channels, options);
  ASSERT_EQ(report.stats.size(), read.size());
  for (size_t i = 0; i < read.size(); ++i)
    EXPECT_EQ(archive::StatsJson(report.stats[i], logger.id.name, options, *zone),
              archive::StatsJson(read[i], logger.id.name, options, *zone));
}

}  // namespace velutron::test
