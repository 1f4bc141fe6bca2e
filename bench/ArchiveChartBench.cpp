// The chart of a period of the archive: a year of ten channels every 10 s read from SQLite and reduced
// to the picture's pixel columns (what `archive chart` does before velutron-draw), then drawn as a PNG,
// and the period report's PDF of the same year.
//   velutron_archive_chart_bench
// VELUTRON_BENCH_DAYS shortens the year; the archive is kept in the temporary folder between runs.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "archive/Archive.h"
#include "archive/PeriodReport.h"
#include "archive/ReportPdf.h"
#include "data/Chart.h"
#include "platform/TableLocale.h"

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

double Temperature(int channel, int64_t i) {
  const double day = static_cast<double>(i % 8640) / 8640.0;
  const double value =
      -18.0 + channel * 0.5 + 1.5 * std::sin(2 * M_PI * day) + ((i * 7919 + channel) % 11) * 0.0625;
  return std::round(value * 16) / 16;
}

// The archive of `days`, filled once and kept: filling a year takes far longer than reading it.
std::unique_ptr<PeriodArchive> Year(int days, LoggerEntry& logger, std::string& error) {
  const auto file =
      std::filesystem::temp_directory_path() / ("velutron-bench-chart-" + std::to_string(days) + ".db");
  const bool fresh = !std::filesystem::exists(file);
  auto archive = OpenPeriodArchive(file.string(), error);
  if (!archive) return nullptr;
  const auto key = archive->Logger({"bench", "Northfield", "SN 1"}, error);
  if (!key) return nullptr;
  logger = {*key, {"bench", "Northfield", "SN 1"}};
  if (!fresh) return archive;
  const int64_t total = int64_t{days} * 8640;
  std::vector<Interval> hour;
  for (int64_t i = 0; i < total; ++i) {
    Interval interval{kStart + i * kStepMs, std::nullopt, {}};
    for (int k = 1; k <= kChannels; ++k)
      interval.readings.push_back({k, Unit::Celsius, Temperature(k, i), ""});
    hour.push_back(std::move(interval));
    if (hour.size() == 360 || i + 1 == total) {
      AddCounts counts;
      if (!archive->AddIntervals(*key, Source::Station, hour, counts, error)) return nullptr;
      hour.clear();
    }
  }
  return archive;
}

void BM_ArchiveChartOfAYear(benchmark::State& state) {
  const int days = Days();
  std::string error;
  LoggerEntry logger;
  auto archive = Year(days, logger, error);
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  if (!archive || !zone) {
    state.SkipWithError(error.c_str());
    return;
  }
  const TableLocale locale("pl_PL");
  const StatsOptions options{kStart, kStart + int64_t{days} * 86'400'000, {}, {}, 83.144, {}};
  size_t bytes = 0;
  for (auto _ : state) {
    PeriodResult result;
    if (!ComputePeriod(*archive, logger, *zone, options, 1200, false, result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    const ChartData chart = *ReadChartData(WriteChartData(result.chart));
    bytes = DrawPicture(chart, WholeChart(chart), QSize(1200, 700), PictureFormat::Png, locale).size();
  }
  state.counters["readings"] = static_cast<double>(days) * 8640 * kChannels;
  state.counters["png_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ArchiveChartOfAYear)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ArchiveReportPdfOfAYear(benchmark::State& state) {
  const int days = Days();
  std::string error;
  LoggerEntry logger;
  auto archive = Year(days, logger, error);
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  if (!archive || !zone) {
    state.SkipWithError(error.c_str());
    return;
  }
  const TableLocale locale("pl_PL");
  const StatsOptions options{kStart, kStart + int64_t{days} * 86'400'000, {}, {}, 83.144, {}};
  size_t bytes = 0;
  for (auto _ : state) {
    PeriodResult result;
    if (!ComputePeriod(*archive, logger, *zone, options, 1600, true, result, error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    const ReportDocument document =
        MakeReportDocument({logger.id, options.from_ms, options.to_ms, 0, "bench"}, *zone, result.stats,
                           result.chart, result.days);
    bytes = ReportPdf(*ReadReportDocument(WriteReportDocument(document)), locale).size();
  }
  state.counters["pdf_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ArchiveReportPdfOfAYear)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace velutron

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
