// The link primitives against the simulated logger on virtual time.

#include <gtest/gtest.h>

#include "link/Link.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

using test::SimSession;
using Events = std::vector<std::string>;

const std::string kNoLink = "message|Uwaga !|Brak połączenia z VELUTRON !";
const std::string kTimeout = "message|Uwaga !|Przekroczenie czasu na odpowiedź !!!";

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.OpenPort()); }
  // Arms the link with a good probe and forgets its bytes.
  void Arm() {
    link().Test_COM_OK();
    ASSERT_TRUE(link().state.LinkOk);
    sim.TakeSent();
  }
  // Arms the link and delays the logger's answers so that the answer to the next register read lands
  // `atUs` after the start of the millisecond tick in which that read's wait begins.
  void DelayNextReadAnswerToUs(uint64_t atUs) {
    Arm();
    const uint64_t sentAt = sim.clock.NowUs();
    link().Read_COM_Byte(30, 14);
    const uint64_t roundTrip = sim.clock.NowUs() - sentAt - 3000;  // after the last command byte
    const uint64_t waitStartUs = sim.clock.NowUs() + 3000;
    const uint64_t tickStartUs = waitStartUs - waitStartUs % 1000;
    sim.device.faults.answerDelayUs = static_cast<uint32_t>(tickStartUs + atUs - waitStartUs - roundTrip);
  }
  Link& link() { return sim.s.link; }
  LinkState& st() { return sim.s.link.state; }

  SimSession sim;
};

TEST_F(LinkTest, ProbeSendsThirtyThenSixtyTwoThreeMillisecondsApartAndArmsTheLink) {
  link().Test_COM_OK();
  EXPECT_TRUE(st().LinkOk);
  EXPECT_FALSE(st().TimedOut);
  EXPECT_EQ(sim.ui.events, Events{});
  ASSERT_EQ(sim.port.sent.size(), 2u);
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{30, 62}));
  EXPECT_EQ(sim.port.sent[1].atUs - sim.port.sent[0].atUs, 3000u);
}

TEST_F(LinkTest, SilentLoggerFailsTheProbeAfterTheFullWaitWithoutATimeoutMessage) {
  sim.device.faults.silent = true;
  const uint32_t t0 = sim.clock.TickMs();
  link().Test_COM_OK();
  EXPECT_FALSE(st().LinkOk);
  EXPECT_TRUE(st().TimedOut);
  EXPECT_EQ(sim.ui.events, Events{kNoLink});
  EXPECT_EQ(sim.clock.TickMs() - t0, 3u + 250u);
}

TEST_F(LinkTest, ProbeAnsweredWithAnotherByteCountsAsNoLogger) {
  sim.device.faults.wrongAnswer = 0;
  link().Test_COM_OK();
  EXPECT_FALSE(st().LinkOk);
  EXPECT_EQ(sim.ui.events, Events{kNoLink});
}

TEST_F(LinkTest, ProbeWithNoOpenPortSendsNothing) {
  sim.port.Close();
  link().Test_COM_OK();
  EXPECT_FALSE(st().LinkOk);
  EXPECT_EQ(sim.ui.events, Events{"message|Uwaga !|Niewłaściwy port lub nie jest on aktywny !!!"});
  EXPECT_TRUE(sim.port.sent.empty());
}

