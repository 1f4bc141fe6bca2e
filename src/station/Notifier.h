#pragma once

// The notifier: runs the configured command for each alarm step in threads of its own, so that a slow
// or hanging command never holds up a reading nor another alarm's notification. A few run at once, the
// rest wait in order; the steps of one alarm run one after another, so that its start comes before its
// clear.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "station/Log.h"

namespace velutron::station {

// Exit codes beyond a program's own: killed at its time limit, or never started.
inline constexpr int kKilledAtTimeLimit = -1;
inline constexpr int kNotStarted = -2;

// What a command wrote on its standard output and error: the first and the last `kOutputExcerpt` bytes
// of it, and how much there was.
inline constexpr size_t kOutputExcerpt = 4096;
struct CommandOutput {
  std::string head;
  std::string tail;
  uint64_t total = 0;

  void Add(const char* data, size_t size);
  // One line for the log: the head, "[N bytes left out]", the tail; control characters as spaces.
  std::string Excerpt() const;
};

// Runs `argv` without a shell, `input` on its standard input, the station's environment plus `env`,
// and waits at most `timeout_ms`; returns its exit code (128 + the signal that ended it), or one of the
// two codes above with the reason in `error`. Its output goes to `output`, when given, else nowhere.
int RunCommand(const std::vector<std::string>& argv, const std::string& input,
               const std::vector<std::pair<std::string, std::string>>& env, int timeout_ms,
               std::string& error, std::atomic<int>* running = nullptr, CommandOutput* output = nullptr);

class Notifier {
 public:
  struct Job {
    std::string source;  // the logger's name, for the log
    std::string alarm;   // the jobs of one source and alarm run in order, one at a time
    std::vector<std::string> command;
    int timeout_s = 30;
    std::string input;
    std::vector<std::pair<std::string, std::string>> env;
    // Called from a notifier's thread with the outcome.
    std::function<void(int exit_code, const std::string& error)> done;
  };

  static constexpr size_t kMaxRunning = 8;

  explicit Notifier(Log& log);
  ~Notifier();
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  void Submit(Job job);
  // Blocks until every job submitted so far has run.
  void Drain();

 private:
  // A worker thread: runs the first job whose alarm has none running, until stopped.
  void Work(size_t slot);
  // The first job that may run now, or jobs_.end(); under the lock.
  std::deque<Job>::iterator NextLocked();

  Log& log_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  std::set<std::pair<std::string, std::string>> running_alarms_;
  size_t busy_ = 0;  // workers running a job
  bool stopping_ = false;
  std::array<std::atomic<int>, kMaxRunning> running_{};  // the pid each worker runs now
  std::vector<std::thread> threads_;                     // started as the jobs need them, up to kMaxRunning
};

}  // namespace velutron::station
