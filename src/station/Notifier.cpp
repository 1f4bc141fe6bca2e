#include "station/Notifier.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// Feeds the input and takes the output until the child ends or the deadline passes; true when it ended,
// with its status. A command that does not read all its input simply gets the rest cut off.
bool Attend(pid_t pid, int in, int out, const std::string& input, SteadyClock::time_point deadline,
            CommandOutput* output, int& status) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  size_t fed = 0;
  char buffer[16384];
  bool ended = false;
  for (;;) {
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid || (got < 0 && errno != EINTR)) {
      ended = true;
      break;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) break;
    pollfd fds[3];
    nfds_t n = 0;
    if (in >= 0) fds[n++] = {in, POLLOUT, 0};
    if (out >= 0) fds[n++] = {out, POLLIN, 0};
    if (pidfd >= 0) fds[n++] = {pidfd, POLLIN, 0};
    // Without pidfd (kernels before 5.3) the child is looked at ten times a second.
    if (::poll(fds, n, pidfd >= 0 ? left : std::min(left, 100)) < 0 && errno != EINTR) break;
    if (in >= 0) {
      const ssize_t sent =
          fed < input.size() ? ::send(in, input.data() + fed, input.size() - fed, MSG_NOSIGNAL | MSG_DONTWAIT)
                             : 0;
      if (sent > 0) fed += static_cast<size_t>(sent);
      if (fed == input.size() || (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        ::close(in);
        in = -1;
      }
    }
    if (out >= 0) {
      const ssize_t got_bytes = ::read(out, buffer, sizeof buffer);
      if (got_bytes > 0 && output != nullptr) output->Add(buffer, static_cast<size_t>(got_bytes));
      if (got_bytes == 0 || (got_bytes < 0 && errno != EAGAIN && errno != EINTR)) {
        ::close(out);
        out = -1;
      }
    }
  }
  // What the command wrote before it ended; a child it left behind holding the pipe is not waited for,
  // nor read past the deadline.
  for (ssize_t got_bytes = 0; ended && out >= 0 && RemainingMs(deadline) > 0 &&
                              (got_bytes = ::read(out, buffer, sizeof buffer)) > 0;) {
    if (output != nullptr) output->Add(buffer, static_cast<size_t>(got_bytes));
  }
  if (pidfd >= 0) ::close(pidfd);
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ended;
}

}  // namespace

int RunCommand(const std::vector<std::string>& argv, const std::string& input,
               const std::vector<std::pair<std::string, std::string>>& env, int timeout_ms,
               std::string& error, std::atomic<int>* running, CommandOutput* output) {
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
  // Its output, standard and error in one, goes to the log as an excerpt, never whole.
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    ::close(sv[0]);
    ::close(sv[1]);
    return kNotStarted;
  }
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
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
  ::close(out[1]);
  if (spawned != 0) {
    ::close(sv[0]);
    ::close(out[0]);
    error = argv[0] + ": " + std::strerror(spawned);
    return kNotStarted;
  }
  if (running != nullptr) running->store(pid);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  if (!Attend(pid, sv[0], out[0], input, deadline, output, status)) {
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

void CommandOutput::Add(const char* data, size_t size) {
  total += size;
  const size_t toHead = std::min(size, kOutputExcerpt - head.size());
  head.append(data, toHead);
  data += toHead;
  size -= toHead;
  if (size == 0) return;
  // The tail holds at most twice the excerpt, so that dropping its front stays cheap.
  if (size >= kOutputExcerpt) {
    tail.assign(data + size - kOutputExcerpt, kOutputExcerpt);
    return;
  }
  tail.append(data, size);
  if (tail.size() > 2 * kOutputExcerpt) tail.erase(0, tail.size() - kOutputExcerpt);
}

std::string CommandOutput::Excerpt() const {
  const size_t tailSize = std::min<uint64_t>(tail.size(), kOutputExcerpt);
  const uint64_t leftOut = total - head.size() - tailSize;
  std::string text = head;
  if (leftOut > 0) text += " [" + std::to_string(leftOut) + " bytes left out] ";
  text.append(tail, tail.size() - tailSize, tailSize);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

Notifier::Notifier(Log& log) : log_(log) {}

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
  for (const std::atomic<int>& running : running_) {
    if (const int pid = running.load(); pid > 0) ::kill(-pid, SIGKILL);
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void Notifier::Submit(Job job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    // A worker of its own while fewer than the bound run; beyond that the job waits its turn.
    if (busy_ + (jobs_.size() - 1) >= threads_.size() && threads_.size() < kMaxRunning) {
      threads_.emplace_back([this, slot = threads_.size()] { Work(slot); });
    }
  }
  changed_.notify_all();
}

void Notifier::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.empty() && busy_ == 0; });
}

std::deque<Notifier::Job>::iterator Notifier::NextLocked() {
  return std::find_if(jobs_.begin(), jobs_.end(), [this](const Job& job) {
    return !running_alarms_.contains({job.source, job.alarm});
  });
}

void Notifier::Work(size_t slot) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || NextLocked() != jobs_.end(); });
    if (stopping_) return;
    const auto next = NextLocked();
    Job job = std::move(*next);
    jobs_.erase(next);
    const std::pair<std::string, std::string> alarm{job.source, job.alarm};
    running_alarms_.insert(alarm);
    ++busy_;
    lock.unlock();
    std::string error;
    CommandOutput output;
    const int code =
        RunCommand(job.command, job.input, job.env, job.timeout_s * 1000, error, &running_[slot], &output);
    const std::string said = output.total > 0 ? ", output: " + output.Excerpt() : "";
    if (code != 0) {
      log_.Warn(job.source, "notification " + job.command.front() + " ended with " + std::to_string(code) +
                                (error.empty() ? "" : " (" + error + ")") + said);
    } else if (!said.empty()) {
      log_.Info(job.source, "notification " + job.command.front() + said);
    }
    if (job.done) job.done(code, error);
    lock.lock();
    running_alarms_.erase(alarm);
    --busy_;
    changed_.notify_all();
  }
}

}  // namespace velutron::station
