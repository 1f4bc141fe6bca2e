// The port scan and the 1-Wire bus test against simulated loggers.

#include <gtest/gtest.h>

#include "app/Config.h"
#include "platform/AtomicFile.h"
#include "app/Diagnostics.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

using test::SimSession;
using Events = std::vector<std::string>;

std::string FoundText(int port, const char* parity) {
  return std::string("message|TEST_OK !|Wykryto połączenie z VELUTRON [COM ") + std::to_string(port) +
         "].\r---------------------------------------------------\rSzybkość transmisji - 57 600,\r" +
         "Test parzystości - " + parity + ",\r1 bit stopu / 8 bitów danych.";
}

std::vector<uint8_t> ConfigBytes(const SimSession& sim) {
  return ReadWholeFile(sim.s.workDir / "VELUTRON.cfg").value_or(std::vector<uint8_t>{});
}

class ScanTest : public ::testing::Test {
 protected:
  ScanTest() {
    // COM1..COM10 all present; the logger moves to COM3 unless a test says otherwise.
    for (int n = 1; n <= 10; ++n) sim.bench.ports["COM" + std::to_string(n)] = {nullptr, false};
  }
  void PutLoggerOn(int n) { sim.bench.ports["COM" + std::to_string(n)] = {&sim.device, false}; }
  std::vector<std::string> Tried() const {
    std::vector<std::string> names;
    for (const auto& [name, ok] : sim.port.opens) names.push_back(name);
    return names;
  }
  SimSession sim;
};

TEST_F(ScanTest, FindsTheLoggerOnPortThreeKeepsItOpenAndSavesIt) {
  PutLoggerOn(3);
  ASSERT_TRUE(sim.OpenPort());  // the port of the start-up is closed first
  EXPECT_EQ(TESTRS2321Click(sim.s), Outcome::Completed);

  EXPECT_EQ(Tried(), (std::vector<std::string>{"COM1", "COM1", "COM2", "COM3"}));
  EXPECT_TRUE(sim.port.IsOpen());
  EXPECT_EQ(sim.port.OpenName(), "COM3");
  EXPECT_TRUE(sim.s.link.state.LinkOk);
  EXPECT_EQ(sim.s.link.state.PortNumber, 3);
  EXPECT_EQ(sim.ui.events, Events{FoundText(3, "EVENPARITY")});
  EXPECT_EQ(ConfigBytes(sim), (std::vector<uint8_t>{3, 0, 0, 0, 0, 0, 3, 0}));
  // Each try is the probe: 30, 3 ms, 62.
  for (size_t i = 0; i + 1 < sim.port.sent.size(); i += 2) {
    EXPECT_EQ(sim.port.sent[i].byte, 30);
    EXPECT_EQ(sim.port.sent[i + 1].byte, 62);
    EXPECT_EQ(sim.port.sent[i + 1].atUs - sim.port.sent[i].atUs, 3000u);
  }
}

TEST_F(ScanTest, FindsALoggerThatAnswersOnlyWithTheOtherParity) {
  PutLoggerOn(2);
  sim.device.parity = Parity::Odd;
  EXPECT_EQ(TESTRS2321Click(sim.s), Outcome::Completed);
  EXPECT_EQ(sim.port.opens.size(), 12u);  // ten in the first pass, then COM1 and COM2
  EXPECT_EQ(sim.port.OpenName(), "COM2");
  EXPECT_EQ(sim.ui.events, Events{FoundText(2, "ODDPARITY")});
  EXPECT_EQ(ConfigBytes(sim), (std::vector<uint8_t>{2, 0, 0, 1, 0, 0, 3, 0}));
}

