// One watcher on the in-process simulated logger, on virtual time.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "StationSupport.h"
#include "platform/PosixSerialPort.h"
#include "sim/Calendar.h"
#include "sim/SimPort.h"
#include "station/Watcher.h"
#include "support/SimProcess.h"

namespace velutron::test {
namespace {

using namespace velutron::station;

constexpr int64_t kBaseMs = 1'796'083'200'000;  // 2026-12-01 00:00:00 UTC

struct Bench {
  Bench() {
    bench.ports["COM1"] = {&device, false};
    device.SetClock(sim::FromSeconds(kBaseMs / 1000), 0);
    device.pinnedReadings = {{3, 1520}};  // 40 °C, above the band -5..25
    setup.name = "Chłodnia A";
    setup.port = "COM1";
    setup.alarms = {60,
                    0.5,
                    30,
                    120,
                    300,
                    {"/bin/sh", "-c",
                     "cat >> '" + (dir.path() / "notes").string() +
                         "'; echo \"$VELUTRON_EVENT $VELUTRON_CHANNEL $VELUTRON_VALUE\" >> '" +
                         (dir.path() / "notes").string() + "'"},
                    5};
  }
  // Runs the watcher until `until_s`, with `hook` before each interval's reading (seconds since the start).
  void Run(int until_s, const std::function<void(Watcher&, int)>& hook) {
    std::string error;
    auto archive = archive::OpenArchive(path, error);
    ASSERT_TRUE(archive) << error;
    ArchiveWriter writer(std::move(archive), log);
    Notifier notifier(log);
    WatcherEnv env{port, clock, [this] { return kBaseMs + static_cast<int64_t>(clock.NowUs() / 1000); },
                   [](int64_t s) { return s; }, false};
    Watcher w(setup, env, writer, &notifier, log);
    w.runUntilUtcMs = kBaseMs + until_s * 1000LL;
    w.beforeInterval = [&](int64_t t) { hook(w, static_cast<int>((t - kBaseMs) / 1000)); };
    w.Run();
    notifier.Drain();
  }
  std::string Notes() const {
    std::ifstream in(dir.path() / "notes");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  FastTempDir dir;
  std::string path = (dir.path() / "a.db").string();
  Log log{LogLevel::Error};
  sim::VirtualClock clock;
  sim::Device device;
  sim::SimBench bench;
  sim::SimSerialPort port{clock, bench};
  WatcherSetup setup;
};

TEST(WatcherTest, AChannelAboveItsBandIsNotifiedAtStartRepeatAckAndClearWithTheEventAsJson) {
  Bench b;
  const auto params = b.device.params;
  const auto names = b.device.names;
  b.Run(900, [&](Watcher& w, int t) {
    if (t == 420) w.Ack(3, std::nullopt);
    if (t == 600) b.device.pinnedReadings = {{3, 1200}};  // 20 °C
  });
  const std::string head =
      R"({"logger":"Chłodnia A","serial":"VT-2009-000417","channel":3,"point":"Chiller","unit":"°C",)";
  const auto line = [&](const char* event, const char* rest) {
    std::string json = R"({"event":")" + std::string(event) + R"(","kind":"high",)" + head.substr(1) + rest;
    return json + "\n";
  };
  EXPECT_EQ(
      b.Notes(),
      line("start",
           R"("value":40,"limit":25,"since":"2026-12-01T00:00:00Z","time":"2026-12-01T00:01:00Z"})") +
          "start 3 40\n" +
          line("repeat",
               R"("value":40,"limit":25,"since":"2026-12-01T00:00:00Z","time":"2026-12-01T00:06:00Z"})") +
          "repeat 3 40\n" +
          line("ack",
               R"("value":40,"limit":25,"since":"2026-12-01T00:00:00Z","time":"2026-12-01T00:07:00Z"})") +
          "ack 3 40\n" +
          line("clear",
               R"("value":20,"limit":25,"since":"2026-12-01T00:00:00Z","time":"2026-12-01T00:11:00Z"})") +
          "clear 3 20\n");
  // The station only reads: nothing of the logger changed.
  EXPECT_EQ(b.device.params, params);
  EXPECT_EQ(b.device.names, names);
}

TEST(WatcherTest, APauseGivesThePortUpAndIsAGapWithItsCause) {
  Bench b;
  b.device.pinnedReadings.clear();
  std::vector<std::string> seen;
  b.Run(300, [&](Watcher& w, int t) {
    if (t == 60) w.Pause(kBaseMs + 180'000);
    if (t == 100 || t == 200) seen.push_back(std::to_string(t) + (b.port.IsOpen() ? " open" : " free"));
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"100 free", "200 open"}));
  std::string error;
  auto period = archive::OpenPeriodArchive(b.path, error);
  ASSERT_TRUE(period) << error;
  std::vector<archive::Gap> gaps;
  ASSERT_TRUE(
      period->Gaps(*period->FindLogger("Chłodnia A", error), kBaseMs, kBaseMs + 300'000, gaps, error));
  ASSERT_EQ(gaps.size(), 1u);
  EXPECT_EQ(gaps[0].from_utc_ms - kBaseMs, 60'000);
  EXPECT_EQ(gaps[0].to_utc_ms - kBaseMs, 180'000);
  EXPECT_EQ(gaps[0].cause, archive::GapCause::Paused);
  EXPECT_EQ(b.Notes(), "");  // a pause asked for is no lost link
}

// A busy PC: a command whose bytes were held up too long is dropped by the logger; a thread woken an
// interval late missed its moment; a logger silent for three intervals is connected to again.
TEST(WatcherTest, ALostAnswerIsReadAgainALateStationIsToldFromASilentLoggerWhichAloneIsReconnected) {
  Bench b;
  b.device.pinnedReadings.clear();
  size_t sent = 0;
  size_t holdAfter = 0;
  b.port.afterSend = [&](size_t n) {
    sent = n;
    if (n == holdAfter) b.clock.AdvanceToUs(b.clock.NowUs() + 60'000);  // beyond the logger's 50 ms
  };
  b.Run(300, [&](Watcher&, int t) {
    if (t == 30 || t == 40) holdAfter = sent + 1;  // the next command's first byte
    if (t == 100) b.clock.AdvanceToUs(b.clock.NowUs() + 10'500'000);
    if (t == 200 || t == 230) b.device.faults.silent = t == 200;
  });
  std::string error;
  auto period = archive::OpenPeriodArchive(b.path, error);
  ASSERT_TRUE(period) << error;
  std::vector<archive::Gap> gaps;
  ASSERT_TRUE(
      period->Gaps(*period->FindLogger("Chłodnia A", error), kBaseMs, kBaseMs + 300'000, gaps, error));
  std::vector<std::string> seen;
  for (const archive::Gap& g : gaps) {
    seen.push_back(std::to_string((g.from_utc_ms - kBaseMs) / 1000) + "-" +
                   std::to_string((g.to_utc_ms - kBaseMs) / 1000) + " " +
                   std::to_string(static_cast<int>(g.cause)));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"100-110 4", "200-230 0"}));
  EXPECT_EQ(b.port.opens.size(), 2u);  // the start and the reconnection after the silence
}

// The stop comes while the start sequence (some 260 exchanges) runs: it ends at the next exchange.
TEST(WatcherTest, AStopInTheStartSequenceEndsItWithinOneAnswersTimeOut) {
  Bench b;
  Watcher* watcher = nullptr;
  std::optional<uint64_t> stoppedUs;
  b.port.afterSend = [&](size_t n) {
    if (n != 100 || watcher == nullptr) return;
    watcher->Stop();
    stoppedUs = b.clock.NowUs();
  };
  b.Run(60, [&](Watcher& w, int) { watcher = &w; });
  ASSERT_TRUE(stoppedUs);
  EXPECT_LE(b.clock.NowUs() - *stoppedUs, 260'000u);
}

// Real time on a pseudo-terminal: the simulator's end closing is an adapter pulled, a new simulator
// publishing the same link is the adapter back under its /dev/serial/by-id name.
TEST(WatcherTest, AnUnpluggedAdapterIsAGapAndALinkAlarmAndIsTakenBackWithTheGrowingDelay) {
  FastTempDir dir;
  const std::string portDir = (dir.path() / "by-id").string();
  std::filesystem::create_directories(portDir);
  auto sim = std::make_unique<SimProcess>(std::vector<std::string>{}, 1, portDir);
  ASSERT_TRUE(sim->Ready());
  const std::string path = (dir.path() / "a.db").string();
  Log log(LogLevel::Error);
  std::string error;
  ArchiveWriter writer(archive::OpenArchive(path, error), log);
  PosixSerialPort port;
  SystemClock clock;
  WatcherSetup setup;  // no name: the by-id link names it
  setup.port = sim->PortPath();
  setup.interval_s = 1;
  setup.alarms.delay_s = 1;
  setup.alarms.link_lost_s = 2;
  const auto utc = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  Watcher w(setup, {port, clock, utc, [](int64_t s) { return s; }, true}, writer, nullptr, log);
  int64_t first = 0;
  w.beforeInterval = [&](int64_t t) {
    if (first == 0) {
      first = t;
      w.runUntilUtcMs = t + 12'000;
    }
    // Opening attempts at 3, 5 and 9 s (1, 2 and 4 s apart): back at the third, not at once.
    if (t == first + 2000) sim->Stop();
    if (t == first + 6000) sim = std::make_unique<SimProcess>(std::vector<std::string>{}, 1, portDir);
  };
  w.Run();

  auto period = archive::OpenPeriodArchive(path, error);
  ASSERT_TRUE(period) << error;
  const int64_t key = *period->FindLogger(setup.port, error);
  std::vector<archive::Gap> gaps;
  ASSERT_TRUE(period->Gaps(key, first, first + 12'000, gaps, error)) << error;
  ASSERT_EQ(gaps.size(), 1u);
  EXPECT_EQ(gaps[0].from_utc_ms - first, 2000);
  EXPECT_EQ(gaps[0].to_utc_ms - first, 9000);
  EXPECT_EQ(gaps[0].cause, archive::GapCause::PortGone);
  std::vector<std::string> alarms;
  // The start and the clear name the same logger, the one that was lost.
  const std::string subject = R"("logger":")" + setup.port + R"(","serial":"VT-2009-000417")";
  for (const AlarmRow& a : AlarmRows(path, key)) {
    alarms.push_back(a.kind + " " + a.event + " " + std::to_string((a.utc_ms - first) / 1000));
    EXPECT_NE(a.json.find(subject), std::string::npos) << a.json;
  }
  EXPECT_EQ(alarms, (std::vector<std::string>{"link start 4", "link clear 10"}));
}

}  // namespace
}  // namespace velutron::test
