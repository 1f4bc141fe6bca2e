#pragma once

// The synthetic year the archive's benchmarks read: ten channels of a cold store every 10 s from
// 2025-01-01, written through the archive's own interface an hour a transaction.
// VELUTRON_BENCH_DAYS shortens it.

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/Database.h"

namespace velutron::bench {

inline constexpr int64_t kStart = 1'735'689'600'000;  // 2025-01-01T00:00:00Z
inline constexpr int kChannels = 10;
inline constexpr int64_t kStepMs = 10'000;

inline int Days() {
  const char* days = std::getenv("VELUTRON_BENCH_DAYS");
  return days != nullptr ? std::atoi(days) : 365;
}

// A cold store's day: a slow daily curve and a little noise, at 1/16 °C.
inline double Temperature(int channel, int64_t i) {
  const double day = static_cast<double>(i % 8640) / 8640.0;
  const double value =
      -18.0 + channel * 0.5 + 1.5 * std::sin(2 * M_PI * day) + ((i * 7919 + channel) % 11) * 0.0625;
  return std::round(value * 16) / 16;
}

// Fills the logger `logger` of `archive` with `days` of readings.
inline bool Fill(archive::PeriodArchive& archive, int64_t logger, int days, std::string& error) {
  using namespace archive;
  const int64_t total = int64_t{days} * 8640;
  std::vector<Interval> hour;
  for (int64_t i = 0; i < total; ++i) {
    Interval interval{kStart + i * kStepMs, std::nullopt, {}};
    for (int k = 1; k <= kChannels; ++k)
      interval.readings.push_back({k, Unit::Celsius, Temperature(k, i), ""});
    hour.push_back(std::move(interval));
    if (hour.size() == 360 || i + 1 == total) {
      AddCounts counts;
      if (!archive.AddIntervals(logger, Source::Station, hour, counts, error)) return false;
      hour.clear();
    }
  }
  return true;
}

// The database `name` on VELUTRON_BENCH_POSTGRESQL's server, made if missing: its URL, or empty with
// `error` saying why.
inline std::string PostgresDatabase(const std::string& name, std::string& error) {
  const char* server = std::getenv("VELUTRON_BENCH_POSTGRESQL");
  if (server == nullptr) {
    error = "VELUTRON_BENCH_POSTGRESQL is not set";
    return {};
  }
  auto admin = archive::OpenPostgres(server, error);
  if (!admin) return {};
  bool exists = false;
  admin->Exec(
      "SELECT 1 FROM pg_database WHERE datname = $1", std::vector<archive::SqlValue>{name},
      [&exists](const archive::SqlRow&) { exists = true; }, error);
  if (!exists && !admin->Exec("CREATE DATABASE " + name, error)) return {};
  return std::string(server) + (std::string(server).find('?') == std::string::npos ? "?" : "&") +
         "dbname=" + name;
}

// A year (or VELUTRON_BENCH_DAYS) of ten channels every 10 s, written once by SQL into the archive's
// own tables and kept for later runs: through the interface it would take minutes. `engine` is "sqlite"
// (a file in the temporary folder) or "postgresql" (a database on VELUTRON_BENCH_POSTGRESQL's server).
inline std::string YearArchive(const std::string& engine, std::string& error) {
  using namespace archive;
  const int days = Days();
  const int64_t n = int64_t{days} * 8640;
  std::string location;
  std::unique_ptr<Database> db;
  if (engine == "sqlite") {
    location = (std::filesystem::temp_directory_path() / ("velutron-bench-" + std::to_string(days) + "d.db"))
                   .string();
  } else {
    location = PostgresDatabase("velutron_bench_" + std::to_string(days) + "d", error);
    if (location.empty()) return {};
  }
  auto archive = OpenPeriodArchive(location, error);
  if (!archive) return {};
  const auto logger = archive->Logger({"bench", "Northfield", "SN 1"}, error);
  if (!logger) return {};
  int64_t have = 0;
  {
    // The archive's first reading, through its own interface, makes each series.
    Interval first{kStart, std::nullopt, {}};
    for (int k = 1; k <= kChannels; ++k) first.readings.push_back({k, Unit::Celsius, -18.0, ""});
    if (!archive->AddInterval(*logger, Source::Station, first, error)) return {};
  }
  db = engine == "sqlite" ? OpenSqlite(location, error) : OpenPostgres(location, error);
  if (!db || !db->Exec(
                 "SELECT count(*) FROM readings", {}, [&have](const SqlRow& r) { have = r.Int(0); }, error))
    return {};
  if (have >= n * kChannels) return location;
  // A daily triangle of ±0.75 °C around -18 °C plus a channel's offset and a little noise, in sixteenths,
  // stored as twice the steps (source 0).
  const std::string sql =
      "INSERT INTO readings(series, t, v) SELECT s.id, $1 + i.n * 10, 2 * (-288 + 8 * s.channel + "
      "abs((i.n % 8640) - 4320) / 180 + (i.n * 7919 + s.channel) % 11) FROM series s, " +
      std::string(engine == "sqlite" ? "(WITH RECURSIVE k(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM k "
                                       "WHERE n < $2) SELECT n FROM k) i"
                                     : "generate_series(1, $2::bigint) AS i(n)") +
      " WHERE s.logger = $3 ORDER BY s.id, i.n ON CONFLICT (series, t) DO NOTHING";
  if (!db->Begin(error) || !db->Exec(sql, std::vector<SqlValue>{kStart / 1000, n - 1, *logger}, {}, error) ||
      !db->Commit(error))
    return {};
  if (engine != "sqlite") db->Exec("VACUUM ANALYZE readings", error);
  return location;
}

// The year opened twice, through the archive and as plain SQL, with its logger's key; `key` is empty
// (and `error` says why) when anything could not be had.
struct OpenYear {
  std::unique_ptr<archive::PeriodArchive> archive;
  std::unique_ptr<archive::Database> db;
  std::optional<int64_t> key;

  OpenYear(const std::string& engine, std::string& error) {
    const std::string location = YearArchive(engine, error);
    if (location.empty()) return;
    archive = archive::OpenPeriodArchive(location, error);
    db = engine == "sqlite" ? archive::OpenSqlite(location, error) : archive::OpenPostgres(location, error);
    if (archive && db) key = archive->FindLogger("bench", error);
  }
};

}  // namespace velutron::bench
