#include "SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Pattern.h"

extern char** environ;

namespace velutron::test {

namespace {

using Steady = std::chrono::steady_clock;

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Waits for the child to end, up to `limit`; kills it after that.
int Reap(pid_t pid, std::chrono::milliseconds limit, bool* killed = nullptr) {
  const auto deadline = Steady::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Steady::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      if (killed != nullptr) *killed = true;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return ExitCode(status);
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> extraArgs, int com, std::string portDir)
    : portDir_(std::move(portDir)), com_(com) {
  std::string pattern = (std::filesystem::temp_directory_path() / "velutron-sim-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return;
  dir_ = pattern;
  if (portDir_.empty()) portDir_ = dir_;
  // A shared folder may still hold the link of a simulator that did not end cleanly.
  std::error_code stale;
  std::filesystem::remove(PortPath(), stale);

  std::vector<std::string> args{VELUTRON_SIM_PATH, "--port-dir", portDir_, "--com", std::to_string(com_)};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv = CStrings(args);
  const std::string outPath = dir_ + "/sim.out";
  const std::string logPath = dir_ + "/sim.log";

  pid_ = fork();
  if (pid_ == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) dup2(out, STDOUT_FILENO);
    if (log >= 0) dup2(log, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid_ < 0) return;

  const auto deadline = Steady::now() + std::chrono::seconds(10);
  while (Steady::now() < deadline) {
    std::error_code ec;
    if (std::filesystem::is_symlink(PortPath(), ec)) {
      ready_ = true;
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = ExitCode(status);
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

SimProcess::~SimProcess() {
  Stop();
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

std::string SimProcess::PortPath() const { return portDir_ + "/COM" + std::to_string(com_); }

int SimProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    status_ = Reap(pid_, std::chrono::seconds(5));
    pid_ = -1;
    ready_ = false;
  }
  return status_;
}

std::string SimProcess::Log() const {
  std::ifstream in(dir_ + "/sim.log", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<int> SimProcess::Received() const {
  std::vector<int> bytes;
  for (const auto& match : FindAll(Log(), "<- +([0-9]+)")) bytes.push_back(std::stoi(match[1]));
  return bytes;
}

CommandResult RunCommand(const Command& command) {
  CommandResult result;
  if (command.argv.empty()) return result;
  signal(SIGPIPE, SIG_IGN);  // a child that stops reading its input must not kill the test

  std::vector<std::string> args = command.argv;
  std::vector<char*> argv = CStrings(args);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [k, v] : command.env) replaced = replaced || k == key;
    if (!replaced) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : command.env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp = CStrings(envStrings);

  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0) return result;
  if (command.errorOnTerminal) {
    err[0] = posix_openpt(O_RDWR | O_NOCTTY);
    if (err[0] < 0 || grantpt(err[0]) != 0 || unlockpt(err[0]) != 0) return result;
    err[1] = open(ptsname(err[0]), O_RDWR | O_NOCTTY);
    if (err[1] < 0) return result;
  } else if (pipe(err) != 0) {
    return result;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    for (int fd : command.closedDescriptors) close(fd);
    if (!command.workDir.empty() && chdir(command.workDir.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    for (int fd : {in[1], out[0], err[0]}) close(fd);
    return result;
  }

  fcntl(in[1], F_SETFL, O_NONBLOCK);
  size_t written = 0;
  int inFd = in[1];
  if (command.input.empty()) {
    close(inFd);
    inFd = -1;
  }
  int outFd = out[0], errFd = err[0];
  int pendingSignal = command.signal;
  const auto deadline = Steady::now() + std::chrono::milliseconds(command.timeoutMs);
  const auto signalDue = Steady::now() + std::chrono::milliseconds(std::max(command.signalAfterMs, 0));
  while (outFd >= 0 || errFd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    auto wait = left;
    if (pendingSignal != 0 && command.signalAfterMs >= 0) {
      const auto due = std::chrono::ceil<std::chrono::milliseconds>(signalDue - Steady::now()).count();
      if (due <= 0) {
        kill(pid, pendingSignal);
        pendingSignal = 0;
      } else {
        wait = std::min<int64_t>(wait, due);
      }
    }
    pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
    if (poll(fds, 3, static_cast<int>(wait)) < 0 && errno != EINTR) break;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
        if (i == 0 && pendingSignal != 0 && command.signalAfterMs < 0 &&
            result.out.find(command.signalWhenOutput) != std::string::npos) {
          kill(pid, pendingSignal);
          pendingSignal = 0;
        }
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        (i == 0 ? outFd : errFd) = -1;
      }
    }
    if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = write(inFd, command.input.data() + written, command.input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) written = command.input.size();
      if (written == command.input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  for (int fd : {inFd, outFd, errFd}) {
    if (fd >= 0) close(fd);
  }
  if (result.timedOut) {
    int status = 0;
    waitpid(pid, &status, 0);
    return result;
  }
  // Both outputs are closed; the program may still be finishing.
  const auto left = std::max<int64_t>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count());
  int status = 0;
  if (waitpid(pid, &status, WNOHANG) == pid) {
    result.exitCode = ExitCode(status);
  } else {
    result.exitCode = Reap(pid, std::chrono::milliseconds(left), &result.timedOut);
  }
  return result;
}

CommandResult RunCommand(std::vector<std::string> argv) {
  Command command;
  command.argv = std::move(argv);
  return RunCommand(command);
}

}  // namespace velutron::test
