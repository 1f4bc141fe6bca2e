// velutron-sim: the simulated logger behind a pseudo-terminal, on real time.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Process.h"
#include "sim/Device.h"
#include "sim/LoggerMap.h"

namespace {

using velutron::CivilTime;
using velutron::Parity;
using velutron::sim::Device;
using velutron::sim::Emitted;

volatile sig_atomic_t stopRequested = 0;
void OnStopSignal(int) { stopRequested = 1; }

// Output is written in chunks no smaller than this apart, so a long dump does not wake us per byte.
constexpr uint64_t kChunkUs = 2'000;

struct Options {
  std::string parity = "even";
  std::string portDir;
  int com = 0;
  int sensors = 4;
  bool humidity = false;
  int records = 48;
  uint32_t seed = 1;
  bool recording = false;
  bool silent = false;
  uint32_t lateMs = 0;
  int wrongByte = -1;
  bool extraByte = false;
  std::vector<std::string> replies;
  std::vector<std::string> readings;
  bool busDown = false;
  int crc = 0;
  int64_t dumpPauseAfter = -1;
  uint32_t dumpPauseMs = 0;
  int64_t dumpCutAfter = -1;
  bool overfull = false;
  int threshold = 0;
  uint32_t declareMs = velutron::sim::map::kDeclareMsDefault;
  std::string memory;
  bool verbose = false;
};

uint64_t NowUs() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
          .count());
}

CivilTime LocalNow() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// "A=B" with both decimal, A in 0..maxA and B in 0..maxB.
std::optional<std::pair<long, long>> ParsePair(const std::string& text, long maxA, long maxB) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) return std::nullopt;
  char* end = nullptr;
  const long a = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + eq || a < 0 || a > maxA) return std::nullopt;
  const long b = std::strtol(text.c_str() + eq + 1, &end, 10);
  if (*end != '\0' || b < 0 || b > maxB) return std::nullopt;
  return std::make_pair(a, b);
}

bool ConfigureDevice(const Options& o, Device& device) {
  device.parity = o.parity == "odd" ? Parity::Odd : Parity::Even;
  device.SetSensors(o.sensors, o.humidity);
  device.SetClock(LocalNow(), NowUs());
  device.GenerateMeasurements(o.records, o.seed);
  device.SetRecording(o.recording);
  device.threshold = static_cast<uint8_t>(o.threshold);
  device.declareMs = o.declareMs;
  device.registers[velutron::sim::map::kCrcCount] = static_cast<uint8_t>(o.crc);
  auto& f = device.faults;
  f.silent = o.silent;
  f.answerDelayUs = o.lateMs * 1000;
  if (o.wrongByte >= 0) f.wrongAnswer = static_cast<uint8_t>(o.wrongByte);
  f.extraByte = o.extraByte;
  f.busDown = o.busDown;
  if (o.dumpPauseAfter >= 0) f.dumpPauseAfter = static_cast<uint32_t>(o.dumpPauseAfter);
  f.dumpPauseMs = o.dumpPauseMs;
  if (o.dumpCutAfter >= 0) f.dumpCutAfter = static_cast<uint32_t>(o.dumpCutAfter);
  f.overfullMemory = o.overfull;
  for (const std::string& r : o.replies) {
    const auto pair = ParsePair(r, 255, 255);
    if (!pair) {
      std::fprintf(stderr, "velutron-sim: --reply expects CMD=CODE, got '%s'\n", r.c_str());
      return false;
    }
    f.replyCodes[static_cast<uint8_t>(pair->first)] = static_cast<uint8_t>(pair->second);
  }
  for (const std::string& r : o.readings) {
    const auto pair = ParsePair(r, velutron::sim::map::kMaxSensors, 0xFFFF);
    if (!pair || pair->first < 1) {
      std::fprintf(stderr, "velutron-sim: --reading expects N=RAW, got '%s'\n", r.c_str());
      return false;
    }
    device.pinnedReadings[static_cast<int>(pair->first)] = static_cast<uint16_t>(pair->second);
  }
  if (!o.memory.empty()) {
    // An image file: the parameter space, then the point-name space (any checksum after them is ignored).
    std::ifstream in(o.memory, std::ios::binary);
    std::vector<char> bytes(device.params.size() + device.names.size());
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
      std::fprintf(stderr, "velutron-sim: --memory needs a file of at least %zu bytes\n", bytes.size());
      return false;
    }
    std::copy_n(bytes.begin(), device.params.size(), device.params.begin());
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(device.params.size()), bytes.end(),
              device.names.begin());
  }
  return true;
}

