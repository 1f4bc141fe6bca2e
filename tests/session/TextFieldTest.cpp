// Reading and writing a text field of the logger, byte by byte, against the simulated logger.

#include <gtest/gtest.h>

#include <functional>

#include "session/TextField.h"
#include "support/SimSession.h"

namespace velutron {
namespace {

using test::SimSession;

TEST(TextFieldTest, ReadSendsTheLeadInThenOneReadPerByteAndKeepsOnlyTheTrailingPadding) {
  struct Case {
    const char* stored;  // the field's 16 bytes, padded with spaces by the logger
    std::string expected;
  };
  const Case cases[] = {
      {"", "BRAK WPISU !!!"},
      {"  ABC", "ABC           "},
      {"Hala \xB3\xF3"
       "dzka",
       "Hala łódzka     "},  // Windows-1250 bytes come back as the user's letters
      {"0123456789ABCDEF", "0123456789ABCDEF"},
  };
  for (const Case& c : cases) {
    SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.s.link.Test_COM_OK();
    sim.TakeSent();
    sim.device.SetText(37, 144, 16, c.stored);
    const size_t sentBefore = sim.port.sent.size();

    Str_Read_EEPROM(sim.s, 37, 144, 16);

    EXPECT_EQ(sim.s.FieldText, c.expected) << c.stored;
    std::vector<uint8_t> expected{75};
    for (int i = 0; i < 16; ++i) expected.insert(expected.end(), {37, static_cast<uint8_t>(144 + i)});
    EXPECT_EQ(sim.TakeSent(), expected);
    EXPECT_EQ(sim.port.sent[sentBefore + 1].atUs - sim.port.sent[sentBefore].atUs, 1000u);  // 1 ms after 75
    EXPECT_EQ(sim.ui.events, std::vector<std::string>{});
    EXPECT_EQ(sim.ui.progressMax, 0);
  }
}

TEST(TextFieldTest, ReadThatTimesOutKeepsWhatArrivedAndStopsAsking) {
  SimSession sim;
  ASSERT_TRUE(sim.OpenPort());
  sim.s.link.Test_COM_OK();
  sim.device.SetText(35, 16, 16, "Nadzor");
  sim.device.faults.silentAfter = 1 + 3;  // the probe, then three bytes of the field
  sim.TakeSent();

  Str_Read_EEPROM(sim.s, 35, 16, 16);

  EXPECT_EQ(sim.s.FieldText, "Nad");
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{75, 35, 16, 35, 17, 35, 18, 35, 19}));
  EXPECT_EQ(sim.ui.events, std::vector<std::string>{"message|Uwaga !|Przekroczenie czasu na odpowiedź !!!"});
  EXPECT_FALSE(sim.s.link.state.LinkOk);

  // With the link down nothing more is asked, and the field shows as empty.
  sim.TakeSent();
  Str_Read_EEPROM(sim.s, 35, 16, 16);
  EXPECT_EQ(sim.TakeSent(), std::vector<uint8_t>{75});
  EXPECT_EQ(sim.s.FieldText, "BRAK WPISU !!!");
}

std::string Field(const sim::Device& d, int address, int length) {
  return std::string(d.params.begin() + address, d.params.begin() + address + length);
}

