// Writing, reading and rendering the largest databases the logger's memory can hold.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

#include "data/DatabaseFile.h"
#include "data/Export.h"
#include "data/Report.h"
#include "platform/AtomicFile.h"
#include "session/Session.h"
#include "sim/SimPort.h"
#include "sim/VirtualClock.h"
#include "support/ScriptedUi.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

// A full memory: K channels (humidity pairs when `humidity`), readings that wander so every branch of
// the renderer is taken.
std::vector<uint8_t> FullDump(int channels, bool humidity) {
  const uint32_t n = dbfile::MaxRecords(channels);
  std::vector<uint8_t> dump{static_cast<uint8_t>(channels | (humidity ? dbfile::kHumidityFlag : 0)),
                            25,
                            0,
                            0,
                            static_cast<uint8_t>(n & 0xFF),
                            static_cast<uint8_t>(n >> 8)};
  for (uint32_t j = 0; j < n; ++j) {
    dump.insert(dump.end(), {0x05, 0x06, 0x09, static_cast<uint8_t>(j % 2 ? 0xD4 : 0x14), 0x05, 0x30});
    for (int k = 0; k < channels; ++k) {
      const auto raw = static_cast<uint16_t>(1200 + (j * 7 + static_cast<uint32_t>(k) * 13) % 400 -
                                             (k % 2 ? 20 + j % 60 : 0));
      dump.push_back(static_cast<uint8_t>(raw >> 8));
      dump.push_back(static_cast<uint8_t>(raw & 0xFF));
    }
  }
  dump.insert(dump.end(), dbfile::TextsSize(channels), ' ');
  return dump;
}

void Args(benchmark::internal::Benchmark* b) {
  b->Args({1, 0})->Args({10, 1})->Unit(benchmark::kMillisecond);
}

void BM_EncodeDatabase(benchmark::State& state) {
  const auto dump = FullDump(static_cast<int>(state.range(0)), state.range(1) != 0);
  std::vector<uint8_t> file;
  for (auto _ : state) {
    EncodeDatabase(dump, file);
    benchmark::DoNotOptimize(file.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_EncodeDatabase)->Apply(Args);

void BM_DecodeDatabase(benchmark::State& state) {
  std::vector<uint8_t> file;
  EncodeDatabase(FullDump(static_cast<int>(state.range(0)), state.range(1) != 0), file);
  for (auto _ : state) {
    auto db = DecodeDatabase(file);
    benchmark::DoNotOptimize(db.records.data());
  }
}
BENCHMARK(BM_DecodeDatabase)->Apply(Args);

void BM_RenderReport(benchmark::State& state) {
  std::vector<uint8_t> file;
  EncodeDatabase(FullDump(static_cast<int>(state.range(0)), state.range(1) != 0), file);
  const DatabaseContents db = DecodeDatabase(file);
  const FixedLocale locale(",");
  for (auto _ : state) {
    auto report = RenderReport(db, locale, CivilTime{2009, 6, 5, 14, 5, 30}, "full.DAT");
    benchmark::DoNotOptimize(report.data());
  }
}
BENCHMARK(BM_RenderReport)->Apply(Args);

// The whole command: read the file, check it, write "ViewData.CSV", read it back into the view.
void BM_ViewBufor(benchmark::State& state) {
  test::TempDir dir;
  sim::VirtualClock clock;
  sim::SimBench bench;
  sim::SimSerialPort port(clock, bench);
  test::ScriptedUi ui;  // answers Cancel to the spreadsheet question
  FixedLocale locale(",");
  Session s(port, clock, ui, locale);
  s.workDir = dir.path();
  std::vector<uint8_t> file;
  EncodeDatabase(FullDump(static_cast<int>(state.range(0)), state.range(1) != 0), file);
  WriteFileAtomically(dir.path() / "full.DAT", file);
  s.report.DatabaseFileName = "full.DAT";
  for (auto _ : state) {
    ui.events.clear();
    ui.progress.clear();
    if (ViewBufor(s) != Outcome::Completed) state.SkipWithError("rendering failed");
  }
  state.counters["report_bytes"] = static_cast<double>(ui.reportText.size());
}
BENCHMARK(BM_ViewBufor)->Apply(Args);

// The exports of the same database side by side: CSV text in memory, and the whole xlsx workbook on disk.
void BM_ExportCsv(benchmark::State& state) {
  std::vector<uint8_t> file;
  EncodeDatabase(FullDump(static_cast<int>(state.range(0)), state.range(1) != 0), file);
  const DatabaseContents db = DecodeDatabase(file);
  for (auto _ : state) {
    auto csv = ExportDatabase(db, ExportFormat::Csv, "full.DAT");
    benchmark::DoNotOptimize(csv.data());
  }
}
BENCHMARK(BM_ExportCsv)->Apply(Args);

void BM_ExportWorkbook(benchmark::State& state) {
  if (!WorkbookAvailable()) {
    state.SkipWithError("built without libxlsxwriter");
    return;
  }
  test::TempDir dir;
  std::vector<uint8_t> file;
  EncodeDatabase(FullDump(static_cast<int>(state.range(0)), state.range(1) != 0), file);
  const DatabaseContents db = DecodeDatabase(file);
  for (auto _ : state) {
    if (WriteWorkbook(dir.path() / "full.xlsx", DatabaseSheets(db, "full.DAT", "Europe/Warsaw")) !=
        WorkbookResult::Written) {
      state.SkipWithError("writing failed");
    }
  }
}
BENCHMARK(BM_ExportWorkbook)->Apply(Args);

}  // namespace
}  // namespace velutron
