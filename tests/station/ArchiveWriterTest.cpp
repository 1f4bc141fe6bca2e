// The archive writer when the disk is full (a file size limit makes every write that grows a file fail,
// as a full disk does), when a write hangs, and the summaries of the hours it finishes.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "../archive/ArchiveEngines.h"
#include "../archive/SummaryCheck.h"
#include "StationSupport.h"
#include "station/ArchiveWriter.h"
#include "station/Metrics.h"

namespace velutron::test {
namespace {

using namespace velutron::station;

uintmax_t LargestFile(const std::filesystem::path& dir) {
  uintmax_t largest = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) largest = std::max(largest, e.file_size());
  return largest;
}

// Interval n of logger "A": one reading, at n seconds.
bool Add(ArchiveWriter& writer, int n) {
  return writer.AddInterval({"A", "A", "VT-1"},
                            {n * 1000LL, std::nullopt, {{1, archive::Unit::Celsius, n + 0.5, ""}}});
}

// The intervals of logger "A" in the archive at `path`, by number.
std::vector<int> Archived(const std::string& path) {
  std::string error;
  std::vector<int> got;
  auto period = archive::OpenPeriodArchive(path, error);
  const auto logger = period ? period->FindLogger("A", error) : std::nullopt;
  if (!logger ||
      !period->Period(
          *logger, 0, 1'000'000,
          [&](const archive::PeriodPoint& p) { got.push_back(static_cast<int>(p.utc_ms / 1000)); }, error))
    ADD_FAILURE() << error;
  return got;
}

TEST(ArchiveWriterTest, AFullDiskKeepsTheLatestReadingsInMemoryAndWritesThemWhenSpaceReturns) {
  const struct {
    size_t max_queued;
    int while_full;
    std::vector<int> expected;  // the intervals in the archive at the end, by number
  } rows[] = {
      {100, 5, {0, 1, 2, 3, 4, 5, 6}},
      {3, 5, {0, 3, 4, 5, 6}},  // the oldest of those waiting are lost, the latest kept
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.max_queued);
    FastTempDir dir;
    const std::string path = (dir.path() / "a.db").string();
    Log log(LogLevel::Error);
    std::string error;
    ArchiveWriter writer(archive::OpenArchive(path, error), log, row.max_queued);
    std::vector<std::string> changes;
    writer.OnFailingChanged(
        [&](bool failing, const std::string&) { changes.push_back(failing ? "full" : "free"); });
    ASSERT_TRUE(Add(writer, 0));

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full = old;
    full.rlim_cur = LargestFile(dir.path());
    setrlimit(RLIMIT_FSIZE, &full);
    for (int n = 1; n <= row.while_full; ++n) EXPECT_FALSE(Add(writer, n));
    EXPECT_TRUE(writer.Failing());
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_TRUE(Add(writer, row.while_full + 1));
    EXPECT_EQ(writer.Queued(), 0u);
    EXPECT_EQ(changes, (std::vector<std::string>{"full", "free"}));
    EXPECT_EQ(Archived(path), row.expected);
  }
}

// An archive that refuses every write while `failing`, and otherwise notes what it is given.
class NotingArchive : public archive::Archive {
 public:
  std::atomic<bool> failing{true};
  std::vector<std::string> got;  // the writer's thread's until it is closed, and the writer's to free

  std::optional<int64_t> Logger(const archive::LoggerId&, std::string& error) override {
    return Refused(error) ? std::nullopt : std::optional<int64_t>(1);
  }
  std::optional<int64_t> FindLogger(const std::string&, std::string&) override { return 1; }
  bool SetChannels(int64_t, int64_t, const std::vector<archive::ChannelInfo>&, std::string& e) override {
    return Noted(e, "channels");
  }
  bool AddInterval(int64_t, archive::Source, const archive::Interval& i, std::string& e) override {
    return Noted(e, "interval " + std::to_string(i.utc_ms / 1000));
  }
  bool AddGap(int64_t, const archive::Gap& gap, std::string& e) override {
    return Noted(e, "gap " + std::to_string(gap.from_utc_ms / 1000));
  }
  std::optional<int64_t> AddAlarmEvent(int64_t, const archive::AlarmEvent& event, std::string& e) override {
    return Noted(e, "event " + event.event) ? std::optional<int64_t>(7) : std::nullopt;
  }
  bool AddNotification(const archive::Notification& n, std::string& e) override {
    return Noted(e, "notification of event " + std::to_string(n.alarm_event_id));
  }
  bool History(int64_t, int, int64_t, int64_t, std::vector<archive::HistoryPoint>&, std::string&) override {
    return true;
  }

 private:
  bool Refused(std::string& error) {
    if (failing) error = "disk full";
    return failing;
  }
  bool Noted(std::string& error, std::string what) {
    if (Refused(error)) return false;
    got.push_back(std::move(what));
    return true;
  }
};

