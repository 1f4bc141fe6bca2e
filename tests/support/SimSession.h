#pragma once

#include <filesystem>
#include <string>

#include "platform/Locale.h"
#include "session/Session.h"
#include "sim/Device.h"
#include "sim/SimPort.h"
#include "sim/VirtualClock.h"
#include "support/ScriptedUi.h"

namespace velutron::test {

// A private working directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A session wired to a simulated logger on COM1, on virtual time, with a scripted user interface,
// comma as decimal separator and a private working directory.
struct SimSession {
  explicit SimSession(uint32_t tickBase = 1'000'000);

  sim::VirtualClock clock;
  sim::Device device;
  sim::SimBench bench;
  sim::SimSerialPort port{clock, bench};
  ScriptedUi ui;
  FixedLocale locale{","};
  TempDir dir;
  Session s{port, clock, ui, locale};

  // Opens COM1 with the session's parity, as the start-up does.
  bool OpenPort();
  // The bytes sent to the logger since the last call.
  std::vector<uint8_t> TakeSent();
  // The same as text: the bytes of one command (3 ms apart) joined by "-", commands by " ":
  // "30-62 30-14 75 35-32".
  std::string TakeWire();

 private:
  size_t sentSeen_ = 0;
};

}  // namespace velutron::test
