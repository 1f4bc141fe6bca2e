#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velutron {

// One channel of the live monitoring.
struct MonitorChannel {
  uint16_t LastRaw = 0;  // last valid raw reading
  // Extremes since the start of the run: raw units on a temperature channel, tenths of %RH on a
  // humidity channel.
  uint16_t MinValue = 0;
  uint16_t MaxValue = 0;
  uint16_t AlarmState = 0;  // 0 normal, 1 low alarm, 2 high alarm
  uint8_t AlarmLow = 0;     // degrees + 55
  uint8_t AlarmHigh = 0;
  std::string NameText;
  std::string BandText;
  std::string ValueText;
  std::string ExtremesText;
};

// The live monitoring's state. It lives as long as the program: a run overwrites what it reads, the
// rest (last readings, value texts) carries over to the next run.
struct MonitorState {
  static constexpr int kChannels = 10;

  uint8_t ChannelCount = 0;  // 1..10 during a run
  bool HumidityMode = false;
  bool MaskErrors = false;
  bool BusError = false;
  std::array<uint8_t, 6> ClockRegs{};  // seconds, minutes, hours, day, month (BCD), year
  std::string TimeText;
  std::string DateText;
  std::string HeaderText;
  std::array<uint8_t, 2 * kChannels> RawBytes{};
  std::array<MonitorChannel, kChannels> channels;  // channel j at index j - 1

  MonitorChannel& Channel(int j) { return channels[static_cast<size_t>(j - 1)]; }
};

}  // namespace velutron
