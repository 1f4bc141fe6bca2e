#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "session/Session.h"

namespace velutron {

// "COM" followed by the number in decimal.
std::string ComPortName(int number);

// How a refused port's holder is named: in Polish for the desktop program's users, in the words the
// command line's users match in their scripts ("port held by velutron, pid 1234").
enum class HolderWords { English, Polish };

// Opens the program's port as the start-up does; a port that cannot be opened (absent, or in use) is
// reported with a beep and the error dialog naming it, and the program holding it when known.
bool OpenProgramPort(Session& s, const std::string& portName, HolderWords words = HolderWords::English);

// The start-up sequence run at the main window's first activation: configuration, port, probe,
// and the about box whatever happened before.
void OpenCommClick(Session& s, std::optional<std::string_view> firstArgument);

// "Koniec pracy": asks, and on OK closes the port. True when the program should end.
bool Koniecpracy1Click(Session& s);

}  // namespace velutron
