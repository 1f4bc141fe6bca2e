#include "app/Config.h"

#include <algorithm>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileRead.h"

namespace velutron {

namespace {
constexpr std::string_view kMissing = "Prawdopodobnie brak zbioru konfiguracyjnego.";
constexpr std::string_view kDamaged = "U W A G A   ! ! !\rUszkodzony zbiór konfiguracyjny.";
constexpr std::string_view kWriteBlocked = "Blokada zapisu pliku na dysku !";
}  // namespace

uint16_t ConfigChecksum(std::span<const uint8_t> r) {
  return static_cast<uint16_t>(r[0] + r[1] + r[2] + (r[3] != 0) + (r[4] != 0) + (r[5] != 0));
}

ConfigRecord MakeConfigRecord(uint8_t portNumber, uint8_t oddParity) {
  ConfigRecord r{portNumber, 0, 0, oddParity, 0, 0, 0, 0};
  const uint16_t sum = ConfigChecksum(r);
  r[6] = static_cast<uint8_t>(sum & 0xFF);
  r[7] = static_cast<uint8_t>(sum >> 8);
  return r;
}

bool IsServiceArgument(std::string_view arg) {
  return arg.size() == 1 && (arg[0] == kServiceLetter || arg[0] == kServiceLetter - 'A' + 'a');
}

void LoadConfig(Session& s, std::optional<std::string_view> firstArgument) {
  s.settings.ConfigBad = false;
  s.link.state.SensorNumber = 1;
  s.settings.ServiceAccess = firstArgument && IsServiceArgument(*firstArgument);

  const auto path = s.InWorkDir(kConfigFileName);
  // The file is opened for reading and writing: a read-only or locked file counts as missing, and so does
  // anything that is not a regular file.
  const auto bytes = ReadFileAtMost(path, kConfigRecordSize, FileAccess::ReadWrite);
  if (!bytes) {
    s.settings.ConfigBad = true;
    s.ui.ShowMessage(text::kCaptionWarning, kMissing);
    return;
  }
  ConfigRecord r{};
  // A record that cannot be read whole cannot match its checksum: damaged.
  const bool whole = bytes->size() >= r.size();
  if (whole) std::copy_n(bytes->begin(), r.size(), r.begin());
  if (whole && ConfigChecksum(r) == static_cast<uint16_t>(r[6] | (r[7] << 8))) {
    s.link.state.PortNumber = r[0];
    s.settings.OddParity = r[3];
    return;
  }
  s.settings.ConfigBad = true;
  s.ui.ShowMessage(text::kCaptionWarning, kDamaged);
}

bool SaveConfig(Session& s) {
  const ConfigRecord r = MakeConfigRecord(s.link.state.PortNumber, s.settings.OddParity);
  if (!WriteFileAtomically(s.InWorkDir(kConfigFileName), r)) {
    s.ui.ShowMessage(text::kCaptionWarning, kWriteBlocked);
    return false;
  }
  s.settings.ConfigBad = false;
  return true;
}

}  // namespace velutron
