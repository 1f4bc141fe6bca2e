// Thousands of random operations against the simulated logger on virtual time, each under random
// faults, and after every one the rules that keep a user's data and logger safe:
//  - no crash or hang (the sanitizers and the test's time limit watch);
//  - a file is written only from a whole, correct dump, and an existing file is byte-identical after a
//    failure; no partial file is ever left;
//  - every failure is shown to the user;
//  - when the user says no to everything, nothing in the logger changes;
//  - once the fault is gone (and a vanished port is plugged in again and found by the port scan), the
//    very next operation works.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "app/Config.h"
#include "app/Diagnostics.h"
#include "data/DatabaseCommands.h"
#include "data/DatabaseFile.h"
#include "data/Download.h"
#include "data/Report.h"
#include "monitor/MemoryImage.h"
#include "monitor/Monitoring.h"
#include "settings/LoggerOptions.h"
#include "settings/Maintenance.h"
#include "settings/Sensors.h"
#include "settings/TextFields.h"
#include "support/SimSession.h"
#include "support/TestFiles.h"

namespace velutron {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class Soak {
 public:
  Soak() {
    sim.bench.ports["COM2"] = {};  // present, nothing on it
    sim.s.settings.ServiceAccess = true;
    sim.ui.beforeRefresh = [this] { sim.clock.SleepMs(1000); };
    EXPECT_TRUE(sim.OpenPort());
  }

  // One operation under one random fault; returns false when a rule was broken (after saying which).
  bool Step(int step) {
    const std::string fault = InjectFault();
    const Files before = Snapshot();
    const Memory logger = LoggerMemory();
    sim.ui.events.clear();
    const bool declines = Below(4) == 0;
    Script(declines);
    const auto [name, outcome, descending] = RunRandomOperation();
    trace_ = "step " + std::to_string(step) + ": " + name + (declines ? " declined" : "") + " under " + fault;

    if (declines && LoggerMemory() != logger) return Broken("the logger changed although the user said no");
    const Files after = Snapshot();
    for (const auto& [file, bytes] : after) {
      if (file.find(".part") != std::string::npos) return Broken("a partial file was left: " + file);
      const auto old = before.find(file);
      const bool changed = old == before.end() || old->second != bytes;
      if (!changed) continue;
      if (outcome != Outcome::Completed) return Broken(file + " changed by a failed operation");
      if (file.ends_with(".DAT") && bytes != Expected(descending)) return Broken(file + " is not the dump");
      if (file.ends_with(".eep") && bytes != ImageOfTheLogger()) return Broken(file + " is not the memory");
    }
    for (const auto& [file, bytes] : before) {
      if (!after.contains(file) && file != kReportFileName) return Broken(file + " disappeared");
    }
    if (outcome == Outcome::Failed && sim.ui.events.empty()) return Broken("a failure nobody was told of");
    return Recovers();
  }

  const std::string& Trace() const { return trace_; }

 private:
  using Files = std::map<std::string, Bytes>;
  // Everything a write can change: registers, both memory spaces, the recorded measurements.
  using Memory =
      std::tuple<std::array<uint8_t, 256>, std::array<uint8_t, 256>, std::array<uint8_t, 256>, size_t>;

  Memory LoggerMemory() const {
    return {sim.device.registers, sim.device.params, sim.device.names, sim.device.measurements.size()};
  }
  Bytes ImageOfTheLogger() const {
    MemoryImage memory{};
    std::copy(sim.device.params.begin(), sim.device.params.end(), memory.begin());
    std::copy(sim.device.names.begin(), sim.device.names.end(), memory.begin() + 256);
    const auto file = ImageFileBytes(memory);
    return Bytes(file.begin(), file.end());
  }

