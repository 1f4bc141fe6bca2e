#include "platform/Process.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace velutron {
namespace {

std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD) {
  RequestInterrupt();
  return TRUE;
}
#else
int notifier[2] = {-1, -1};

void OnSignal(int) { RequestInterrupt(); }
#endif

}  // namespace

void EnsureStandardDescriptors() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    // open() returns the lowest free descriptor, which is this one.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
#endif
}

void InstallInterruptHandlers() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  if (notifier[0] < 0 && ::pipe2(notifier, O_CLOEXEC | O_NONBLOCK) != 0) notifier[0] = notifier[1] = -1;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocking read of the terminal returns, so a question is answered Cancel at once.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed terminal or SSH session: stop as on SIGTERM rather than die part-way through a write.
  sigaction(SIGHUP, &action, nullptr);
#endif
}

void RequestInterrupt() {
  requested.store(true);
#ifndef _WIN32
  if (notifier[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(notifier[1], &byte, 1);
  }
#endif
}

bool InterruptRequested() { return requested.load(); }

void ClearInterrupt() {
  requested.store(false);
#ifndef _WIN32
  char drain[64];
  if (notifier[0] >= 0) {
    while (::read(notifier[0], drain, sizeof drain) > 0) {
    }
  }
#endif
}

int InterruptNotifierFd() {
#ifdef _WIN32
  return -1;
#else
  return notifier[0];
#endif
}

}  // namespace velutron
