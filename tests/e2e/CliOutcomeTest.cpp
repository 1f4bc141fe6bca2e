// velutron-cli says exactly what happened: interrupted writes, outcomes, given values, files named
// twice, and text from the logger on a terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "CliRun.h"
#include "data/KnownDatabase.h"
#include "platform/AtomicFile.h"
#include "support/SimProcess.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::Command;
using test::CommandResult;
using test::SimProcess;
using test::StartSim;

const std::string kCompleted = "{\"type\":\"result\",\"outcome\":\"completed\"}\n";
const std::string kCancelled = "{\"type\":\"result\",\"outcome\":\"cancelled\"}\n";

class CliOutcomeTest : public ::testing::Test {
 protected:
  Command Cli(const SimProcess& sim, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", "COM1", "--even"});
    return test::CliCommand(sim, work.path(), args);
  }
  // Whether the logger received a register or parameter write.
  static bool Wrote(const SimProcess& sim) {
    const std::vector<int> got = sim.Received();
    return std::find(got.begin(), got.end(), 20) != got.end() ||
           std::find(got.begin(), got.end(), 25) != got.end();
  }
  test::TempDir work;
};

TEST_F(CliOutcomeTest, AnInterruptDuringATextWriteLetsTheLoggerHoldTheWholeTextOrNoneOfIt) {
  const std::string text(35, 'C');
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const auto sim = StartSim();
    ASSERT_TRUE(sim->Ready());
    Command c = Cli(*sim, {"--service", "--json", "text", "owner", "--set", text});
    c.signalWhenOutput = "\"type\":\"input\"";
    c.signal = signal;
    const CommandResult r = RunCommand(c);
    const CommandResult read = RunCommand(Cli(*sim, {"--json", "info"}));
    const bool written = read.out.find("\"value\":\"" + text + "\"") != std::string::npos;
    // The signal comes while the 35 writes go out; should it beat the first one, nothing is written.
    if (written) {
      EXPECT_EQ(r.exitCode, 0) << r.out;
      EXPECT_TRUE(
          r.out.ends_with("{\"type\":\"message\",\"caption\":\"Zapis danych.\",\"text\":\"Zapisano licencję "
                          "użytkownika.\"}\n" +
                          kCompleted))
          << r.out;
    } else {
      EXPECT_EQ(r.exitCode, 3) << r.out;
      EXPECT_TRUE(r.out.ends_with("\"answer\":\"" + text + "\"}\n" + kCancelled)) << r.out;
      EXPECT_NE(read.out.find("Northfield Cold Store, Hall B"), std::string::npos) << read.out;
    }
  }
}

TEST_F(CliOutcomeTest, ADoubledAnswerNeverPassesForTheReplyOfAnErase) {
  for (int run = 1; run <= 8; ++run) {
    // A logger of its own each run: the last answer's double of one run, held back in a loaded simulator,
    // could otherwise reach the port after the next run opened it, which no single run can tell apart.
    const auto sim = StartSim({"--extra-byte"});
    ASSERT_TRUE(sim->Ready());
    const CommandResult r = RunCommand(Cli(*sim, {"--yes", "erase"}));
    EXPECT_EQ(r.exitCode, 0) << "run " << run;
    EXPECT_TRUE(r.out.ends_with("[Odpowiedź] BUFOR DANYCH WYKASOWANY !!!\n"))
        << "run " << run << ": " << r.out;
  }
}

TEST_F(CliOutcomeTest, GivenValuesAreCheckedAsTheyWillStandBeforeAnythingIsWritten) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::vector<int> lastWrite;  // empty: nothing written
  };
  const Case cases[] = {
      {{"sensors", "params", "2", "--low", "20", "--high", "10"}, 2, {}},
      {{"options", "--humidity", "on", "--interval", "5"}, 1, {}},
      {{"options", "--bits", "010"}, 0, {20, 74, 10}},
      {{"options", "--bits", "0x25"}, 0, {20, 74, 0x25}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
    const auto sim = StartSim();
    ASSERT_TRUE(sim->Ready());
    const CommandResult r = RunCommand(Cli(*sim, c.args));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    sim->Stop();
    const std::vector<int> got = sim->Received();
    if (c.lastWrite.empty()) {
      EXPECT_FALSE(Wrote(*sim));
    } else {
      ASSERT_GE(got.size(), 3u);
      EXPECT_EQ(std::vector<int>(got.end() - 3, got.end()), c.lastWrite);
    }
  }
}

TEST_F(CliOutcomeTest, AnOutputThatIsTheInputDatabaseIsRefusedAndTheDatabaseKept) {
  namespace fs = std::filesystem;
  const std::vector<uint8_t> database = test::KnownDump().File();
  ASSERT_TRUE(WriteFileAtomically(work.path() / "in.DAT", database));
  fs::create_symlink(work.path() / "in.DAT", work.path() / "link.csv");
  fs::create_symlink(work.path() / "in.DAT", work.path() / "picture.png");
  const std::vector<std::vector<std::string>> cases = {
      {"export", "in.DAT", "--format", "csv", "--out", "in.DAT"},
      {"export", "in.DAT", "--format", "json", "--out", "link.csv"},
      {"export", "link.csv", "--format", "csv", "--out", (work.path() / "in.DAT").string()},
      {"chart", "in.DAT", "--out", "picture.png"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + args.back());
    Command c;
    c.argv = {VELUTRON_CLI_PATH};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.workDir = work.path().string();
    const CommandResult r = RunCommand(c);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("is the database"), std::string::npos) << r.err;
    EXPECT_EQ(ReadWholeFile(work.path() / "in.DAT"), database);
  }
}

TEST_F(CliOutcomeTest, ControlCharactersFromTheLoggerAreShownEscapedAndKeptExactInJson) {
  // An image whose owner text holds a screen-clearing ESC sequence and a zero byte.
  std::vector<uint8_t> image(514, ' ');
  const std::string owner = std::string("A\x1b[2JB") + '\0' + "C";
  std::copy(owner.begin(), owner.end(), image.begin() + 32);
  ASSERT_TRUE(WriteFileAtomically(work.path() / "ctl.eep", image));
  const auto sim = StartSim({"--memory", (work.path() / "ctl.eep").string()});
  ASSERT_TRUE(sim->Ready());
  const std::string padding(35 - owner.size(), ' ');

  const CommandResult human = RunCommand(Cli(*sim, {"info"}));
  EXPECT_EQ(human.exitCode, 0);
  EXPECT_EQ(human.out.substr(0, human.out.find('\n')), "owner: A\\x1b[2JB\\x00C" + padding);
  const CommandResult json = RunCommand(Cli(*sim, {"--json", "info"}));
  EXPECT_NE(json.out.find("{\"type\":\"value\",\"name\":\"owner\",\"value\":\"A\\u001b[2JB\\u0000C" +
                          padding + "\"}"),
            std::string::npos)
      << json.out;
}

}  // namespace
}  // namespace velutron
