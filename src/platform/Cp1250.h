#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velutron {

// Windows-1250 <-> UTF-8. Logger texts and report files are Windows-1250 bytes; everything the user sees
// or types is UTF-8. The five positions the code page leaves undefined (0x81, 0x83, 0x88, 0x90, 0x98)
// map to the C1 controls of the same number so that every byte survives a round trip.

// Every byte has a character, so decoding cannot fail.
std::string Cp1250ToUtf8(std::span<const uint8_t> bytes);

// For text the user entered: nullopt when the UTF-8 is malformed or a character has no Windows-1250 byte.
std::optional<std::vector<uint8_t>> Utf8ToCp1250(std::string_view text);

// For the program's own texts (regional formats and the like), where refusing is not an option:
// characters without a Windows-1250 byte and malformed sequences become '?'.
std::vector<uint8_t> Utf8ToCp1250Lossy(std::string_view text);

// One character of text the user typed: its UTF-8 as typed and its Windows-1250 byte, if it has one.
// A malformed byte is a character of its own, without a Windows-1250 byte.
struct TypedChar {
  std::string_view typed;
  std::optional<uint8_t> byte;
};
std::vector<TypedChar> SplitTypedText(std::string_view text);

}  // namespace velutron
