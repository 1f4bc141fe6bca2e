#include "station/Log.h"

#include <cstdio>

namespace velutron::station {

namespace {
constexpr std::string_view kNames[] = {"error", "warn", "info", "debug"};
}

std::optional<LogLevel> ParseLogLevel(std::string_view name) {
  for (size_t i = 0; i < std::size(kNames); ++i) {
    if (kNames[i] == name) return static_cast<LogLevel>(i);
  }
  return std::nullopt;
}

Log::Log(LogLevel level, Sink sink) : level_(level), sink_(std::move(sink)) {}

void Log::SetLevel(LogLevel level) {
  std::lock_guard lock(mutex_);
  level_ = level;
}

bool Log::Enabled(LogLevel level) const {
  std::lock_guard lock(mutex_);
  return level <= level_;
}

void Log::Write(LogLevel level, std::string_view source, std::string_view text) {
  std::lock_guard lock(mutex_);
  if (level > level_) return;
  std::string line(kNames[static_cast<size_t>(level)]);
  line += ' ';
  if (!source.empty()) {
    line += source;
    line += ": ";
  }
  // One event, one line: the operations' messages break lines with "\r".
  for (char c : text) line += c == '\r' || c == '\n' ? ' ' : c;
  if (sink_) {
    sink_(line);
    return;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace velutron::station
