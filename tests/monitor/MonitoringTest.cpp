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

void Reads(Bytes& out, uint8_t command, int first, int count) {
  for (int a = first; a < first + count; ++a) out.insert(out.end(), {command, static_cast<uint8_t>(a)});
}

struct Monitoring : SimSession {
  Monitoring() { EXPECT_TRUE(OpenPort()); }
  // The sensors, with their readings pinned.
  void Sensors(int count, bool humidity, const std::vector<uint16_t>& raws) {
    device.SetSensors(count, humidity);
    for (size_t i = 0; i < raws.size(); ++i) device.pinnedReadings[static_cast<int>(i) + 1] = raws[i];
  }
  // Runs the window for `refreshes` refreshes, calling `change` before each.
  Outcome Run(int refreshes, std::function<void()> change = {}) {
    ui.monitorRefreshes = refreshes;
    ui.beforeRefresh = [this, change] {
      if (change) change();
      refreshFrom = port.sent.size();
      clock.SleepMs(1000);
    };
    return BitBtn6Click(s);
  }
  Bytes RefreshBytes() const {
    Bytes out;
    for (size_t i = refreshFrom; i < port.sent.size(); ++i) out.push_back(port.sent[i].byte);
    return out;
  }
  // "name|band|value|extremes|colour" of row j, as the window's `view`-th display showed it.
  std::string Row(int j, size_t view = SIZE_MAX) const {
    const MonitorRow& r = Shown(view).rows[static_cast<size_t>(j - 1)];
    return r.name + "|" + r.band + "|" + Value(j, view) + "|" + r.extremes;
  }
  // "value colour" of row j.
  std::string Value(int j, size_t view = SIZE_MAX) const {
    const MonitorRow& r = Shown(view).rows[static_cast<size_t>(j - 1)];
    return r.value + " " + "GBR"[static_cast<int>(r.colour)];
  }
  const MonitorView& Shown(size_t view = SIZE_MAX) const {
    return view == SIZE_MAX ? ui.monitorViews.back() : ui.monitorViews.at(view);
  }
  size_t refreshFrom = 0;
};

TEST(MonitoringTest, StartReadsSettingsLimitsNamesAndAFirstReadingThenTheWindowShowsThem) {
  Monitoring m;
  m.Sensors(2, false, {1200, 1000});
  m.device.params[118] = 85;  // channel 1: -5 .. 30 degrees
  EXPECT_EQ(m.Run(0), Outcome::Completed);

  Bytes expected{30, 62, 75, 30, 75, 30, 74};
  for (int j = 1; j <= 2; ++j) {
    expected.insert(expected.end(),
                    {35, static_cast<uint8_t>(107 + j), 35, static_cast<uint8_t>(117 + j), 75});
    Reads(expected, 37, 16 * (j - 1), 16);
  }
  Reads(expected, 30, 8, 6);
  Reads(expected, 30, 88, 4);
  expected.insert(expected.end(), {30, 46, 75});
  EXPECT_EQ(m.TakeSent(), expected);
  EXPECT_EQ(m.port.sent[3].atUs - m.port.sent[2].atUs, 1000u);  // 1 ms after the lead-in
  EXPECT_EQ(m.ui.events, Events{"monitor-window"});

  const MonitorView& shown = m.ui.monitorViews.back();
  EXPECT_EQ(shown.channelCount, 2);
  EXPECT_EQ(shown.header, "Liczba kanałów: 2\r- rej. temperatury.");
  EXPECT_EQ(shown.time + "|" + shown.date, "14:05:30| 5-06-2009");
  EXPECT_EQ(m.Row(1), "1. Freezer 1       |-5°C<AL>30°C|20,0°C G|Min:20,0°C Max:20,0°C");
  EXPECT_EQ(m.Row(2), "2. Freezer 2       |-5°C<AL>25°C|7,5°C G|Min:7,5°C Max:7,5°C");
  EXPECT_EQ(m.Row(3), "|| G|");
}

