// The archive: bytes on disk per reading, and the period report over a year of ten channels every 10 s
// on both engines, beside the same aggregate written by hand in SQL.
//   velutron_archive_bench --benchmark_filter=Bytes
// VELUTRON_BENCH_POSTGRESQL names a PostgreSQL server (as the tests' VELUTRON_TEST_POSTGRESQL) for the
// server's half; VELUTRON_BENCH_DAYS shortens the year.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "ArchiveYear.h"
#include "archive/Archive.h"
#include "archive/Database.h"
#include "archive/Import.h"
#include "archive/Statistics.h"
#include "data/DatabaseFile.h"

namespace velutron {
namespace {

using namespace archive;

using bench::Days;
using bench::kChannels;
using bench::kStart;

bool Fill(PeriodArchive& archive, int days, std::string& error) {
  const auto logger = archive.Logger({"bench", "Northfield", "SN 1"}, error);
  return logger && bench::Fill(archive, *logger, days, error);
}

void BM_ArchiveBytesPerReading(benchmark::State& state) {
  const auto days = static_cast<int>(state.range(0));
  const auto file = std::filesystem::temp_directory_path() / "velutron-bench-bytes.db";
  double bytes = 0;
  for (auto _ : state) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + suffix);
    std::string error;
    {
      auto archive = OpenPeriodArchive(file.string(), error);
      if (!archive || !Fill(*archive, days, error)) {
        state.SkipWithError(error.c_str());
        return;
      }
    }
    // The log folded into the file, as after any checkpoint.
    auto db = OpenSqlite(file.string(), error);
    db->Exec("PRAGMA wal_checkpoint(TRUNCATE)", error);
    bytes = static_cast<double>(std::filesystem::file_size(file));
  }
  const double readings = static_cast<double>(days) * 8640 * kChannels;
  state.counters["readings"] = readings;
  state.counters["bytes_per_reading"] = bytes / readings;
  state.counters["year_of_ten_channels_GB"] = bytes / readings * 365 * 8640 * kChannels / 1e9;
}
BENCHMARK(BM_ArchiveBytesPerReading)->Arg(7)->Arg(30)->Unit(benchmark::kSecond)->Iterations(1);