TEST_F(ScanTest, NothingFoundLeavesNoPortOpenAndTheParityInverted) {
  sim.s.settings.OddParity = 5;
  const uint64_t t0 = sim.clock.NowUs();
  EXPECT_EQ(TESTRS2321Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.port.opens.size(), 20u);
  EXPECT_FALSE(sim.port.IsOpen());
  EXPECT_FALSE(sim.s.link.state.LinkOk);
  EXPECT_EQ(sim.s.settings.OddParity, 0);
  EXPECT_EQ(sim.ui.events, Events{"message|Uwaga !|Nie wykryto połączenia z VELUTRON !"});
  EXPECT_FALSE(std::filesystem::exists(sim.s.workDir / "VELUTRON.cfg"));
  EXPECT_EQ(sim.clock.NowUs() - t0, 20u * 253'000u);
}

TEST_F(ScanTest, AbsentAndBusyPortsAreSkippedWithoutMessages) {
  sim.bench.ports.erase("COM1");
  sim.bench.ports["COM2"].inUse = true;
  PutLoggerOn(4);
  EXPECT_EQ(TESTRS2321Click(sim.s), Outcome::Completed);
  EXPECT_EQ(sim.ui.events, Events{FoundText(4, "EVENPARITY")});
  EXPECT_EQ(sim.port.sent.size(), 4u);  // probes only on COM3 and COM4
}

TEST_F(ScanTest, AWrongEchoIsNoAnswer) {
  PutLoggerOn(1);
  sim.device.faults.wrongAnswer = 0;
  EXPECT_EQ(TESTRS2321Click(sim.s), Outcome::Failed);
}

TEST_F(ScanTest, AnUnwritableConfigurationKeepsTheFoundPortButTheScanFails) {
  const std::vector<uint8_t> kept{1, 0, 0, 1, 0, 0, 2, 0};
  const std::vector<std::function<void(const std::filesystem::path&)>> blockers = {
      [](const std::filesystem::path& p) { std::filesystem::create_directory(p); },
      [&kept](const std::filesystem::path& p) {
        ASSERT_TRUE(WriteFileAtomically(p, kept));
        std::filesystem::permissions(p, std::filesystem::perms::owner_read);
      },
  };
  for (const auto& block : blockers) {
    SimSession fresh;
    fresh.bench.ports["COM1"] = {&fresh.device, false};
    block(fresh.s.workDir / "VELUTRON.cfg");
    EXPECT_EQ(TESTRS2321Click(fresh.s), Outcome::Failed);
    EXPECT_EQ(fresh.ui.events,
              (Events{FoundText(1, "EVENPARITY"), "message|Uwaga !|Blokada zapisu pliku na dysku !"}));
    EXPECT_TRUE(fresh.port.IsOpen());
    if (std::filesystem::is_regular_file(fresh.s.workDir / "VELUTRON.cfg")) {
      EXPECT_EQ(ReadWholeFile(fresh.s.workDir / "VELUTRON.cfg"), kept);
    }
  }
}

class BusTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.OpenPort()); }
  SimSession sim;
};

TEST_F(BusTest, ConflictCountsGiveTheirMessages) {
  const std::vector<std::pair<uint8_t, std::string>> cases = {
      {0, "message|Test OK!|Brak konfliktów na magistrali 1-WIRE."},
      {1, "message|Uwaga!|Wykryto konflikty kontrolne CRC\r[ERROR = 1] !!!"},
      {254, "message|Uwaga!|Wykryto konflikty kontrolne CRC\r[ERROR = 254] !!!"},
      {255, "message|Uwaga!|Przekroczony bufor konfliktów CRC\r[ERROR > 255] !!!"},
  };
  for (const auto& [count, message] : cases) {
    sim.ui.events.clear();
    sim.TakeSent();
    sim.device.registers[proto::reg::kCrcConflicts] = count;
    EXPECT_EQ(Test1Wie1Click(sim.s), count == 0 ? Outcome::Completed : Outcome::Failed);
    EXPECT_EQ(sim.ui.events, Events{message});
    EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{30, 62, 30, 46, 30, 69}));
  }
}

TEST_F(BusTest, BusDownGivesOneMessageAndNoSecondRead) {
  sim.device.faults.busDown = true;
  EXPECT_EQ(Test1Wie1Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events, Events{"message|Uwaga !|Brak komunikacji magistralą 1-WIRE z czujnikami!"});
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{30, 62, 30, 46}));
}

TEST_F(BusTest, SilentLoggerStopsAtTheProbe) {
  sim.device.faults.silent = true;
  EXPECT_EQ(Test1Wie1Click(sim.s), Outcome::Failed);
  EXPECT_EQ(sim.ui.events, Events{"message|Uwaga !|Brak połączenia z VELUTRON !"});
  EXPECT_EQ(sim.TakeSent(), (std::vector<uint8_t>{30, 62}));
}

TEST_F(BusTest, RunsWhileRecording) {
  sim.device.SetRecording(true);
  EXPECT_EQ(Test1Wie1Click(sim.s), Outcome::Completed);
}

}  // namespace
}  // namespace velutron
