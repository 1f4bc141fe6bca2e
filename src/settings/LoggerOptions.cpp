#include "settings/LoggerOptions.h"

#include <algorithm>

#include "settings/Exchanges.h"

namespace velutron {

namespace {
constexpr int kMinMinutes = 1;
constexpr int kMaxMinutes = 180;
constexpr int kMaxThreshold = 100;
constexpr uint32_t kSecondsPerMinute = 60;
constexpr std::string_view kNoHumidityAccess = "Użytkownik nie ma dostępu do zmiany tej opcji !";
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

  // A time-out takes the link down, so the reads answered are those before it; only their values are
  // reported.
  int answered = 0;
  auto read = [&link, &answered](uint8_t address) {
    const uint8_t value = ReadRegister(link, address);
    if (link.state.LinkOk) ++answered;
    return value;
  };
  const uint8_t intervalLow = read(proto::reg::kIntervalLow);
  const uint8_t intervalHigh = read(proto::reg::kIntervalHigh);
  const uint8_t threshold = read(proto::reg::kThreshold);
  const uint8_t options = read(proto::reg::kOptions);
  const uint8_t sensors = read(proto::reg::kSensors);
  const uint32_t seconds = intervalHigh * 256u + intervalLow;
  const int minutes = MinutesFromSeconds(seconds);
  const bool humidity = (sensors & proto::reg::kHumidityBit) != 0;
  if (answered >= 2) s.ui.ShowValue("interval_min", minutes);
  if (answered >= 3) s.ui.ShowValue("threshold_c", threshold);
  if (answered >= 4) s.ui.ShowValue("options_bits", options);
  if (answered >= 5) s.ui.ShowValue("humidity", humidity ? 1 : 0);

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

  const bool humidityChanged = answer->humidity != humidity;
  const bool humidityRefused = humidityChanged && !s.settings.ServiceAccess;
  // Given values are refused whole when one of them needs a right the user lacks.
  if (answer->givenValues && humidityRefused) {
    s.ui.ShowMessage(text::kCaptionLocked, kNoHumidityAccess);
    return Outcome::Failed;
  }
  // A given interval counts against the seconds held: 90 s shows as 2 minutes, yet 2 is a change.
  const int wantedMinutes = answer->intervalMinutes.position;
  const bool intervalChanged =
      answer->givenValues ? wantedMinutes * kSecondsPerMinute != seconds : wantedMinutes != minutes;

  // The options are written whole: an interrupt waits for the last of them.
  const WholeUnit unit(link);
  if (!unit.Begun()) return Outcome::Cancelled;
  RegisterWriter writer(link);
  if (answer->intervalMinutes.touched && intervalChanged) {
    const auto newSeconds = static_cast<uint16_t>(wantedMinutes * kSecondsPerMinute);
    writer.Write(proto::reg::kIntervalLow, static_cast<uint8_t>(newSeconds & 0xFF));
    writer.Write(proto::reg::kIntervalHigh, static_cast<uint8_t>(newSeconds >> 8));
  }
  if (answer->threshold.touched && answer->threshold.position != threshold) {
    writer.Write(proto::reg::kThreshold, static_cast<uint8_t>(answer->threshold.position));
  }
  if (answer->options != options) writer.Write(proto::reg::kOptions, answer->options);
  if (humidityChanged && !humidityRefused) {
    writer.Write(proto::reg::kSensors, static_cast<uint8_t>(sensors ^ proto::reg::kHumidityBit));
  }
  if (humidityRefused) s.ui.ShowMessage(text::kCaptionLocked, kNoHumidityAccess);
  return writer.Confirmed() && !humidityRefused ? Outcome::Completed : Outcome::Failed;
}

}  // namespace velutron