// The parity the program set on the slave side; on Linux the master reports the slave's settings. The
// pty driver always clears PARENB but keeps PARODD, so PARODD alone tells odd from even.
bool ParityMatches(int master, Parity own) {
  termios t{};
  if (tcgetattr(master, &t) != 0) return true;  // cannot tell: answer
  return ((t.c_cflag & PARODD) != 0) == (own == Parity::Odd);
}

void SetLineSettings(int fd, Parity parity) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  cfsetispeed(&t, B57600);
  cfsetospeed(&t, B57600);
  t.c_cflag |= PARENB | CLOCAL | CREAD;
  if (parity == Parity::Odd) {
    t.c_cflag |= PARODD;
  } else {
    t.c_cflag &= ~static_cast<tcflag_t>(PARODD);
  }
  tcsetattr(fd, TCSANOW, &t);
}

class Server {
 public:
  Server(Device& device, bool verbose) : device_(device), verbose_(verbose) {}

  int Run(int master) {
    std::vector<uint8_t> chunk;
    while (!stopRequested) {
      pollfd pfd{master, POLLIN, 0};
      const uint64_t now = NowUs();
      timespec timeout{};
      timespec* timeoutPtr = nullptr;
      if (blocked_) {
        pfd.events |= POLLOUT;  // the slave's input is full: sleep until it drains
      } else if (!queue_.empty()) {
        const uint64_t due = std::max(queue_.front().atUs, lastWriteUs_ + kChunkUs);
        const uint64_t wait = due > now ? due - now : 0;
        timeout = {static_cast<time_t>(wait / 1'000'000), static_cast<long>(wait % 1'000'000) * 1000};
        timeoutPtr = &timeout;
      }
      sigset_t unblocked;
      sigemptyset(&unblocked);
      const int ready = ppoll(&pfd, 1, timeoutPtr, &unblocked);
      if (ready < 0) {
        if (errno == EINTR) continue;
        std::perror("velutron-sim: poll");
        return 1;
      }
      if (pfd.revents & POLLIN) ReadInput(master);
      if ((pfd.revents & (POLLHUP | POLLERR)) && !(pfd.revents & POLLIN)) {
        // Nobody holds the slave open; wait a little instead of spinning on the hang-up.
        usleep(20'000);
      }
      WriteDue(master, chunk);
    }
    return 0;
  }

 private:
  void ReadInput(int master) {
    uint8_t buffer[4096];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) return;
    const uint64_t at = NowUs();
    if (!ParityMatches(master, device_.parity)) {
      if (verbose_) std::fprintf(stderr, "%10.3f ms  %zd byte(s) ignored: parity mismatch\n", at / 1000.0, n);
      return;
    }
    for (ssize_t i = 0; i < n; ++i) {
      std::vector<Emitted> out;
      device_.Receive(buffer[i], at, out);
      if (verbose_) {
        std::fprintf(stderr, "%10.3f ms  <- %3u", at / 1000.0, buffer[i]);
        if (out.size() > 2) {
          std::fprintf(stderr, "   -> dump of %zu bytes", out.size());
        } else {
          for (const Emitted& e : out) std::fprintf(stderr, "   -> %3u", e.byte);
        }
        std::fprintf(stderr, "\n");
      }
      for (const Emitted& e : out) queue_.push_back(e);
    }
  }

  void WriteDue(int master, std::vector<uint8_t>& chunk) {
    const uint64_t now = NowUs();
    chunk.clear();
    for (const Emitted& e : queue_) {
      if (e.atUs > now) break;
      chunk.push_back(e.byte);
    }
    if (chunk.empty()) return;
    const ssize_t written = write(master, chunk.data(), chunk.size());
    if (written < 0) {
      blocked_ = errno == EAGAIN;
      return;
    }
    blocked_ = static_cast<size_t>(written) < chunk.size();
    queue_.erase(queue_.begin(), queue_.begin() + written);
    lastWriteUs_ = now;
  }

