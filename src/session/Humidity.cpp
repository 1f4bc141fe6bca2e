#include "session/Humidity.h"

#include <array>

#include "session/Format.h"
#include "session/HumidityTable.h"

namespace velutron {

namespace {

constexpr size_t RowOffset(int t) {
  size_t offset = 0;
  for (int row = humidity_table::kFirstRow; row < t; ++row) {
    offset += size_t{humidity_table::kDepressionLimit[row - humidity_table::kFirstRow]} + 1;
  }
  return offset;
}

}  // namespace

uint8_t DepressionLimit(int t) { return humidity_table::kDepressionLimit[t - humidity_table::kFirstRow]; }

std::span<const uint16_t> HumidityTableRow(int t) {
  static const auto offsets = [] {
    std::array<size_t, humidity_table::kRows + 1> o{};
    for (int k = 0; k <= humidity_table::kRows; ++k) o[k] = RowOffset(humidity_table::kFirstRow + k);
    return o;
  }();
  const int k = t - humidity_table::kFirstRow;
  return std::span<const uint16_t>(humidity_table::kValues).subspan(offsets[k], offsets[k + 1] - offsets[k]);
}

HumidityResult HumidityFromPsychrometer(uint16_t wetRaw, uint16_t dryRaw, const Locale& locale) {
  return HumidityFromPsychrometer(wetRaw, dryRaw, locale.DecimalSeparator());
}

HumidityResult HumidityFromPsychrometer(uint16_t wetRaw, uint16_t dryRaw, std::string_view decimalSeparator) {
  HumidityResult result;
  if (dryRaw <= wetRaw) {
    result.HumidityText = "T suchy!";
    return result;
  }
  // Sixteenths to tenths of a degree (x 10/16) and to whole degrees (/ 16), halves to even.
  const int column = static_cast<int>(DivideRoundHalfEven(static_cast<uint32_t>(dryRaw - wetRaw) * 5u, 8u));
  const int row = static_cast<int>(DivideRoundHalfEven(dryRaw, 16u)) - 55;
  if (column < humidity_table::kFirstColumn) {
    result.HumidityText = "100%RH";
    return result;
  }
  if (row < humidity_table::kFirstRow || row > humidity_table::kLastRow) {
    result.HumidityText = "Brak tab.";
    return result;
  }
  if (column - humidity_table::kFirstColumn > DepressionLimit(row)) {
    result.HumidityText = "MIN tab.";
    result.HumidityValue = 0;
    return result;
  }
  result.HumidityValue = HumidityTableRow(row)[column - humidity_table::kFirstColumn];
  result.HumidityText = FormatTenths(result.HumidityValue, decimalSeparator) + "%RH";
  return result;
}

}  // namespace velutron
