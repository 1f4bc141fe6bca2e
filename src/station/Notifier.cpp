#include "station/Notifier.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace velutron::station {

namespace {

using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Feeds the input without ever blocking past the deadline; a command that does not read it all simply
// gets the rest cut off.
void Feed(int fd, const std::string& input, SteadyClock::time_point deadline) {
  size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = ::send(fd, input.data() + done, input.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return;
    pollfd pfd{fd, POLLOUT, 0};
    if (::poll(&pfd, 1, RemainingMs(deadline)) <= 0) return;
  }
}

// Waits for the child until the deadline; true when it ended, with its status.
bool WaitChild(pid_t pid, SteadyClock::time_point deadline, int& status) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  for (;;) {
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid || (got < 0 && errno != EINTR)) {
      if (pidfd >= 0) ::close(pidfd);
      return true;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) break;
    if (pidfd >= 0) {
      pollfd pfd{pidfd, POLLIN, 0};
      ::poll(&pfd, 1, left);
    } else {
      // Without pidfd (kernels before 5.3) the child is looked at ten times a second.
      ::usleep(static_cast<useconds_t>(std::min(left, 100)) * 1000);
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return false;
}

}  // namespace

int RunCommand(const std::vector<std::string>& argv, const std::string& input,
               const std::vector<std::pair<std::string, std::string>>& env, int timeout_ms,
               std::string& error, std::atomic<int>* running) {
  if (argv.empty()) {
    error = "no command";
    return kNotStarted;
  }
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "VELUTRON_", 9) != 0) environment.emplace_back(*e);
  }
  for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  // A socket rather than a pipe: writing to a command that went away must not raise SIGPIPE here.
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    error = std::string("socketpair: ") + std::strerror(errno);
    return kNotStarted;
  }
  ::shutdown(sv[0], SHUT_RD);
  ::shutdown(sv[1], SHUT_WR);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own process group, so that a command killed at its limit takes its children along.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(sv[1]);
  if (spawned != 0) {
    ::close(sv[0]);
    error = argv[0] + ": " + std::strerror(spawned);
    return kNotStarted;
  }
  if (running != nullptr) running->store(pid);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  Feed(sv[0], input, deadline);
  ::close(sv[0]);
  int status = 0;
  if (!WaitChild(pid, deadline, status)) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (running != nullptr) running->store(0);
    error = "killed after " + std::to_string(timeout_ms / 1000) + " s";
    return kKilledAtTimeLimit;
  }
  if (running != nullptr) running->store(0);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 128;
}

Notifier::Notifier(Log& log) : log_(log), thread_([this] { Work(); }) {}

Notifier::~Notifier() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    if (!jobs_.empty()) {
      log_.Warn("", std::to_string(jobs_.size()) + " notifications not run: the station is stopping");
    }
    jobs_.clear();
  }
  // A command still running is ended rather than waited for: the station must stop within seconds.
  if (const int pid = running_.load(); pid > 0) ::kill(-pid, SIGKILL);
  changed_.notify_all();
  thread_.join();
}

void Notifier::Submit(Job job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
}

void Notifier::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

void Notifier::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    std::string error;
    const int code = RunCommand(job.command, job.input, job.env, job.timeout_s * 1000, error, &running_);
    if (code != 0) {
      log_.Warn(job.source, "notification " + job.command.front() + " ended with " + std::to_string(code) +
                                (error.empty() ? "" : " (" + error + ")"));
    }
    if (job.done) job.done(code, error);
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace velutron::station
