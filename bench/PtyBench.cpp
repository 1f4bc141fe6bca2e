// The monitoring refresh and the memory images against velutron-sim over a pseudo-terminal, on real
// time, each compared with the least time its exchanges can take on the line:
//   exchanges x (3 ms gaps + line time of their bytes at 57 600 baud, 11 bits a byte)
//   + the prescribed pauses + the simulator's 0.5 ms answer latency.
// Counters: ms (wall time per run), ratio (wall time / that minimum), cpu_ms (user + system time of
// this process per run: the program's own work, since every wait blocks).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>

#include "monitor/MemoryImage.h"
#include "monitor/Monitoring.h"
#include "platform/SystemSerialPort.h"
#include "session/Session.h"
#include "support/ScriptedUi.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

constexpr double kByteMs = 11.0 / 57.6;  // line time of one byte
constexpr double kLatencyMs = 0.5;
constexpr double kReadMs = 3 + 3 * kByteMs + kLatencyMs;       // 2 bytes out, 1 back
constexpr double kWriteMs = 2 * 3 + 4 * kByteMs + kLatencyMs;  // 3 bytes out, 1 back
constexpr double kLeadInMs = kByteMs + 1;

double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

// A session on velutron-sim's pseudo-terminal with the system clock.
struct PtySession {
  explicit PtySession(std::vector<std::string> simArgs) : sim(std::move(simArgs)) {
    s.workDir = dir.path();
    s.settings.ServiceAccess = true;
    if (!sim.Ready() || !s.link.OpenPort(sim.PortPath(), Parity::Even)) std::abort();
  }
  test::SimProcess sim;
  std::unique_ptr<SerialPort> port = MakeSystemSerialPort();
  SystemClock clock;
  test::ScriptedUi ui;
  FixedLocale locale{","};
  test::TempDir dir;
  Session s{*port, clock, ui, locale};
};

// Runs `operation` once per iteration and reports it against `minimumMs`.
template <typename Operation>
void Measure(benchmark::State& state, double minimumMs, Operation operation) {
  double wallMs = 0;
  double cpuMs = 0;
  for (auto _ : state) {
    const double cpu0 = CpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    operation();
    wallMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    cpuMs += CpuMs() - cpu0;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["ms"] = wallMs / n;
  state.counters["min_ms"] = minimumMs;
  state.counters["ratio"] = wallMs / n / minimumMs;
  state.counters["cpu_ms"] = cpuMs / n;
}

void BM_MonitorRefresh10Channels(benchmark::State& state) {
  PtySession p({"--sensors", "10"});
  p.s.monitor.ChannelCount = 10;
  p.s.link.Test_COM_OK();
  MonitorView view;
  // 3 clock reads (6 during minute 00), 20 reading bytes, the bus state.
  Measure(state, 24 * kReadMs, [&] {
    if (!Timer1Timer(p.s, view)) state.SkipWithError("the refresh closed the window");
  });
}

void BM_ImageSave(benchmark::State& state) {
  PtySession p({});
  // Probe and recording check, the lead-in, 512 reads.
  Measure(state, 2 * kReadMs + kLeadInMs + 512 * kReadMs, [&] {
    p.ui.inputs.push_back("bench");
    if (Zapisobrazurej1Click(p.s) != Outcome::Completed) state.SkipWithError("save failed");
  });
}

void BM_ImageRestore(benchmark::State& state) {
  PtySession p({});
  p.ui.inputs.push_back("bench");
  if (Zapisobrazurej1Click(p.s) != Outcome::Completed) std::abort();
  // Probe and recording check, the lead-in, 511 writes each followed by 5 ms.
  Measure(state, 2 * kReadMs + kLeadInMs + 511 * (kWriteMs + 5), [&] {
    p.ui.files.push_back((p.s.workDir / "bench.eep").string());
    if (Wczytanieobrazurej1Click(p.s) != Outcome::Completed) state.SkipWithError("restore failed");
  });
}

BENCHMARK(BM_MonitorRefresh10Channels)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImageSave)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImageRestore)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace velutron
