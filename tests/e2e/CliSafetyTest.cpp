// velutron-cli against velutron-sim when things go wrong around it: stale answers, closed standard
// descriptors, interruptions; on this machine and (e2e_wine_cli_test) with the Windows program under wine.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <thread>

#include "CliRun.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

using test::Command;
using test::CommandResult;
using test::SimProcess;
using test::StartSim;

class CliSafetyTest : public ::testing::Test {
 protected:
  Command Cli(const SimProcess& sim, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", "COM1", "--even"});
    return test::CliCommand(sim, work.path(), args);
  }
  std::vector<std::string> FilesLeft() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(work.path()))
      names.push_back(e.path().filename());
    return names;
  }
  test::TempDir work;
};

TEST_F(CliSafetyTest, ALateAnswerOfAnEarlierRunNeverPassesALaterProbe) {
  const auto sim = StartSim({"--late-ms", "300"});
  ASSERT_TRUE(sim->Ready());
  for (int run = 1; run <= 4; ++run) {
    const CommandResult r = RunCommand(Cli(*sim, {"probe"}));
    EXPECT_EQ(r.exitCode, 1) << "run " << run;
    EXPECT_EQ(r.out, "[Uwaga !] Brak połączenia z VELUTRON !\n") << "run " << run;
    // By now the late answer has arrived, before the next run opens the port.
    usleep(300'000);
  }
}

#ifndef VELUTRON_WINDOWS_CLI  // descriptors 0 to 2 are a POSIX matter
TEST_F(CliSafetyTest, ClosedStandardDescriptorsNeverBecomeThePort) {
  const std::vector<std::vector<int>> closures = {{1}, {0, 1, 2}};
  for (const auto& closed : closures) {
    SCOPED_TRACE(::testing::PrintToString(closed));
    SimProcess sim({"--records", "3", "--verbose"});
    ASSERT_TRUE(sim.Ready());
    Command c = Cli(sim, {"download", "d2"});
    c.closedDescriptors = closed;
    const CommandResult r = RunCommand(c);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(work.path() / "d2.DAT"));
    sim.Stop();
    // Only the protocol went to the logger: none of the program's own text, whose newlines (10) would
    // reset it and whose "-" (45) would format its memory.
    EXPECT_EQ(sim.Received(), (std::vector<int>{30, 62, 30, 14, 50}));
  }
}
#endif

// Under wine SIGINT is the console's Ctrl+C, which the program's console control handler receives;
// SIGTERM and SIGHUP have no Windows counterpart and end a wine process at once.
TEST_F(CliSafetyTest, AnInterruptedDownloadLeavesNothingBehindAndEndsCancelled) {
  const std::vector<int> signals =
      test::kUnderWine ? std::vector<int>{SIGINT} : std::vector<int>{SIGINT, SIGTERM, SIGHUP};
  for (const int signal : signals) {
    SCOPED_TRACE(signal);
    const auto sim = StartSim({"--sensors", "1", "--records", "3000"});  // about 4 s of dump
    ASSERT_TRUE(sim->Ready());
    Command c = Cli(*sim, {"--json", "download", "data"});
    c.signalWhenOutput = "\"type\":\"input\"";
    c.signal = signal;
    const CommandResult r = RunCommand(c);
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_TRUE(r.out.ends_with("{\"type\":\"result\",\"outcome\":\"cancelled\"}\n")) << r.out;
    EXPECT_EQ(FilesLeft(), std::vector<std::string>{});
  }
}

TEST_F(CliSafetyTest, ALoggerThatVanishesMidDownloadEndsItCleanlyAndTheNextCommandWorksOnceItIsBack) {
  auto sim = StartSim({"--sensors", "1", "--records", "3000"});
  ASSERT_TRUE(sim->Ready());
  Command c = Cli(*sim, {"download", "data"});
  CommandResult r;
  std::thread run([&] { r = RunCommand(c); });
  usleep(1'000'000);  // well into the four seconds of dump
  sim.reset();
  run.join();
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_EQ(r.out,
            "[Nazwa pliku:] Wprowadź nazwę pliku [1..N]: data\n[Uwaga !] Przerwanie transmisji pliku !!!\n");
  EXPECT_EQ(FilesLeft(), std::vector<std::string>{});

  const auto back = StartSim({"--sensors", "1", "--records", "3"});
  ASSERT_TRUE(back->Ready());
  EXPECT_EQ(RunCommand(Cli(*back, {"probe"})).exitCode, 0);
}

}  // namespace
}  // namespace velutron
