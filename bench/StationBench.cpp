// The station's costs:
//  - BM_StationReadingOnPty: a watcher of ten channels on velutron-sim over a pseudo-terminal, one
//    reading a second on real time. wall_ms is one reading's exchanges (the station's own histogram),
//    ratio that against the line's least time (24 reads: 3 ms gaps + 3 bytes + 0.5 ms latency each);
//    cpu_ms_per_interval is this process's CPU per interval from the second interval on (after the
//    connection's start sequence), waits included, so CPU spent between readings would show there;
//    switches_per_interval its voluntary context switches, the waits for the wire and the clock.
//  - BM_StationPortGone: the same watcher after its simulator's end of the pseudo-terminal closed (a USB
//    adapter pulled): cpu_ms_per_interval is this process's CPU per interval while the port is gone.
//  - BM_ArchiveWritePerInterval: one interval of ten readings written (and synced) into a SQLite file.
//  - BM_HeapAfterSimulatedWeek: a week at 10 s of ten channels on the in-process logger, virtual time,
//    archive in /dev/shm; heap_mb is the live heap it leaves (watcher, archive writer, SQLite's cache),
//    bytes_per_reading the archive's files on disk afterwards per reading; heap_kb_day1 the heap's growth
//    over the first day, heap_kb_per_day_4_to_7 its growth per day over the last four (flat: 0).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/SystemSerialPort.h"
#include "sim/Calendar.h"
#include "sim/SimPort.h"
#include "station/Watcher.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

using namespace velutron::station;

constexpr double kByteMs = 11.0 / 57.6;
constexpr double kReadMs = 3 + 3 * kByteMs + 0.5;

// This process's voluntary context switches: each is a wait for the wire or the clock.
double Switches() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_nvcsw);
}

double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

int64_t UtcMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A watcher of velutron-sim's ten sensors over a pseudo-terminal, on real time, a reading a second, its
// archive in a temporary folder.
struct OnPty {
  std::unique_ptr<test::SimProcess> sim =
      std::make_unique<test::SimProcess>(std::vector<std::string>{"--sensors", "10"});
  test::TempDir dir;
  Log log{LogLevel::Error};
  std::string error;
  ArchiveWriter writer{archive::OpenArchive((dir.path() / "a.db").string(), error), log};
  std::unique_ptr<SerialPort> port = MakeSystemSerialPort();
  SystemClock clock;
  WatcherSetup setup;

  OnPty() {
    setup.port = sim->PortPath();
    setup.interval_s = 1;
  }
  // Runs `intervals` readings and `lead` more before them, from the next whole second; `before` is
  // called before each with its time.
  Watcher& Run(int lead, int intervals, std::function<void(int64_t first, int64_t t)> before) {
    watcher = std::make_unique<Watcher>(
        setup, WatcherEnv{*port, clock, UtcMs, [](int64_t s) { return s; }, true}, writer, nullptr, log);
    const int64_t first = (UtcMs() / 1000 + 1) * 1000;
    watcher->runUntilUtcMs = first + (lead + intervals) * 1000;
    watcher->beforeInterval = [before = std::move(before), first](int64_t t) { before(first, t); };
    watcher->Run();
    return *watcher;
  }
  std::unique_ptr<Watcher> watcher;
};

void BM_StationReadingOnPty(benchmark::State& state) {
  OnPty pty;
  constexpr int kIntervals = 20;
  for (auto _ : state) {
    double cpu0 = 0;
    double switches0 = 0;
    Watcher& w = pty.Run(1, kIntervals, [&](int64_t first, int64_t t) {
      if (t == first + 1000) {
        cpu0 = CpuMs();
        switches0 = Switches();
      }
    });
    const double cpu = CpuMs() - cpu0;
    state.counters["switches_per_interval"] = (Switches() - switches0) / kIntervals;
    const LoggerSnapshot s = w.Snapshot();
    state.counters["wall_ms"] = s.poll_sum_s * 1000 / static_cast<double>(s.poll_count);
    state.counters["min_ms"] = 24 * kReadMs;
    state.counters["ratio"] = s.poll_sum_s * 1000 / static_cast<double>(s.poll_count) / (24 * kReadMs);
    state.counters["cpu_ms_per_interval"] = cpu / kIntervals;
  }
}