  // The user's answers for the next operation: no to everything, or yes with values that change things.
  void Script(bool declines) {
    test::ScriptedUi& ui = sim.ui;
    ui.answers.clear();
    ui.inputs.clear();
    ui.files.clear();
    ui.choosers.clear();
    ui.optionDialogs.clear();
    ui.sensorDialogs.clear();
    ui.monitorRefreshes = static_cast<int>(Below(3));
    if (declines) {
      ui.inputs = {std::nullopt};
      return;
    }
    const std::string file = Below(2) == 0 ? "data" : "fresh";
    ui.answers = {Below(3) != 0, false};
    ui.inputs = {Below(8) == 0 ? std::nullopt : std::optional<std::string>(Below(3) == 0 ? "Hala A" : file)};
    ui.files = {(sim.s.workDir / (Below(2) == 0 ? file + ".DAT" : file + ".eep")).string()};
    ui.choosers = {ChooserAnswer{1 + static_cast<int>(Below(4))}};
    ui.optionDialogs = {LoggerOptionsAnswer{1 + static_cast<int>(Below(180)), static_cast<int>(Below(100)),
                                            static_cast<int>(Below(256)), Below(2) == 0}};
    ui.sensorDialogs = {SensorParamsAnswer{static_cast<int>(Below(40)) - 20, 20 + static_cast<int>(Below(40)),
                                           std::to_string(static_cast<int>(Below(5)) - 2)}};
  }

  uint32_t Below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }

  std::string InjectFault() {
    sim::Faults& f = sim.device.faults;
    f = sim::Faults{};
    sim.device.SetRecording(false);
    sim.device.SetSensors(1 + static_cast<int>(Below(10)), Below(4) == 0);
    sim.device.GenerateMeasurements(1 + static_cast<int>(Below(120)), Below(1000));
    const uint64_t now = sim.clock.NowUs();
    switch (Below(14)) {
      case 0:
        f.silent = true;
        return "silence";
      case 12:
        f.replyCodes[Below(2) == 0 ? 25 : 20] = static_cast<uint8_t>(Below(3) == 0 ? 255 : 10 * Below(10));
        return "refused writes";
      case 1:
        f.silentAfter = Below(8);
        return "silence after some answers";
      case 2:
        f.answerDelayUs = 1000 * Below(700);
        return "late answers";
      case 3:
        f.wrongAnswer = static_cast<uint8_t>(Below(256));
        return "wrong answers";
      case 4:
        f.extraByte = true;
        return "extra bytes";
      case 5:
        f.dumpCutAfter = Below(400);
        return "a cut dump";
      case 6:
        f.dumpPauseAfter = Below(400);
        f.dumpPauseMs = Below(120);
        return "a paused dump";
      case 7:
        sim.device.SetRecording(true);
        return "recording";
      case 8:
        f.busDown = true;
        return "bus down";
      case 9:
        sim.bench.Unplug("COM1", now + 1000 * Below(400));
        unplugged_ = true;
        return "the port vanishing";
      case 10:
        // Stray bytes waiting before the operation, or arriving as its first command goes out. Not 62:
        // a byte exactly like the probe's answer, arriving while the probe waits, cannot be told from it
        // by anyone; nor can noise inside a dump, which carries no checksum.
        for (int i = 0, n = 1 + static_cast<int>(Below(5)); i < n; ++i) {
          const uint8_t byte = static_cast<uint8_t>(Below(255));
          sim.port.Inject(now + 1000 * Below(5) - std::min<uint64_t>(now, 1000 * Below(300)),
                          byte == 62 ? 255 : byte);
        }
        return "stray bytes";
      case 11:
        if (Below(20) == 0) {
          // A dump longer than the reception buffer.
          sim.device.SetSensors(4, false);
          f.overfullMemory = true;
          sim.device.GenerateMeasurements(18724);
          return "an oversized dump";
        }
        f.dumpStartDelayMs = 1 + Below(200);
        return "a slow dump";
      default:
        return "no fault";
    }
  }

