#include "monitor/Monitoring.h"

#include <algorithm>
#include <cstdio>

#include "session/Format.h"
#include "session/Humidity.h"
#include "session/TextField.h"

namespace velutron {

namespace {

constexpr std::string_view kCaptionFailure = "Awaria !!!";
constexpr std::string_view kBusLost = "Brak komunikacji magistralą 1-WIRE z czujnikami!";
constexpr std::string_view kLinkLost = "Brak połączenia rejestratora z komputerem!";
constexpr std::string_view kError = "ERROR!";
constexpr std::string_view kHumidityBand = "0%RH<AL>100%RH";

constexpr uint16_t kNoMinimum = 2880;          // above every valid reading
constexpr uint16_t kNoHumidityMinimum = 1000;  // 100.0 %RH
constexpr int kTemperatureDigits = 4;
constexpr int kHumidityDigits = 3;
// Raw readings are sixteenths of a degree above -55 degrees.
constexpr int64_t kRawZero = 55 * 16;
constexpr int64_t kRawPerDegree = 16;

// One register or memory read; `target` changes only when the logger answered, so a lost link leaves
// the last values read instead of whatever the shared data byte held.
bool ReadInto(Link& link, uint8_t command, uint8_t address, uint8_t& target) {
  link.Read_COM_Byte(command, address);
  if (!link.state.LinkOk) return false;
  target = link.state.DataByte;
  return true;
}

bool HumidityChannel(const MonitorState& m, int j) { return m.HumidityMode && j % 2 == 0; }

std::string Temperature(uint16_t raw, std::string_view separator) {
  return FixedOneDecimal(int64_t{raw} - kRawZero, kRawPerDegree, kTemperatureDigits, separator);
}

std::string Humidity(uint16_t tenths, std::string_view separator) {
  return FixedOneDecimal(tenths, 10, kHumidityDigits, separator);
}

void ShowHumidity(Session& s, MonitorChannel& c, const MonitorChannel& dry) {
  const HumidityResult h = HumidityFromPsychrometer(c.LastRaw, dry.LastRaw, s.locale);
  const std::string sep = s.locale.DecimalSeparator();
  c.ValueText = h.HumidityText;
  c.MaxValue = std::max(c.MaxValue, h.HumidityValue);
  c.MinValue = std::min(c.MinValue, h.HumidityValue);
  c.AlarmState = h.HumidityValue >= 1000 ? 2 : h.HumidityValue == 0 ? 1 : 0;
  c.ExtremesText = "Min:" + Humidity(c.MinValue, sep) + "%RH Max:" + Humidity(c.MaxValue, sep) + "%RH";
}

void ShowTemperature(Session& s, MonitorChannel& c, uint16_t raw) {
  const std::string sep = s.locale.DecimalSeparator();
  c.MaxValue = std::max(c.MaxValue, raw);
  c.MinValue = std::min(c.MinValue, raw);
  c.ValueText = Temperature(raw, sep) + "°C";
  // The limits are whole degrees, so the comparison is exact in raw units; the low test wins.
  if (raw <= c.AlarmLow * kRawPerDegree) {
    c.AlarmState = 1;
  } else if (raw >= c.AlarmHigh * kRawPerDegree) {
    c.AlarmState = 2;
  } else {
    c.AlarmState = 0;
  }
  c.ExtremesText = "Min:" + Temperature(c.MinValue, sep) + "°C Max:" + Temperature(c.MaxValue, sep) + "°C";
}

// Channel counts the logger should never report are held to what the window has rows for.
uint8_t ClampChannelCount(int count) {
  return static_cast<uint8_t>(std::clamp(count, 1, MonitorState::kChannels));
}

}  // namespace

std::string FixedOneDecimal(int64_t numerator, int64_t denominator, int digits, std::string_view separator) {
  if (denominator < 0) {
    numerator = -numerator;
    denominator = -denominator;
  }
  const bool negative = numerator < 0;
  const int64_t magnitude = negative ? -numerator : numerator;
  int integerDigits = 0;
  for (int64_t power = 1; magnitude / denominator >= power; power *= 10) ++integerDigits;
  // The rounding step in tenths: one decimal, or whole tens of tenths for every integer digit beyond
  // what the significant digits leave room for.
  int64_t step = 1;
  for (int d = integerDigits; d > digits - 1; --d) step *= 10;
  const int64_t steps = (2 * magnitude * 10 + step * denominator) / (2 * step * denominator);
  const int64_t tenths = steps * step;
  return FormatTenths(static_cast<int32_t>(negative ? -tenths : tenths), separator);
}

void Read_Clock(Session& s, bool refresh) {
  using namespace proto::reg;
  MonitorState& m = s.monitor;
  Link& link = s.link;
  constexpr uint8_t kRegisters[] = {kClockSeconds, kClockMinutes, kClockHours, kClockDay, kClockMonth, kYear};
  for (size_t i = 0; i < std::size(kRegisters); ++i) {
    ReadInto(link, proto::kRegisterRead, kRegisters[i], m.ClockRegs[i]);
    // Between the full hours only the time is read again; the date changes only at minute 00.
    if (refresh && kRegisters[i] == kClockHours && m.ClockRegs[1] != 0) break;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%2u:%02u:%02u", BcdToByte(m.ClockRegs[2]), BcdToByte(m.ClockRegs[1]),
                BcdToByte(m.ClockRegs[0]));
  m.TimeText = text;
  std::snprintf(text, sizeof text, "%2u-%02u-20%02u", BcdToByte(m.ClockRegs[3]), BcdToByte(m.ClockRegs[4]),
                m.ClockRegs[5]);
  m.DateText = text;
}

void Read_Sensors(Session& s) {
  MonitorState& m = s.monitor;
  Link& link = s.link;
  for (int j = 1; j <= m.ChannelCount; ++j) {
    ReadInto(link, proto::kRegisterRead, proto::reg::ReadingLow(j), m.RawBytes[2 * (j - 1)]);
    ReadInto(link, proto::kRegisterRead, proto::reg::ReadingHigh(j), m.RawBytes[2 * (j - 1) + 1]);
  }
  uint8_t bus = 0;
  if (ReadInto(link, proto::kRegisterRead, proto::reg::kBusState, bus)) {
    m.BusError = (bus & proto::reg::kBusOkBit) == 0;
  }

  for (int j = 1; j <= m.ChannelCount; ++j) {
    MonitorChannel& c = m.Channel(j);
    const auto raw = static_cast<uint16_t>(m.RawBytes[2 * (j - 1)] | m.RawBytes[2 * (j - 1) + 1] << 8);
    if (!ValidReading(raw)) {
      if (!m.MaskErrors) c.ValueText = kError;
      continue;
    }
    c.LastRaw = raw;
    if (HumidityChannel(m, j)) {
      ShowHumidity(s, c, m.Channel(j - 1));
    } else {
      ShowTemperature(s, c, raw);
    }
  }
  for (int j = m.ChannelCount + 1; j <= MonitorState::kChannels; ++j) {
    m.Channel(j).ValueText.clear();
    m.Channel(j).ExtremesText.clear();
  }
}

void View_Monitor(const MonitorState& m, MonitorView& view) {
  view.time = m.TimeText;
  view.date = m.DateText;
  for (int j = 1; j <= MonitorState::kChannels; ++j) {
    const MonitorChannel& c = m.channels[static_cast<size_t>(j - 1)];
    MonitorRow& row = view.rows[static_cast<size_t>(j - 1)];
    if (c.ValueText == kError || c.AlarmState == 2) {
      row.colour = ValueColour::Red;
    } else if (c.AlarmState == 1) {
      row.colour = ValueColour::Blue;
    } else {
      row.colour = ValueColour::Green;
    }
    row.alarm = c.AlarmState;
    row.value = c.ValueText;
    row.extremes = c.ExtremesText;
  }
}

bool Timer1Timer(Session& s, MonitorView& view) {
  Read_Clock(s, true);
  Read_Sensors(s);
  View_Monitor(s.monitor, view);
  return !s.monitor.BusError && s.link.state.LinkOk;
}

Outcome BitBtn6Click(Session& s) {
  Link& link = s.link;
  MonitorState& m = s.monitor;
  link.Test_COM_OK();
  if (!link.state.LinkOk) return Outcome::Failed;

  link.SendRaw(proto::kLeadIn);
  link.DelayMs(proto::kLeadInGapMs);
  uint8_t sensors = static_cast<uint8_t>(m.ChannelCount | (m.HumidityMode ? proto::reg::kHumidityBit : 0));
  ReadInto(link, proto::kRegisterRead, proto::reg::kSensors, sensors);
  m.HumidityMode = (sensors & proto::reg::kHumidityBit) != 0;
  m.ChannelCount = ClampChannelCount(sensors & ~proto::reg::kHumidityBit);
  m.HeaderText = "Liczba kanałów: " + std::to_string(m.ChannelCount) + "\r" +
                 (m.HumidityMode ? "- rej. temp. i wilgotn." : "- rej. temperatury.");
  uint8_t options = m.MaskErrors ? proto::reg::kMaskErrorsBit : 0;
  ReadInto(link, proto::kRegisterRead, proto::reg::kOptions, options);
  m.MaskErrors = (options & proto::reg::kMaskErrorsBit) != 0;

  for (int j = 1; j <= m.ChannelCount; ++j) {
    MonitorChannel& c = m.Channel(j);
    ReadInto(link, proto::kParamRead, proto::mem::LowAlarm(j), c.AlarmLow);
    ReadInto(link, proto::kParamRead, proto::mem::HighAlarm(j), c.AlarmHigh);
    Str_Read_EEPROM(s, proto::kNameRead, proto::mem::PointName(j), proto::mem::kPointNameLength);
    c.NameText = std::to_string(j) + ". " + s.FieldText;
    c.BandText = std::to_string(c.AlarmLow - 55) + "°C<AL>" + std::to_string(c.AlarmHigh - 55) + "°C";
    c.MaxValue = 0;
    c.MinValue = HumidityChannel(m, j) ? kNoHumidityMinimum : kNoMinimum;
  }
  for (int j = m.ChannelCount + 1; j <= MonitorState::kChannels; ++j) {
    m.Channel(j).NameText.clear();
    m.Channel(j).BandText.clear();
  }
  Read_Clock(s, false);
  Read_Sensors(s);

  MonitorView view;
  view.channelCount = m.ChannelCount;
  view.header = m.HeaderText;
  for (int j = 1; j <= MonitorState::kChannels; ++j) {
    const MonitorChannel& c = m.Channel(j);
    MonitorRow& row = view.rows[static_cast<size_t>(j - 1)];
    row.name = c.NameText;
    row.band = HumidityChannel(m, j) && !c.BandText.empty() ? std::string(kHumidityBand) : c.BandText;
  }
  View_Monitor(m, view);

  // The window's timer may fire while a refresh shows a message box: such a tick does nothing, and
  // once a refresh has closed the window no further one runs.
  bool refreshing = false;
  bool closed = false;
  s.ui.RunMonitorWindow(view, [&] {
    if (closed) return false;
    if (refreshing) return true;
    refreshing = true;
    closed = !Timer1Timer(s, view);
    refreshing = false;
    return !closed;
  });

  link.SendRaw(proto::kLeadIn);
  // Interrupted by the user: the run just ends, without the messages of a failure.
  if (link.Interrupted()) return Outcome::Cancelled;
  bool failed = false;
  if (m.BusError) {
    s.ui.ShowMessage(kCaptionFailure, kBusLost);
    failed = true;
  }
  if (!link.state.LinkOk) {
    s.ui.ShowMessage(kCaptionFailure, kLinkLost);
    failed = true;
  }
  return failed ? Outcome::Failed : Outcome::Completed;
}

}  // namespace velutron
