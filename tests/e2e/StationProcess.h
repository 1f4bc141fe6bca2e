#pragma once

// A program left running for a test: its standard output and error are read as they come, so the test
// waits for what it says rather than for time to pass.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace velutron::test {

class RunningProcess {
 public:
  RunningProcess(const std::vector<std::string>& argv,
                 const std::vector<std::pair<std::string, std::string>>& env) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
    for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (std::string& e : envStrings) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(out[1], STDERR_FILENO);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
  }
  ~RunningProcess() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      Wait(10'000);
    }
    if (fd_ >= 0) ::close(fd_);
  }
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;

  pid_t Pid() const { return pid_; }
  const std::string& Output() const { return output_; }
  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1)) ++n;
    return n;
  }
  // Blocks until the output holds `text` `count` times, the program closes it, or the time is up.
  bool WaitFor(const std::string& text, size_t count = 1, int timeoutMs = 30'000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Count(text) < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
              .count();
      if (left <= 0 || fd_ < 0) return false;
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fd_);
        fd_ = -1;
      } else {
        output_.append(buffer, static_cast<size_t>(n));
      }
    }
    return true;
  }
  void Signal(int sig) { ::kill(pid_, sig); }
  // The exit code, -1 for a death by signal or the time up.
  int Wait(int timeoutMs = 10'000) {
    WaitFor("\x01never", 1, timeoutMs);  // reads to the end of its output
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    status_ = status;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  int status_ = -1;
  std::string output_;
};

}  // namespace velutron::test