  std::tuple<std::string, Outcome, bool> RunRandomOperation() {
    Session& s = sim.s;
    const bool descending = Below(2) == 0;
    struct Op {
      const char* name;
      std::function<Outcome()> run;
    };
    const Op ops[] = {
        {"probe",
         [&s] {
           s.link.Test_COM_OK();
           return s.link.state.LinkOk ? Outcome::Completed : Outcome::Failed;
         }},
        {"bus test", [&s] { return Test1Wie1Click(s); }},
        {"scan", [&s] { return TESTRS2321Click(s); }},
        {"report", [&s] { return BitBtn1Click(s); }},
        {"download", [&s, descending] { return descending ? BitBtn5Click(s) : BitBtn4Click(s); }},
        {"download", [&s, descending] { return descending ? BitBtn5Click(s) : BitBtn4Click(s); }},
        {"licence", [&s] { return Licencja1Click(s); }},
        {"monitoring", [&s] { return BitBtn6Click(s); }},
        {"image save", [&s] { return Zapisobrazurej1Click(s); }},
        {"image restore", [&s] { return Wczytanieobrazurej1Click(s); }},
        {"supervisor text", [&s] { return Nadzrpomiaru1Click(s); }},
        {"point name", [&s] { return Nazwapktpomiar1Click(s); }},
        {"owner text", [&s] { return Wpislicencji1Click(s); }},
        {"mode toggle", [&s] { return BitBtn2Click(s); }},
        {"clock", [&s] { return BitBtn3Click(s); }},
        {"reset", [&s] { return Resetuk1Click(s); }},
        {"erase", [&s] { return Wykasujpomiary1Click(s); }},
        {"format", [&s] { return Formatowanieukadu1Click(s); }},
        {"logger options", [&s] { return Parametryrejestratora1Click(s); }},
        {"sensor count", [&s] { return Liczbaczujnikw1Click(s); }},
        {"sensor declaration", [&s] { return Deklarowanieczujnika1Click(s); }},
        {"sensor parameters", [&s] { return Parametryczujnika1Click(s); }},
    };
    const Op& op = ops[Below(std::size(ops))];
    return {op.name, op.run(), descending};
  }

  // The database a whole, correct dump of the logger's memory makes.
  Bytes Expected(bool descending) const {
    Bytes out;
    EncodeDatabase(sim.device.Dump(descending), out);
    return out;
  }

  Files Snapshot() const {
    Files files;
    for (const auto& e : fs::directory_iterator(sim.s.workDir)) {
      if (e.is_regular_file())
        files[e.path().filename().string()] = ReadWholeFile(e.path()).value_or(Bytes{});
    }
    return files;
  }

  bool Recovers() {
    sim.device.faults = sim::Faults{};
    sim.device.SetRecording(false);
    sim.clock.SleepMs(60'000);  // whatever the logger was still sending is over
    sim.ui.events.clear();
    if (unplugged_ || !sim.port.IsOpen()) {
      sim.bench.PlugIn("COM1");
      unplugged_ = false;
      if (TESTRS2321Click(sim.s) != Outcome::Completed)
        return Broken("the scan does not find the logger again");
    }
    sim.s.link.Test_COM_OK();
    sim.s.link.Read_COM_Byte(30, 75);
    if (!sim.s.link.state.LinkOk || sim.s.link.state.DataByte != sim.device.registers[75]) {
      return Broken("the link does not work again");
    }
    // The configuration a scan saved must always name the logger's port and parity.
    if (const auto cfg = ReadWholeFile(sim.s.workDir / kConfigFileName)) {
      if (*cfg != Bytes{1, 0, 0, 0, 0, 0, 1, 0}) return Broken("VELUTRON.cfg names the wrong port or parity");
    }
    return true;
  }

  bool Broken(const std::string& rule) {
    ADD_FAILURE() << trace_ << ": " << rule;
    return false;
  }

  test::SimSession sim;
  std::mt19937 rng_{20091205};
  bool unplugged_ = false;
  std::string trace_;
};

TEST(FaultSoakTest, TenThousandFaultyOperationsKeepEveryFileTheLinkAndTheUserSafe) {
  Soak soak;
  for (int step = 0; step < 10'000; ++step) {
    if (!soak.Step(step)) break;
  }
}

}  // namespace
}  // namespace velutron
