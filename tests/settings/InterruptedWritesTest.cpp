// An interrupt while a settings operation writes into the logger: a short unit is finished whole, and
// one that has not begun is not begun.

#include <functional>

#include "platform/Process.h"
#include "settings/LoggerOptions.h"
#include "settings/Maintenance.h"
#include "settings/Sensors.h"
#include "settings/SettingsFixture.h"
#include "settings/TextFields.h"

namespace velutron {
namespace {

struct Ran {
  Outcome outcome;
  std::vector<uint8_t> wire;
  test::Events events;
  bool stopped;
};

TEST(InterruptedWritesTest, AnInterruptInsideAUnitWaitsForAllOfItAndOneBeforeItWritesNothing) {
  struct Case {
    std::string name;
    Outcome (*operation)(Session&);
    std::function<void(test::SimSession&)> setUp;
    size_t before;  // bytes sent when the unit is about to begin
    size_t inside;  // bytes sent once its first write is out
  };
  const Case cases[] = {
      {"owner", Wpislicencji1Click, [](test::SimSession& t) { t.ui.inputs = {std::string(35, 'C')}; },
       4 + 1 + 2 * 35, 4 + 1 + 2 * 35 + 3 * 10},
      {"clock", BitBtn3Click, [](test::SimSession& t) { t.ui.answers = {true}; }, 4, 7},
      {"toggle", BitBtn2Click, [](test::SimSession& t) { t.ui.answers = {true}; }, 2, 3},
      {"sensor", Parametryczujnika1Click,
       [](test::SimSession& t) {
         t.ui.choosers = {ChooserAnswer{2}};
         t.ui.sensorDialogs = {SensorParamsAnswer{-20, 40, "1.5"}};
       },
       4 + 2 + 6, 4 + 2 + 6 + 3},
      {"options", Parametryrejestratora1Click,
       [](test::SimSession& t) {
         t.ui.optionDialogs = {LoggerOptionsAnswer{7, 30, 0x25, std::nullopt}};
       },
       4 + 10, 4 + 10 + 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto run = [&c](std::optional<size_t> interruptAt) {
      test::SimSession sim;
      EXPECT_TRUE(sim.OpenPort());
      sim.s.settings.ServiceAccess = true;
      c.setUp(sim);
      sim.port.afterSend = [interruptAt](size_t sent) {
        if (sent == interruptAt) RequestInterrupt();
      };
      const Outcome outcome = c.operation(sim.s);
      ClearInterrupt();
      return Ran{outcome, sim.TakeSent(), sim.ui.events, sim.s.link.StoppedByInterrupt()};
    };
    const Ran undisturbed = run(std::nullopt);
    ASSERT_GT(undisturbed.wire.size(), c.inside);
    const Ran inside = run(c.inside);
    EXPECT_EQ(std::tie(inside.outcome, inside.wire, inside.events),
              std::tie(undisturbed.outcome, undisturbed.wire, undisturbed.events));
    EXPECT_FALSE(inside.stopped);
    const Ran before = run(c.before);
    EXPECT_EQ(before.outcome, Outcome::Cancelled);
    EXPECT_EQ(before.wire,
              std::vector<uint8_t>(undisturbed.wire.begin(), undisturbed.wire.begin() + c.before));
    EXPECT_TRUE(before.stopped);
  }
}

}  // namespace
}  // namespace velutron
