#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "session/Session.h"

namespace velutron {

// The name under which the sensor chooser reports the sensor count it read.
inline constexpr std::string_view kSensorCountValue = "sensor_count";

// The sensor chooser: reads the sensor count and, for two sensors or more, asks which one. True when a
// sensor stands chosen in SensorNumber (always 1 for fewer than two sensors); false when the chooser
// was closed or the count could not be read, SensorNumber unchanged.
bool WyborKanalu(Session& s);

// "Liczba czujników": the sensor count in register 75 (service access).
Outcome Liczbaczujnikw1Click(Session& s);
// "Deklarowanie czujnika": the logger records the signature of the chosen sensor (service access).
Outcome Deklarowanieczujnika1Click(Session& s);
// "Parametry czujnika": the chosen sensor's alarm limits and measurement offset.
Outcome Parametryczujnika1Click(Session& s);

// The offset spinner's range: sixteenths of a degree either side of zero (+/- 3 degrees).
inline constexpr int kOffsetSpinnerRange = 48;

// An offset in sixteenths of a degree as the offset field shows it: four decimals, e.g. 1 -> "0,0625".
std::string OffsetText(int sixteenths, std::string_view decimalSeparator);
// The offset field's text for the offset spinner's position.
inline std::string UpDown3Click(int position, std::string_view decimalSeparator) {
  return OffsetText(position, decimalSeparator);
}
// The offset field's number (with the given separator or ".") in sixteenths of a degree, halves to
// even; nullopt when it is not a number.
std::optional<int> ParseOffset(std::string_view text, std::string_view decimalSeparator);

}  // namespace velutron
