#include "station/Log.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace velutron::station {

namespace {
constexpr std::string_view kNames[] = {"error", "warn", "info", "debug"};
// err, warning, info, debug
constexpr std::string_view kPriorities[] = {"<3>", "<4>", "<6>", "<7>"};

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t s = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  ::gmtime_r(&s, &tm);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  std::snprintf(text + n, sizeof text - n, ".%03dZ ", static_cast<int>(ms % 1000));
  return text;
}

}  // namespace

LogStyle StandardErrorStyle() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  unsigned long long dev = 0, ino = 0;
  struct stat st {};
  if (stream == nullptr || std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2 || ::fstat(2, &st) != 0) {
    return LogStyle::Timestamped;
  }
  // A stream of the journal's inherited by a program whose standard error went elsewhere is not it.
  return st.st_dev == dev && st.st_ino == ino ? LogStyle::Journal : LogStyle::Timestamped;
}

std::optional<LogLevel> ParseLogLevel(std::string_view name) {
  for (size_t i = 0; i < std::size(kNames); ++i) {
    if (kNames[i] == name) return static_cast<LogLevel>(i);
  }
  return std::nullopt;
}

Log::Log(LogLevel level, Sink sink, LogStyle style) : level_(level), sink_(std::move(sink)), style_(style) {}

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
  std::string line(style_ == LogStyle::Journal ? std::string(kPriorities[static_cast<size_t>(level)])
                                               : UtcNow());
  line += kNames[static_cast<size_t>(level)];
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
