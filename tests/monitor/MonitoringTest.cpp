// Live monitoring against the simulated logger on virtual time: the exchanges of the start, of a refresh
// and of the closing, and what the window shows.

#include <gtest/gtest.h>

#include "monitor/Monitoring.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

using test::SimSession;
using Bytes = std::vector<uint8_t>;
using Events = std::vector<std::string>;

const std::string kTimeout = "message|Uwaga !|Przekroczenie czasu na odpowiedź !!!";
const std::string kBusLost = "message|Awaria !!!|Brak komunikacji magistralą 1-WIRE z czujnikami!";
const std::string kLinkLost = "message|Awaria !!!|Brak połączenia rejestratora z komputerem!";

class MonitoringTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.OpenPort()); }
  // The sensors, with their readings pinned when given.
  void Sensors(int count, bool humidity, std::vector<uint16_t> raws = {}) {
    sim.device.SetSensors(count, humidity);
    for (size_t i = 0; i < raws.size(); ++i) sim.device.pinnedReadings[static_cast<int>(i) + 1] = raws[i];
  }
  // Runs the window for `refreshes` refreshes, calling `change` before each.
  Outcome Run(int refreshes, std::function<void()> change = {}) {
    sim.ui.monitorRefreshes = refreshes;
    sim.ui.beforeRefresh = [this, change] {
      if (change) change();
      refreshSent = sim.port.sent.size();
      sim.clock.SleepMs(1000);
    };
    return BitBtn6Click(sim.s);
  }
  // The bytes of the last refresh (and the closing lead-in after it).
  Bytes RefreshBytes() const {
    Bytes out;
    for (size_t i = refreshSent; i < sim.port.sent.size(); ++i) out.push_back(sim.port.sent[i].byte);
    return out;
  }
  const MonitorView& Shown() const { return sim.ui.monitorViews.back(); }
  std::string Row(int j) const {
    const MonitorRow& r = Shown().rows[static_cast<size_t>(j - 1)];
    return r.name + "|" + r.band + "|" + r.value + "|" + r.extremes + "|" + "GBR"[static_cast<int>(r.colour)];
  }

  SimSession sim;
  size_t refreshSent = 0;
};

void Reads(Bytes& out, uint8_t command, int first, int count) {
  for (int a = first; a < first + count; ++a) out.insert(out.end(), {command, static_cast<uint8_t>(a)});
}

TEST_F(MonitoringTest, StartReadsSettingsLimitsNamesAndAFirstReadingThenTheWindowShowsThem) {
  Sensors(2, false, {1200, 1000});
  sim.device.params[108] = 50;  // channel 1: -5 .. 30
  sim.device.params[118] = 85;
  EXPECT_EQ(Run(0), Outcome::Completed);

  Bytes expected{30, 62, 75, 30, 75, 30, 74};
  for (int j = 1; j <= 2; ++j) {
    expected.insert(expected.end(),
                    {35, static_cast<uint8_t>(107 + j), 35, static_cast<uint8_t>(117 + j), 75});
    Reads(expected, 37, 16 * (j - 1), 16);
  }
  Reads(expected, 30, 8, 6);
  Reads(expected, 30, 88, 4);
  expected.insert(expected.end(), {30, 46, 75});
  EXPECT_EQ(sim.TakeSent(), expected);
  EXPECT_EQ(sim.port.sent[3].atUs - sim.port.sent[2].atUs, 1000u);  // 1 ms after the lead-in
  EXPECT_EQ(sim.ui.events, Events{"monitor-window"});

  EXPECT_EQ(Shown().channelCount, 2);
  EXPECT_EQ(Shown().header, "Liczba kanałów: 2\r- rej. temperatury.");
  EXPECT_EQ(Shown().time, "14:05:30");
  EXPECT_EQ(Shown().date, " 5-06-2009");
  EXPECT_EQ(Row(1), "1. Freezer 1       |-5°C<AL>30°C|20,0°C|Min:20,0°C Max:20,0°C|G");
  EXPECT_EQ(Row(2), "2. Freezer 2       |-5°C<AL>25°C|7,5°C|Min:7,5°C Max:7,5°C|G");
  EXPECT_EQ(Row(3), "||||G");
}

