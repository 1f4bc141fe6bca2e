#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/Session.h"

namespace velutron {

// "COM" followed by the number in decimal.
std::string ComPortName(int number);

// The start-up sequence run at the main window's first activation: configuration, port, probe,
// and the about box whatever happened before.
void OpenCommClick(Session& s, std::optional<std::string_view> firstArgument);

// "Koniec pracy": asks, and on OK closes the port. True when the program should end.
bool Koniecpracy1Click(Session& s);

}  // namespace velutron
