// The sensor chooser, the sensor count, the declaration and a sensor's limits and offset.

#include "settings/DialogAnswers.h"
#include "settings/Sensors.h"
#include "settings/SettingsFixture.h"

namespace velutron {
namespace {

using test::Events;

class SensorsTest : public test::SettingsTest {};

TEST_F(SensorsTest, ChooserOffersTheSensorsTheLoggerHasAndAsksNothingBelowTwo) {
  struct Case {
    uint8_t setup;
    uint8_t before;
    std::optional<ChooserAnswer> answer;
    std::string dialog;  // range|position|answer, empty: none shown
    int after;
    bool chosen;
  };
  const Case cases[] = {
      {0x83, 1, ChooserAnswer{2}, "1..3|1|2", 2, true},
      {0x81, 4, ChooserAnswer{2}, "", 1, true},
      {0x01, 4, {}, "", 1, true},
      {0x00, 4, {}, "", 1, true},
      {0x80, 4, {}, "", 1, true},
      {0x83, 5, ChooserAnswer{}, "1..3|3|3", 3, true},       // a number above the count shows as the count
      {0x0F, 1, ChooserAnswer{10}, "1..10|1|10", 10, true},  // no sensor beyond the tenth
      {0x83, 2, std::nullopt, "1..3|2|close", 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.s.link.Test_COM_OK();
    sim.TakeSent();
    sim.device.registers[75] = c.setup;
    sim.s.link.state.SensorNumber = c.before;
    sim.ui.choosers = {c.answer};
    EXPECT_EQ(WyborKanalu(sim.s), c.chosen);
    EXPECT_EQ(sim.TakeWire(), "30-75");
    Events expected{"value|sensor_count|" + std::to_string(c.setup & 0x7F)};
    if (!c.dialog.empty()) expected.push_back("chooser|Wybór czujnika:|Nr czujnika:|" + c.dialog);
    EXPECT_EQ(sim.ui.events, expected);
    EXPECT_EQ(sim.s.link.state.SensorNumber, c.after);
  }
}

TEST_F(SensorsTest, CountKeepsTheHumidityFlagAndWritesOnlyAChangedCount) {
  struct Case {
    uint8_t setup;
    std::optional<ChooserAnswer> answer;
    std::string dialog;
    std::string writes;
  };
  const Case cases[] = {
      {0x85, ChooserAnswer{7}, "1..10|5|7", " 20-75-135"},
      {0x85, ChooserAnswer{5}, "1..10|5|5", ""},
      {0x00, ChooserAnswer{}, "1..10|1|1", ""},  // shown as 1, not written unless moved
      {0x00, ChooserAnswer{1}, "1..10|1|1", " 20-75-1"},
      {0x85, std::nullopt, "1..10|5|close", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.s.settings.ServiceAccess = true;
    sim.device.registers[75] = c.setup;
    sim.ui.choosers = {c.answer};
    EXPECT_EQ(Liczbaczujnikw1Click(sim.s), c.answer ? Outcome::Completed : Outcome::Cancelled);
    EXPECT_EQ(sim.TakeWire(), "30-62 30-14 30-75" + c.writes);
    EXPECT_EQ(sim.ui.events.back(), "chooser|Deklaruj liczbę czujników:|Liczba czujników:|" + c.dialog);
  }
  EXPECT_EQ(Liczbaczujnikw1Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events, Events{test::kLocked});
  EXPECT_EQ(sim.TakeWire(), "30-62 30-14");
}

TEST_F(SensorsTest, DeclarationSendsTwentyFiveAndOneTwentyEightRawAndWaitsASecondForTheAnswer) {
  const std::string ask =
      "question|Zapisz sygnaturę.|Czy napewno zadeklarować sygnaturę dla wybranego czujnika?";
  struct Case {
    uint32_t declareMs;
    std::optional<ChooserAnswer> chooser;
    bool ok;
    Outcome outcome;
    std::string wire;
    Events tail;
  };
  // clang-format off
  const Case cases[] = {
      {300, ChooserAnswer{3}, true, Outcome::Completed, "30-62 30-14 30-75 25-128-2",
       {ask + "|ok", "message|Odpowiedź|Zapisano adres czujnika poprawnie."}},
      {1000, ChooserAnswer{3}, true, Outcome::Failed, "30-62 30-14 30-75 25-128-2",
       {ask + "|ok", test::kTimeoutMessage}},
      {300, ChooserAnswer{3}, false, Outcome::Cancelled, "30-62 30-14 30-75", {ask + "|cancel"}},
      {300, std::nullopt, true, Outcome::Cancelled, "30-62 30-14 30-75", {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.declareMs);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.s.settings.ServiceAccess = true;
    sim.device.declareMs = c.declareMs;
    sim.ui.choosers = {c.chooser};
    sim.ui.answers = {c.ok};
    EXPECT_EQ(Deklarowanieczujnika1Click(sim.s), c.outcome);
    EXPECT_EQ(sim.TakeWire(), c.wire);
    EXPECT_EQ(Events(sim.ui.events.begin() + 2, sim.ui.events.end()), c.tail);
    if (c.declareMs == 1000) {
      EXPECT_EQ(sim.clock.NowUs() - sim.port.sent.back().atUs, 1'000'000u);
      EXPECT_TRUE(sim.s.link.state.LinkOk);
    }
  }
  EXPECT_EQ(Deklarowanieczujnika1Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events, Events{test::kLocked});
}

TEST_F(SensorsTest, ParametersShowTheLimitsAndOffsetAndWriteOnlyWhatChanged) {
  struct Case {
    uint8_t low, high, offset;
    std::optional<SensorParamsAnswer> answer;
    std::string dialog;  // low range|low|high range|high|offset
    std::string writes;
  };
  const Case cases[] = {
      {45, 85, 48, SensorParamsAnswer{}, "-55..30|-10|-10..125|30|0,0000", ""},
      {45, 85, 48, SensorParamsAnswer{{}, 31}, "-55..30|-10|-10..125|30|0,0000", " 20-121-86"},
      {45, 85, 49, SensorParamsAnswer{}, "-55..30|-10|-10..125|30|0,0625", ""},
      {45, 85, 49, SensorParamsAnswer{{}, {}, "0,1250"}, "-55..30|-10|-10..125|30|0,0625", " 20-81-50"},
      {45, 85, 49, SensorParamsAnswer{{}, {}, "-3,0000"}, "-55..30|-10|-10..125|30|0,0625", " 20-81-0"},
      {45, 85, 49, SensorParamsAnswer{0, 50, "3.0"}, "-55..30|-10|-10..125|30|0,0625",
       " 20-111-55 20-121-105 20-81-96"},
      // Both limits moving up past the old high: the high goes first, so the low never stands above it.
      {45, 85, 48, SensorParamsAnswer{50, 70}, "-55..30|-10|-10..125|30|0,0000", " 20-121-125 20-111-105"},
      // Typed offsets round to sixteenths with halves to even: 0.5 -> 0, 1.5 -> 2.
      {45, 85, 49, SensorParamsAnswer{{}, {}, "0.03125"}, "-55..30|-10|-10..125|30|0,0625", " 20-81-48"},
      {45, 85, 48, SensorParamsAnswer{{}, {}, "0,09375"}, "-55..30|-10|-10..125|30|0,0000", " 20-81-50"},
      // Limits outside the range show at its ends; crossed limits show as the logger holds them.
      {200, 250, 200, SensorParamsAnswer{}, "-55..125|125|125..125|125|9,5000", ""},
      {100, 60, 48, std::nullopt, "-55..45|45|5..125|5|0,0000", ""},
      {45, 85, 48, std::nullopt, "-55..30|-10|-10..125|30|0,0000", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.device.registers[75] = 4;
    sim.device.params[111] = c.low;
    sim.device.params[121] = c.high;
    sim.device.registers[81] = c.offset;
    sim.ui.choosers = {ChooserAnswer{4}};
    sim.ui.sensorDialogs = {c.answer};
    EXPECT_EQ(Parametryczujnika1Click(sim.s), c.answer ? Outcome::Completed : Outcome::Cancelled);
    EXPECT_EQ(sim.TakeWire(), "30-62 30-14 30-75 30-111 30-121 30-81" + c.writes);
    EXPECT_EQ(sim.ui.events.back(),
              "sensor-params|Parametry czujnika nr 4.|" + c.dialog + (c.answer ? "|accept" : "|close"));
  }
}

TEST(SensorOffsetTest, OffsetFieldTextAndItsNumberInSixteenths) {
  EXPECT_EQ(OffsetText(0, ","), "0,0000");
  EXPECT_EQ(OffsetText(1, ","), "0,0625");
  EXPECT_EQ(OffsetText(-48, ","), "-3,0000");
  EXPECT_EQ(OffsetText(-1, "."), "-0.0625");
  EXPECT_EQ(UpDown3Click(2, ","), "0,1250");
  const std::pair<const char*, std::optional<int>> parsed[] = {
      {"0,0625", 1},           {"0.0625", 1},         {"-3,0000", -48},       {"+1,5", 24},
      {"0.03125", 0},          {"0.09375", 2},        {"", std::nullopt},     {"abc", std::nullopt},
      {"1,2,3", std::nullopt}, {"1e3", std::nullopt}, {"1e300", std::nullopt}};
  for (const auto& [text, sixteenths] : parsed) EXPECT_EQ(ParseOffset(text, ","), sixteenths) << text;
}

TEST_F(SensorsTest, OnlyTheParametersReadBeforeATimeOutAreReported) {
  const std::pair<uint32_t, test::Events> cases[] = {
      {3, {}}, {4, {"value|low_c|-5"}}, {5, {"value|low_c|-5", "value|high_c|25"}}};
  for (const auto& [answers, values] : cases) {
    SCOPED_TRACE(answers);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.device.registers[75] = 1;
    sim.device.faults.silentAfter = answers;  // probe, state, count, then the parameters
    test::Events shown;
    Parametryczujnika1Click(sim.s);
    for (const std::string& e : sim.ui.events) {
      if (e.starts_with("value|") && e != "value|sensor_count|1") shown.push_back(e);
    }
    EXPECT_EQ(shown, values);
  }
}

TEST(SensorLimitsAnswerTest, GivenLimitsAreCheckedAsTheyWillStandAfterTheWrite) {
  // The limits alone: a table of whole answers with their optional offset text trips GCC 12's
  // -Wmaybe-uninitialized at -O3.
  struct Case {
    int lowRead, highRead;
    std::optional<int> low, high;
    std::string problem;
  };
  const Case cases[] = {
      {-10, 50, 20, 10, "low_c 20 is above high_c 10"},
      {-10, 50, 60, 70, ""},
      {-10, 50, 60, {}, "low_c 60 is above high_c 50"},
      {-10, 50, {}, -20, "low_c -10 is above high_c -20"},
      {-10, 50, -60, {}, "low_c -60 is outside -55..125"},
      {-10, 50, 20, 20, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    SensorParamsValues dialog;
    dialog.low = {-55, c.highRead, c.lowRead};
    dialog.high = {c.lowRead, 125, c.highRead};
    SensorParamsAnswer given;
    given.low = c.low;
    given.high = c.high;
    EXPECT_EQ(Answer(dialog, given), c.problem);
  }
}

}  // namespace
}  // namespace velutron
