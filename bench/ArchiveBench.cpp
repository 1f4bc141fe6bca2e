// The archive: bytes on disk per reading (with the summaries), and the period report (by its JSON and
// its PDF route) and chart over a year of ten channels every 10 s on both engines, beside the same
// aggregate written by hand in SQL, what checking the readings against the hourly summaries costs the
// report, and the gaps `archive list` finds over the year.
//   velutron_archive_bench --benchmark_filter=Bytes
// VELUTRON_BENCH_POSTGRESQL names a PostgreSQL server (as the tests' VELUTRON_TEST_POSTGRESQL) for the
// server's half; VELUTRON_BENCH_DAYS shortens the year.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "ArchiveYear.h"
#include "archive/Archive.h"
#include "archive/Database.h"
#include "archive/Import.h"
#include "archive/PeriodReport.h"
#include "archive/SpacingGaps.h"
#include "archive/Statistics.h"
#include "archive/Summary.h"
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
      // With the summaries the station builds and keeps.
      PeriodSummaries summaries;
      const auto logger = archive->FindLogger("bench", error);
      if (!archive->Summaries(*logger, BlockOf(kStart / 1000), BlockOf(kStart / 1000) + 24 * days, summaries,
                              error)) {
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

// The report's work exactly as `archive report` does it, by its two routes over the year: --json (the
// statistics and their lines) and --pdf (the same with the chart and the days in the same pass, and
// the document handed to velutron-draw, whose drawing is velutron_archive_chart_bench's to time).
bool Report(PeriodArchive& archive, const LoggerEntry& logger, const TimeZone& zone, bool pdf,
            PeriodResult& result, std::string& error) {
  const int64_t to = kStart + int64_t{Days()} * 86'400'000;
  const StatsOptions options{kStart, to, std::nullopt, -8.0, 83.144, {}, {}, {}};
  if (!ComputePeriod(archive, logger, zone, options, pdf ? 1600 : 0, true, result, error)) return false;
  std::string out;
  for (const ChannelStats& s : result.stats) out += StatsJson(s, logger.id.name, options, zone) + "\n";
  if (pdf)
    out += WriteReportDocument(MakeReportDocument({logger.id, kStart, to, 0, "bench"}, zone, result.stats,
                                                  result.chart, result.days));
  benchmark::DoNotOptimize(out.data());
  return true;
}

// The same figures an engine can give by itself (count, min, max, mean, and on PostgreSQL the sample
// deviation, per channel), written by hand in SQL: what the report is compared with.
std::string HandAggregate(const std::string& engine) {
  const std::string half = engine == "sqlite" ? "(r.v >> 1)" : "(r.v / 2)";
  return "SELECT s.channel, count(*), min(" + half + ") / 16.0, max(" + half + ") / 16.0, avg(" + half +
         " / 16.0)" + (engine == "sqlite" ? std::string() : ", stddev_samp(" + half + " / 16.0)") +
         " FROM series s JOIN readings r ON r.series = s.id WHERE r.v < 2000000 GROUP BY s.channel";
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_ArchiveReportYear(benchmark::State& state, const std::string& engine) {
  std::string error;
  const bench::OpenYear year(engine, error);
  auto& archive = year.archive;
  const auto& key = year.key;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  if (!key || !zone) {
    state.SkipWithError(error.c_str());
    return;
  }
  const LoggerEntry logger{*key, {"bench", "Northfield", "SN 1"}};
  PeriodResult result;
  double json_s = 0, pdf_s = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!Report(*archive, logger, *zone, false, result, error)) break;
    json_s = Seconds(start);
    start = std::chrono::steady_clock::now();
    if (!Report(*archive, logger, *zone, true, result, error)) break;
    pdf_s = Seconds(start);
  }
  if (!error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  size_t readings = 0;
  for (const ChannelStats& s : result.stats) readings += s.readings;
  state.counters["readings"] = static_cast<double>(readings);
  // The hand-written aggregate in the same run, and how many times longer it takes than the report.
  const auto start = std::chrono::steady_clock::now();
  if (!year.db->Exec(HandAggregate(engine), {}, {}, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  const double hand_s = Seconds(start);
  state.counters["json_s"] = json_s;
  state.counters["pdf_s"] = pdf_s;
  state.counters["pdf_over_json"] = pdf_s / json_s;
  state.counters["hand_aggregate_s"] = hand_s;
  state.counters["hand_over_report"] = hand_s / json_s;
}
BENCHMARK_CAPTURE(BM_ArchiveReportYear, sqlite, std::string("sqlite"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_ArchiveReportYear, postgresql, std::string("postgresql"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The report over a year without any summary (report_unsummarized_s), what summarizing one finished
// hour costs the station (hour_build_ms), and the report once every hour is summarized and so checked
// (report_summarized_s): the check's cost is the difference.
void BM_ArchiveReportCheckYear(benchmark::State& state, const std::string& engine) {
  std::string error;
  const bench::OpenYear year(engine, error);
  auto& archive = year.archive;
  auto& db = year.db;
  const auto& key = year.key;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  if (!key || !zone) {
    state.SkipWithError(error.c_str());
    return;
  }
  const LoggerEntry logger{*key, {"bench", "Northfield", "SN 1"}};
  const int64_t first = BlockOf(kStart / 1000), end = first + 24 * int64_t{Days()};
  PeriodResult result;
  double unsummarized_s = 0, hour_s = 0, report_s = 0;
  for (auto _ : state) {
    if (!db->Exec("DELETE FROM summaries", error)) break;
    auto start = std::chrono::steady_clock::now();
    if (!Report(*archive, logger, *zone, false, result, error)) break;
    unsummarized_s = Seconds(start);
    start = std::chrono::steady_clock::now();
    PeriodSummaries summaries;
    for (int64_t b = first; b < end; ++b) {
      if (!archive->BeginBatch(error) || !archive->Summaries(*key, b, b + 1, summaries, error) ||
          !archive->EndBatch(error))
        break;
    }
    hour_s = Seconds(start) / static_cast<double>(end - first);
    start = std::chrono::steady_clock::now();
    if (!Report(*archive, logger, *zone, false, result, error)) break;
    report_s = Seconds(start);
    for (const ChannelStats& s : result.stats) {
      if (!s.changed_ms.empty()) error = "an hour of the year was named changed";
    }
  }
  if (!error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  state.counters["report_unsummarized_s"] = unsummarized_s;
  state.counters["hour_build_ms"] = hour_s * 1000;
  state.counters["report_summarized_s"] = report_s;
}
BENCHMARK_CAPTURE(BM_ArchiveReportCheckYear, sqlite, std::string("sqlite"))
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_ArchiveReportCheckYear, postgresql, std::string("postgresql"))
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// The year's chart alone (what `archive chart` reads before drawing).
void BM_ArchiveChartYear(benchmark::State& state, const std::string& engine) {
  std::string error;
  const bench::OpenYear year(engine, error);
  auto& archive = year.archive;
  const auto& key = year.key;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  if (!key || !zone) {
    state.SkipWithError(error.c_str());
    return;
  }
  const LoggerEntry logger{*key, {"bench", "Northfield", "SN 1"}};
  const int64_t to = kStart + int64_t{Days()} * 86'400'000;
  PeriodResult result;
  for (auto _ : state) {
    if (!ComputePeriod(*archive, logger, *zone, {kStart, to, {}, {}, 83.144, {}, {}, {}}, 1200, false, result,
                       error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  size_t points = 0;
  for (const ChartLine& line : result.chart.lines) points += line.points.size();
  state.counters["chart_points"] = static_cast<double>(points);
}
BENCHMARK_CAPTURE(BM_ArchiveChartYear, sqlite, std::string("sqlite"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_ArchiveChartYear, postgresql, std::string("postgresql"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The gaps `archive list` shows beside the recorded ones, over the year: from every record time, and
// from the hourly time summaries. The first run from the summaries (first_s) builds them, as the first
// list after an import does.
void BM_ArchiveListGapsYear(benchmark::State& state, const std::string& engine) {
  std::string error;
  const bench::OpenYear year(engine, error);
  auto& archive = year.archive;
  auto& db = year.db;
  const auto& key = year.key;
  // The time summaries are kept under the logger's negated key.
  if (!key || !db->Exec("DELETE FROM summaries WHERE series < 0", error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  const int64_t logger = *key;
  int64_t first = 0, last = 0;
  bool any = false;
  std::vector<SpacingGap> summarized;
  auto start = std::chrono::steady_clock::now();
  if (!archive->Span(logger, first, last, any, error) ||
      !SpacingGapsOf(*archive, logger, first, last, summarized, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  state.counters["first_s"] = Seconds(start);
  double every_s = 0, summaries_s = 0;
  std::vector<int64_t> times;
  for (auto _ : state) {
    start = std::chrono::steady_clock::now();
    if (!archive->Times(logger, first, last + 1000, times, error)) break;
    const std::vector<SpacingGap> everyTime = SpacingGaps(times);
    every_s = Seconds(start);
    start = std::chrono::steady_clock::now();
    if (!SpacingGapsOf(*archive, logger, first, last, summarized, error)) break;
    summaries_s = Seconds(start);
    if (summarized != everyTime) error = "the gaps from the summaries differ";
    if (!error.empty()) break;
  }
  if (!error.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  state.counters["records"] = static_cast<double>(times.size());
  state.counters["gaps"] = static_cast<double>(summarized.size());
  state.counters["every_time_s"] = every_s;
  state.counters["summaries_s"] = summaries_s;
}
BENCHMARK_CAPTURE(BM_ArchiveListGapsYear, sqlite, std::string("sqlite"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_ArchiveListGapsYear, postgresql, std::string("postgresql"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

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

// Imports `db` as `archive import` does; false, the benchmark skipped with the reason, when it fails.
bool Import(benchmark::State& state, PeriodArchive& archive, const DatabaseContents& db, const TimeZone& zone,
            ImportResult& result) {
  std::string error;
  if (ImportDatabase(archive, db, "", zone, result, error)) return true;
  state.SkipWithError(error.c_str());
  return false;
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
    if (!Import(state, *archive, db, *zone, result)) return;
    added = result.counts.added;
  }
  state.counters["readings"] = static_cast<double>(added);
}
BENCHMARK(BM_ImportLargestDatabase)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// The same into a PostgreSQL server's database (VELUTRON_BENCH_POSTGRESQL), emptied before each import.
void BM_ImportLargestDatabasePostgres(benchmark::State& state) {
  std::string error;
  const std::string location = bench::PostgresDatabase("velutron_bench_import", error);
  if (location.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  const DatabaseContents db = DecodeDatabase(LargestFile(static_cast<int>(state.range(0))));
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  auto archive = OpenPeriodArchive(location, error);
  auto tables = OpenPostgres(location, error);
  size_t added = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // A new logger key each time, so that nothing the archive keeps of the last one applies.
    tables->Exec(
        "TRUNCATE loggers, series, readings, conflicts, channels, clock_offsets, time_marks,"
        " summaries",
        error);
    state.ResumeTiming();
    ImportResult result;
    if (!Import(state, *archive, db, *zone, result)) return;
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
    if (!Import(state, *OpenPeriodArchive(file.string(), error), db, *zone, result)) return;
    // Opened again, as by the next velutron-cli: the first import's log already folded into the file.
    auto archive = OpenPeriodArchive(file.string(), error);
    state.ResumeTiming();
    if (!Import(state, *archive, db, *zone, result)) return;
    present = result.counts.present;
  }
  state.counters["present"] = static_cast<double>(present);
}
BENCHMARK(BM_ImportLargestDatabaseAgain)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velutron
