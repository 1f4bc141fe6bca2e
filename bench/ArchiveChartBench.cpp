// The chart of a period of the archive: a year of ten channels every 10 s read from SQLite and reduced
// to the picture's pixel columns (what `archive chart` does before velutron-draw), then drawn as a PNG,
// and the period report's PDF of the same year.
//   velutron_archive_chart_bench
// VELUTRON_BENCH_DAYS shortens the year; the archive is kept in the temporary folder between runs.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <filesystem>

#include "ArchiveYear.h"
#include "archive/Archive.h"
#include "archive/PeriodReport.h"
#include "archive/ReportPdf.h"
#include "archive/Summary.h"
#include "gui/Chart.h"
#include "platform/TableLocale.h"

namespace velutron {
namespace {

using namespace archive;

using bench::Days;
using bench::kChannels;
using bench::kStart;

// The archive of `days`, written once by SQL and kept (bench::YearArchive), with its hours summarized as
// the station leaves them, so that the report checks them.
std::unique_ptr<PeriodArchive> Year(int days, LoggerEntry& logger, std::string& error) {
  const std::string location = bench::YearArchive("sqlite", error);
  auto archive = location.empty() ? nullptr : OpenPeriodArchive(location, error);
  const auto key = archive ? archive->FindLogger("bench", error) : std::nullopt;
  if (!key) return nullptr;
  logger = {*key, {"bench", "Northfield", "SN 1"}};
  PeriodSummaries summaries;
  const int64_t first = BlockOf(kStart / 1000);
  if (!archive->Summaries(*key, first, first + 24 * int64_t{days}, summaries, error)) return nullptr;
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
  const StatsOptions options{kStart, kStart + int64_t{days} * 86'400'000, {}, {}, 83.144, {}, {}, {}};
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
  const StatsOptions options{kStart, kStart + int64_t{days} * 86'400'000, {}, {}, 83.144, {}, {}, {}};
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
