// Days of readings every second for two loggers on virtual time, with random faults: the archive, the
// gaps, the alarms and their notifications must come out exactly as the faults and the rules say.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "StationSupport.h"
#include "sim/Calendar.h"
#include "sim/LoggerMap.h"
#include "station/Watcher.h"
#include "support/SimSession.h"

namespace velutron::test {
namespace {

using namespace velutron::station;

constexpr int64_t kBaseMs = 1'796'083'200'000;  // 2026-12-01 00:00:00 UTC
constexpr int64_t kS = 1000;
constexpr int kDelay = 60, kLinkLost = 30, kRepeat = 600;

enum class Fault { Silence, Late, Wrong, Vanish, Bus, High, Low, Invalid, Drift, Rename, Limits };

struct Window {
  Fault fault;
  int64_t from;  // ms
  int64_t to;
  int channel = 1;
};

// Faults one after another with quiet time between, so each one's alarms are exactly predictable.
std::vector<Window> Schedule(uint32_t seed, int64_t end, int channels) {
  std::mt19937 random(seed);
  const auto pick = [&](int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(random);
  };
  std::vector<Window> windows;
  for (int64_t t = kBaseMs + 600 * kS; t < end - 3 * 3600 * kS;) {
    Window w{static_cast<Fault>(pick(0, 10)), t, t, static_cast<int>(pick(1, channels))};
    switch (w.fault) {
      case Fault::Wrong:
        w.to = t + pick(2, kLinkLost - 1) * kS;
        break;
      case Fault::Late:
        w.to = t + pick(60, 3600) * kS;
        break;
      case Fault::High:
      case Fault::Low:
      case Fault::Invalid:
        w.to = t + pick(kDelay + 1, 40 * 60) * kS;
        break;
      case Fault::Drift:
        w.to = t + pick(kDelay + 1, 7200) * kS;
        break;
      case Fault::Rename:
      case Fault::Limits:
        w.to = t + kS;
        break;
      default:
        w.to = t + pick(5, 900) * kS;
        break;
    }
    // A drifted clock over midnight keeps its stale date (read only at minute 00) a while; kept clear of it.
    if (w.fault == Fault::Drift && (t / kS) % 86400 > 86400 - 7800) w.fault = Fault::Late;
    windows.push_back(w);
    t = w.to + (kDelay + 120 + pick(0, 7200)) * kS;
  }
  return windows;
}

struct Logger {
  Logger(const std::string& name, int channels, uint32_t seed) : name(name) {
    device.SetSensors(channels, false);
    device.keepHistory = false;
    port.keepHistory = false;
    bench.ports["COM1"] = {&device, false};
    device.SetClock(sim::FromSeconds(kBaseMs / 1000), 0);
    setup.name = name;
    setup.port = "COM1";
    setup.interval_s = 1;
    setup.alarms = {kDelay, 0.5, kLinkLost, 120, kRepeat, {}, 5};
    this->seed = seed;
  }
  int64_t Utc() const { return kBaseMs + static_cast<int64_t>(clock.NowUs() / 1000); }

