#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/LoggerMap.h"
#include "sim/Device.h"

namespace velutron::sim {
namespace {

using namespace velutron::sim::map;

// Feeds the device bytes 3 ms apart, as the program's primitives pace them, and collects its answers.
class Wire {
 public:
  Device device;
  uint64_t nowUs = 10'000'000;

  std::vector<Emitted> Exchange(std::vector<uint8_t> bytes) {
    std::vector<Emitted> out;
    for (uint8_t b : bytes) {
      device.Receive(b, nowUs, out);
      nowUs += 3'000;
    }
    nowUs += 300'000;
    return out;
  }
  std::vector<uint8_t> Bytes(std::vector<uint8_t> bytes) {
    std::vector<uint8_t> answer;
    for (const Emitted& e : Exchange(std::move(bytes))) answer.push_back(e.byte);
    return answer;
  }
  int Read(uint8_t command, uint8_t address) {
    auto a = Bytes({command, address});
    return a.size() == 1 ? a[0] : -1;
  }
};

using Answer = std::vector<uint8_t>;

TEST(DeviceTest, ProbeAndRegisterReadsAnswerTheLoggerState) {
  Wire w;
  EXPECT_EQ(w.Bytes({kReadRegister, kIdent}), Answer{kIdentValue});
  EXPECT_EQ(w.Read(kReadRegister, kRecording), 0);
  EXPECT_EQ(w.Read(kReadRegister, kSensorSetup), 4);
  EXPECT_EQ(w.Read(kReadRegister, kBus) & kBusOk, kBusOk);
  EXPECT_EQ(w.Read(kReadRegister, kCrcCount), 0);
  EXPECT_EQ(w.Read(kReadRegister, kIntervalLo) | w.Read(kReadRegister, kIntervalHi) << 8, 600);

  w.device.SetSensors(6, true);
  w.device.SetRecording(true);
  w.device.faults.busDown = true;
  w.device.registers[kCrcCount] = 255;
  EXPECT_EQ(w.Read(kReadRegister, kSensorSetup), 0x86);
  EXPECT_NE(w.Read(kReadRegister, kRecording), 0);
  EXPECT_EQ(w.Read(kReadRegister, kBus) & kBusOk, 0);
  EXPECT_EQ(w.Read(kReadRegister, kCrcCount), 255);
}

TEST(DeviceTest, RunningClockIsPackedBcdAndAdvancesWithArrivalTime) {
  Wire w;
  w.device.SetClock({2009, 12, 31, 23, 59, 58}, w.nowUs);
  // All six registers as read at one moment.
  auto clock = [&] {
    std::vector<int> r;
    for (uint8_t a = kSecond; a <= kYear; ++a) {
      std::vector<Emitted> out;
      w.device.Receive(kReadRegister, w.nowUs, out);
      w.device.Receive(a, w.nowUs, out);
      r.push_back(out.size() == 1 ? out[0].byte : -1);
    }
    return r;
  };
  EXPECT_EQ(clock(), (std::vector<int>{0x58, 0x59, 0x23, 0x31, 0x12, 9}));
  w.nowUs += 3'000'000;
  EXPECT_EQ(clock(), (std::vector<int>{0x01, 0x00, 0x00, 0x01, 0x01, 10}));

  // Setting the clock through registers 2..7 and 13.
  for (auto [a, v] : std::vector<std::pair<uint8_t, uint8_t>>{{kSetSecond, 0x15},
                                                              {kSetMinute, 0x42},
                                                              {kSetHour, 0x07},
                                                              {kSetDay, 0x29},
                                                              {kSetMonth, 0x02},
                                                              {kYear, 12}}) {
    EXPECT_EQ(w.Bytes({kWriteRegister, a, v}), Answer{kAccepted});
  }
  // 29 February was set before the leap year and survives; the seconds ran on meanwhile.
  const std::vector<int> set = clock();
  EXPECT_EQ(std::vector<int>(set.begin() + 1, set.end()), (std::vector<int>{0x42, 0x07, 0x29, 0x02, 12}));
  EXPECT_GT(set[0], 0x15);
}

TEST(DeviceTest, CurrentReadingsArePlausibleLowByteFirstAndWetBelowDry) {
  Wire w;
  w.device.SetSensors(2, true);
  const int low = w.Read(kReadRegister, 88);
  const int high = w.Read(kReadRegister, 89);
  const uint16_t dry = w.device.CurrentRaw(1, w.nowUs);
  EXPECT_EQ(high << 8 | low, dry);
  const double dryC = dry * 0.0625 - 55;
  EXPECT_GT(dryC, -30);
  EXPECT_LT(dryC, 50);
  EXPECT_LT(w.device.CurrentRaw(2, w.nowUs), dry);
  EXPECT_EQ(w.device.CurrentRaw(3, w.nowUs), 0);  // no such sensor
}

TEST(DeviceTest, WritesAnswer100OrTheConfiguredReplyCode) {
  Wire w;
  EXPECT_EQ(w.Bytes({kWriteRegister, kWorkOptions, 0x05}), Answer{kAccepted});
  EXPECT_EQ(w.Read(kReadRegister, kWorkOptions), 0x05);
  EXPECT_EQ(w.Bytes({kWriteRegister, kSwitchThreshold, 21}), Answer{kAccepted});
  EXPECT_EQ(w.device.threshold, 21);

  w.device.faults.replyCodes[kWriteRegister] = 40;
  w.device.faults.replyCodes[kWriteName] = 255;
  EXPECT_EQ(w.Bytes({kWriteRegister, kWorkOptions, 0}), Answer{40});
  EXPECT_EQ(w.Bytes({kWriteName, 0, 'x'}), Answer{255});
  EXPECT_EQ(w.Bytes({kWriteParam, 0, 'x'}), Answer{kAccepted});
}

TEST(DeviceTest, AlarmLimitsAreSharedBetweenRegistersAndParameterSpace) {
  Wire w;
  EXPECT_EQ(w.Bytes({kWriteRegister, LowLimitOf(3), 30}), Answer{kAccepted});
  EXPECT_EQ(w.Read(kReadParam, LowLimitOf(3)), 30);
  EXPECT_EQ(w.Bytes({kWriteParam, HighLimitOf(10), 99}), Answer{kAccepted});
  EXPECT_EQ(w.Read(kReadRegister, HighLimitOf(10)), 99);
}

TEST(DeviceTest, SpacesAreSeparateAndTextWritesWrapAtTheEnd) {
  Wire w;
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(w.Bytes({kWriteParam, static_cast<uint8_t>(254 + k), static_cast<uint8_t>('a' + k)}),
              Answer{kAccepted});
    EXPECT_EQ(w.Bytes({kWriteName, static_cast<uint8_t>(255 + k), static_cast<uint8_t>('A' + k)}),
              Answer{kAccepted});
  }
  EXPECT_EQ(w.Read(kReadParam, 254), 'a');
  EXPECT_EQ(w.Read(kReadParam, 255), 'b');
  EXPECT_EQ(w.Read(kReadParam, 0), 'c');
  EXPECT_EQ(w.Read(kReadName, 255), 'A');
  EXPECT_EQ(w.Read(kReadName, 0), 'B');
  EXPECT_EQ(w.Read(kReadName, 1), 'C');
  EXPECT_EQ(w.device.params[1], 0xFF);  // untouched by the name writes
}

TEST(DeviceTest, DefaultTextsArePlainAsciiPaddedWithSpaces) {
  Device d;
  const std::string owner(d.params.begin() + kOwnerAt, d.params.begin() + kOwnerAt + kOwnerLen);
  EXPECT_EQ(owner, "Northfield Cold Store, Hall B      ");
  const std::string point(d.names.begin() + NameOf(2), d.names.begin() + NameOf(3));
  EXPECT_EQ(point, "Freezer 2       ");
  EXPECT_FALSE(d.measurements.empty());
}

TEST(DeviceTest, ActionsAnswerTheirCodesAndActOnTheMemory) {
  Wire w;
  ASSERT_FALSE(w.device.measurements.empty());
  EXPECT_EQ(w.Bytes({kReset}), Answer{kResetDone});
  EXPECT_EQ(w.Bytes({kErase}), Answer{kErased});
  EXPECT_TRUE(w.device.measurements.empty());
  EXPECT_EQ(w.Bytes({kFormat}), Answer{kErased});
  EXPECT_EQ(w.Read(kReadParam, kOwnerAt), ' ');

  w.device.GenerateMeasurements(5);
  w.device.faults.replyCodes[kErase] = 20;
  EXPECT_EQ(w.Bytes({kErase}), Answer{20});
  EXPECT_EQ(w.device.measurements.size(), 5u);  // a failed erase keeps the memory
}

TEST(DeviceTest, SensorDeclarationAnswers170OrTheBusFailure) {
  Wire w;
  EXPECT_EQ(w.Bytes({kWriteParam, kDeclareAt, 2}), Answer{kAddressSaved});
  EXPECT_EQ(w.device.declared, std::vector<int>{3});
  EXPECT_NE(w.device.params[kDeclareAt], 2);
  w.device.faults.busDown = true;
  EXPECT_EQ(w.Bytes({kWriteParam, kDeclareAt, 0}), Answer{97});
  w.device.faults.replyCodes[kDeclareAt] = 50;
  EXPECT_EQ(w.Bytes({kWriteParam, kDeclareAt, 0}), Answer{50});
  EXPECT_EQ(w.device.declared.size(), 1u);
}

TEST(DeviceTest, ModeToggleAndLeadInAreTakenSilently) {
  Wire w;
  EXPECT_TRUE(w.Bytes({kToggle}).empty());
  EXPECT_EQ(w.Read(kReadRegister, kRecording), kRecordingOn);
  EXPECT_TRUE(w.Bytes({kToggle}).empty());
  EXPECT_EQ(w.Read(kReadRegister, kRecording), 0);
  // After a lead-in, the next byte starts a new command.
  EXPECT_EQ(w.Bytes({kLeadIn, kReadParam, kOwnerAt}), Answer{'N'});
  // Inside a frame the same numbers are addresses and values.
  EXPECT_EQ(w.Bytes({kWriteParam, kToggle, kLeadIn}), Answer{kAccepted});
  EXPECT_EQ(w.Read(kReadParam, kToggle), kLeadIn);
  EXPECT_EQ(w.Read(kReadRegister, kRecording), 0);
}

TEST(DeviceTest, PartialFrameIsDroppedAfterALongGap) {
  Wire w;
  std::vector<Emitted> out;
  w.device.Receive(kWriteParam, w.nowUs, out);
  w.device.Receive(kDeclareAt, w.nowUs + 3'000, out);
  // The third byte never comes; the next command starts afresh a time-out later.
  w.nowUs += 3'000 + kFrameGapUs + 1;
  EXPECT_EQ(w.Bytes({kReadRegister, kIdent}), Answer{kIdentValue});
  EXPECT_TRUE(w.device.declared.empty());
}

TEST(DeviceTest, AnswersLeaveAfterLatencyAndLineTime) {
  Wire w;
  const uint64_t last = w.nowUs + 3'000;
  auto out = w.Exchange({kReadRegister, kIdent});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].atUs, last + kAnswerLatencyUs + LineTimeUs(1));
  EXPECT_EQ(LineTimeUs(1), 191u);
  EXPECT_EQ(LineTimeUs(57'600), 11'000'000u);
}

TEST(DeviceTest, FaultsChangeTheAnswers) {
  Wire w;
  w.device.faults.silent = true;
  EXPECT_TRUE(w.Bytes({kReadRegister, kIdent}).empty());
  EXPECT_TRUE(w.Bytes({kDumpUp}).empty());
  w.device.faults.silent = false;

  w.device.faults.wrongAnswer = 0;
  EXPECT_EQ(w.Bytes({kReadRegister, kIdent}), Answer{0});
  w.device.faults.wrongAnswer.reset();

  w.device.faults.extraByte = true;
  auto out = w.Exchange({kReadRegister, kIdent});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].byte, kIdentValue);
  EXPECT_EQ(out[1].atUs, out[0].atUs + LineTimeUs(1));
  w.device.faults.extraByte = false;

