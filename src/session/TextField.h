#pragma once

#include <cstdint>
#include <string_view>

#include "session/Session.h"

namespace velutron {

// Shown in place of a field that holds only spaces; offered back unchanged, it writes nothing.
inline constexpr std::string_view kEmptyFieldText = "BRAK WPISU !!!";

// Reads the `length` bytes of one text field at `address`, one read (`readCommand`, address + i) each,
// into FieldText: leading spaces dropped, the padding kept, kEmptyFieldText when nothing but spaces
// arrived. A read that times out ends it with what was read so far.
void Str_Read_EEPROM(Session& s, uint8_t readCommand, uint8_t address, uint8_t length);

}  // namespace velutron
