#pragma once

#include <cstdint>
#include <string_view>

#include "platform/UserInterface.h"
#include "session/Session.h"

namespace velutron {

// Shown in place of a field that holds only spaces; offered back unchanged, it writes nothing.
inline constexpr std::string_view kEmptyFieldText = "BRAK WPISU !!!";

// Reads the `length` bytes of one text field at `address`, one read (`readCommand`, address + i) each,
// into FieldText: leading spaces dropped, the padding kept, kEmptyFieldText when nothing but spaces
// arrived. A read that times out ends it with what was read so far; false then (and when the link was
// down), so that no one takes a part of a field for the field.
bool Str_Read_EEPROM(Session& s, uint8_t readCommand, uint8_t address, uint8_t length);

// Writes FieldText into the `length` bytes of one field at `address`, one write (`writeCommand`,
// address + k, byte) each, padded with spaces. Text longer than the field is cut after a notice; a
// character the logger cannot hold (outside 32..128 in Windows-1250, or not in Windows-1250 at all)
// is refused as typed and nothing is written. `what` completes the success message "Zapisano ".
// kEmptyFieldText writes nothing. Failed when refused or when the write stopped part-way. An interrupt
// waits until the field is written whole; one that came before the write began stops it (Cancelled).
Outcome Str_To_EEPROM(Session& s, uint8_t writeCommand, uint8_t address, uint8_t length,
                      std::string_view what);

}  // namespace velutron