  w.device.faults.answerDelayUs = 300'000;
  const uint64_t last = w.nowUs + 3'000;
  out = w.Exchange({kReadRegister, kIdent});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].atUs, last + kAnswerLatencyUs + 300'000 + LineTimeUs(1));
}

// A small memory built by hand: 2 channels in humidity mode, two records with both ON/OFF states.
Device SmallMemory() {
  Device d;
  d.SetSensors(2, true);
  d.threshold = 25;
  d.carried = {0xAB, 0xCD};
  d.measurements = {
      {{2009, 6, 5, 14, 5, 30}, false, true, {0x0371, 0x0302}},
      {{2010, 12, 31, 23, 59, 7}, true, false, {0x0000, 0x0FFF}},
  };
  d.SetText(kReadParam, kOwnerAt, kOwnerLen, "Owner");
  d.SetText(kReadParam, kSupervisorAt, kSupervisorLen, "Sup");
  d.SetText(kReadName, NameOf(1), kNameLen, "A");
  d.SetText(kReadName, NameOf(2), kNameLen, "B");
  return d;
}

std::vector<uint8_t> Texts() {
  std::string t = "Owner" + std::string(30, ' ') + "Sup" + std::string(13, ' ') + "A" + std::string(15, ' ') +
                  "B" + std::string(15, ' ');
  return {t.begin(), t.end()};
}

