#include "settings/Sensors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "settings/Exchanges.h"

namespace velutron {

namespace {

using proto::reg::kLimitBias;
using proto::reg::kOffsetZero;

constexpr int kLowestLimit = -55;
constexpr int kHighestLimit = 125;

// The offset field may hold anything the logger sent; far beyond any byte is not a number for it.
constexpr double kOffsetSanityLimit = 1e6;

}  // namespace

bool WyborKanalu(Session& s) {
  Link& link = s.link;
  const uint8_t setup = ReadRegister(link, proto::reg::kSensors);
  if (link.state.TimedOut || !link.state.LinkOk) return false;
  const int count = setup & proto::reg::kSensorCountMask;
  s.ui.ShowValue(kSensorCountValue, count);
  if (count < 2) {
    link.state.SensorNumber = 1;
    return true;
  }

  s.DialogAccepted = false;
  // A count above ten is no sensor the logger has: its registers would land on others.
  const int highest = std::min(count, proto::kMaxSensors);
  ChooserValues shown{
      "Wybór czujnika:", "Nr czujnika:", {1, highest, std::clamp<int>(link.state.SensorNumber, 1, highest)}};
  const std::optional<ChooserValues> chosen = s.ui.ShowChooser(shown);
  s.DialogAccepted = chosen.has_value();
  if (!chosen) return false;
  link.state.SensorNumber = static_cast<uint8_t>(chosen->number.position);
  return true;
}

Outcome Liczbaczujnikw1Click(Session& s) {
  if (!ReadyToChange(s, true)) return Outcome::Failed;
  Link& link = s.link;

  const uint8_t setup = ReadRegister(link, proto::reg::kSensors);
  s.DialogAccepted = false;
  const uint8_t humidity = setup & proto::reg::kHumidityBit;
  const int count = setup & proto::reg::kSensorCountMask;
  if (link.state.LinkOk) s.ui.ShowValue(kSensorCountValue, count);
  ChooserValues shown{"Deklaruj liczbę czujników:",
                      "Liczba czujników:",
                      {1, proto::kMaxSensors, std::clamp(count, 1, proto::kMaxSensors)}};
  const std::optional<ChooserValues> answer = s.ui.ShowChooser(shown);
  s.DialogAccepted = answer.has_value();
  if (!answer) return Outcome::Cancelled;

  RegisterWriter writer(link);
  const auto wanted = static_cast<uint8_t>(answer->number.position | humidity);
  if (answer->number.touched && wanted != setup) writer.Write(proto::reg::kSensors, wanted);
  return writer.Confirmed() ? Outcome::Completed : Outcome::Failed;
}

Outcome Deklarowanieczujnika1Click(Session& s) {
  if (!ReadyToChange(s, true)) return Outcome::Failed;
  Link& link = s.link;
  if (!WyborKanalu(s)) return link.state.LinkOk ? Outcome::Cancelled : Outcome::Failed;
  if (!s.ui.AskOkCancel("Zapisz sygnaturę.", "Czy napewno zadeklarować sygnaturę dla wybranego czujnika?")) {
    return Outcome::Cancelled;
  }

  // A parameter write of n - 1 to the declaration address, answered only once the logger has read the
  // sensor: the first two bytes go raw, the last waits up to a second.
  link.SendRaw(proto::kParamWrite);
  link.DelayMs(proto::kByteGapMs);
  link.SendRaw(proto::kDeclareAddress);
  link.DelayMs(proto::kByteGapMs);
  link.Load_COM_Byte(true, static_cast<uint8_t>(link.state.SensorNumber - 1), proto::kDeclareTimeoutMs);
  return ReplyConfirmed(link.state) ? Outcome::Completed : Outcome::Failed;
}

Outcome Parametryczujnika1Click(Session& s) {
  if (!ReadyToChange(s, false)) return Outcome::Failed;
  Link& link = s.link;
  if (!WyborKanalu(s)) return link.state.LinkOk ? Outcome::Cancelled : Outcome::Failed;
  const int n = link.state.SensorNumber;
  s.DialogAccepted = false;

  // A time-out takes the link down, so the link tells which of the three reads were answered; only
  // those are reported.
  const std::string separator = s.locale.DecimalSeparator();
  const uint8_t low = ReadRegister(link, proto::reg::LowAlarm(n));
  if (link.state.LinkOk) s.ui.ShowValue("low_c", low - kLimitBias);
  const uint8_t high = ReadRegister(link, proto::reg::HighAlarm(n));
  if (link.state.LinkOk) s.ui.ShowValue("high_c", high - kLimitBias);
  const uint8_t offset = ReadRegister(link, proto::reg::Offset(n));
  if (link.state.LinkOk) s.ui.ShowValue("offset_c", OffsetText(offset - kOffsetZero, separator));

  // Each limit moves between the far end and the other limit as read; a limit read outside the range
  // is shown at its nearest end. Crossed limits are shown as the logger holds them.
  SensorParamsValues shown;
  shown.caption = "Parametry czujnika nr " + std::to_string(n) + ".";
  const int lowRead = std::clamp(low - kLimitBias, kLowestLimit, kHighestLimit);
  const int highRead = std::clamp(high - kLimitBias, kLowestLimit, kHighestLimit);
  shown.low = {kLowestLimit, std::max(lowRead, highRead), lowRead};
  shown.high = {std::min(lowRead, highRead), kHighestLimit, highRead};
  shown.offset = OffsetText(offset - kOffsetZero, separator);
  shown.decimalSeparator = separator;
  const std::optional<SensorParamsValues> answer = s.ui.ShowSensorParams(shown);
  s.DialogAccepted = answer.has_value();
  if (!answer) return Outcome::Cancelled;
  // Each spinner keeps within the other limit as read, but both moving can still cross them.
  if (answer->low.position > answer->high.position) {
    s.ui.ShowMessage(text::kCaptionWarning, "Alarm niskiej temp. " + std::to_string(answer->low.position) +
                                                "°C jest wyższy niż alarm wysokiej temp. " +
                                                std::to_string(answer->high.position) +
                                                "°C !\rParametry czujnika nie zostały zapisane.");
    return Outcome::Failed;
  }

  // The sensor's parameters are written whole: an interrupt waits for the last of them.
  const WholeUnit unit(link);
  if (!unit.Begun()) return Outcome::Cancelled;
  RegisterWriter writer(link);
  const auto newLow = static_cast<uint8_t>(answer->low.position + kLimitBias);
  const auto newHigh = static_cast<uint8_t>(answer->high.position + kLimitBias);
  const bool writeLow = answer->low.touched && newLow != low;
  const bool writeHigh = answer->high.touched && newHigh != high;
  // Both limits moving up past the old high: the high goes first, so the low never stands above it.
  const bool highFirst = writeLow && writeHigh && newLow > high;
  if (highFirst) writer.Write(proto::reg::HighAlarm(n), newHigh);
  if (writeLow) writer.Write(proto::reg::LowAlarm(n), newLow);
  if (writeHigh && !highFirst) writer.Write(proto::reg::HighAlarm(n), newHigh);
  // An untouched offset field reads back as the byte it was made from.
  if (const std::optional<int> sixteenths = ParseOffset(answer->offset, separator)) {
    const auto newOffset = static_cast<uint8_t>(*sixteenths + kOffsetZero);
    if (newOffset != offset) writer.Write(proto::reg::Offset(n), newOffset);
  }
  return writer.Confirmed() ? Outcome::Completed : Outcome::Failed;
}

std::string OffsetText(int sixteenths, std::string_view decimalSeparator) {
  // A sixteenth is 0.0625: four decimals hold every offset exactly.
  const int tenThousandths = sixteenths * 625;
  const int magnitude = std::abs(tenThousandths);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  return (tenThousandths < 0 ? "-" : "") + std::to_string(magnitude / 10000) + std::string(decimalSeparator) +
         fraction;
}

std::optional<int> ParseOffset(std::string_view text, std::string_view decimalSeparator) {
  std::string plain(text);
  if (!decimalSeparator.empty() && decimalSeparator != ".") {
    if (const size_t at = plain.find(decimalSeparator); at != std::string::npos) {
      plain.replace(at, decimalSeparator.size(), ".");
    }
  }
  if (!plain.empty() && plain.front() == '+') plain.erase(0, 1);
  double value = 0;
  const char* end = plain.data() + plain.size();
  const auto [stop, error] = std::from_chars(plain.data(), end, value, std::chars_format::fixed);
  if (error != std::errc() || stop != end || plain.empty() || !std::isfinite(value) ||
      std::abs(value) > kOffsetSanityLimit) {
    return std::nullopt;
  }
  // nearbyint rounds halves to the even neighbour in the default rounding mode.
  return static_cast<int>(std::nearbyint(value / 0.0625));
}

}  // namespace velutron
