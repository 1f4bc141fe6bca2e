#include "settings/DialogAnswers.h"

#include <cstdlib>

#include "settings/Sensors.h"

namespace velutron {

namespace {

std::string Set(Spinner& spinner, const std::optional<int>& given, std::string_view name) {
  if (!given) return {};
  spinner.position = *given;
  spinner.touched = true;
  if (*given >= spinner.minimum && *given <= spinner.maximum) return {};
  return std::string(name) + " " + std::to_string(*given) + " is outside " + std::to_string(spinner.minimum) +
         ".." + std::to_string(spinner.maximum);
}

std::string FirstOf(std::initializer_list<std::string> problems) {
  for (const std::string& p : problems) {
    if (!p.empty()) return p;
  }
  return {};
}

}  // namespace

std::string Answer(ChooserValues& dialog, const ChooserAnswer& answer) {
  return Set(dialog.number, answer.number, "number");
}

std::string Answer(LoggerOptionsValues& dialog, const LoggerOptionsAnswer& answer) {
  std::string problem = FirstOf({Set(dialog.intervalMinutes, answer.intervalMinutes, "interval_min"),
                                 Set(dialog.threshold, answer.threshold, "threshold_c")});
  if (answer.options) {
    if (problem.empty() && (*answer.options < 0 || *answer.options > 0xFF)) {
      problem = "options_bits " + std::to_string(*answer.options) + " is outside 0..255";
    }
    dialog.options = static_cast<uint8_t>(*answer.options);
  }
  if (answer.humidity) dialog.humidity = *answer.humidity;
  return problem;
}

std::string Answer(SensorParamsValues& dialog, const SensorParamsAnswer& answer) {
  // Given limits are checked as they will stand after the write, not against the other one as read:
  // each within the whole range, and the low one not above the high one.
  const int lowest = dialog.low.minimum;
  const int highest = dialog.high.maximum;
  const int low = answer.low.value_or(dialog.low.position);
  const int high = answer.high.value_or(dialog.high.position);
  dialog.low.maximum = highest;
  dialog.high.minimum = lowest;
  std::string problem =
      FirstOf({Set(dialog.low, answer.low, "low_c"), Set(dialog.high, answer.high, "high_c")});
  if (problem.empty() && low > high) {
    problem = "low_c " + std::to_string(low) + " is above high_c " + std::to_string(high);
  }
  if (answer.offset) {
    dialog.offset = *answer.offset;
    const std::optional<int> sixteenths = ParseOffset(*answer.offset, dialog.decimalSeparator);
    if (problem.empty() && (!sixteenths || std::abs(*sixteenths) > kOffsetSpinnerRange)) {
      problem = "offset_c " + *answer.offset + " is no number of -3..3";
    }
  }
  return problem;
}

}  // namespace velutron
