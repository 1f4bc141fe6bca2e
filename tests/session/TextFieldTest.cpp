// Reading a text field from the logger, byte by byte, against the simulated logger.

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace velutron
