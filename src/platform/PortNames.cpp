#include "platform/PortNames.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <filesystem>
#include <fstream>
#include <system_error>
#endif

namespace velutron {
namespace {

constexpr int kLastComPort = 255;

std::string ComName(int number) { return "COM" + std::to_string(number); }

// Orders ttyS2 before ttyS10: equal prefixes compare by their trailing number.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t digits = s.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
    return digits;
  };
  size_t da = split(a);
  size_t db = split(b);
  std::string_view prefixA(a.data(), da);
  std::string_view prefixB(b.data(), db);
  if (prefixA != prefixB || da == a.size() || db == b.size()) return a < b;
  std::string_view numberA = std::string_view(a).substr(da);
  std::string_view numberB = std::string_view(b).substr(db);
  if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
  return numberA < numberB;
}

#ifdef _WIN32

bool DosDeviceExists(const std::string& name) {
  char target[1024];
  return QueryDosDeviceA(name.c_str(), target, sizeof(target)) != 0;
}

#else

std::string PortDirectory() {
  const char* dir = std::getenv("VELUTRON_PORT_DIR");
  return dir != nullptr ? std::string(dir) : std::string();
}

// A ttyS node exists for every possible UART slot; the kernel reports type 0 (unknown) for slots with
// no hardware behind them. Without sysfs we cannot tell, so the device is kept.
bool IsRealUart(const std::string& deviceName) {
  std::ifstream type("/sys/class/tty/" + deviceName + "/type");
  int value = -1;
  if (!(type >> value)) return true;
  return value != 0;
}

void AddDevices(std::vector<PortInfo>& ports) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
    std::string name = entry.path().filename().string();
    bool uart = name.starts_with("ttyS");
    if (!uart && !name.starts_with("ttyUSB") && !name.starts_with("ttyACM")) continue;
    if (uart && !IsRealUart(name)) continue;
    ports.push_back({entry.path().string(), {}});
  }
}

void AddPortDirectory(std::vector<PortInfo>& ports) {
  std::string dir = PortDirectory();
  if (dir.empty()) return;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    PortInfo info{entry.path().string(), {}};
    std::error_code linkError;
    if (entry.is_symlink(linkError)) {
      info.target = std::filesystem::read_symlink(entry.path(), linkError).string();
    }
    ports.push_back(std::move(info));
  }
}

#endif

}  // namespace

std::optional<int> ComPortNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 6) return std::nullopt;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return std::nullopt;
  }
  std::string_view digits = name.substr(3);
  if (digits.front() == '0') return std::nullopt;
  int number = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (number > kLastComPort) return std::nullopt;
  return number;
}

std::string ResolvePortName(std::string_view name) {
  auto number = ComPortNumber(name);
  if (!number) return std::string(name);
#ifdef _WIN32
  // The \\.\ form is what reaches COM10 and above.
  return "\\\\.\\" + ComName(*number);
#else
  std::string dir = PortDirectory();
  if (!dir.empty()) {
    if (dir.back() != '/') dir.push_back('/');
    return dir + ComName(*number);
  }
  return "/dev/ttyS" + std::to_string(*number - 1);
#endif
}

std::vector<PortInfo> StablePortNames(const std::string& folder) {
  std::vector<PortInfo> ports;
#ifdef _WIN32
  (void)folder;
#else
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::error_code linkError;
    if (!entry.is_symlink(linkError)) continue;
    // The links are relative ("../../ttyUSB0"): named by the device they lead to.
    const auto device = std::filesystem::weakly_canonical(entry.path(), linkError);
    ports.push_back({entry.path().string(), linkError ? std::string() : device.string()});
  }
#endif
  return ports;
}

std::vector<PortInfo> ListSerialPorts() {
  std::vector<PortInfo> ports;
#ifdef _WIN32
  for (int n = 1; n <= kLastComPort; ++n) {
    if (DosDeviceExists(ComName(n))) ports.push_back({ComName(n), {}});
  }
#else
  AddDevices(ports);
  for (PortInfo& stable : StablePortNames()) ports.push_back(std::move(stable));
  AddPortDirectory(ports);
#endif
  std::sort(ports.begin(), ports.end(),
            [](const PortInfo& a, const PortInfo& b) { return NaturalLess(a.path, b.path); });
  return ports;
}

std::vector<ComPortMapping> ComMapping(int count) {
  std::vector<ComPortMapping> mapping;
  for (int n = 1; n <= std::min(count, kLastComPort); ++n) {
    ComPortMapping entry{ComName(n), ResolvePortName(ComName(n)), false};
#ifdef _WIN32
    entry.exists = DosDeviceExists(entry.name);
#else
    std::error_code ec;
    entry.exists = std::filesystem::exists(entry.path, ec);
#endif
    mapping.push_back(std::move(entry));
  }
  return mapping;
}

}  // namespace velutron