TEST(MonitoringTest, ARefreshReadsTheDateAgainOnlyDuringMinuteZero) {
  struct Case {
    CivilTime clock;  // when the run starts; the refresh comes a little over a second later
    bool dateRead;
    std::string shown;
  };
  for (const Case& c : {Case{{2009, 6, 5, 14, 5, 30}, false, "14:05:31| 5-06-2009"},
                        Case{{2009, 6, 5, 14, 0, 30}, true, "14:00:31| 5-06-2009"},
                        Case{{2009, 6, 5, 23, 59, 59}, true, " 0:00:00| 6-06-2009"}}) {
    Monitoring m;
    m.device.SetClock(c.clock, m.clock.NowUs());
    m.Sensors(1, false, {1200});
    EXPECT_EQ(m.Run(1), Outcome::Completed);
    Bytes expected;
    Reads(expected, 30, 8, c.dateRead ? 6 : 3);
    expected.insert(expected.end(), {30, 88, 30, 89, 30, 46, 75});
    EXPECT_EQ(m.RefreshBytes(), expected) << c.shown;
    EXPECT_EQ(m.ui.monitorViews.back().time + "|" + m.ui.monitorViews.back().date, c.shown);
  }
}

TEST(MonitoringTest, ReadingsShowOneDecimalAndAlarmColoursAndInvalidOnesErrorUnlessMasked) {
  for (const bool mask : {false, true}) {
    Monitoring m;
    m.device.registers[74] = mask ? 0x21 : 0x01;
    // Limits -5 and 25 degrees; channel 3 has both at 20, channel 7 -55 and 125.
    m.Sensors(10, false, {1, 2879, 1200, 876, 800, 1280, 880, 0, 2239, 2880});
    m.device.params[110] = m.device.params[120] = 75;
    m.device.params[114] = 0;
    m.device.params[124] = 180;
    m.Run(1, [&m] { m.device.pinnedReadings[4] = 2239; });
    // Masked, an invalid reading leaves the label as it was: empty in a first run.
    const std::string invalid = mask ? " G" : "ERROR! R";
    const std::string first[] = {"-54,9°C B", "124,9°C R", "20,0°C B", "-0,3°C G", "-5,0°C B",
                                 "25,0°C R",  "0,0°C G",   invalid,    invalid,    invalid};
    for (int j = 1; j <= 10; ++j) EXPECT_EQ(m.Value(j, 0), first[j - 1]) << j;
    EXPECT_EQ(m.Row(7, 0), "7. Outdoor         |-55°C<AL>125°C|0,0°C G|Min:0,0°C Max:0,0°C");
    // Channel 4's reading turns invalid at the refresh: masked, it keeps its last value.
    EXPECT_EQ(m.Row(4), mask ? "4. Loading bay     |-5°C<AL>25°C|-0,3°C G|Min:-0,3°C Max:-0,3°C"
                             : "4. Loading bay     |-5°C<AL>25°C|ERROR! R|Min:-0,3°C Max:-0,3°C");
  }
}

TEST(MonitoringTest, HumidityPairsShowTheWetChannelAsHumidityFromTheDryChannelsLastValidReading) {
  Monitoring m;
  // Pairs (1,2) and (3,4); channel 5 has no partner.
  m.Sensors(5, true, {1200, 1184, 1200, 1200, 1000});
  m.Run(1, [&m] {
    m.device.pinnedReadings[1] = 0;     // the dry bulb fails: its last valid reading stands in
    m.device.pinnedReadings[2] = 1180;  // 20.0 - 18.75 degrees
    m.device.pinnedReadings[4] = 0;
  });
  EXPECT_EQ(m.Shown().header, "Liczba kanałów: 5\r- rej. temp. i wilgotn.");
  EXPECT_EQ(m.Row(2, 0), "2. Freezer 2       |0%RH<AL>100%RH|90,2%RH G|Min:90,2%RH Max:90,2%RH");
  EXPECT_EQ(m.Row(1), "1. Freezer 1       |-5°C<AL>25°C|ERROR! R|Min:20,0°C Max:20,0°C");
  EXPECT_EQ(m.Row(2), "2. Freezer 2       |0%RH<AL>100%RH|88,3%RH G|Min:88,3%RH Max:90,2%RH");
  EXPECT_EQ(m.Row(4, 0), "4. Loading bay     |0%RH<AL>100%RH|T suchy! R|Min:100,0%RH Max:100,0%RH");
  EXPECT_EQ(m.Value(4), "ERROR! R");
  EXPECT_EQ(m.Row(5), "5. Office          |-5°C<AL>25°C|7,5°C G|Min:7,5°C Max:7,5°C");
}

