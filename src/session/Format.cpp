#include "session/Format.h"

namespace velutron {

std::string FormatTenths(int32_t tenths, std::string_view decimalSeparator) {
  const int64_t magnitude = tenths < 0 ? -int64_t{tenths} : int64_t{tenths};
  std::string text = tenths < 0 ? "-" : "";
  text += std::to_string(magnitude / 10);
  text += decimalSeparator;
  text += static_cast<char>('0' + magnitude % 10);
  return text;
}

}  // namespace velutron