TEST_F(MonitoringTest, ARefreshReadsTheDateAgainOnlyDuringMinuteZero) {
  struct Case {
    CivilTime clock;  // when the run starts; the refresh comes about a second and a half later
    bool dateRead;
    std::string time;
    std::string date;
  };
  const Case cases[] = {
      {{2009, 6, 5, 14, 5, 30}, false, "14:05:31", " 5-06-2009"},
      {{2009, 6, 5, 14, 0, 30}, true, "14:00:31", " 5-06-2009"},
      {{2009, 6, 5, 23, 59, 59}, true, " 0:00:00", " 6-06-2009"},
  };
  for (const Case& c : cases) {
    sim.device.SetClock(c.clock, sim.clock.NowUs());
    Sensors(1, false, {1200});
    EXPECT_EQ(Run(1), Outcome::Completed);
    Bytes expected;
    Reads(expected, 30, 8, c.dateRead ? 6 : 3);
    expected.insert(expected.end(), {30, 88, 30, 89, 30, 46, 75});
    EXPECT_EQ(RefreshBytes(), expected) << c.time;
    EXPECT_EQ(Shown().time, c.time);
    EXPECT_EQ(Shown().date, c.date);
  }
}

TEST_F(MonitoringTest, ReadingsShowOneDecimalWithTheirAlarmColoursAndInvalidOnesAsError) {
  // Limits -5 and 25 degrees; the last three readings are invalid.
  Sensors(10, false, {1, 2879, 1200, 876, 800, 1280, 880, 0, 2239, 2880});
  sim.device.params[110] = 75;  // channel 3: both limits 20 degrees
  sim.device.params[120] = 75;
  sim.device.params[114] = 0;  // channel 7: -55 .. 125
  sim.device.params[124] = 180;
  Run(0);
  const std::vector<std::string> expected = {"-54,9°C|B", "124,9°C|R", "20,0°C|B", "-0,3°C|G", "-5,0°C|B",
                                             "25,0°C|R",  "0,0°C|G",   "ERROR!|R", "ERROR!|R", "ERROR!|R"};
  for (int j = 1; j <= 10; ++j) {
    const MonitorRow& r = Shown().rows[static_cast<size_t>(j - 1)];
    EXPECT_EQ(r.value + "|" + "GBR"[static_cast<int>(r.colour)], expected[static_cast<size_t>(j - 1)]) << j;
  }
  EXPECT_EQ(Shown().rows[2].band, "20°C<AL>20°C");
  EXPECT_EQ(Shown().rows[6].band, "-55°C<AL>125°C");
  EXPECT_EQ(Shown().rows[3].extremes, "Min:-0,3°C Max:-0,3°C");
  EXPECT_EQ(Shown().rows[7].extremes, "");
}

TEST_F(MonitoringTest, AnInvalidReadingShowsErrorOrWithMaskingKeepsTheLastValue) {
  for (const bool mask : {false, true}) {
    sim.device.registers[74] = mask ? 0x21 : 0x01;
    Sensors(1, false, {1200});
    Run(2, [this] { sim.device.pinnedReadings[1] = sim.device.pinnedReadings[1] == 1200 ? 1216 : 0; });
    EXPECT_EQ(Row(1).substr(Row(1).find('|') + 1), mask ? "-5°C<AL>25°C|21,0°C|Min:20,0°C Max:21,0°C|G"
                                                        : "-5°C<AL>25°C|ERROR!|Min:20,0°C Max:21,0°C|R");
  }
}

TEST_F(MonitoringTest, HumidityPairsShowTheWetChannelAsHumidityFromTheDryChannelsLastValidReading) {
  // Pairs (1,2) and (3,4); channel 5 has no partner.
  Sensors(5, true, {1200, 1184, 1200, 1200, 1000});
  Run(1, [this] {
    sim.device.pinnedReadings[1] = 0;     // dry bulb lost: its last valid reading stands in
    sim.device.pinnedReadings[2] = 1180;  // 20.0 - 18.75 degrees
    sim.device.pinnedReadings[4] = 0;
  });
  EXPECT_EQ(Shown().header, "Liczba kanałów: 5\r- rej. temp. i wilgotn.");
  EXPECT_EQ(Row(1), "1. Freezer 1       |-5°C<AL>25°C|ERROR!|Min:20,0°C Max:20,0°C|R");
  EXPECT_EQ(Row(2), "2. Freezer 2       |0%RH<AL>100%RH|88,3%RH|Min:88,3%RH Max:90,2%RH|G");
  EXPECT_EQ(Row(3), "3. Chiller         |-5°C<AL>25°C|20,0°C|Min:20,0°C Max:20,0°C|G");
  EXPECT_EQ(Row(4), "4. Loading bay     |0%RH<AL>100%RH|ERROR!|Min:100,0%RH Max:100,0%RH|R");
  EXPECT_EQ(Row(5), "5. Office          |-5°C<AL>25°C|7,5°C|Min:7,5°C Max:7,5°C|G");
}

