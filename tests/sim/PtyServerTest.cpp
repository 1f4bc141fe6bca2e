#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <vector>

#include "sim/LoggerMap.h"
#include "support/SimProcess.h"

namespace velutron::test {
namespace {

using namespace velutron::sim::map;

// The program's pacing, as the tests drive the logger.
constexpr int kByteGapMs = 3;
constexpr int kReplyTimeoutMs = 250;

// Opens the published port as the program does: 57 600 baud, 8 data bits, parity, 1 stop bit, raw.
int OpenLine(const std::string& path, bool odd) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fd;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetispeed(&t, B57600);
  cfsetospeed(&t, B57600);
  t.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
  if (odd) {
    t.c_cflag |= PARODD;
  } else {
    t.c_cflag &= ~static_cast<tcflag_t>(PARODD);
  }
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// Sends the bytes 3 ms apart and collects what comes back within `windowMs` of the last one.
std::vector<uint8_t> Exchange(int fd, std::vector<uint8_t> bytes, int windowMs = kReplyTimeoutMs) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) usleep(kByteGapMs * 1000);
    EXPECT_EQ(write(fd, &bytes[i], 1), 1);
  }
  std::vector<uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(windowMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    uint8_t buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

TEST(PtyServerTest, AnswersTheProbeOnItsParityOnlyAndSurvivesReopening) {
  SimProcess sim({"--parity", "even"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();

  int fd = OpenLine(sim.PortPath(), false);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Exchange(fd, {kReadRegister, kIdent}), std::vector<uint8_t>{kIdentValue});
  close(fd);

  fd = OpenLine(sim.PortPath(), true);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(Exchange(fd, {kReadRegister, kIdent}).empty());
  close(fd);

  fd = OpenLine(sim.PortPath(), false);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Exchange(fd, {kReadRegister, kSensorSetup}), std::vector<uint8_t>{4});
  close(fd);

  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(sim.PortPath()));
}

TEST(PtyServerTest, OptionsShapeTheDeviceAndTheDumpIsComplete) {
  SimProcess sim({"--parity", "odd", "--sensors", "2", "--humidity", "--records", "30", "--reply", "20=40",
                  "--bus-down", "--verbose"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const int fd = OpenLine(sim.PortPath(), true);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Exchange(fd, {kReadRegister, kSensorSetup}), std::vector<uint8_t>{0x82});
  EXPECT_EQ(Exchange(fd, {kWriteRegister, kWorkOptions, 0}), std::vector<uint8_t>{40});
  EXPECT_EQ(Exchange(fd, {kReadRegister, kBus})[0] & kBusOk, 0);
  const auto dump = Exchange(fd, {kDumpUp}, 600);
  EXPECT_EQ(dump.size(), 6u + 30 * (2 * 2 + 6) + 51 + 2 * 16);
  ASSERT_GE(dump.size(), 6u);
  EXPECT_EQ(dump[0], 0x82);
  EXPECT_EQ(dump[4], 30);
  close(fd);
  EXPECT_NE(sim.Log().find("dump of"), std::string::npos);
}

TEST(PtyServerTest, RunCommandCapturesOutputAndExitCode) {
  const CommandResult help = RunCommand({VELUTRON_SIM_PATH, "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--dump-cut-after"), std::string::npos);
  const CommandResult bad = RunCommand({VELUTRON_SIM_PATH, "--reply", "x"});
  EXPECT_NE(bad.exitCode, 0);
  EXPECT_NE(bad.err.find("CMD=CODE"), std::string::npos);
}

}  // namespace
}  // namespace velutron::test
