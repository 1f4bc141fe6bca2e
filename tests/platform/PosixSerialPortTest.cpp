#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/PosixSerialPort.h"

namespace velutron {
namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// A pseudo-terminal pair: the port under test opens the slave, the test plays the logger on the master.
class PosixSerialPortTest : public testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slavePath_ = ptsname(master_);
  }
  void TearDown() override {
    if (master_ >= 0) close(master_);
  }

  void MasterWrite(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads exactly `count` bytes from the master, waiting up to a few seconds for them.
  std::vector<uint8_t> MasterRead(size_t count) {
    std::vector<uint8_t> got;
    while (got.size() < count) {
      pollfd pfd{master_, POLLIN, 0};
      if (poll(&pfd, 1, 5000) <= 0) break;
      uint8_t chunk[256];
      ssize_t n = read(master_, chunk, std::min(sizeof(chunk), count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }

  // Termios requests on the master act on the slave, so the settings are read without a second opener.
  termios SlaveSettings() {
    termios tio{};
    EXPECT_EQ(tcgetattr(master_, &tio), 0);
    return tio;
  }

  int master_ = -1;
  std::string slavePath_;
};

// `parityEnableKept` is false for a pseudo-terminal: its driver forces CS8 and drops PARENB.
void ExpectLinkSettings(const termios& tio, Parity parity, bool parityEnableKept) {
  SCOPED_TRACE(parity == Parity::Odd ? "odd" : "even");
  EXPECT_EQ(cfgetispeed(&tio), B57600);
  EXPECT_EQ(cfgetospeed(&tio), B57600);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  if (parityEnableKept) {
    EXPECT_NE(tio.c_cflag & PARENB, 0u);
  }
  EXPECT_EQ((tio.c_cflag & PARODD) != 0, parity == Parity::Odd);
  EXPECT_EQ(tio.c_cflag & (CSTOPB | CRTSCTS | CMSPAR), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_NE(tio.c_iflag & INPCK, 0u);
  EXPECT_EQ(tio.c_iflag & (IGNPAR | PARMRK | IXON | IXOFF | IXANY | ISTRIP | ICRNL | INLCR | IGNCR | IGNBRK),
            0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST(LinkSettings, EveryFlagOutsideTheLinkSettingsIsCleared) {
  for (Parity parity : {Parity::Even, Parity::Odd}) {
    termios tio;
    std::memset(&tio, 0xFF, sizeof(tio));
    ApplyLinkSettings(tio, parity);
    ExpectLinkSettings(tio, parity, true);
  }
}

TEST_F(PosixSerialPortTest, OpenAppliesTheLinkSettingsForBothParities) {
  for (Parity parity : {Parity::Even, Parity::Odd}) {
    PosixSerialPort port;
    ASSERT_TRUE(port.Open(slavePath_, parity));
    ExpectLinkSettings(SlaveSettings(), parity, false);
  }
}

TEST_F(PosixSerialPortTest, PortInUseCannotBeOpenedAgainUntilClosed) {
  PosixSerialPort first;
  PosixSerialPort second;
  ASSERT_TRUE(first.Open(slavePath_, Parity::Even));
  EXPECT_FALSE(second.Open(slavePath_, Parity::Even));
  EXPECT_FALSE(second.IsOpen());
  first.Close();
  EXPECT_FALSE(first.IsOpen());
  EXPECT_TRUE(second.Open(slavePath_, Parity::Odd));
}

TEST_F(PosixSerialPortTest, MissingDeviceOrAPlainFileIsNotAPort) {
  PosixSerialPort port;
  EXPECT_FALSE(port.Open("/dev/velutron-no-such-port", Parity::Even));
  EXPECT_FALSE(port.Open("/dev/null", Parity::Even));
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(PosixSerialPortTest, ComNameOpensTheLinkInThePortFolder) {
  std::string dir = testing::TempDir() + "velutron-pty-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(symlink(slavePath_.c_str(), (dir + "/COM7").c_str()), 0);
  setenv("VELUTRON_PORT_DIR", dir.c_str(), 1);
  PosixSerialPort port;
  EXPECT_TRUE(port.Open("com7", Parity::Even));
  port.SendByte(62);
  EXPECT_EQ(MasterRead(1), std::vector<uint8_t>{62});
  unsetenv("VELUTRON_PORT_DIR");
  unlink((dir + "/COM7").c_str());
  rmdir(dir.c_str());
}

TEST_F(PosixSerialPortTest, BytesGoOutUnchangedInBothDirections) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(slavePath_, Parity::Even));
  // Line ends, XON/XOFF, interrupt and NUL must all pass through untouched.
  const std::vector<uint8_t> bytes{30, 62, 0x0A, 0x0D, 0x11, 0x13, 0x03, 0x00, 0xFF};
  for (uint8_t b : bytes) port.SendByte(b);
  EXPECT_EQ(MasterRead(bytes.size()), bytes);

  MasterWrite(bytes);
  while (port.InputCount() < bytes.size()) port.WaitForInput(1000);
  EXPECT_EQ(port.InputCount(), bytes.size());
  std::vector<uint8_t> first(4);
  EXPECT_EQ(port.Read(first), 4u);
  EXPECT_EQ(first, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4));
  EXPECT_EQ(port.InputCount(), bytes.size() - 4);
  std::vector<uint8_t> rest(100);
  EXPECT_EQ(port.Read(rest), bytes.size() - 4);
  EXPECT_EQ(std::vector<uint8_t>(rest.begin(), rest.begin() + 5),
            std::vector<uint8_t>(bytes.begin() + 4, bytes.end()));
  EXPECT_EQ(port.InputCount(), 0u);
  EXPECT_EQ(port.Read(rest), 0u);
}

TEST_F(PosixSerialPortTest, DiscardInputEmptiesBothQueuesAndLaterBytesStillArrive) {
  // Bytes waiting when the port is opened belong to nobody.
  MasterWrite({1, 2, 3});
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(slavePath_, Parity::Even));
  port.WaitForInput(100);
  EXPECT_EQ(port.InputCount(), 0u);

  // Some already in the port's own queue, some still in the driver's.
  MasterWrite({4, 5});
  while (port.InputCount() < 2) port.WaitForInput(1000);
  MasterWrite({6, 7});
  std::this_thread::sleep_for(milliseconds(50));
  port.DiscardInput();
  EXPECT_EQ(port.InputCount(), 0u);

  MasterWrite({62});
  port.WaitForInput(1000);
  std::vector<uint8_t> got(8);
  ASSERT_EQ(port.Read(got), 1u);
  EXPECT_EQ(got[0], 62);
}

TEST_F(PosixSerialPortTest, AWholeMemoryDumpWaitsQueuedUntilItIsRead) {
  // Far more than a tty buffers: the port must keep taking bytes while the program only counts them.
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(slavePath_, Parity::Even));
  std::vector<uint8_t> dump(100'000);
  for (size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<uint8_t>(i * 31 + i / 256);
  std::thread logger([&] {
    size_t done = 0;
    while (done < dump.size()) {
      ssize_t n = write(master_, dump.data() + done, std::min<size_t>(1024, dump.size() - done));
      if (n > 0) done += static_cast<size_t>(n);
    }
  });
  uint32_t before = 0;
  uint32_t after = 1;
  while (before != after || after < dump.size()) {  // the download's quiet-window loop, shortened
    before = port.InputCount();
    std::this_thread::sleep_for(milliseconds(20));
    after = port.InputCount();
  }
  logger.join();
  std::vector<uint8_t> got(dump.size() + 10);
  ASSERT_EQ(port.Read(got), dump.size());
  got.resize(dump.size());
  EXPECT_EQ(got, dump);
}

TEST_F(PosixSerialPortTest, WriteBlockDeliversTheWholeBlock) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(slavePath_, Parity::Odd));
  std::vector<uint8_t> block(3000);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> received;
  std::thread reader([&] { received = MasterRead(block.size()); });
  EXPECT_TRUE(port.WriteBlock(block));
  reader.join();
  EXPECT_EQ(received, block);
}

TEST_F(PosixSerialPortTest, WaitForInputReturnsWhenAByteArrives) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(slavePath_, Parity::Even));
  std::thread logger([&] {
    std::this_thread::sleep_for(milliseconds(50));
    MasterWrite({100});
  });
  auto start = SteadyClock::now();
  port.WaitForInput(10000);
  auto waited = SteadyClock::now() - start;
  logger.join();
  EXPECT_EQ(port.InputCount(), 1u);
  EXPECT_LT(waited, milliseconds(9000));  // woken by the byte, not by the time-out
}

TEST_F(PosixSerialPortTest, AHungUpLineEndsTheWaitAndReadsAsHungUpUntilTheNextOpen) {
  PosixSerialPort port;
  ASSERT_TRUE(port.Open(slavePath_, Parity::Even));
  port.WaitForInput(1);
  EXPECT_FALSE(port.HungUp());

  close(master_);  // the adapter pulled: poll() wakes at once and forever, and nothing comes
  master_ = -1;
  port.WaitForInput(60'000);  // without the hang-up seen, this waits a minute
  EXPECT_TRUE(port.HungUp());
  EXPECT_EQ(port.InputCount(), 0u);
  EXPECT_TRUE(port.IsOpen());
  port.WaitForInput(60'000);
  EXPECT_TRUE(port.HungUp());

  // The device path went with it; a new device there is a new port.
  EXPECT_FALSE(port.Open(slavePath_, Parity::Even));
  EXPECT_FALSE(port.HungUp());
}

}  // namespace
}  // namespace velutron
