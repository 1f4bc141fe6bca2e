// The configuration file and the service switch.

#include <gtest/gtest.h>

#include "app/Config.h"
#include "platform/AtomicFile.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::SimSession;
using Events = std::vector<std::string>;

const std::string kMissing = "message|Uwaga !|Prawdopodobnie brak zbioru konfiguracyjnego.";
const std::string kDamaged = "message|Uwaga !|U W A G A   ! ! !\rUszkodzony zbiór konfiguracyjny.";

class ConfigTest : public ::testing::Test {
 protected:
  void Put(std::vector<uint8_t> bytes) {
    ASSERT_TRUE(WriteFileAtomically(sim.s.workDir / "VELUTRON.cfg", bytes));
  }
  std::vector<uint8_t> Stored() { return ReadWholeFile(sim.s.workDir / "VELUTRON.cfg").value(); }
  SimSession sim;
};

TEST_F(ConfigTest, MissingFileKeepsPortOneEvenParityAndSaysSo) {
  sim.s.link.state.SensorNumber = 4;
  LoadConfig(sim.s, std::nullopt);
  EXPECT_EQ(sim.ui.events, Events{kMissing});
  EXPECT_TRUE(sim.s.settings.ConfigBad);
  EXPECT_EQ(sim.s.link.state.PortNumber, 1);
  EXPECT_EQ(sim.s.settings.OddParity, 0);
  EXPECT_EQ(sim.s.link.state.SensorNumber, 1);
}

TEST_F(ConfigTest, ValidFilesSetPortAndParityExactlyAsStored) {
  Put({3, 0, 0, 1, 0, 0, 4, 0});
  LoadConfig(sim.s, std::nullopt);
  EXPECT_EQ(sim.ui.events, Events{});
  EXPECT_FALSE(sim.s.settings.ConfigBad);
  EXPECT_EQ(sim.s.link.state.PortNumber, 3);
  EXPECT_EQ(sim.s.settings.OddParity, 1);

  Put({3, 0, 0, 5, 0, 0, 4, 0});  // byte 3 counts as one in the checksum and is kept as 5
  LoadConfig(sim.s, std::nullopt);
  EXPECT_EQ(sim.ui.events, Events{});
  EXPECT_EQ(sim.s.settings.OddParity, 5);
  EXPECT_EQ(sim.s.PortParity(), Parity::Odd);

  Put({1, 0, 0, 0, 0, 0, 1, 0, 0xAA, 0xBB});  // bytes after the record are ignored
  LoadConfig(sim.s, std::nullopt);
  EXPECT_EQ(sim.ui.events, Events{});
  EXPECT_EQ(sim.s.PortParity(), Parity::Even);
}

TEST_F(ConfigTest, ChecksumMismatchOrAShortFileIsDamaged) {
  for (const std::vector<uint8_t>& bytes :
       {std::vector<uint8_t>{3, 0, 0, 1, 0, 0, 3, 0}, std::vector<uint8_t>{3, 0, 0, 1, 0},
        std::vector<uint8_t>{}, std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0}}) {
    sim.ui.events.clear();
    sim.s.link.state.PortNumber = 1;
    sim.s.settings.OddParity = 0;
    Put(bytes);
    LoadConfig(sim.s, std::nullopt);
    EXPECT_EQ(sim.ui.events, Events{kDamaged});
    EXPECT_TRUE(sim.s.settings.ConfigBad);
    EXPECT_EQ(sim.s.link.state.PortNumber, 1);
    EXPECT_EQ(sim.s.settings.OddParity, 0);
  }
}

TEST_F(ConfigTest, SaveWritesTheRecordWholeAndClearsTheBadFlag) {
  sim.s.settings.ConfigBad = true;
  sim.s.link.state.PortNumber = 2;
  sim.s.settings.OddParity = 1;
  EXPECT_TRUE(SaveConfig(sim.s));
  EXPECT_EQ(Stored(), (std::vector<uint8_t>{2, 0, 0, 1, 0, 0, 3, 0}));
  EXPECT_FALSE(sim.s.settings.ConfigBad);

  sim.s.link.state.PortNumber = 1;
  sim.s.settings.OddParity = 0;
  EXPECT_TRUE(SaveConfig(sim.s));
  EXPECT_EQ(Stored(), (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 1, 0}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sim.s.workDir),
                          std::filesystem::directory_iterator()),
            1);  // no partial copy left behind
}

TEST_F(ConfigTest, SaveThatCannotWriteSaysSoAndKeepsTheBadFlag) {
  std::filesystem::create_directory(sim.s.workDir / "VELUTRON.cfg");
  sim.s.settings.ConfigBad = true;
  EXPECT_FALSE(SaveConfig(sim.s));
  EXPECT_EQ(sim.ui.events, Events{"message|Uwaga !|Blokada zapisu pliku na dysku !"});
  EXPECT_TRUE(sim.s.settings.ConfigBad);
}

TEST_F(ConfigTest, ServiceLetterInEitherCaseGrantsServiceAccess) {
  Put({1, 0, 0, 0, 0, 0, 1, 0});
  for (const auto& [arg, granted] : std::vector<std::pair<std::optional<std::string_view>, bool>>{
           {"S", true}, {"s", true}, {std::nullopt, false}, {"x", false}, {"SS", false}, {"", false}}) {
    LoadConfig(sim.s, arg);
    EXPECT_EQ(sim.s.settings.ServiceAccess, granted) << (arg ? *arg : "(none)");
  }
}

}  // namespace
}  // namespace velutron