  // Switches the faults of the interval at `t` on or off.
  void Apply(int64_t t) {
    for (const Window& w : windows) {
      if (t != w.from && t != w.to) continue;
      const bool on = t == w.from;
      const uint16_t raw = w.fault == Fault::High ? 1520 : w.fault == Fault::Low ? 560 : 0;  // 40, -20 °C
      switch (w.fault) {
        case Fault::Silence:
          device.faults.silent = on;
          break;
        case Fault::Late:
          device.faults.answerDelayUs = on ? 2000 : 0;
          break;
        case Fault::Wrong:
          device.faults.wrongAnswer = on ? std::optional<uint8_t>(0x42) : std::nullopt;
          break;
        case Fault::Vanish:
          on ? bench.Unplug("COM1", clock.NowUs()) : bench.PlugIn("COM1");
          break;
        case Fault::Bus:
          device.faults.busDown = on;
          break;
        case Fault::High:
        case Fault::Low:
        case Fault::Invalid:
          on ? void(device.pinnedReadings[w.channel] = raw) : void(device.pinnedReadings.clear());
          break;
        case Fault::Drift:
          device.SetClock(sim::FromSeconds(t / 1000 + (on ? 300 : 0)), clock.NowUs());
          break;
        case Fault::Rename:
          if (on)
            device.SetText(sim::map::kReadName, sim::map::NameOf(w.channel), 16,
                           ("Point " + std::to_string(t / kS % 100000)).c_str());
          break;
        case Fault::Limits:
          if (on)
            device.params[sim::map::HighLimitOf(w.channel)] =
                static_cast<uint8_t>(device.params[sim::map::HighLimitOf(w.channel)] == 80 ? 85 : 80);
          break;
      }
    }
  }

