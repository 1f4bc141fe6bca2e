#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <sstream>

#include "station/Notifier.h"
#include "support/SimSession.h"

namespace velutron::station {
namespace {

TEST(NotifierTest, ACommandGetsTheEventAndItsEndIsReportedHoweverItEnds) {
  const std::string event = R"({"event":"start","kind":"high"})";
  const struct {
    std::vector<std::string> argv;
    int exitCode;
    std::string error;
  } rows[] = {
      {{"/bin/sh", "-c", "read line; test \"$line\" = '" + event + "' && test \"$VELUTRON_KIND\" = high"},
       0,
       ""},
      {{"/bin/sh", "-c", "exit 3"}, 3, ""},
      {{"/bin/sh", "-c", "kill -TERM $$"}, 128 + 15, ""},
      {{"/bin/sh", "-c", "exec sleep 30"}, kKilledAtTimeLimit, "killed after 1 s"},
      {{"/nonexistent/notify"}, kNotStarted, "/nonexistent/notify: No such file or directory"},
      {{"/bin/true"}, 0, ""},  // one that reads nothing of what it is given
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.argv.back());
    std::string error;
    EXPECT_EQ(RunCommand(row.argv, event + "\n", {{"VELUTRON_KIND", "high"}}, 1000, error), row.exitCode);
    EXPECT_EQ(error, row.error);
  }
}

TEST(NotifierTest, ACommandsOutputReachesTheLogAsItsFirstAndLastFourKiB) {
  std::string error;
  CommandOutput output;
  EXPECT_EQ(RunCommand({"/bin/sh", "-c", "echo first; head -c 20000000 /dev/zero; echo; echo last >&2"}, "",
                       {}, 10000, error, nullptr, &output),
            0);
  EXPECT_EQ(output.total, 6 + 20000000 + 1 + 5u);
  // The zeros are control characters, shown as spaces.
  EXPECT_EQ(output.Excerpt(), "first" + std::string(kOutputExcerpt - 5, ' ') + " [" +
                                  std::to_string(output.total - 2 * kOutputExcerpt) + " bytes left out] " +
                                  std::string(kOutputExcerpt - 5, ' ') + "last");
}

TEST(NotifierTest, AHungCommandHoldsUpNoOtherAlarmAndOneAlarmsStepsRunInOrder) {
  test::TempDir dir;
  const std::string steps = (dir.path() / "steps").string();
  Log log(LogLevel::Error);
  std::promise<int> hung;
  Notifier notifier(log);
  const auto job = [&](std::string alarm, std::string script) {
    Notifier::Job j;
    j.source = "Chłodnia A";
    j.alarm = std::move(alarm);
    j.command = {"/bin/sh", "-c", std::move(script), "notify", steps};
    return j;
  };
  // One that hangs until another alarm's steps have run: behind it they never would.
  Notifier::Job first = job("high:1", "until grep -q clear \"$1\"; do sleep 0.05; done; echo hung >> \"$1\"");
  first.done = [&](int code, const std::string&) { hung.set_value(code); };
  notifier.Submit(std::move(first));
  // The start of that alarm takes a while; its clear must still come after it.
  notifier.Submit(job("low:2", "sleep 0.3; echo start >> \"$1\""));
  notifier.Submit(job("low:2", "echo clear >> \"$1\""));
  EXPECT_EQ(hung.get_future().get(), 0);
  std::stringstream text;
  text << std::ifstream(steps).rdbuf();
  EXPECT_EQ(text.str(), "start\nclear\nhung\n");
}

}  // namespace
}  // namespace velutron::station
