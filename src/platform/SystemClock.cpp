#include <chrono>
#include <ctime>
#include <thread>

#include "platform/Clock.h"

#ifdef _WIN32
#include <windows.h>
// timeapi.h needs windows.h first.
#include <timeapi.h>
#endif

namespace velutron {

#ifdef _WIN32
SystemClock::SystemClock() { timeBeginPeriod(1); }
SystemClock::~SystemClock() { timeEndPeriod(1); }
#else
SystemClock::SystemClock() = default;
SystemClock::~SystemClock() = default;
#endif

uint32_t SystemClock::TickMs() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SystemClock::SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

CivilTime SystemClock::Now() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace velutron
