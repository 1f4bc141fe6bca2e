#pragma once

#include <optional>
#include <string>

#include "platform/UserInterface.h"

namespace velutron {

// The settings dialogs answered by values instead of a user (the command line's arguments, a test's
// script): a value given is set as the user would set it, a value not given stays as shown.
struct ChooserAnswer {
  std::optional<int> number = std::nullopt;
};
struct LoggerOptionsAnswer {
  std::optional<int> intervalMinutes = std::nullopt;
  std::optional<int> threshold = std::nullopt;
  std::optional<int> options = std::nullopt;
  std::optional<bool> humidity = std::nullopt;
};
struct SensorParamsAnswer {
  std::optional<int> low = std::nullopt;
  std::optional<int> high = std::nullopt;
  std::optional<std::string> offset = std::nullopt;  // typed with "." or the regional decimal separator
};

// Each fills `dialog` from `answer`; the result names the first value the dialog cannot take (outside
// its spinner's range, or an offset that is no number of the offset spinner's range), empty when all fit.
std::string Answer(ChooserValues& dialog, const ChooserAnswer& answer);
std::string Answer(LoggerOptionsValues& dialog, const LoggerOptionsAnswer& answer);
std::string Answer(SensorParamsValues& dialog, const SensorParamsAnswer& answer);

}  // namespace velutron
