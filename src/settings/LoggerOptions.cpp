#include "settings/LoggerOptions.h"

#include <algorithm>

#include "settings/Exchanges.h"

namespace velutron {

namespace {
constexpr int kMinMinutes = 1;
constexpr int kMaxMinutes = 180;
constexpr int kMaxThreshold = 100;
constexpr uint32_t kSecondsPerMinute = 60;
}  // namespace

int MinutesFromSeconds(uint32_t seconds) {
  uint32_t minutes = seconds / kSecondsPerMinute;
  const uint32_t rest = seconds % kSecondsPerMinute;
  if (rest * 2 > kSecondsPerMinute || (rest * 2 == kSecondsPerMinute && minutes % 2 == 1)) ++minutes;
  return static_cast<int>(minutes);
}

Outcome Parametryrejestratora1Click(Session& s) {
  if (!ReadyToChange(s, false)) return Outcome::Failed;
  Link& link = s.link;
  s.DialogAccepted = false;

  const uint8_t intervalLow = ReadRegister(link, proto::reg::kIntervalLow);
  const uint8_t intervalHigh = ReadRegister(link, proto::reg::kIntervalHigh);
  const uint8_t threshold = ReadRegister(link, proto::reg::kThreshold);
  const uint8_t options = ReadRegister(link, proto::reg::kOptions);
  const uint8_t sensors = ReadRegister(link, proto::reg::kSensors);
  const int minutes = MinutesFromSeconds(intervalHigh * 256u + intervalLow);
  const bool humidity = (sensors & proto::reg::kHumidityBit) != 0;
  s.ui.ShowValue("interval_min", minutes);
  s.ui.ShowValue("threshold_c", threshold);
  s.ui.ShowValue("options_bits", options);
  s.ui.ShowValue("humidity", humidity ? 1 : 0);

  // Values outside the spinners' ranges are shown at the nearest end; only a spinner the user moved
  // is written back.
  LoggerOptionsValues shown;
  shown.intervalMinutes = {kMinMinutes, kMaxMinutes, std::clamp(minutes, kMinMinutes, kMaxMinutes)};
  shown.threshold = {0, kMaxThreshold, std::min<int>(threshold, kMaxThreshold)};
  shown.options = options;
  shown.humidity = humidity;
  const std::optional<LoggerOptionsValues> answer = s.ui.ShowLoggerOptions(shown);
  s.DialogAccepted = answer.has_value();
  if (!answer) return Outcome::Cancelled;

  RegisterWriter writer(link);
  if (answer->intervalMinutes.touched && answer->intervalMinutes.position != minutes) {
    const auto seconds = static_cast<uint16_t>(answer->intervalMinutes.position * kSecondsPerMinute);
    writer.Write(proto::reg::kIntervalLow, static_cast<uint8_t>(seconds & 0xFF));
    writer.Write(proto::reg::kIntervalHigh, static_cast<uint8_t>(seconds >> 8));
  }
  if (answer->threshold.touched && answer->threshold.position != threshold) {
    writer.Write(proto::reg::kThreshold, static_cast<uint8_t>(answer->threshold.position));
  }
  if (answer->options != options) writer.Write(proto::reg::kOptions, answer->options);
  bool refused = false;
  if (answer->humidity != humidity) {
    if (s.settings.ServiceAccess) {
      writer.Write(proto::reg::kSensors, static_cast<uint8_t>(sensors ^ proto::reg::kHumidityBit));
    } else {
      s.ui.ShowMessage(text::kCaptionLocked, "Użytkownik nie ma dostępu do zmiany tej opcji !");
      refused = true;
    }
  }
  return writer.Confirmed() && !refused ? Outcome::Completed : Outcome::Failed;
}

}  // namespace velutron
