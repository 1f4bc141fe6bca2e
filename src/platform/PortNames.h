#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velutron {

// "COMn" (any letter case, n = 1..255, no leading zero) -> n; anything else -> nullopt.
std::optional<int> ComPortNumber(std::string_view name);

// The device a port name opens. "COMn" becomes \\.\COMn on Windows; elsewhere $VELUTRON_PORT_DIR/COMn
// when that variable is set and not empty, otherwise /dev/ttyS(n-1). Any other name is a device path
// and comes back unchanged.
std::string ResolvePortName(std::string_view name);

// A serial device found on this machine.
struct PortInfo {
  std::string path;    // what to pass as a port name
  std::string target;  // where a link in $VELUTRON_PORT_DIR points; empty for a device itself
};

// Serial devices present: built-in UARTs that really exist, USB serial adapters, USB modems (ACM), their
// stable names in /dev/serial/by-id, and the entries of $VELUTRON_PORT_DIR; on Windows the COM devices
// the system knows. Sorted by path.
std::vector<PortInfo> ListSerialPorts();

// The stable names udev gives serial adapters in `folder` (links named after the adapter's maker, model
// and serial number, which survive replugging and renumbering), each with the device it names. Any of
// them is a device path, accepted wherever a port is named. None on Windows.
std::vector<PortInfo> StablePortNames(const std::string& folder = "/dev/serial/by-id");

// What a COM name opens on this machine.
struct ComPortMapping {
  std::string name;  // "COM1"
  std::string path;  // ResolvePortName(name)
  bool exists = false;
};

// COM1..COM`count`, in order.
std::vector<ComPortMapping> ComMapping(int count = 10);

}  // namespace velutron
