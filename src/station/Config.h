#pragma once

// The station's configuration: a TOML file, overridden by the command line. Checked whole before
// anything starts; an error names the file, the line and the key.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SerialPort.h"
#include "station/Alarms.h"
#include "station/Watcher.h"

namespace velutron::station {

struct LoggerConfig {
  std::string port;
  Parity parity = Parity::Even;
  std::string name;  // empty: named after its port
};

// What the archive, the metrics and the alarms know a logger by: its name, else its port as written
// (a /dev/serial/by-id/ link stays the same when the adapter is plugged in elsewhere), never the owner
// text, which several loggers of one site often share.
std::string LoggerIdentity(const LoggerConfig& logger);

struct OverrideConfig {
  std::string logger;  // a logger's name, or its port
  int channel = 0;
  Limits limits;
};

struct StationConfig {
  std::string archive = "velutron.db";
  int interval_s = 10;
  std::string listen;  // empty: no HTTP endpoint
  std::vector<LoggerConfig> loggers;
  AlarmSettings alarms;
  std::vector<OverrideConfig> overrides;
};

// Parses `text` read from `file` into `config` (which keeps its defaults for keys not given).
bool ParseConfig(std::string_view text, const std::string& file, StationConfig& config, std::string& error);
bool LoadConfig(const std::string& file, StationConfig& config, std::string& error);
// What no single key shows: a logger at least, each device once (links resolved), each identity once,
// each override for a known logger.
bool CheckConfig(const StationConfig& config, std::string& error);
// What this machine must give the configuration to run: the SQLite archive's folder, writable by this
// user, and the alarm command's program, executable. A PostgreSQL archive is not tried.
bool CheckRunnable(const StationConfig& config, std::string& error);

// The watcher setups the configuration describes, overrides applied.
std::vector<WatcherSetup> WatcherSetups(const StationConfig& config);

// "90", "90s", "15m", "2h", "1d" as milliseconds; nullopt when not a duration.
std::optional<int64_t> ParseDuration(std::string_view text);

}  // namespace velutron::station
