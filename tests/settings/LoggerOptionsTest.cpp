// "Parametry rejestratora": what the dialog shows and what goes back to the logger.

#include "settings/LoggerOptions.h"
#include "settings/SettingsFixture.h"

namespace velutron {
namespace {

using test::Events;

TEST(LoggerOptionsMinutesTest, IntervalsRoundToWholeMinutesHalvesToEven) {
  const std::pair<uint32_t, int> cases[] = {{90, 2}, {150, 2}, {210, 4},     {89, 1},
                                            {30, 0}, {31, 1},  {10800, 180}, {65535, 1092}};
  for (const auto& [seconds, minutes] : cases) EXPECT_EQ(MinutesFromSeconds(seconds), minutes) << seconds;
}

void SetLogger(sim::Device& d, uint16_t interval, uint8_t threshold, uint8_t options, uint8_t sensors) {
  d.registers[72] = interval & 0xFF;
  d.registers[73] = interval >> 8;
  d.threshold = threshold;
  d.registers[74] = options;
  d.registers[75] = sensors;
}

class LoggerOptionsTest : public test::SettingsTest {};

TEST_F(LoggerOptionsTest, ShowsWhatWasReadAndWritesBackOnlyWhatTheUserChangedInItsOrder) {
  const std::string lockedOption =
      "message|Blokada funkcji !!!|Użytkownik nie ma dostępu do zmiany tej opcji !";
  struct Case {
    const char* what;
    uint16_t interval;
    uint8_t threshold, options, sensors;
    bool service;
    std::optional<LoggerOptionsAnswer> answer;
    std::string dialog;  // interval|threshold|options|humidity as shown
    std::string writes;
    Events after;
  };
  using A = LoggerOptionsAnswer;
  // clang-format off
  const Case cases[] = {
      {"180 min set to 1", 10800, 20, 1, 4, false, A{1}, "180|20|1|0", " 20-72-60 20-73-0", {}},
      {"1 min set to 180", 60, 20, 1, 4, false, A{180}, "1|20|1|0", " 20-72-48 20-73-42", {}},
      {"90 s accepted unchanged", 90, 20, 1, 4, false, A{}, "2|20|1|0", "", {}},
      {"90 s set to 3 min", 90, 20, 1, 4, false, A{3}, "2|20|1|0", " 20-72-180 20-73-0", {}},
      {"CheckBox1 unticked", 600, 20, 0x25, 4, false, A{{}, {}, 0x24}, "10|20|37|0", " 20-74-36", {}},
      {"humidity cleared with service", 600, 20, 1, 0x83, true, A{{}, {}, {}, false}, "10|20|1|1", " 20-75-3", {}},
      {"humidity refused without service, after the rest", 600, 20, 1, 0x83, false, A{{}, 30, {}, false},
       "10|20|1|1", " 20-77-30", {lockedOption}},
      {"every value changed", 600, 20, 1, 0x03, true, A{5, 21, 2, true}, "10|20|1|0",
       " 20-72-44 20-73-1 20-77-21 20-74-2 20-75-131", {}},
      // Values outside the spinners show at their ends and stay as they were unless moved.
      {"interval 0 and threshold 150 untouched", 20, 150, 1, 4, false, A{}, "1|100|1|0", "", {}},
      {"18 hours shown as 180 min, not as the low byte of 1092", 65535, 20, 1, 4, false, A{}, "180|20|1|0", "", {}},
      {"threshold 150 moved to 100", 20, 150, 1, 4, false, A{{}, 100}, "1|100|1|0", " 20-77-100", {}},
      {"closed with changes", 600, 20, 1, 4, true, std::nullopt, "10|20|1|0", "", {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    SetLogger(sim.device, c.interval, c.threshold, c.options, c.sensors);
    sim.s.settings.ServiceAccess = c.service;
    sim.ui.optionDialogs = {c.answer};

    const Outcome outcome = Parametryrejestratora1Click(sim.s);
    EXPECT_EQ(outcome, !c.answer         ? Outcome::Cancelled
                       : c.after.empty() ? Outcome::Completed
                                         : Outcome::Failed);
    EXPECT_EQ(sim.TakeWire(), "30-62 30-14 30-72 30-73 30-77 30-74 30-75" + c.writes);
    Events expected{"options|" + c.dialog + (c.answer ? "|accept" : "|close")};
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(std::vector(sim.ui.events.begin() + 4, sim.ui.events.end()), expected);
    EXPECT_EQ(sim.s.DialogAccepted, c.answer.has_value());
  }
  // A confirmation code answering a register write is no acceptance: its message, and a failure.
  test::SimSession sim;
  ASSERT_TRUE(sim.OpenPort());
  SetLogger(sim.device, 600, 20, 1, 4);
  sim.device.faults.refusedRegisters = {{77, 130}};
  sim.ui.optionDialogs = {A{{}, 30}};
  EXPECT_EQ(Parametryrejestratora1Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events.back(), "message|Odpowiedź|Zegar układu ustawiony poprawnie.");
}

TEST_F(LoggerOptionsTest, ATimeOutWhileReadingStillOpensTheDialogButNothingIsWritten) {
  SetLogger(sim.device, 600, 20, 1, 4);
  sim.device.faults.silentAfter = 4;  // probe, state, 72, 73
  sim.ui.optionDialogs = {LoggerOptionsAnswer{5, 30, 0xFF, true}};
  EXPECT_EQ(Parametryrejestratora1Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.TakeWire(), "30-62 30-14 30-72 30-73 30-77");
  // The last byte received (register 73) stands in for the values not read.
  EXPECT_EQ(Shown(), (Events{test::kTimeoutMessage, "options|10|2|2|0|accept",
                             "message|Blokada funkcji !!!|Użytkownik nie ma dostępu do zmiany tej opcji !"}));
  // Only the interval was read whole: nothing else is reported as a value.
  EXPECT_EQ(sim.ui.events[1], "value|interval_min|10");
  EXPECT_EQ(sim.ui.events.size(), Shown().size() + 1);
}

TEST_F(LoggerOptionsTest, GivenValuesCountAgainstTheSecondsHeldAndNeedEveryRightBeforeAnyWrite) {
  struct Case {
    const char* what;
    uint16_t interval;
    LoggerOptionsAnswer answer;
    std::string writes;
    Outcome outcome;
  };
  const Case cases[] = {
      {"90 s given as 2 min", 90, {2}, " 20-72-120 20-73-0", Outcome::Completed},
      {"120 s given as 2 min", 120, {2}, "", Outcome::Completed},
      {"humidity without service, with an interval", 90, {5, {}, {}, true}, "", Outcome::Failed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    SetLogger(sim.device, c.interval, 20, 1, 4);
    sim.ui.optionDialogs = {c.answer};
    sim.ui.optionsGiven = true;
    EXPECT_EQ(Parametryrejestratora1Click(sim.s), c.outcome);
    EXPECT_EQ(sim.TakeWire(), "30-62 30-14 30-72 30-73 30-77 30-74 30-75" + c.writes);
  }
}

}  // namespace
}  // namespace velutron
