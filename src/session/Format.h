#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velutron {

// Packed BCD to binary, unchecked: 0x1F gives 25.
constexpr uint8_t BcdToByte(uint8_t b) { return static_cast<uint8_t>(b - 6 * (b / 16)); }
// Binary to packed BCD, modulo 256: 59 gives 0x59 (used for 0..59).
constexpr uint8_t ByteToBcd(uint8_t b) { return static_cast<uint8_t>(b + 6 * (b / 10)); }

// A value in tenths shown in fixed notation with one decimal: FormatTenths(-1, ",") is "-0,1".
std::string FormatTenths(int32_t tenths, std::string_view decimalSeparator);

// A raw reading (sixteenths of a degree, offset 55 degrees) in tenths of a degree, halves away from
// zero. Done in integers: the reading is exact in sixteenths, so no binary rounding creeps in.
constexpr int32_t TemperatureTenths(uint16_t raw) {
  const int32_t sixteenths = int32_t{raw} - 55 * 16;
  const int32_t magnitude = (sixteenths < 0 ? -sixteenths : sixteenths) * 10;
  const int32_t rounded = (magnitude + 8) / 16;
  return sixteenths < 0 ? -rounded : rounded;
}

// The temperature of a raw reading with one decimal, e.g. 1200 -> "20,0".
inline std::string FormatTemperature(uint16_t raw, std::string_view decimalSeparator) {
  return FormatTenths(TemperatureTenths(raw), decimalSeparator);
}

}  // namespace velutron
