// The archive: bytes on disk per reading, and the period report over a year of ten channels every 10 s
// on both engines, beside the same aggregate written by hand in SQL.
//   velutron_archive_bench --benchmark_filter=Bytes
// VELUTRON_BENCH_POSTGRESQL names a PostgreSQL server (as the tests' VELUTRON_TEST_POSTGRESQL) for the
// server's half; VELUTRON_BENCH_DAYS shortens the year.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "archive/Archive.h"
#include "archive/Database.h"

namespace velutron {
namespace {

using namespace archive;

constexpr int64_t kStart = 1'735'689'600'000;  // 2025-01-01T00:00:00Z
constexpr int kChannels = 10;
constexpr int64_t kStepMs = 10'000;

int Days() {
  const char* days = std::getenv("VELUTRON_BENCH_DAYS");
  return days != nullptr ? std::atoi(days) : 365;
}

// A cold store's day: a slow daily curve, a defrost bump and a little noise, at 1/16 °C.
double Temperature(int channel, int64_t i) {
  const double day = static_cast<double>(i % 8640) / 8640.0;
  const double value =
      -18.0 + channel * 0.5 + 1.5 * std::sin(2 * M_PI * day) + ((i * 7919 + channel) % 11) * 0.0625;
  return std::round(value * 16) / 16;
}

// Fills `archive` with `days` of ten channels every 10 s through the archive's own interface, an hour a
// transaction.
bool Fill(PeriodArchive& archive, int days, std::string& error) {
  const auto logger = archive.Logger({"bench", "Northfield", "SN 1"}, error);
  if (!logger) return false;
  const int64_t total = int64_t{days} * 8640;
  std::vector<Interval> hour;
  for (int64_t i = 0; i < total; ++i) {
    Interval interval{kStart + i * kStepMs, std::nullopt, {}};
    for (int k = 1; k <= kChannels; ++k)
      interval.readings.push_back({k, Unit::Celsius, Temperature(k, i), ""});
    hour.push_back(std::move(interval));
    if (hour.size() == 360 || i + 1 == total) {
      AddCounts counts;
      if (!archive.AddIntervals(*logger, Source::Station, hour, counts, error)) return false;
      hour.clear();
    }
  }
  return true;
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

}  // namespace
}  // namespace velutron