void BM_StationPortGone(benchmark::State& state) {
  OnPty pty;
  constexpr int kIntervals = 15;
  for (auto _ : state) {
    double cpu0 = 0;
    pty.Run(3, kIntervals, [&](int64_t first, int64_t t) {
      if (t == first + 2000) pty.sim->Stop();
      if (t == first + 3000) cpu0 = CpuMs();
    });
    state.counters["cpu_ms_per_interval"] = (CpuMs() - cpu0) / kIntervals;
  }
}

void BM_ArchiveWritePerInterval(benchmark::State& state) {
  test::TempDir dir;
  Log log(LogLevel::Error);
  std::string error;
  ArchiveWriter writer(archive::OpenArchive((dir.path() / "a.db").string(), error), log);
  const archive::LoggerId id{"Chłodnia A", "Chłodnia A", "VT-2031"};
  int64_t t = 1'796'083'200'000;
  for (auto _ : state) {
    archive::Interval interval{t += 10'000, t / 1000, {}};
    for (int c = 1; c <= 10; ++c)
      interval.readings.push_back({c, archive::Unit::Celsius, 4.0 + c / 16.0, ""});
    writer.AddInterval(id, std::move(interval));
  }
}

void BM_HeapAfterSimulatedWeek(benchmark::State& state) {
  for (auto _ : state) {
    const size_t before = mallinfo2().uordblks;
    const std::filesystem::path dir = "/dev/shm/velutron-station-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    Log log(LogLevel::Error);
    std::string error;
    auto writer = std::make_unique<ArchiveWriter>(archive::OpenArchive((dir / "a.db").string(), error), log);
    sim::VirtualClock clock;
    sim::Device device;
    device.SetSensors(10, false);
    // A fridge at 8 °C: each reading then takes the bytes most sites' readings take (the generated
    // ones hover near 5 °C, where some take a byte less).
    for (int n = 1; n <= 10; ++n) device.pinnedReadings[n] = static_cast<uint16_t>((55 + 8) * 16 + n);
    device.keepHistory = false;
    sim::SimBench bench;
    bench.ports["COM1"] = {&device, false};
    sim::SimSerialPort port{clock, bench};
    port.keepHistory = false;
    constexpr int64_t kBase = 1'796'083'200'000;
    device.SetClock(sim::FromSeconds(kBase / 1000), 0);
    WatcherSetup setup;
    setup.port = "COM1";
    Watcher w(setup,
              {port, clock, [&] { return kBase + static_cast<int64_t>(clock.NowUs() / 1000); },
               [](int64_t s) { return s; }, false},
              *writer, nullptr, log);
    w.runUntilUtcMs = kBase + 7 * 86'400'000LL;
    // The heap at each midnight: SQLite's page cache fills to its bound within the first days, then none
    // of it grows.
    std::vector<double> midnights;
    w.beforeInterval = [&](int64_t tick) {
      if ((tick - kBase) % 86'400'000 == 0) midnights.push_back(static_cast<double>(mallinfo2().uordblks));
    };
    w.Run();
    state.counters["heap_mb"] = static_cast<double>(mallinfo2().uordblks - before) / (1 << 20);
    if (midnights.size() == 7) {
      state.counters["heap_kb_day1"] = (midnights[1] - midnights[0]) / 1024;
      state.counters["heap_kb_per_day_4_to_7"] =
          (static_cast<double>(mallinfo2().uordblks) - midnights[3]) / 4 / 1024;
    }
    const uint64_t readings = w.Snapshot().archive_readings_total;
    writer.reset();
    uintmax_t bytes = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) bytes += e.file_size();
    state.counters["bytes_per_reading"] = static_cast<double>(bytes) / static_cast<double>(readings);
    std::filesystem::remove_all(dir);
  }
}

BENCHMARK(BM_StationReadingOnPty)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StationPortGone)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ArchiveWritePerInterval)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_HeapAfterSimulatedWeek)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velutron
