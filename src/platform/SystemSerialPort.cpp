#include "platform/SystemSerialPort.h"

#ifdef _WIN32
#include "platform/Win32SerialPort.h"
#else
#include "platform/PosixSerialPort.h"
#endif

namespace velutron {

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
#ifdef _WIN32
  return std::make_unique<Win32SerialPort>();
#else
  return std::make_unique<PosixSerialPort>();
#endif
}

}  // namespace velutron