TEST_F(LinkTest, AnswerFoundInThePollThatUsesUpTheTimeIsATimeout) {
  // Half a millisecond into the 250th millisecond of the wait.
  DelayNextReadAnswerToUs(250'500);
  sim.device.registers[proto::reg::kCrcConflicts] = 7;
  st().DataByte = 99;
  link().Read_COM_Byte(30, proto::reg::kCrcConflicts);

  EXPECT_TRUE(st().TimedOut);
  EXPECT_EQ(st().RxBuffer[0], 7);  // the answer is there ...
  EXPECT_EQ(st().DataByte, 99);    // ... but is not taken
  EXPECT_FALSE(st().LinkOk);
  EXPECT_EQ(sim.ui.events, Events{kTimeout});
}

TEST_F(LinkTest, AnswerJustBeforeTheDeadlineIsTaken) {
  DelayNextReadAnswerToUs(249'900);
  sim.device.registers[proto::reg::kCrcConflicts] = 7;
  link().Read_COM_Byte(30, proto::reg::kCrcConflicts);
  EXPECT_FALSE(st().TimedOut);
  EXPECT_EQ(st().DataByte, 7);
  EXPECT_TRUE(st().LinkOk);
}

TEST_F(LinkTest, AByteThatArrivesBeforeTheCommandIsCompleteIsNeverTakenAsItsAnswer) {
  // A stray byte: the rest of an extra or late answer, or of a cut dump. Times are from the moment the
  // next command's first byte is handed over.
  struct Case {
    const char* when;
    int64_t atUs;
  };
  const Case cases[] = {
      {"long before the command", -200'000},
      {"just before the command", -1},
      {"in the gap between its bytes", 1'500},
      {"as its last byte is handed over", 3'000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.when);
    sim.ui.events.clear();
    Arm();
    sim.clock.SleepMs(300);
    sim.device.registers[proto::reg::kCrcConflicts] = 7;
    const uint64_t start = sim.clock.NowUs();
    sim.port.Inject(start + c.atUs, 62);
    link().Read_COM_Byte(30, proto::reg::kCrcConflicts);
    EXPECT_EQ(st().DataByte, 7);
    EXPECT_TRUE(st().LinkOk);
    EXPECT_EQ(sim.ui.events, Events{});
  }
}

// A port whose sender is held up right after handing over each byte, as a busy machine may hold it.
class HeldUpPort final : public SerialPort {
 public:
  HeldUpPort(SerialPort& port, sim::VirtualClock& clock) : port_(port), clock_(clock) {}
  bool Open(const std::string& name, Parity parity) override { return port_.Open(name, parity); }
  void Close() override { port_.Close(); }
  bool IsOpen() const override { return port_.IsOpen(); }
  void SendByte(uint8_t byte) override {
    port_.SendByte(byte);
    clock_.SleepMs(2);
  }
  uint32_t InputCount() override { return port_.InputCount(); }
  uint32_t Read(std::span<uint8_t> buffer) override { return port_.Read(buffer); }
  void DiscardInput() override { port_.DiscardInput(); }
  void WaitForInput(uint32_t timeoutMs) override { port_.WaitForInput(timeoutMs); }
  bool WriteBlock(std::span<const uint8_t> bytes) override { return port_.WriteBlock(bytes); }

 private:
  SerialPort& port_;
  sim::VirtualClock& clock_;
};

TEST_F(LinkTest, AnAnswerThatArrivesWhileTheSenderIsHeldUpIsStillTaken) {
  HeldUpPort port(sim.port, sim.clock);
  Session s(port, sim.clock, sim.ui, sim.locale);
  s.link.Test_COM_OK();
  EXPECT_TRUE(s.link.state.LinkOk);
  s.link.Read_COM_Byte(30, proto::reg::kSensors);
  EXPECT_EQ(s.link.state.DataByte, 4);
  s.link.Write_COM_Byte(20, proto::reg::kThreshold, 5);
  EXPECT_TRUE(s.link.state.ReplyOk);
  EXPECT_EQ(sim.ui.events, Events{});
}

TEST_F(LinkTest, LateOrExtraAnswersNeverBecomeTheAnswersOfLaterCommands) {
  Arm();
  sim.device.faults.answerDelayUs = 600'000;
  link().Load_COM_Byte(true, proto::kActionReset.command, proto::kActionReset.timeoutMs);
  EXPECT_TRUE(st().TimedOut);
  EXPECT_TRUE(st().LinkOk);  // an action's time-out leaves the link up
  EXPECT_EQ(sim.ui.events, Events{kTimeout});
  sim.device.faults.answerDelayUs = 0;
  sim.clock.SleepMs(200);  // the late reply code is in by now
  link().Read_COM_Byte(30, proto::reg::kRecording);
  EXPECT_EQ(st().DataByte, 0);

  sim.device.faults.extraByte = true;  // the logger repeats every answer
  sim.device.registers[proto::reg::kCrcConflicts] = 7;
  sim.device.registers[proto::reg::kBusState] = 0x85;
  link().Read_COM_Byte(30, proto::reg::kCrcConflicts);
  EXPECT_EQ(st().DataByte, 7);
  link().Read_COM_Byte(30, proto::reg::kBusState);
  EXPECT_EQ(st().DataByte, 0x85);
  link().Test_COM_OK();
  EXPECT_TRUE(st().LinkOk);
  EXPECT_EQ(sim.ui.events, Events{kTimeout});
}

TEST_F(LinkTest, LoadComByteTimeoutKeepsTheLinkSoLaterCommandsStillRun) {
  Arm();
  sim.device.faults.silent = true;
  link().Load_COM_Byte(true, proto::kActionErase.command, proto::kActionErase.timeoutMs);
  EXPECT_TRUE(st().LinkOk);
  EXPECT_EQ(sim.ui.events, Events{kTimeout});
  sim.TakeSent();
  link().Write_COM_Byte(20, 72, 5);
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{20, 72, 5}));
}

TEST_F(LinkTest, AfterAReadTimeoutTheRestOfTheOperationIsSilent) {
  Arm();
  sim.device.faults.silent = true;
  st().DataByte = 42;
  st().ReplyOk = true;
  link().Read_COM_Byte(30, 14);
  EXPECT_FALSE(st().LinkOk);
  EXPECT_EQ(sim.ui.events, Events{kTimeout});
  sim.TakeSent();

  link().Write_COM_Byte(20, 72, 5);
  link().Read_COM_Byte(30, 14);
  link().Load_COM_Byte(true, 10, 500);
  link().Read_COM_Time();
  link().Test_Job_Rej();
  EXPECT_TRUE(sim.TakeSent().empty());
  EXPECT_EQ(sim.ui.events, Events{kTimeout});
  EXPECT_EQ(st().DataByte, 42);
  EXPECT_TRUE(st().ReplyOk);
}

TEST_F(LinkTest, WriteSendsThreeBytesWithGapsAndReplyCodesDecideTheMessage) {
  struct Case {
    uint8_t code;
    bool replyOk;
    Events events;
  };
  const std::vector<Case> cases = {
      {100, true, {}},
      {110, false, {"message|Odpowiedź|Zapis danych wykonany poprawnie !"}},
      {0, false, {kNoLink}},
      {20, false, {"message|Uwaga !|Uszkodzenie bufora danych EEPROM !"}},
      {40, false, {"message|Uwaga !|Uszkodzenie bufora danych EEPROM !!!"}},
      {255, false, {"error|Niezdefiniowany kod: 255 !!!"}},
      {5, false, {"error|Niezdefiniowany kod: 5 !!!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    sim.ui.events.clear();
    Arm();
    sim.device.faults.replyCodes[proto::kRegisterWrite] = c.code;
    st().ReplyOk = !c.replyOk;
    const size_t first = sim.port.sent.size();
    link().Write_COM_Byte(proto::kRegisterWrite, proto::reg::kThreshold, 25);
    EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{20, 77, 25}));
    EXPECT_EQ(sim.port.sent[first + 1].atUs - sim.port.sent[first].atUs, 3000u);
    EXPECT_EQ(sim.port.sent[first + 2].atUs - sim.port.sent[first + 1].atUs, 3000u);
    EXPECT_EQ(st().ReplyOk, c.replyOk);
    EXPECT_TRUE(st().LinkOk);  // no reply code takes the link down
    EXPECT_EQ(sim.ui.events, c.events);
  }
}

TEST_F(LinkTest, EveryReplyCodeOfTheTableHasItsMessage) {
  EXPECT_EQ(ReplyCodeMessage(90).text, "Popraw format alarmu temperatury <-50..120°C>.");
  EXPECT_EQ(ReplyCodeMessage(97).text, "Brak odpowiedzi z czujnika temperatury !!!");
  EXPECT_EQ(ReplyCodeMessage(113).text, "Układ zresetowany !!!");
  EXPECT_EQ(ReplyCodeMessage(190).text, "Zapisano dane z PC do EEPROMu poprawnie.");
  int listed = 0;
  for (int code = 0; code < 256; ++code) {
    const ReplyMessage m = ReplyCodeMessage(static_cast<uint8_t>(code));
    if (m.isError) {
      EXPECT_EQ(m.text, "Niezdefiniowany kod: " + std::to_string(code) + " !!!");
    } else {
      ++listed;
      EXPECT_EQ(m.caption, code < 100 ? "Uwaga !" : code == 100 ? "" : "Odpowiedź") << code;
    }
  }
  EXPECT_EQ(listed, 22);
}

TEST_F(LinkTest, RecordingLoggerRefusesWithOneMessageAndNothingMoreIsSent) {
  sim.device.SetRecording(true);
  link().Test_COM_OK();
  link().Test_Job_Rej();
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{30, 62, 30, 14}));
  EXPECT_FALSE(st().LinkOk);
  EXPECT_EQ(sim.ui.events,
            Events{"message|Zmień tryb pracy!|Wybrana opcja wymaga wyłączenia rejestracji pomiarów!"});
  link().Write_COM_Byte(20, 72, 5);
  EXPECT_TRUE(sim.TakeSent().empty());
}

TEST_F(LinkTest, StoppedLoggerPassesTheRecordingCheck) {
  link().Test_COM_OK();
  link().Test_Job_Rej();
  EXPECT_TRUE(st().LinkOk);
  EXPECT_EQ(sim.ui.events, Events{});
}

TEST_F(LinkTest, ReadComTimeTimesOutSilently) {
  Arm();
  link().Read_COM_Time();
  EXPECT_FALSE(st().LinkOk);
  EXPECT_EQ(sim.ui.events, Events{});
}

TEST_F(LinkTest, RawSendsIgnoreTheClearedLink) {
  st().LinkOk = false;
  link().SendRaw(proto::kLeadIn);
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{75}));
}

TEST(DelayTest, ZeroReturnsAtOnceAndAWrappingTickNeitherLengthensNorShortens) {
  SimSession sim(0xFFFFFFFFu - 1);  // the tick wraps 1.5 ms in
  sim.clock.SleepMs(0);
  const uint64_t t0 = sim.clock.NowUs();
  sim.s.link.DelayMs(0);
  EXPECT_EQ(sim.clock.NowUs(), t0);
  sim.s.link.DelayMs(3);
  EXPECT_EQ(sim.clock.NowUs() - t0, 3000u);
}

TEST(DelayTest, AWaitAcrossTheTickWrapLastsItsTime) {
  SimSession sim(0xFFFFFFFFu - 100);
  ASSERT_TRUE(sim.OpenPort());
  sim.device.faults.silent = true;
  const uint64_t t0 = sim.clock.NowUs();
  sim.s.link.Test_COM_OK();
  EXPECT_EQ(sim.clock.NowUs() - t0, 253'000u);
  EXPECT_LT(sim.clock.TickMs(), 1000u);  // it did wrap
}

}  // namespace
}  // namespace velutron