// A year (or VELUTRON_BENCH_DAYS) of ten channels every 10 s, written once by SQL into the archive's
// own tables and kept for later runs: through the interface it would take minutes.
std::string YearArchive(const std::string& engine, std::string& error) {
  const int days = Days();
  const int64_t n = int64_t{days} * 8640;
  std::string location;
  std::unique_ptr<Database> db;
  if (engine == "sqlite") {
    location = (std::filesystem::temp_directory_path() / ("velutron-bench-" + std::to_string(days) + "d.db"))
                   .string();
  } else {
    const char* server = std::getenv("VELUTRON_BENCH_POSTGRESQL");
    if (server == nullptr) {
      error = "VELUTRON_BENCH_POSTGRESQL is not set";
      return {};
    }
    const std::string name = "velutron_bench_" + std::to_string(days) + "d";
    auto admin = OpenPostgres(server, error);
    if (!admin) return {};
    bool exists = false;
    admin->Exec(
        "SELECT 1 FROM pg_database WHERE datname = $1", std::vector<SqlValue>{name},
        [&exists](const SqlRow&) { exists = true; }, error);
    if (!exists && !admin->Exec("CREATE DATABASE " + name, error)) return {};
    location = std::string(server) + (std::string(server).find('?') == std::string::npos ? "?" : "&") +
               "dbname=" + name;
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

// The report's work exactly as `archive report` does it: the logger's times, then every reading fed to
// the statistics.
void BM_ArchiveReportYear(benchmark::State& state, const std::string& engine) {
  std::string error;
  const std::string location = YearArchive(engine, error);
  if (location.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  auto archive = OpenPeriodArchive(location, error);
  const auto logger = archive->FindLogger("bench", error);
  const int64_t to = kStart + int64_t{Days()} * 86'400'000;
  size_t readings = 0;
  for (auto _ : state) {
    std::vector<int64_t> times;
    std::vector<ChannelEntry> channels;
    archive->Times(*logger, kStart, to, times, error);
    StatsBuilder builder(std::move(times), channels, {kStart, to, std::nullopt, -15.0, 83.144, {}});
    archive->Period(
        *logger, kStart, to, [&builder](const PeriodPoint& p) { builder.Add(p); }, error);
    const auto stats = builder.Finish();
    readings = 0;
    for (const ChannelStats& s : stats) readings += s.readings;
    benchmark::DoNotOptimize(stats.data());
  }
  state.counters["readings"] = static_cast<double>(readings);
}
BENCHMARK_CAPTURE(BM_ArchiveReportYear, sqlite, std::string("sqlite"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_ArchiveReportYear, postgresql, std::string("postgresql"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The same figures an engine can give by itself (count, min, max, mean per channel), written by hand
// in SQL: what the report is compared with.
void BM_HandAggregateYear(benchmark::State& state, const std::string& engine) {
  std::string error;
  const std::string location = YearArchive(engine, error);
  if (location.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  auto db = engine == "sqlite" ? OpenSqlite(location, error) : OpenPostgres(location, error);
  const std::string half = engine == "sqlite" ? "(r.v >> 1)" : "(r.v / 2)";
  const std::string sql = "SELECT s.channel, count(*), min(" + half + ") / 16.0, max(" + half +
                          ") / 16.0, avg(" + half +
                          " / 16.0), stddev_samp FROM series s JOIN readings r ON r.series = s.id "
                          "WHERE r.v < 2000000 GROUP BY s.channel";
  // SQLite has no sample deviation of its own; the hand-written query leaves it out there.
  const std::string query =
      engine == "sqlite" ? sql.substr(0, sql.find(", stddev_samp")) + sql.substr(sql.find(" FROM series"))
                         : sql.substr(0, sql.find("stddev_samp")) + "stddev_samp(" + half + " / 16.0)" +
                               sql.substr(sql.find(" FROM series"));
  for (auto _ : state) {
    int64_t rows = 0;
    if (!db->Exec(
            query, {}, [&rows](const SqlRow& r) { rows += r.Int(1); }, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    state.counters["readings"] = static_cast<double>(rows);
  }
}
BENCHMARK_CAPTURE(BM_HandAggregateYear, sqlite, std::string("sqlite"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_HandAggregateYear, postgresql, std::string("postgresql"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The largest database the logger's memory can hold, imported into a fresh archive file.
std::vector<uint8_t> LargestFile(int channels) {
  const uint32_t n = dbfile::MaxRecords(channels);
  std::vector<uint8_t> dump{static_cast<uint8_t>(channels), 0, 0, 0, static_cast<uint8_t>(n & 0xFF),
                            static_cast<uint8_t>(n >> 8)};
  for (uint32_t j = 0; j < n; ++j) {
    // One record every 10 minutes from 1 January 2026, in BCD.
    const uint32_t minutes = j * 10, day = minutes / 1440, hour = minutes / 60 % 24, minute = minutes % 60;
    auto bcd = [](uint32_t v) { return static_cast<uint8_t>(v / 10 * 16 + v % 10); };
    const uint32_t month = day / 28 + 1, dom = day % 28 + 1;
    dump.insert(dump.end(), {bcd(dom), bcd(month), 26, bcd(hour), bcd(minute), 0});
    for (int k = 0; k < channels; ++k) {
      const auto raw = static_cast<uint16_t>(1200 + (j * 7 + static_cast<uint32_t>(k) * 13) % 400);
      dump.push_back(static_cast<uint8_t>(raw >> 8));
      dump.push_back(static_cast<uint8_t>(raw & 0xFF));
    }
  }
  dump.insert(dump.end(), dbfile::TextsSize(channels), 'A');
  std::vector<uint8_t> file;
  EncodeDatabase(dump, file);
  return file;
}

void BM_ImportLargestDatabase(benchmark::State& state) {
  const DatabaseContents db = DecodeDatabase(LargestFile(static_cast<int>(state.range(0))));
  const auto file = std::filesystem::temp_directory_path() / "velutron-bench-import.db";
  std::string error;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  size_t added = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + suffix);
    auto archive = OpenPeriodArchive(file.string(), error);
    state.ResumeTiming();
    ImportResult result;
    if (!ImportDatabase(*archive, db, "", *zone, result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    added = result.counts.added;
  }
  state.counters["readings"] = static_cast<double>(added);
}
BENCHMARK(BM_ImportLargestDatabase)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// The same into a PostgreSQL server's database (VELUTRON_BENCH_POSTGRESQL), emptied before each import.
void BM_ImportLargestDatabasePostgres(benchmark::State& state) {
  const char* server = std::getenv("VELUTRON_BENCH_POSTGRESQL");
  if (server == nullptr) {
    state.SkipWithError("VELUTRON_BENCH_POSTGRESQL is not set");
    return;
  }
  const DatabaseContents db = DecodeDatabase(LargestFile(static_cast<int>(state.range(0))));
  std::string error;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  const std::string name = "velutron_bench_import";
  auto admin = OpenPostgres(server, error);
  bool exists = false;
  if (admin)
    admin->Exec(
        "SELECT 1 FROM pg_database WHERE datname = $1", std::vector<SqlValue>{name},
        [&exists](const SqlRow&) { exists = true; }, error);
  if (!admin || (!exists && !admin->Exec("CREATE DATABASE " + name, error))) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::string location = std::string(server) +
                               (std::string(server).find('?') == std::string::npos ? "?" : "&") +
                               "dbname=" + name;
  auto archive = OpenPeriodArchive(location, error);
  auto tables = OpenPostgres(location, error);
  size_t added = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // A new logger key each time, so that nothing the archive keeps of the last one applies.
    tables->Exec("TRUNCATE loggers, series, readings, conflicts, channels, clock_offsets, time_marks", error);
    state.ResumeTiming();
    ImportResult result;
    if (!ImportDatabase(*archive, db, "", *zone, result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    added = result.counts.added;
  }
  state.counters["readings"] = static_cast<double>(added);
}
BENCHMARK(BM_ImportLargestDatabasePostgres)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// The same file imported a second time: every reading is looked up and found already archived.
void BM_ImportLargestDatabaseAgain(benchmark::State& state) {
  const DatabaseContents db = DecodeDatabase(LargestFile(static_cast<int>(state.range(0))));
  const auto file = std::filesystem::temp_directory_path() / "velutron-bench-import-again.db";
  std::string error;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  size_t present = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + suffix);
    ImportResult result;
    if (!ImportDatabase(*OpenPeriodArchive(file.string(), error), db, "", *zone, result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    // Opened again, as by the next velutron-cli: the first import's log already folded into the file.
    auto archive = OpenPeriodArchive(file.string(), error);
    state.ResumeTiming();
    if (!ImportDatabase(*archive, db, "", *zone, result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    present = result.counts.present;
  }
  state.counters["present"] = static_cast<double>(present);
}
BENCHMARK(BM_ImportLargestDatabaseAgain)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velutron