TEST(DeviceTest, DumpLayoutAscendingByteForByte) {
  std::vector<uint8_t> expected = {0x82, 25,   0xAB, 0xCD, 2,    0,                              // header
                                   0x05, 0x06, 9,    0xD4, 0x05, 0x30, 0x03, 0x71, 0x03, 0x02,   // record 1
                                   0x31, 0x12, 0x8A, 0xA3, 0x59, 0x07, 0x00, 0x00, 0x0F, 0xFF};  // record 2
  const auto texts = Texts();
  expected.insert(expected.end(), texts.begin(), texts.end());
  EXPECT_EQ(SmallMemory().Dump(false), expected);
}

TEST(DeviceTest, DumpLayoutDescendingReversesOnlyTheRecords) {
  std::vector<uint8_t> expected = {0x82, 25,   0xAB, 0xCD, 2,    0, 0x31, 0x12, 0x8A, 0xA3, 0x59, 0x07, 0x00,
                                   0x00, 0x0F, 0xFF, 0x05, 0x06, 9, 0xD4, 0x05, 0x30, 0x03, 0x71, 0x03, 0x02};
  const auto texts = Texts();
  expected.insert(expected.end(), texts.begin(), texts.end());
  EXPECT_EQ(SmallMemory().Dump(true), expected);
}