TEST_F(MonitoringTest, ARefreshClosesTheWindowOnABusFailureOrALostLinkAndTheMessagesFollowInOrder) {
  struct Case {
    const char* what;
    bool busDownAtStart;
    std::function<void(sim::Faults&)> atRefresh;
    int refreshes;
    Events events;
  };
  const std::vector<Case> cases = {
      {"user closes", false, {}, 2, {"monitor-window"}},
      {"bus fails", false, [](sim::Faults& f) { f.busDown = true; }, 3, {"monitor-window", kBusLost}},
      {"link lost",
       false,
       [](sim::Faults& f) { f.silent = true; },
       3,
       {"monitor-window", kTimeout, kLinkLost}},
      {"both",
       true,
       [](sim::Faults& f) { f.silent = true; },
       3,
       {"monitor-window", kTimeout, kBusLost, kLinkLost}},
      {"user closes while the bus fails", true, {}, 0, {"monitor-window", kBusLost}},
  };
  for (const Case& c : cases) {
    SimSession run;
    ASSERT_TRUE(run.OpenPort());
    run.device.faults.busDown = c.busDownAtStart;
    int refreshes = 0;
    run.ui.monitorRefreshes = c.refreshes;
    run.ui.beforeRefresh = [&] {
      if (c.atRefresh && ++refreshes == 1) c.atRefresh(run.device.faults);
      run.clock.SleepMs(1000);
    };
    EXPECT_EQ(BitBtn6Click(run.s), c.events.size() > 1 ? Outcome::Failed : Outcome::Completed) << c.what;
    EXPECT_EQ(run.ui.events, c.events) << c.what;
    // The window closed at the refresh that saw the failure, and the lead-in was the last byte.
    EXPECT_EQ(run.ui.monitorViews.size(), c.atRefresh ? 2u : static_cast<size_t>(c.refreshes) + 1) << c.what;
    EXPECT_EQ(run.port.sent.back().byte, 75) << c.what;
  }
}

TEST_F(MonitoringTest, ATimeOutDuringTheStartStillOpensTheWindowWhichItsFirstRefreshCloses) {
  sim.device.faults.silentAfter = 3;  // the probe, the channel count and the options byte
  EXPECT_EQ(Run(5), Outcome::Failed);
  // After the time-out only the raw lead-ins go out: one per name read, and the closing one.
  EXPECT_EQ(sim.TakeSent(), (Bytes{30, 62, 75, 30, 75, 30, 74, 35, 108, 75, 75, 75, 75, 75}));
  EXPECT_EQ(sim.ui.events, (Events{kTimeout, "monitor-window", kLinkLost}));
  EXPECT_EQ(sim.ui.monitorViews.size(), 2u);
}

TEST_F(MonitoringTest, AFailedProbeShowsOnlyItsMessageAndOpensNoWindow) {
  sim.device.faults.silent = true;
  EXPECT_EQ(Run(1), Outcome::Failed);
  EXPECT_EQ(sim.ui.events, Events{"message|Uwaga !|Brak połączenia z VELUTRON !"});
  EXPECT_EQ(sim.TakeSent(), (Bytes{30, 62}));
}

TEST_F(MonitoringTest, AChannelCountOutsideOneToTenIsHeldThereAndFewerChannelsEmptyTheRowsAbove) {
  struct Case {
    uint8_t countByte;
    int channels;
  };
  for (const Case c : {Case{12, 10}, Case{0, 1}, Case{0x80 | 127, 10}, Case{3, 3}}) {
    sim.device.registers[75] = c.countByte;
    sim.TakeSent();
    Run(0);
    EXPECT_EQ(Shown().channelCount, c.channels);
    EXPECT_EQ(Shown().header.substr(0, Shown().header.find('\r')),
              "Liczba kanałów: " + std::to_string(c.channels));
    const Bytes sent = sim.TakeSent();
    Bytes readings;
    Reads(readings, 30, 88, 2 * c.channels);
    readings.insert(readings.end(), {30, 46, 75});
    EXPECT_TRUE(std::equal(readings.rbegin(), readings.rend(), sent.rbegin())) << int{c.countByte};
    for (int j = c.channels + 1; j <= 10; ++j) EXPECT_EQ(Row(j).substr(0, 4), "||||") << j;
  }
}

TEST(FixedOneDecimalTest, RoundsOnceToTheCoarserOfTheSignificantDigitsAndOneDecimal) {
  struct Case {
    int64_t numerator, denominator;
    int digits;
    const char* expected;
  };
  for (const Case& c :
       {Case{-4, 16, 4, "-0,3"}, Case{-1, 16, 4, "-0,1"}, Case{0, 16, 4, "0,0"}, Case{1000, 10, 3, "100,0"},
        Case{12345, 100, 3, "123,0"}, Case{-12355, 100, 3, "-124,0"}, Case{99995, 100, 4, "1000,0"},
        Case{12345, 100, 4, "123,5"}, Case{617, 10, 3, "61,7"}}) {
    EXPECT_EQ(FixedOneDecimal(c.numerator, c.denominator, c.digits, ","), c.expected) << c.numerator;
  }
}

}  // namespace
}  // namespace velutron
