#include <gtest/gtest.h>

#include "station/Notifier.h"

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

}  // namespace
}  // namespace velutron::station
