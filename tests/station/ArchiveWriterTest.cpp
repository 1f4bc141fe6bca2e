// The archive writer when the disk is full: a file size limit makes every write that grows a file fail,
// as a full disk does.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "StationSupport.h"
#include "station/ArchiveWriter.h"

namespace velutron::test {
namespace {

using namespace velutron::station;

uintmax_t LargestFile(const std::filesystem::path& dir) {
  uintmax_t largest = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) largest = std::max(largest, e.file_size());
  return largest;
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
    const archive::LoggerId id{"A", "A", "VT-1"};
    const auto add = [&](int n) {
      return writer.AddInterval(id, {n * 1000LL, std::nullopt, {{1, archive::Unit::Celsius, n + 0.5, ""}}});
    };
    ASSERT_TRUE(add(0));

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full = old;
    full.rlim_cur = LargestFile(dir.path());
    setrlimit(RLIMIT_FSIZE, &full);
    for (int n = 1; n <= row.while_full; ++n) EXPECT_FALSE(add(n));
    EXPECT_TRUE(writer.Failing());
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_TRUE(add(row.while_full + 1));
    EXPECT_EQ(writer.Queued(), 0u);
    EXPECT_EQ(changes, (std::vector<std::string>{"full", "free"}));
    auto period = archive::OpenPeriodArchive(path, error);
    ASSERT_TRUE(period) << error;
    std::vector<int> got;
    ASSERT_TRUE(period->Period(
        *period->FindLogger("A", error), 0, 1'000'000,
        [&](const archive::PeriodPoint& p) { got.push_back(static_cast<int>(p.utc_ms / 1000)); }, error));
    EXPECT_EQ(got, row.expected);
  }
}

}  // namespace
}  // namespace velutron::test