TEST(MonitoringTest, TheWindowClosesAtTheRefreshThatLosesTheBusOrTheLinkAndTheMessagesFollowInOrder) {
  struct Case {
    const char* what;
    std::function<void(sim::Faults&)> atStart, atRefresh;
    Events events;
    size_t displays;  // the first one and one per refresh that ran
  };
  auto busDown = [](sim::Faults& f) { f.busDown = true; };
  auto silent = [](sim::Faults& f) { f.silent = true; };
  const std::vector<Case> cases = {
      {"the user closes", {}, {}, {"monitor-window"}, 4},
      {"the bus fails", {}, busDown, {"monitor-window", kBusLost}, 2},
      {"the link is lost", {}, silent, {"monitor-window", kTimeout, kLinkLost}, 2},
      {"both", busDown, silent, {"monitor-window", kTimeout, kBusLost, kLinkLost}, 2},
      {"the user closes while the bus fails", busDown, {}, {"monitor-window", kBusLost}, 1},
      {"the probe fails", silent, {}, {"message|Uwaga !|Brak połączenia z VELUTRON !"}, 0},
  };
  for (const Case& c : cases) {
    Monitoring m;
    if (c.atStart) c.atStart(m.device.faults);
    const int refreshes = c.atStart && !c.atRefresh ? 0 : 3;
    const Outcome outcome = m.Run(refreshes, [&] {
      if (c.atRefresh && m.ui.monitorViews.size() == 1) c.atRefresh(m.device.faults);
    });
    EXPECT_EQ(outcome, c.events == Events{"monitor-window"} ? Outcome::Completed : Outcome::Failed) << c.what;
    EXPECT_EQ(m.ui.events, c.events) << c.what;
    EXPECT_EQ(m.ui.monitorViews.size(), c.displays) << c.what;
    // A run that opened the window ends with the closing lead-in; a failed probe sends nothing after it.
    EXPECT_EQ(m.port.sent.back().byte, c.displays > 0 ? 75 : 62) << c.what;
  }
}

TEST(MonitoringTest, ATimeOutDuringTheStartStillOpensTheWindowWhichItsFirstRefreshCloses) {
  Monitoring m;
  m.device.faults.silentAfter = 3;  // the probe, the channel count and the options byte
  EXPECT_EQ(m.Run(5), Outcome::Failed);
  // After the time-out only the raw lead-ins go out: one per name read, and the closing one.
  EXPECT_EQ(m.TakeSent(), (Bytes{30, 62, 75, 30, 75, 30, 74, 35, 108, 75, 75, 75, 75, 75}));
  EXPECT_EQ(m.ui.events, (Events{kTimeout, "monitor-window", kLinkLost}));
  EXPECT_EQ(m.ui.monitorViews.size(), 2u);
}

TEST(MonitoringTest, AChannelCountOutsideOneToTenIsHeldThereAndFewerChannelsEmptyTheRowsAbove) {
  Monitoring m;
  for (const auto& [countByte, channels] : {std::pair{12, 10}, {0, 1}, {0x80 | 127, 10}, {3, 3}}) {
    m.device.registers[75] = static_cast<uint8_t>(countByte);
    m.TakeSent();
    m.Run(0);
    EXPECT_EQ(m.Shown().channelCount, channels);
    EXPECT_EQ(m.Shown().header.substr(0, m.Shown().header.find('\r')),
              "Liczba kanałów: " + std::to_string(channels));
    Bytes readings;
    Reads(readings, 30, 88, 2 * channels);
    readings.insert(readings.end(), {30, 46, 75});
    const Bytes sent = m.TakeSent();
    EXPECT_TRUE(std::equal(readings.rbegin(), readings.rend(), sent.rbegin())) << countByte;
    for (int j = channels + 1; j <= 10; ++j) EXPECT_EQ(m.Row(j).substr(0, 3), "|| ") << j;
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
        Case{12345, 100, 4, "123,5"}}) {
    EXPECT_EQ(FixedOneDecimal(c.numerator, c.denominator, c.digits, ","), c.expected) << c.numerator;
  }
}

}  // namespace
}  // namespace velutron
