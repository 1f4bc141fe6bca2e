// Feeds arbitrary bytes as VELUTRON.cfg to the configuration reader: it takes the port and parity from a
// record whose checksum matches and from nothing else, and says so whenever it does not.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Config.h"
#include "sim/SimPort.h"
#include "sim/VirtualClock.h"
#include "support/ScriptedUi.h"
#include "support/SimSession.h"

using namespace velutron;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const test::TempDir work;
  const std::filesystem::path& dir = work.path();
  std::ofstream(dir / kConfigFileName, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  sim::VirtualClock clock;
  sim::SimBench bench;
  sim::SimSerialPort port(clock, bench);
  test::ScriptedUi ui;
  const FixedLocale locale(",");
  Session s(port, clock, ui, locale);
  s.workDir = dir;
  s.link.state.PortNumber = 77;
  LoadConfig(s, std::nullopt);

  const bool whole = size >= kConfigRecordSize;
  const bool matches =
      whole && ConfigChecksum(std::span<const uint8_t>(data, kConfigRecordSize)) == (data[6] | data[7] << 8);
  if (s.settings.ConfigBad == matches) std::abort();
  if (matches &&
      (s.link.state.PortNumber != data[0] || s.settings.OddParity != data[3] || !ui.events.empty())) {
    std::abort();
  }
  if (!matches && (s.link.state.PortNumber != 77 || s.settings.OddParity != 0 || ui.events.size() != 1)) {
    std::abort();
  }
  return 0;
}