TEST(ArchiveWriterTest, AFullQueueDropsTheOldestReadingsAndKeepsTheAlarmsWithTheirNotifications) {
  std::vector<std::string> lines;
  Log log(
      LogLevel::Error, [&](std::string_view line) { lines.emplace_back(line.substr(line.find(' ') + 1)); },
      LogStyle::Timestamped);
  auto archive = std::make_unique<NotingArchive>();
  NotingArchive& noted = *archive;
  const auto dropped = std::make_shared<std::atomic<uint64_t>>(0);
  ArchiveWriter writer(std::move(archive), log, 4);
  writer.CountDroppedIn(dropped);
  const archive::LoggerId a{"A", "A", "VT-1"};
  EXPECT_FALSE(Add(writer, 1));
  EXPECT_FALSE(Add(writer, 2));
  const ArchiveWriter::EventKey event = writer.AddAlarmEvent(a, {3000, "start", "high", 1, 9.5, 8.0, "{}"});
  writer.AddNotification(event, {0, 3000, {"mail"}, 0, ""});
  EXPECT_FALSE(Add(writer, 3));
  writer.AddGap(a, {4000, 5000, archive::GapCause::Silence});
  EXPECT_FALSE(Add(writer, 5));
  EXPECT_FALSE(Add(writer, 6));
  noted.failing = false;
  EXPECT_EQ(writer.Close(), 0u);
  EXPECT_EQ(noted.got,
            (std::vector<std::string>{"event start", "notification of event 7", "gap 4", "interval 6"}));
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "error archive: disk full; readings wait in memory",
                "error archive: the memory queue is full; 1 record lost so far, the oldest readings first",
            }));
  EXPECT_NE(RenderMetrics({}, ArchiveSnapshot{false, std::nullopt, *dropped})
                .find("# TYPE velutron_archive_dropped_total counter\nvelutron_archive_dropped_total 4\n"),
            std::string::npos);
}

TEST(ArchiveWriterTest, AWriteThatHangsHoldsUpNoReadingAndWhatWaitedIsWrittenWhenItEnds) {
  FastTempDir dir;
  const std::string path = (dir.path() / "a.db").string();
  Log log(LogLevel::Error);
  std::string error;
  std::vector<std::string> told;
  ArchiveWriter writer(archive::OpenArchive(path, error), log, 100, 1, std::chrono::milliseconds(20));
  writer.OnFailingChanged(
      [&](bool failing, const std::string& why) { told.push_back(failing ? why : "writing again"); });
  ASSERT_TRUE(Add(writer, 0));
  // Another program takes the file's write lock and keeps it, as a server that stops answering keeps a
  // write waiting: the readings go on, waiting in memory, and nothing is said to have failed.
  auto other = archive::OpenSqlite(path, error);
  ASSERT_TRUE(other && other->Begin(error)) << error;
  for (int n = 1; n <= 3; ++n) EXPECT_FALSE(Add(writer, n));
  EXPECT_FALSE(writer.Failing());
  EXPECT_EQ(writer.Queued(), 3u);
  // Thirty times the patience, and the station's next beat says the archive fails, until the write ends.
  for (int beat = 0; beat < 500 && !writer.Failing(); ++beat) {
    writer.Retry();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // A stop cannot wait for it; a later one does, and everything is written once the lock is free.
  EXPECT_EQ(writer.Close(std::chrono::milliseconds(20)), std::nullopt);
  ASSERT_TRUE(other->Commit(error)) << error;
  EXPECT_EQ(writer.Close(), 0u);
  EXPECT_EQ(told, (std::vector<std::string>{"no answer for 600 ms", "writing again"}));
  EXPECT_EQ(Archived(path), (std::vector<int>{0, 1, 2, 3}));
}

using ArchiveWriterSummaryTest = ArchiveEngineTest;

TEST_P(ArchiveWriterSummaryTest, TheHoursAStationFinishesAreSummarizedAndReportAsTheirReadings) {
  constexpr int64_t kHour = 3'600'000;
  constexpr int64_t kNine = 1'774'861'200'000;  // 2026-03-30T09:00:00Z
  Log log(LogLevel::Error);
  std::string error;
  {
    ArchiveWriter writer(archive::OpenArchive(location_, error), log);
    const archive::LoggerId id{"A", "A", "VT-1"};
    // From 09:58 to 11:00:30, every 30 s; channel 2 fails now and then.
    for (int64_t t = kNine + kHour - 120'000; t <= kNine + 2 * kHour + 30'000; t += 30'000) {
      const double v = static_cast<double>(t / 30'000 % 37) / 16;
      archive::Interval interval{t, std::nullopt, {{1, archive::Unit::Celsius, 4 + v, ""}}};
      interval.readings.push_back(t % 7
                                      ? archive::Reading{2, archive::Unit::Celsius, -18 - v, ""}
                                      : archive::Reading{2, archive::Unit::Celsius, std::nullopt, "ERROR!"});
      ASSERT_TRUE(writer.AddInterval(id, interval));
    }
  }
  // 09:00 and 10:00 are over, 11:00 goes on.
  const int64_t nine = kNine / kHour;
  EXPECT_EQ(BuiltHours(location_), (std::vector<std::pair<int64_t, int64_t>>{{nine, 2}, {nine + 1, 2}}));
  auto a = Open();
  ASSERT_TRUE(a);
  const auto key = a->FindLogger("A", error);
  ASSERT_TRUE(key) << error;
  ExpectReportAsFromReadings(*a, {*key, {"A", "A", "VT-1"}}, kNine, kNine + 3 * kHour);
}

VELUTRON_ON_BOTH_ENGINES(ArchiveWriterSummaryTest);

}  // namespace
}  // namespace velutron::test
