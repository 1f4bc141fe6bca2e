#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/Locale.h"

namespace velutron {

// Relative humidity of one dry/wet bulb pair.
struct HumidityResult {
  static constexpr uint16_t kNoValue = 1000;
  uint16_t HumidityValue = kNoValue;  // tenths of %RH; kNoValue when no table value applies, 0 below it
  std::string HumidityText;  // UTF-8, e.g. "90,2%RH", or "T suchy!", "100%RH", "Brak tab.", "MIN tab."

  // Whether the table gave a value (the report's extremes and the exports take only these).
  bool HasValue() const { return HumidityValue != kNoValue && HumidityValue != 0; }
};

// Looks the pair up in the psychrometric table: row by the dry bulb in whole degrees, column by the
// depression in tenths of a degree. Raw readings are sixteenths of a degree plus 55 degrees.
HumidityResult HumidityFromPsychrometer(uint16_t wetRaw, uint16_t dryRaw, const Locale& locale);
// The same with the decimal separator given (the report passes its Windows-1250 bytes).
HumidityResult HumidityFromPsychrometer(uint16_t wetRaw, uint16_t dryRaw, std::string_view decimalSeparator);

// The table: rows t = 2..58; row t covers columns 2..DepressionLimit(t) + 2.
uint8_t DepressionLimit(int t);
std::span<const uint16_t> HumidityTableRow(int t);  // element 0 is column 2

// n / d rounded to the nearest integer, halves to the even neighbour (n >= 0, d > 0).
constexpr uint32_t DivideRoundHalfEven(uint32_t n, uint32_t d) {
  const uint32_t q = n / d;
  const uint32_t r2 = 2 * (n % d);
  return (r2 > d || (r2 == d && q % 2 == 1)) ? q + 1 : q;
}

}  // namespace velutron
