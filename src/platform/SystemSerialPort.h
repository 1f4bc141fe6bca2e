#pragma once

#include <memory>

#include "platform/SerialPort.h"

namespace velutron {

// The serial port of the operating system the program runs on: Win32 on Windows, termios elsewhere.
std::unique_ptr<SerialPort> MakeSystemSerialPort();

}  // namespace velutron