  Device& device_;
  bool verbose_;
  std::deque<Emitted> queue_;  // answers not yet written, in time order
  bool blocked_ = false;       // the slave's input is full: wait until it drains
  uint64_t lastWriteUs_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  velutron::EnsureStandardDescriptors();
  Options o;
  CLI::App app{
      "Simulated VELUTRON logger behind a pseudo-terminal. Prints the slave device path on the first line "
      "of standard output and serves until SIGINT, SIGTERM or SIGHUP."};
  app.add_option("--parity", o.parity, "parity of the logger's line: even or odd")
      ->check(CLI::IsMember({"even", "odd"}));
  app.add_option("--port-dir", o.portDir,
                 "publish the slave as DIR/COMn (default: $VELUTRON_PORT_DIR when --com is given)");
  app.add_option("--com", o.com, "port number n for the published name COMn (default 1)")
      ->check(CLI::Range(1, 255));
  app.add_option("--sensors", o.sensors, "number of sensors K")->check(CLI::Range(0, 10));
  app.add_flag("--humidity", o.humidity, "humidity mode: sensors form dry/wet pairs");
  app.add_option("--records", o.records,
                 "number of measurements in memory (at most 131072 / (2K + 5) for K sensors, as the "
                 "logger's memory holds, unless --overfull)")
      ->check(CLI::Range(0, 65535));
  app.add_flag("--overfull", o.overfull, "send every record of --records, beyond the memory's capacity");
  app.add_option("--seed", o.seed, "seed of the generated measurements");
  app.add_flag("--recording", o.recording, "start with recording active");
  app.add_flag("--silent", o.silent, "answer nothing at all");
  app.add_option("--late-ms", o.lateMs, "delay every answer by MS milliseconds");
  app.add_option("--wrong-byte", o.wrongByte, "replace every one-byte answer with B")
      ->check(CLI::Range(0, 255));
  app.add_flag("--extra-byte", o.extraByte, "send every one-byte answer twice");
  app.add_option("--reply", o.replies,
                 "answer command byte CMD with reply code CODE (CMD=CODE, repeatable; "
                 "128 selects the sensor declaration)");
  app.add_option("--reading", o.readings,
                 "sensor N always reads the raw value RAW (N=RAW, repeatable; sixteenths of a degree "
                 "above -55 C, e.g. 1=876 for -0.25 C)");
  app.add_flag("--bus-down", o.busDown, "the 1-Wire bus does not answer");
  app.add_option("--crc", o.crc, "CRC conflict count of the 1-Wire bus")->check(CLI::Range(0, 255));
  app.add_option("--dump-pause-after", o.dumpPauseAfter, "pause the dump after N bytes")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--dump-pause-ms", o.dumpPauseMs, "length of that pause in milliseconds");
  app.add_option("--dump-cut-after", o.dumpCutAfter, "end the dump after N bytes")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--threshold", o.threshold, "ON/OFF switching threshold in degrees C (0 = none)")
      ->check(CLI::Range(0, 255));
  app.add_option("--declare-ms", o.declareMs,
                 "milliseconds the sensor declaration takes before it is answered (0..1000, default 300)")
      ->check(CLI::Range(0u, velutron::sim::map::kDeclareMsMax));
  app.add_option("--memory", o.memory,
                 "start with the configuration memory of an image file (*.eep: the parameters, then the "
                 "point names)");
  app.add_flag("--verbose", o.verbose, "log every exchange to standard error");
  CLI11_PARSE(app, argc, argv);

  Device device;
  if (!ConfigureDevice(o, device)) return 2;

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("velutron-sim: pseudo-terminal");
    return 1;
  }
  const char* slaveName = ptsname(master);
  if (slaveName == nullptr) {
    std::perror("velutron-sim: ptsname");
    return 1;
  }
  const std::string slavePath = slaveName;
  // Holding the slave open keeps the terminal alive while the program closes and reopens it.
  const int slaveHold = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  if (slaveHold < 0) {
    std::perror("velutron-sim: slave");
    return 1;
  }
  SetLineSettings(slaveHold, device.parity);

  if (o.portDir.empty() && o.com > 0) {
    if (const char* dir = std::getenv("VELUTRON_PORT_DIR")) o.portDir = dir;
  }
  std::string published;
  if (!o.portDir.empty()) {
    published = o.portDir + "/COM" + std::to_string(o.com > 0 ? o.com : 1);
    std::error_code ec;
    if (std::filesystem::is_symlink(published, ec)) std::filesystem::remove(published, ec);
    std::filesystem::create_symlink(slavePath, published, ec);
    if (ec) {
      std::fprintf(stderr, "velutron-sim: cannot publish %s: %s\n", published.c_str(), ec.message().c_str());
      return 1;
    }
  }

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);  // delivered only inside the poll
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("%s\n", slavePath.c_str());
  std::fflush(stdout);

  Server server(device, o.verbose);
  const int status = server.Run(master);

  if (!published.empty()) {
    std::error_code ec;
    std::filesystem::remove(published, ec);
  }
  close(slaveHold);
  close(master);
  return status;
}