TEST(DeviceTest, DownloadSendsTheDumpAtLineRateWithPauseAndCut) {
  Wire w;
  w.device = SmallMemory();
  const uint64_t at = w.nowUs;
  auto out = w.Exchange({kDumpDown});
  const auto dump = w.device.Dump(true);
  ASSERT_EQ(out.size(), dump.size());
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i].byte, dump[i]);
  EXPECT_EQ(out.back().atUs, at + w.device.faults.dumpStartDelayMs * 1000 + LineTimeUs(dump.size()));

  w.device.faults.dumpPauseAfter = 10;
  w.device.faults.dumpPauseMs = 80;
  out = w.Exchange({kDumpUp});
  ASSERT_EQ(out.size(), dump.size());
  EXPECT_EQ(out[10].atUs - out[9].atUs, 80'000 + LineTimeUs(1));

  w.device.faults.dumpCutAfter = 7;
  EXPECT_EQ(w.Exchange({kDumpUp}).size(), 7u);
}

TEST(DeviceTest, GeneratedMeasurementsArePlausibleAndRepeatable) {
  Device a, b;
  a.SetSensors(4, true);
  b.SetSensors(4, true);
  a.GenerateMeasurements(500, 7);
  b.GenerateMeasurements(500, 7);
  EXPECT_EQ(a.Dump(false), b.Dump(false));
  b.GenerateMeasurements(500, 8);
  EXPECT_NE(a.Dump(false), b.Dump(false));

  int wetBelowDry = 0, pairs = 0, markers = 0, singlePairs = 0, onOff = 0;
  for (const Measurement& m : a.measurements) {
    ASSERT_EQ(m.raw.size(), 4u);
    singlePairs += m.singlePair;
    onOff += m.onOff.has_value();
    for (uint16_t r : m.raw) markers += r == 0 || r > 4002;
    if (m.raw[0] != 0 && m.raw[0] <= 4002 && m.raw[1] != 0 && m.raw[1] <= 4002) {
      ++pairs;
      wetBelowDry += m.raw[1] < m.raw[0];
    }
  }
  EXPECT_EQ(wetBelowDry, pairs);
  EXPECT_GT(markers, 0);
  EXPECT_LT(markers, 100);
  EXPECT_GT(singlePairs, 0);
  EXPECT_GT(onOff, 0);
  // Records are in time order, at the recording interval.
  EXPECT_LT(a.measurements.front().time.year * 10000 + a.measurements.front().time.month * 100 +
                a.measurements.front().time.day,
            a.measurements.back().time.year * 10000 + a.measurements.back().time.month * 100 +
                a.measurements.back().time.day);
}

}  // namespace
}  // namespace velutron::sim
