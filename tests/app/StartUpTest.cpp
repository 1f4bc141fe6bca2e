// The start-up sequence and "Koniec pracy" against simulated loggers.

#include <gtest/gtest.h>

#include "platform/AtomicFile.h"
#include "app/StartUp.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

using test::SimSession;
using Events = std::vector<std::string>;
using Opens = std::vector<std::pair<std::string, bool>>;

const std::string kMissing = "message|Uwaga !|Prawdopodobnie brak zbioru konfiguracyjnego.";
const std::string kDamaged = "message|Uwaga !|U W A G A   ! ! !\rUszkodzony zbiór konfiguracyjny.";
const std::string kNoLink = "message|Uwaga !|Brak połączenia z VELUTRON !";

class StartUpTest : public ::testing::Test {
 protected:
  void WriteConfig(std::vector<uint8_t> bytes) {
    ASSERT_TRUE(WriteFileAtomically(sim.s.workDir / "VELUTRON.cfg", bytes));
  }
  void Run(std::optional<std::string_view> argument = std::nullopt) {
    sim.ui.reportText = "old report";
    sim.s.report.ReportLoaded = true;
    sim.s.report.ReportBuffer[0] = 'x';
    OpenCommClick(sim.s, argument);
  }
  void ExpectViewEmptied() {
    EXPECT_EQ(sim.ui.reportText, "");
    EXPECT_FALSE(sim.s.report.ReportLoaded);
    EXPECT_EQ(sim.s.report.ReportBuffer[0], 0);
  }
  SimSession sim;
};

TEST_F(StartUpTest, MissingConfigurationIsReportedThenCom1IsOpenedEvenAndProbed) {
  Run();
  EXPECT_EQ(sim.ui.events, (Events{kMissing, "about"}));
  EXPECT_EQ(sim.port.opens, (Opens{{"COM1", true}}));
  EXPECT_EQ(sim.s.link.state.PortName, "COM1");
  EXPECT_EQ(sim.s.PortParity(), Parity::Even);
  EXPECT_TRUE(sim.s.settings.ConfigBad);
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{30, 62}));
  EXPECT_TRUE(sim.s.link.state.LinkOk);
  ExpectViewEmptied();
}

TEST_F(StartUpTest, DamagedConfigurationFallsBackToCom1EvenParity) {
  WriteConfig({3, 0, 0, 1, 0, 0, 3, 0});
  sim.bench.ports["COM3"] = {nullptr, false};
  Run();
  EXPECT_EQ(sim.ui.events, (Events{kDamaged, "about"}));
  EXPECT_EQ(sim.port.opens, (Opens{{"COM1", true}}));
  EXPECT_EQ(sim.s.PortParity(), Parity::Even);
  EXPECT_TRUE(sim.s.link.state.LinkOk);
}

TEST_F(StartUpTest, ShortConfigurationCountsAsDamaged) {
  WriteConfig({1, 0, 0, 0});
  Run();
  EXPECT_EQ(sim.ui.events, (Events{kDamaged, "about"}));
}

TEST_F(StartUpTest, ValidConfigurationOpensItsPortWithItsParityWithoutAMessage) {
  WriteConfig({3, 0, 0, 5, 0, 0, 4, 0});  // byte 3 counts as 1 in the checksum
  sim.device.parity = Parity::Odd;
  sim.bench.ports["COM3"] = {&sim.device, false};
  sim.bench.ports["COM1"] = {nullptr, false};
  Run();
  EXPECT_EQ(sim.ui.events, (Events{"about"}));
  EXPECT_EQ(sim.port.opens, (Opens{{"COM3", true}}));
  EXPECT_EQ(sim.s.settings.OddParity, 5);
  EXPECT_EQ(sim.s.PortParity(), Parity::Odd);
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{30, 62}));
  EXPECT_TRUE(sim.s.link.state.LinkOk);
  ExpectViewEmptied();
}

TEST_F(StartUpTest, PortInUseBeepsThenShowsTheErrorDialogAndSendsNothing) {
  sim.bench.ports["COM1"].inUse = true;
  Run();
  EXPECT_EQ(sim.ui.events, (Events{kMissing, "beep",
                                   "error|Niewłaściwa nazwa portu COM1\r lub jest on aktywny !!!", "about"}));
  EXPECT_TRUE(sim.port.sent.empty());
  EXPECT_FALSE(sim.port.IsOpen());
  EXPECT_FALSE(sim.s.link.state.LinkOk);
  ExpectViewEmptied();
}

TEST_F(StartUpTest, AbsentPortOfTheConfigurationIsNamedInTheErrorDialog) {
  WriteConfig({12, 0, 0, 0, 0, 0, 12, 0});
  Run();
  EXPECT_EQ(sim.ui.events,
            (Events{"beep", "error|Niewłaściwa nazwa portu COM12\r lub jest on aktywny !!!", "about"}));
}

TEST_F(StartUpTest, SilentLoggerIsReportedAfterTheProbeAndLeavesTheLinkDown) {
  sim.device.faults.silent = true;
  WriteConfig({1, 0, 0, 0, 0, 0, 1, 0});
  Run();
  EXPECT_EQ(sim.ui.events, (Events{kNoLink, "about"}));
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{30, 62}));
  EXPECT_TRUE(sim.port.IsOpen());
  EXPECT_FALSE(sim.s.link.state.LinkOk);
}

TEST_F(StartUpTest, LoggerOnTheOtherParityDoesNotAnswer) {
  sim.device.parity = Parity::Odd;
  WriteConfig({1, 0, 0, 0, 0, 0, 1, 0});
  Run();
  EXPECT_EQ(sim.ui.events, (Events{kNoLink, "about"}));
}

TEST_F(StartUpTest, ServiceLetterInEitherCaseGrantsServiceAccess) {
  for (const char* argument : {"S", "s"}) {
    SimSession fresh;
    OpenCommClick(fresh.s, std::string_view(argument));
    EXPECT_TRUE(fresh.s.settings.ServiceAccess) << argument;
  }
  for (const char* argument : {"X", "SS", ""}) {
    SimSession fresh;
    OpenCommClick(fresh.s, std::string_view(argument));
    EXPECT_FALSE(fresh.s.settings.ServiceAccess) << argument;
  }
  Run();
  EXPECT_FALSE(sim.s.settings.ServiceAccess);
}

TEST(ComPortNameTest, IsComFollowedByTheDecimalNumber) {
  EXPECT_EQ(ComPortName(1), "COM1");
  EXPECT_EQ(ComPortName(10), "COM10");
  EXPECT_EQ(ComPortName(255), "COM255");
}

TEST(QuitTest, CancelKeepsThePortOpenAndOkClosesIt) {
  SimSession sim;
  ASSERT_TRUE(sim.OpenPort());
  sim.ui.answers = {false, true};
  EXPECT_FALSE(Koniecpracy1Click(sim.s));
  EXPECT_TRUE(sim.port.IsOpen());
  EXPECT_TRUE(Koniecpracy1Click(sim.s));
  EXPECT_FALSE(sim.port.IsOpen());
  EXPECT_EQ(sim.ui.events, (Events{"question|Koniec pracy...|Czy zakończyć program?|cancel",
                                   "question|Koniec pracy...|Czy zakończyć program?|ok"}));
}

}  // namespace
}  // namespace velutron