  std::string name;
  uint32_t seed;
  sim::VirtualClock clock;
  sim::Device device;
  sim::SimBench bench;
  sim::SimSerialPort port{clock, bench};
  WatcherSetup setup;
  std::vector<Window> windows;
};

// The alarm steps the rules must give for the faults, as "kind channel event time-since-base-in-s".
std::multiset<std::string> ExpectedSteps(const Logger& l, const std::map<int64_t, int64_t>& reconnects) {
  std::multiset<std::string> steps;
  const auto life = [&](const std::string& kind, int channel, int64_t start, int64_t clear) {
    const auto at = [](int64_t t) { return std::to_string((t - kBaseMs) / kS); };
    const std::string key = kind + " " + std::to_string(channel) + " ";
    steps.insert(key + "start " + at(start));
    for (int64_t r = start + kRepeat * kS; r < clear; r += kRepeat * kS)
      steps.insert(key + "repeat " + at(r));
    steps.insert(key + "clear " + at(clear));
  };
  for (const Window& w : l.windows) {
    const int64_t back = w.fault == Fault::Vanish ? reconnects.at(w.from) : w.to;
    const int64_t held = back - w.from;
    switch (w.fault) {
      case Fault::Silence:
      case Fault::Vanish:
        if (held > kLinkLost * kS) life("link", 0, w.from + kLinkLost * kS, back + kDelay * kS);
        break;
      case Fault::Bus:
        if (held > kDelay * kS) life("bus", 0, w.from + kDelay * kS, back + kDelay * kS);
        break;
      case Fault::High:
        life("high", w.channel, w.from + kDelay * kS, w.to + kDelay * kS);
        break;
      case Fault::Low:
        life("low", w.channel, w.from + kDelay * kS, w.to + kDelay * kS);
        break;
      case Fault::Invalid:
        life("sensor", w.channel, w.from + kDelay * kS, w.to + kDelay * kS);
        break;
      case Fault::Drift:
        life("clock", 0, w.from + kDelay * kS, w.to + kDelay * kS);
        break;
      default:
        break;
    }
  }
  return steps;
}

// VELUTRON_WEEK_HOURS shortens or lengthens the run (4 hours at least).
int Hours() {
  if (const char* hours = std::getenv("VELUTRON_WEEK_HOURS")) return std::max(4, std::atoi(hours));
#ifdef NDEBUG
  return 7 * 24;
#else
  // Under the sanitizers a week takes a quarter of an hour: ./test runs the whole week in the Release build.
  return 6;
#endif
}

TEST(StationWeekTest, TwoLoggersWithRandomFaultsLeaveExactlyTheRecordTheRulesSay) {
  const int64_t end = kBaseMs + Hours() * 3600 * kS;
  FastTempDir dir;
  const std::string archivePath = (dir.path() / "week.db").string();
  const std::string notes = (dir.path() / "notes.jsonl").string();
  const size_t fdsBefore = OpenDescriptors();
  Log log(LogLevel::Error);
  std::string error;
  auto archive = archive::OpenArchive(archivePath, error);
  ASSERT_TRUE(archive) << error;
  // Nobody waits on the log here: a minute of intervals a transaction, so that the week costs the
  // station's logic rather than a million commits.
  auto writer = std::make_unique<ArchiveWriter>(std::move(archive), log, 20000, 64);
  auto notifier = std::make_unique<Notifier>(log);

  std::vector<std::unique_ptr<Logger>> loggers;
  loggers.push_back(std::make_unique<Logger>("A", 4, 11));
  loggers.push_back(std::make_unique<Logger>("B", 10, 12));
  size_t heapAfterHour = 0;
  std::vector<std::thread> threads;
  std::vector<std::unique_ptr<Watcher>> watchers;
  for (auto& l : loggers) {
    l->windows = Schedule(l->seed, end, l->device.SensorCount());
    l->setup.alarms.command = {"/bin/sh", "-c", "cat >> '" + notes + "'"};
    WatcherEnv env{l->port, l->clock, [p = l.get()] { return p->Utc(); }, [](int64_t s) { return s; }, false};
    watchers.push_back(std::make_unique<Watcher>(l->setup, env, *writer, notifier.get(), log));
    Watcher& w = *watchers.back();
    w.runUntilUtcMs = end;
    w.beforeInterval = [p = l.get(), &heapAfterHour, first = watchers.size() == 1](int64_t t) {
      p->Apply(t);
      if (first && t == kBaseMs + 3600 * kS) heapAfterHour = LiveHeapBytes();
    };
  }
  for (auto& w : watchers) threads.emplace_back([&w] { w->Run(); });
  for (auto& t : threads) t.join();
  notifier->Drain();
  const size_t heapEnd = LiveHeapBytes();
  notifier.reset();
  writer.reset();
  EXPECT_EQ(OpenDescriptors(), fdsBefore);
  // Flat after the first hour: SQLite's page cache (2 MB at most) is all that may grow with the archive.
  EXPECT_LT(heapEnd, heapAfterHour + 3 * 1024 * 1024)
      << "heap grew from " << heapAfterHour << " to " << heapEnd;

  auto period = archive::OpenPeriodArchive(archivePath, error);
  ASSERT_TRUE(period) << error;
  std::multiset<std::string> notified;
  {
    std::ifstream in(notes);
    for (std::string line; std::getline(in, line);) notified.insert(line);
  }
  std::multiset<std::string> archivedJson;
  for (auto& l : loggers) {
    SCOPED_TRACE(l->name);
    const int64_t key = *period->FindLogger(l->name, error);
    const int channels = l->device.SensorCount();
    const size_t ticks = static_cast<size_t>((end - kBaseMs) / kS);
    std::vector<uint8_t> rows(ticks, 0);
    ASSERT_TRUE(period->Period(
        key, kBaseMs, end,
        [&](const archive::PeriodPoint& p) { ++rows[static_cast<size_t>((p.utc_ms - kBaseMs) / kS)]; },
        error))
        << error;
    std::vector<archive::Gap> gaps;
    ASSERT_TRUE(period->Gaps(key, kBaseMs, end, gaps, error)) << error;
    std::vector<char> inGap(ticks, 0);
    for (const archive::Gap& g : gaps) {
      for (int64_t t = g.from_utc_ms; t < g.to_utc_ms; t += kS)
        ++inGap[static_cast<size_t>((t - kBaseMs) / kS)];
    }
    // Every second: either every channel's row, or one gap.
    size_t answered = 0;
    for (size_t i = 0; i < ticks; ++i) {
      ASSERT_TRUE((rows[i] == channels && inGap[i] == 0) || (rows[i] == 0 && inGap[i] == 1))
          << "second " << i << ": " << int{rows[i]} << " rows, " << int{inGap[i]} << " gaps";
      answered += rows[i] != 0;
    }
    // Each gap is one fault's: silence and bus failures exactly, a vanished port until it was back.
    std::map<int64_t, int64_t> reconnects;
    std::vector<std::pair<int64_t, int64_t>> expected;
    for (const Window& w : l->windows) {
      if (w.fault == Fault::Vanish) {
        int64_t back = w.to;
        while (rows[static_cast<size_t>((back - kBaseMs) / kS)] == 0) back += kS;
        EXPECT_LE(back, w.to + 60 * kS) << "reconnected too late";
        reconnects[w.from] = back;
      }
    }
    size_t faultGaps = 0;
    for (const archive::Gap& g : gaps) {
      const auto w = std::find_if(l->windows.begin(), l->windows.end(), [&](const Window& w) {
        return g.from_utc_ms >= w.from && g.from_utc_ms < w.to + 60 * kS;
      });
      ASSERT_NE(w, l->windows.end()) << "a gap without a fault at " << (g.from_utc_ms - kBaseMs) / kS;
      SCOPED_TRACE("fault " + std::to_string(static_cast<int>(w->fault)) + " at " +
                   std::to_string((w->from - kBaseMs) / kS));
      switch (w->fault) {
        case Fault::Silence:
        case Fault::Bus:
          EXPECT_EQ(g.from_utc_ms, w->from);
          EXPECT_EQ(g.to_utc_ms, w->to);
          EXPECT_EQ(g.cause,
                    w->fault == Fault::Bus ? archive::GapCause::BusFailure : archive::GapCause::Silence);
          ++faultGaps;
          break;
        case Fault::Vanish:
          EXPECT_EQ(g.from_utc_ms, w->from);
          EXPECT_EQ(g.to_utc_ms, reconnects[w->from]);
          EXPECT_EQ(g.cause, archive::GapCause::PortGone);
          ++faultGaps;
          break;
        case Fault::Wrong:
          // Wrong bytes fail the probe, or read as a bus without its "ok" bit.
          EXPECT_LE(g.to_utc_ms, w->to);
          EXPECT_NE(g.cause, archive::GapCause::PortGone);
          break;
        default:
          ADD_FAILURE() << "a gap in a fault that leaves the link alone";
      }
    }
    EXPECT_EQ(static_cast<ptrdiff_t>(faultGaps),
              std::count_if(l->windows.begin(), l->windows.end(), [](const Window& w) {
                return w.fault == Fault::Silence || w.fault == Fault::Bus || w.fault == Fault::Vanish;
              }));
    EXPECT_GT(answered, ticks * 9 / 10);

    // The alarms, exactly as the rules say; and every one notified.
    std::multiset<std::string> steps;
    for (const AlarmRow& a : AlarmRows(archivePath, key)) {
      steps.insert(a.kind + " " + std::to_string(a.channel) + " " + a.event + " " +
                   std::to_string((a.utc_ms - kBaseMs) / kS));
      archivedJson.insert(a.json);
    }
    EXPECT_EQ(steps, ExpectedSteps(*l, reconnects));

    // Renamed points are seen within the hour.
    std::vector<archive::ChannelEntry> entries;
    ASSERT_TRUE(period->Channels(key, entries, error)) << error;
    for (const Window& w : l->windows) {
      if (w.fault != Fault::Rename) continue;
      const std::string point = "Point " + std::to_string(w.from / kS % 100000);
      EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const archive::ChannelEntry& e) {
        return e.info.point == point && e.info.channel == w.channel && e.from_ms >= w.from &&
               e.from_ms <= w.from + 3600 * kS + 60 * kS;
      })) << point;
    }
  }
  EXPECT_EQ(notified, archivedJson);
  const std::map<int, size_t> allRan{{0, archivedJson.size()}};
  EXPECT_EQ(NotificationExitCodes(archivePath), (archivedJson.empty() ? std::map<int, size_t>{} : allRan));
}

}  // namespace
}  // namespace velutron::test
