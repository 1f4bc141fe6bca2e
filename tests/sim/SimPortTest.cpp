#include <gtest/gtest.h>

#include <array>

#include "sim/LoggerMap.h"
#include "sim/SimPort.h"

namespace velutron::sim {
namespace {

using namespace velutron::sim::map;

// The program's pacing, as the tests drive the logger.
constexpr uint32_t kByteGapMs = 3;
constexpr uint32_t kReplyTimeoutMs = 250;
constexpr uint32_t kDownloadLeadMs = 100;
constexpr uint32_t kDownloadWindowMs = 50;

class SimPortTest : public ::testing::Test {
 protected:
  SimPortTest() {
    bench.ports["COM1"] = {nullptr, false};
    bench.ports["COM2"] = {&device, false};
    bench.ports["COM3"] = {&device, true};
  }
  // Sends the bytes with the program's 3 ms gaps.
  void SendFramed(std::initializer_list<uint8_t> bytes) {
    bool first = true;
    for (uint8_t b : bytes) {
      if (!first) clock.SleepMs(kByteGapMs);
      port.SendByte(b);
      first = false;
    }
  }
  std::vector<uint8_t> ReadAll() {
    std::array<uint8_t, 64> buffer{};
    const uint32_t n = port.Read(buffer);
    return {buffer.begin(), buffer.begin() + n};
  }

  VirtualClock clock;
  Device device;
  SimBench bench;
  SimSerialPort port{clock, bench};
};

TEST_F(SimPortTest, OpenFailsForAbsentInUseAndAlreadyOpenPorts) {
  EXPECT_FALSE(port.Open("COM4", Parity::Even));
  EXPECT_FALSE(port.Open("COM3", Parity::Even));
  EXPECT_TRUE(port.Open("COM2", Parity::Even));
  EXPECT_FALSE(port.Open("COM1", Parity::Even));
  EXPECT_EQ(port.OpenName(), "COM2");
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(port.Open("COM1", Parity::Odd));
  const std::vector<std::pair<std::string, bool>> expected{
      {"COM4", false}, {"COM3", false}, {"COM2", true}, {"COM1", false}, {"COM1", true}};
  EXPECT_EQ(port.opens, expected);
}

TEST_F(SimPortTest, ProbeAnswerArrivesAfterLineTimeAndLatency) {
  ASSERT_TRUE(port.Open("COM2", Parity::Even));
  SendFramed({kReadRegister, kIdent});
  const uint64_t handedOver = clock.NowUs();
  const uint64_t arrives = handedOver + LineTimeUs(1) + kAnswerLatencyUs + LineTimeUs(1);
  EXPECT_EQ(port.InputCount(), 0u);
  port.WaitForInput(kReplyTimeoutMs);
  EXPECT_EQ(clock.NowUs(), arrives);
  EXPECT_EQ(port.InputCount(), 1u);
  EXPECT_EQ(ReadAll(), std::vector<uint8_t>{kIdentValue});
  EXPECT_EQ(port.SentBytes(), (std::vector<uint8_t>{kReadRegister, kIdent}));
  ASSERT_EQ(port.sent.size(), 2u);
  EXPECT_EQ(port.sent[1].atUs - port.sent[0].atUs, kByteGapMs * 1000u);
  EXPECT_EQ(port.sent[0].port, "COM2");
  // The device saw each byte a line time after it was handed over.
  EXPECT_EQ(device.received[0].atUs, port.sent[0].atUs + LineTimeUs(1));
}

TEST_F(SimPortTest, BytesHandedOverTogetherQueueBehindEachOther) {
  ASSERT_TRUE(port.Open("COM2", Parity::Even));
  port.SendByte(kLeadIn);
  port.SendByte(kReadParam);
  port.SendByte(kOwnerAt);
  ASSERT_EQ(device.received.size(), 3u);
  EXPECT_EQ(device.received[2].atUs - device.received[0].atUs, 2 * LineTimeUs(1));
  port.WaitForInput(kReplyTimeoutMs);
  EXPECT_EQ(ReadAll(), std::vector<uint8_t>{'N'});
}

TEST_F(SimPortTest, LateAnswerStaysQueuedForTheNextWait) {
  device.faults.answerDelayUs = 300'000;
  ASSERT_TRUE(port.Open("COM2", Parity::Even));
  SendFramed({kReadRegister, kIdent});
  const uint64_t start = clock.NowUs();
  port.WaitForInput(kReplyTimeoutMs);
  EXPECT_EQ(clock.NowUs() - start, kReplyTimeoutMs * 1000u);
  EXPECT_EQ(port.InputCount(), 0u);
  port.WaitForInput(kReplyTimeoutMs);
  EXPECT_EQ(port.InputCount(), 1u);
  EXPECT_EQ(ReadAll(), std::vector<uint8_t>{kIdentValue});
}

TEST_F(SimPortTest, ParityMismatchOrEmptyPortStaysSilent) {
  ASSERT_TRUE(port.Open("COM2", Parity::Odd));
  SendFramed({kReadRegister, kIdent});
  port.WaitForInput(kReplyTimeoutMs);
  EXPECT_EQ(port.InputCount(), 0u);
  EXPECT_TRUE(device.received.empty());
  EXPECT_EQ(port.SentBytes(), (std::vector<uint8_t>{kReadRegister, kIdent}));
  port.Close();

  ASSERT_TRUE(port.Open("COM1", Parity::Even));
  SendFramed({kReadRegister, kIdent});
  port.WaitForInput(kReplyTimeoutMs);
  EXPECT_EQ(port.InputCount(), 0u);
}

TEST_F(SimPortTest, WriteBlockReturnsWhenTheLastByteIsOnTheWire) {
  ASSERT_TRUE(port.Open("COM2", Parity::Even));
  const std::array<uint8_t, 3> block{kLeadIn, kLeadIn, kLeadIn};
  const uint64_t start = clock.NowUs();
  EXPECT_TRUE(port.WriteBlock(block));
  EXPECT_EQ(clock.NowUs() - start, 3 * LineTimeUs(1));
  port.Close();
  EXPECT_FALSE(port.WriteBlock(block));
}

TEST_F(SimPortTest, DumpArrivesInBurstWithPauseVisibleToPolling) {
  device.faults.dumpPauseAfter = 100;
  device.faults.dumpPauseMs = 200;
  ASSERT_TRUE(port.Open("COM2", Parity::Even));
  port.SendByte(kDumpUp);
  clock.SleepMs(kDownloadLeadMs);
  const uint32_t firstPart = port.InputCount();
  EXPECT_EQ(firstPart, 100u);  // 100 bytes take about 19 ms; then the pause
  clock.SleepMs(kDownloadWindowMs);
  EXPECT_EQ(port.InputCount(), firstPart);
  clock.SleepMs(1000);
  EXPECT_EQ(port.InputCount(), device.Dump(false).size());
}

}  // namespace
}  // namespace velutron::sim
