#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/DatabaseFile.h"
#include "platform/Clock.h"
#include "session/ChartData.h"
#include "session/Session.h"

namespace velutron {

// The records of a database as numbers, for the exports and the chart: the same readings the report
// shows, without its text formats.
struct Reading {
  Quantity quantity = Quantity::Temperature;
  // Degrees Celsius at the sensor's full resolution, or %RH; nullopt where the report shows a marker.
  std::optional<double> value;
  // The report's marker when there is no value: "T_min", "T_max", "T suchy!", "Brak tab.", "MIN tab.".
  std::string_view marker;
};

struct Measurement {
  size_t number = 0;              // 1-based, in file order
  std::optional<CivilTime> time;  // nullopt when the stamp is no real date and time
  // The report's switching column: 0 below the threshold, else the threshold; nullopt without one.
  std::optional<int> switching;
  std::optional<bool> on;         // the record's ON/OFF mark, when it carries one
  std::vector<Reading> readings;  // one per channel, channel 1 first
};

// A channel and the quantity it holds. In a humidity file a record whose single-pair flag is set turns
// the even channels after 2 into temperatures, so one channel may hold both over a file.
struct ChannelColumn {
  int channel = 0;  // from 1
  Quantity quantity = Quantity::Temperature;
};

// The records read from a database that passed every check.
std::vector<Measurement> Measurements(const DatabaseContents& db);
// The columns present, by channel, temperature before humidity.
std::vector<ChannelColumn> ChannelColumns(int channels, const std::vector<Measurement>& rows);

// A logger text as the user reads it: decoded from Windows-1250, trailing padding removed.
std::string LoggerText(std::span<const uint8_t> bytes);

// Reads and checks the database file named `file` (UTF-8) for the exports and the chart, with the
// report's messages when it cannot be read or is damaged.
std::optional<DatabaseContents> LoadDatabase(Session& s, std::string_view file);

}  // namespace velutron
