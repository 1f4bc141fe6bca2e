#pragma once

// The notifier: runs the configured command for each alarm step, one at a time in a thread of its own,
// so that a slow or hanging command never holds up a reading.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "station/Log.h"

namespace velutron::station {

// Exit codes beyond a program's own: killed at its time limit, or never started.
inline constexpr int kKilledAtTimeLimit = -1;
inline constexpr int kNotStarted = -2;

// Runs `argv` without a shell, `input` on its standard input, the station's environment plus `env`,
// and waits at most `timeout_ms`; returns its exit code (128 + the signal that ended it), or one of the
// two codes above with the reason in `error`.
int RunCommand(const std::vector<std::string>& argv, const std::string& input,
               const std::vector<std::pair<std::string, std::string>>& env, int timeout_ms,
               std::string& error, std::atomic<int>* running = nullptr);

class Notifier {
 public:
  struct Job {
    std::string source;  // the logger's name, for the log
    std::vector<std::string> command;
    int timeout_s = 30;
    std::string input;
    std::vector<std::pair<std::string, std::string>> env;
    // Called from the notifier's thread with the outcome.
    std::function<void(int exit_code, const std::string& error)> done;
  };

  explicit Notifier(Log& log);
  ~Notifier();
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  void Submit(Job job);
  // Blocks until every job submitted so far has run.
  void Drain();

 private:
  void Work();

  Log& log_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  bool busy_ = false;
  bool stopping_ = false;
  std::atomic<int> running_{0};  // the pid of the command running now
  std::thread thread_;
};

}  // namespace velutron::station
