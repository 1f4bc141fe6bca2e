// Mode toggle, clock setting, reset, erase and format against the simulated logger.

#include <map>

#include "session/Format.h"
#include "settings/Maintenance.h"
#include "settings/SettingsFixture.h"

namespace velutron {
namespace {

using test::Events;

static_assert(ByteToBcd(0) == 0x00 && ByteToBcd(9) == 0x09 && ByteToBcd(10) == 0x10 && ByteToBcd(59) == 0x59);

class MaintenanceTest : public test::SettingsTest {};

TEST_F(MaintenanceTest, ActionsAskFirstThenSendTheirByteAndWaitTheirOwnTime) {
  struct Case {
    Outcome (*operation)(Session&);
    std::string question;
    std::string wire;
    std::string reply;
    uint32_t timeoutMs;
  };
  const Case cases[] = {
      {Resetuk1Click, "question|Reset rejestratora!|Czy napewno chcesz zresetować rejestrator?", "10",
       "message|Odpowiedź|Układ zresetowany !!!", 500},
      {Wykasujpomiary1Click, "question|Kasowanie danych !!!|Czy napewno chcesz wykasować pomiary?", "40",
       "message|Odpowiedź|BUFOR DANYCH WYKASOWANY !!!", 300},
      {Formatowanieukadu1Click,
       "question|Formatowanie pamięci rejestratora.|Czy NAPEWNO chcesz sformatować pamięć\ri wykasować "
       "wszystkie parametry?",
       "45", "message|Odpowiedź|BUFOR DANYCH WYKASOWANY !!!", 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    auto run = [&](auto setUp) {
      test::SimSession sim;
      EXPECT_TRUE(sim.OpenPort());
      sim.s.settings.ServiceAccess = true;
      setUp(sim);
      const Outcome outcome = c.operation(sim.s);
      return std::make_tuple(outcome, sim.TakeWire(), sim.ui.events,
                             sim.clock.NowUs() - sim.port.sent.back().atUs);
    };
    EXPECT_EQ(run([](test::SimSession& s) { s.ui.answers = {true}; }),
              std::make_tuple(Outcome::Completed, "30-62 30-14 " + c.wire,
                              Events{c.question + "|ok", c.reply}, uint64_t{882}));
    // The second copy of a doubled state byte is not taken for the action's answer.
    EXPECT_EQ(std::get<2>(run([](test::SimSession& s) {
                s.ui.answers = {true};
                s.device.faults.extraByte = true;
              })),
              (Events{c.question + "|ok", c.reply}));
    EXPECT_EQ(std::get<0>(run([](test::SimSession&) {})), Outcome::Cancelled);
    EXPECT_EQ(std::get<1>(run([](test::SimSession&) {})), "30-62 30-14");
    // A silent logger: the action's own time-out, and the link stays up.
    auto [outcome, wire, events, waited] = run([](test::SimSession& s) {
      s.ui.answers = {true};
      s.device.faults.silentAfter = 2;
    });
    EXPECT_EQ(events, (Events{c.question + "|ok", test::kTimeoutMessage}));
    EXPECT_EQ(waited, c.timeoutMs * 1000);
    EXPECT_EQ(outcome, Outcome::Failed);
    // While recording nothing is asked.
    EXPECT_EQ(run([](test::SimSession& s) { s.device.SetRecording(true); }),
              std::make_tuple(Outcome::Failed, std::string("30-62 30-14"), Events{test::kRecordingRefused},
                              uint64_t{882}));
  }
}

TEST_F(MaintenanceTest, FormatNeedsServiceAccessAndAsksNothingWithoutIt) {
  EXPECT_EQ(Formatowanieukadu1Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events, Events{test::kLocked});
  EXPECT_EQ(sim.TakeWire(), "30-62 30-14");
}

TEST_F(MaintenanceTest, ToggleSwitchesInEitherStateAndReadsTheStateFiftyMillisecondsLater) {
  for (bool recording : {false, true}) {
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.device.SetRecording(recording);
    sim.ui.answers = {true};
    EXPECT_EQ(BitBtn2Click(sim.s), Outcome::Completed);
    EXPECT_EQ(sim.TakeWire(), "30-62 70 30-14");
    EXPECT_EQ(sim.port.sent[3].atUs - sim.port.sent[2].atUs, 50'000u);
    EXPECT_EQ(sim.ui.events,
              (Events{"question|Przełączenie trybu pracy.|Czy napewno chcesz zmienić tryb pracy?|ok",
                      recording ? "message|Stan pracy:|REJESTRACJA ZABLOKOWANA\rSTAN PRZERWY."
                                : "message|Stan pracy:|REJESTRACJA AKTYWNA\rPOMIARY I ZAPIS TEMPERATUR."}));
    EXPECT_EQ(sim.device.Recording(), !recording);
  }
  EXPECT_EQ(BitBtn2Click(sim.s), Outcome::Cancelled);
  EXPECT_EQ(sim.TakeWire(), "30-62");
}

TEST_F(MaintenanceTest, ClockSleepsPastSecond57WritesThePcTimeAndRefusesAPcYearBefore2009) {
  const std::string ask =
      "question|Ustaw czas PC -> Rej.|Czy synchronizować czas rejestratora z czasem PC?|ok";
  const std::string set = "message|Zegar OK!|Ustawiono czas zegara poprawnie!\rData= ";
  struct Case {
    CivilTime pc;
    uint32_t answers;  // before the logger falls silent
    Outcome outcome;
    std::string wire;
    std::string last;
  };
  // clang-format off
  const Case cases[] = {
      // A spinning wait would never see the virtual wall clock move on to 12:35:00.
      {{2015, 3, 7, 12, 34, 58}, 99, Outcome::Completed,
       "30-62 30-14 20-2-1 20-3-53 20-4-18 20-5-7 20-7-3 20-13-15", set + "07-03-2015\rCzas= 12:35:00"},
      {{2009, 1, 1, 10, 0, 0}, 99, Outcome::Completed, "30-62 30-14 20-2-1 20-3-0 20-4-16 20-5-1 20-7-1 20-13-9",
       set + "01-01-2009\rCzas= 10:00:00"},
      {{2008, 12, 31, 10, 0, 0}, 99, Outcome::Failed, "30-62 30-14",
       "message|Błąd zegara PC !!!|Ustaw czas zegara komputera !!!\rData PC = 31-12-2008"},
      {{2009, 1, 1, 10, 0, 0}, 3, Outcome::Failed, "30-62 30-14 20-2-1 20-3-0", test::kTimeoutMessage},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.clock.RunWall(c.pc);
    sim.device.faults.silentAfter = c.answers;
    sim.ui.answers = {true};
    EXPECT_EQ(BitBtn3Click(sim.s), c.outcome);
    EXPECT_EQ(sim.TakeWire(), c.wire);
    EXPECT_EQ(sim.ui.events, (Events{ask, c.last}));
    if (c.outcome == Outcome::Completed) {
      const CivilTime logger = sim.device.ClockAt(sim.clock.NowUs());
      EXPECT_EQ(std::make_tuple(logger.month, logger.day, logger.hour, logger.minute, logger.second),
                std::make_tuple(c.pc.month, c.pc.day, c.pc.hour, c.pc.minute + (c.pc.second > 57), 1));
    }
  }
}

TEST_F(MaintenanceTest, TheClockIsSetOnlyWhenEveryRegisterTookItsValue) {
  const std::string ask =
      "question|Ustaw czas PC -> Rej.|Czy synchronizować czas rejestratora z czasem PC?|ok";
  const std::string wire = "30-62 30-14 20-2-49 20-3-5 20-4-20 20-5-5 20-7-6 20-13-9";
  struct Case {
    std::map<uint8_t, uint8_t> refused;  // register -> its reply
    Events shown;                        // after the question; then no "Zegar OK!"
  };
  std::vector<Case> cases = {{{{2, 30}, {3, 40}},
                              {"message|Uwaga !|Uszkodzenie zegara C-MOS !!!",
                               "message|Uwaga !|Uszkodzenie bufora danych EEPROM !!!"}}};
  // A confirmation code is no acceptance of a register write, whichever of the six it answers.
  for (const uint8_t reg : std::vector<uint8_t>{2, 3, 4, 5, 7, 13}) {
    cases.push_back({{{reg, 130}}, {"message|Odpowiedź|Zegar układu ustawiony poprawnie."}});
    cases.push_back({{{reg, 110}}, {"message|Odpowiedź|Zapis danych wykonany poprawnie !"}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.refused.begin()->first) + "=" + std::to_string(c.refused.begin()->second));
    test::SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.device.faults.refusedRegisters = c.refused;
    sim.ui.answers = {true};
    EXPECT_EQ(BitBtn3Click(sim.s), Outcome::Failed);
    EXPECT_EQ(sim.TakeWire(), wire);
    Events expected{ask};
    expected.insert(expected.end(), c.shown.begin(), c.shown.end());
    EXPECT_EQ(sim.ui.events, expected);
  }
}

}  // namespace
}  // namespace velutron
