#pragma once

// The station's log: one line per event on standard error, with its level; a reading gets a line only
// at the debug level. Each line starts with its UTC time, or, when standard error is the journal's
// stream, with the syslog priority the journal reads instead (the journal keeps the time itself).

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velutron::station {

enum class LogLevel { Error = 0, Warn = 1, Info = 2, Debug = 3 };
enum class LogStyle { Timestamped, Journal };

std::optional<LogLevel> ParseLogLevel(std::string_view name);
// Journal when $JOURNAL_STREAM names the device and inode of standard error.
LogStyle StandardErrorStyle();

class Log {
 public:
  using Sink = std::function<void(std::string_view line)>;

  // Writes to standard error unless given a sink; the sink gets the whole line, its start included.
  explicit Log(LogLevel level = LogLevel::Info, Sink sink = {}, LogStyle style = StandardErrorStyle());

  void SetLevel(LogLevel level);
  bool Enabled(LogLevel level) const;
  // "2026-05-04T10:00:00.123Z warn Chłodnia A: ..." (or "<4>warn Chłodnia A: ...") as one line; `source` is
  // the logger's name, or empty for the station.
  void Write(LogLevel level, std::string_view source, std::string_view text);

  void Error(std::string_view source, std::string_view text) { Write(LogLevel::Error, source, text); }
  void Warn(std::string_view source, std::string_view text) { Write(LogLevel::Warn, source, text); }
  void Info(std::string_view source, std::string_view text) { Write(LogLevel::Info, source, text); }
  void Debug(std::string_view source, std::string_view text) { Write(LogLevel::Debug, source, text); }

 private:
  mutable std::mutex mutex_;
  LogLevel level_;
  Sink sink_;
  LogStyle style_;
};

}  // namespace velutron::station