TEST(TextFieldTest, WriteTakesWhatTheFieldCanHoldAndRefusesWhatTheLoggerCannot) {
  const std::string saved = "Zapis danych.|Zapisano osobę.";
  struct Case {
    std::string typed;
    std::string stored;  // the field afterwards (Windows-1250)
    std::vector<std::string> events;
  };
  const std::string cut = "message|Za długi tekst.|Wprowadzona nazwa zostanie skrócona do 16 znaków !!!";
  const Case cases[] = {
      {"BRAK WPISU !!!", "QA dept. room 12", {}},
      {"", std::string(16, ' '), {"message|" + saved}},
      {"  ABC", "  ABC           ", {"message|" + saved}},
      {"Cena 5€ ok", "Cena 5\x80 ok      ", {"message|" + saved}},
      {"0123456789ABCDEFG", "0123456789ABCDEF", {cut, "message|" + saved}},
      // Only what stays in the field is checked; 100 characters are taken at most.
      {"0123456789ABCDEF" + std::string(84, 'x') + "łłł", "0123456789ABCDEF", {cut, "message|" + saved}},
      {"Hałas ś", "QA dept. room 12", {"message|Zmień niedozwolone znaki !|Popraw znaki: (łś) !!!"}},
      {"Temp 😀 温度", "QA dept. room 12", {"message|Zmień niedozwolone znaki !|Popraw znaki: (😀温度) !!!"}},
      {"a\tb\xFF", "QA dept. room 12", {"message|Zmień niedozwolone znaki !|Popraw znaki: (\t\xFF) !!!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.s.link.Test_COM_OK();
    sim.TakeSent();
    sim.s.FieldText = c.typed;
    const bool writes = c.events.size() && c.events.back() == "message|" + saved;

    EXPECT_EQ(Str_To_EEPROM(sim.s, 25, 16, 16, "osobę."),
              writes || c.events.empty() ? Outcome::Completed : Outcome::Failed);
    EXPECT_EQ(sim.ui.events, c.events);
    EXPECT_EQ(Field(sim.device, 16, 16), c.stored);
    EXPECT_EQ(sim.TakeSent().size(), writes ? 16u * 3 : 0u);
  }
}

TEST(TextFieldTest, WriteSendsOneWritePerByteThreeMillisecondsAfterEachAnswerAndWrapsTheAddress) {
  SimSession sim;
  ASSERT_TRUE(sim.OpenPort());
  sim.s.link.Test_COM_OK();
  sim.TakeSent();
  const size_t first = sim.port.sent.size();
  sim.s.FieldText = "AB";
  EXPECT_EQ(Str_To_EEPROM(sim.s, 27, 254, 4, "nazwę."), Outcome::Completed);
  EXPECT_EQ(sim.TakeWire(), "27-254-65 27-255-66 27-0-32 27-1-32");
  // The answer comes 0.19 ms (the last byte) + 0.5 ms + 0.19 ms (the answer) after the last byte is handed
  // over; 3 ms after it the next write begins.
  for (size_t k = 1; k < 4; ++k)
    EXPECT_EQ(sim.port.sent[first + 3 * k].atUs - sim.port.sent[first + 3 * k - 1].atUs, 3882u);
  EXPECT_EQ(std::string(sim.device.names.begin() + 254, sim.device.names.end()) +
                std::string(sim.device.names.begin(), sim.device.names.begin() + 2),
            "AB  ");
  // The bar counts to 16 whatever the length and is emptied at the end.
  EXPECT_EQ(sim.ui.progress, (std::vector<int>{-17, 1, 2, 3, 4, -1}));
}

TEST(TextFieldTest, WriteStopsAtTheFirstByteNotAcknowledgedAndSaysSoAfterTheLoggersOwnMessage) {
  struct Case {
    const char* what;
    std::function<void(sim::Device&)> fault;
    std::vector<std::string> events;
    size_t writesSent;
  };
  const Case cases[] = {
      {"a time-out on the fifth byte",
       [](sim::Device& d) { d.faults.silentAfter = 1 + 4; },
       {"message|Uwaga !|Przekroczenie czasu na odpowiedź !!!"},
       5},
      {"a refused first byte",
       [](sim::Device& d) { d.faults.replyCodes[25] = 20; },
       {"message|Uwaga !|Uszkodzenie bufora danych EEPROM !"},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimSession sim;
    ASSERT_TRUE(sim.OpenPort());
    sim.s.link.Test_COM_OK();
    sim.TakeSent();
    c.fault(sim.device);
    sim.s.FieldText = "NEWS";
    EXPECT_EQ(Str_To_EEPROM(sim.s, 25, 16, 16, "osobę."), Outcome::Failed);
    std::vector<std::string> expected = c.events;
    expected.push_back("message|Błąd zapisu danych.|Przerwanie zapisu danych!!!");
    EXPECT_EQ(sim.ui.events, expected);
    EXPECT_EQ(sim.TakeSent().size(), 3 * c.writesSent);
  }
}

}  // namespace
}  // namespace velutron
