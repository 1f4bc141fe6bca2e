#pragma once

// What the station's tests look at from outside: the archive's alarm rows, open descriptors, live heap.

#include <malloc.h>
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's count of live heap bytes (its header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace velutron::test {

struct AlarmRow {
  int64_t utc_ms = 0;
  std::string event;
  std::string kind;
  int channel = 0;
  std::string json;
};

inline std::vector<AlarmRow> AlarmRows(const std::string& path, int64_t logger) {
  std::vector<AlarmRow> rows;
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(
      db, "SELECT utc_ms, event, kind, channel, json FROM alarm_events WHERE logger = ? ORDER BY id", -1, &st,
      nullptr);
  sqlite3_bind_int64(st, 1, logger);
  while (sqlite3_step(st) == SQLITE_ROW) {
    const auto text = [st](int i) {
      return std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
    };
    rows.push_back({sqlite3_column_int64(st, 0), text(1), text(2), sqlite3_column_int(st, 3), text(4)});
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

// Exit code -> how many notifications ended with it.
inline std::map<int, size_t> NotificationExitCodes(const std::string& path) {
  std::map<int, size_t> codes;
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT exit_code, count(*) FROM notifications GROUP BY exit_code", -1, &st,
                     nullptr);
  while (sqlite3_step(st) == SQLITE_ROW)
    codes[sqlite3_column_int(st, 0)] = static_cast<size_t>(sqlite3_column_int64(st, 1));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return codes;
}

inline size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

inline size_t LiveHeapBytes() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// A private folder in memory where there is one (/dev/shm), so that a week of commits costs no disk syncs.
class FastTempDir {
 public:
  FastTempDir() {
    std::random_device random;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    path_ = base / ("velutron-station-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~FastTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  FastTempDir(const FastTempDir&) = delete;
  FastTempDir& operator=(const FastTempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace velutron::test
