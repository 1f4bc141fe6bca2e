#include "platform/PosixSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/PortNames.h"

namespace velutron {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr speed_t kBaudRate = B57600;
// A single byte goes out at once; if the driver cannot take it within this time it is dropped, as a
// failed TransmitCommChar would drop it.
constexpr int kSendByteTimeoutMs = 100;
// A block write may take its line time (11 bits a byte at 57 600 baud) twice over, plus a margin.
int BlockWriteBudgetMs(size_t bytes) { return static_cast<int>(bytes * 11 * 1000 * 2 / 57600) + 1000; }

// Rounded up, so that a wait never ends before its deadline.
int RemainingMs(SteadyClock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

// The lock file of a device: one per device whatever name led to it (COMn, by-id link, path).
std::string LockFileOf(const std::string& path) {
  const char* dir = std::getenv("VELUTRON_LOCK_DIR");
  std::string folder = dir != nullptr && *dir != 0 ? dir : "/run/lock";
  if (dir == nullptr && ::access(folder.c_str(), W_OK) != 0) folder = "/tmp";
  char resolved[PATH_MAX];
  std::string device = ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
  std::replace(device.begin(), device.end(), '/', '_');
  return folder + "/velutron" + device + ".lock";
}

PortHolder ReadHolder(const std::string& lockFile) {
  std::ifstream in(lockFile);
  PortHolder holder;
  if (!(in >> holder.program >> holder.pid) || holder.pid <= 0) return {};
  return holder;
}

}  // namespace

PosixSerialPort::~PosixSerialPort() { Close(); }

bool PosixSerialPort::Open(const std::string& name, Parity parity) {
  Close();
  holder_.reset();
  hungUp_ = false;
  std::string path = ResolvePortName(name);
  const std::string lockFile = LockFileOf(path);
  // Non-blocking for good: reads take only what is queued, writes wait through poll() with a limit.
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EBUSY) holder_ = ReadHolder(lockFile);
    return false;
  }
  // TIOCEXCL does not stop a privileged opener; the lock does, for every opener that also locks.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    holder_ = ReadHolder(lockFile);
    return false;
  }
  fd_ = fd;
  // Written after the lock is ours, so the file names the holder whenever the lock is held.
  std::ofstream(lockFile, std::ios::trunc) << program_invocation_short_name << ' ' << ::getpid() << '\n';
  lockFile_ = lockFile;
  if (!Configure(parity)) {
    Close();
    return false;
  }
  ::ioctl(fd_, TIOCEXCL);
  // Whatever arrived before we owned the port belongs to nobody.
  ::tcflush(fd_, TCIFLUSH);
  return true;
}

void ApplyLinkSettings(termios& tio, Parity parity) {
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, kBaudRate);
  ::cfsetospeed(&tio, kBaudRate);
  tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL | PARENB;
  if (parity == Parity::Odd) tio.c_cflag |= PARODD;
#ifdef CMSPAR
  tio.c_cflag &= ~CMSPAR;  // mark/space parity would replace odd/even
#endif
  // Parity is checked and a bad byte is still delivered (as 0), never dropped or marked.
  tio.c_iflag &= ~(IGNPAR | PARMRK | IXON | IXOFF | IXANY);
  tio.c_iflag |= INPCK;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
}

bool PosixSerialPort::Configure(Parity parity) {
  termios tio{};
  // A file that is not a terminal is not a port.
  if (::tcgetattr(fd_, &tio) != 0) return false;
  ApplyLinkSettings(tio, parity);
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
    // A pseudo-terminal takes the settings but drops the parity bit, and the C library reports that
    // as EINVAL; the settings are in force all the same.
    termios now{};
    if (errno != EINVAL || ::tcgetattr(fd_, &now) != 0) return false;
    const tcflag_t mask = ~static_cast<tcflag_t>(PARENB);
    if ((now.c_cflag & mask) != (tio.c_cflag & mask) || now.c_iflag != tio.c_iflag ||
        cfgetospeed(&now) != cfgetospeed(&tio)) {
      return false;
    }
  }
  // Both handshake lines inactive. A pseudo-terminal has no modem lines and refuses; that is fine.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd_, TIOCMBIC, &lines);
  return true;
}

void PosixSerialPort::Close() {
  if (fd_ < 0) return;
  ::ioctl(fd_, TIOCNXCL);
  if (!lockFile_.empty()) ::unlink(lockFile_.c_str());
  lockFile_.clear();
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
  queue_.clear();
  head_ = 0;
}

bool PosixSerialPort::WaitWritable(int timeoutMs) {
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd pfd{fd_, POLLOUT, 0};
    int ready = ::poll(&pfd, 1, RemainingMs(deadline));
    if (ready > 0) return (pfd.revents & POLLOUT) != 0;
    if (ready == 0 || errno != EINTR) return false;
  }
}

void PosixSerialPort::SendByte(uint8_t byte) {
  if (fd_ < 0) return;
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(kSendByteTimeoutMs);
  for (;;) {
    ssize_t written = ::write(fd_, &byte, 1);
    if (written == 1) return;
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      NoteGone(errno);
      return;
    }
    if (!WaitWritable(RemainingMs(deadline))) return;
  }
}

// The Windows driver holds up to its input-queue size of received bytes; a tty holds a few kilobytes
// and then stalls the sender or drops bytes. So bytes move from the tty into a queue of the driver's
// size whenever the queue is looked at, which lets a whole memory dump wait until it is read.
void PosixSerialPort::Drain() {
  if (fd_ < 0) return;
  uint8_t chunk[4096];
  while (queue_.size() - head_ < kInputQueueBytes) {
    const size_t room = std::min(sizeof chunk, kInputQueueBytes - (queue_.size() - head_));
    const ssize_t got = ::read(fd_, chunk, room);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) NoteGone(errno);
    if (got <= 0) break;
    queue_.insert(queue_.end(), chunk, chunk + got);
    if (static_cast<size_t>(got) < room) break;
  }
}

uint32_t PosixSerialPort::InputCount() {
  Drain();
  return static_cast<uint32_t>(queue_.size() - head_);
}

uint32_t PosixSerialPort::Read(std::span<uint8_t> buffer) {
  // The caller has mostly just counted what waits; a read of the tty then only finds it empty.
  if (queue_.size() - head_ < buffer.size()) Drain();
  const size_t n = std::min(buffer.size(), queue_.size() - head_);
  std::copy_n(queue_.begin() + static_cast<std::ptrdiff_t>(head_), n, buffer.begin());
  head_ += n;
  if (head_ == queue_.size()) {
    queue_.clear();
    head_ = 0;
  }
  return static_cast<uint32_t>(n);
}

void PosixSerialPort::DiscardInput() {
  if (fd_ < 0) return;
  queue_.clear();
  head_ = 0;
  ::tcflush(fd_, TCIFLUSH);
}

bool PosixSerialPort::NoteGone(int error) {
  if (error == EIO || error == ENXIO || error == ENODEV) hungUp_ = true;
  return hungUp_;
}

void PosixSerialPort::WaitForInput(uint32_t timeoutMs) {
  if (hungUp_) return;
  if (fd_ < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return;
  }
  if (queue_.size() > head_) return;
  // Bytes in the tty make poll() return at once, so it alone tells whether anything waits.
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int left = RemainingMs(deadline);
    if (left == 0) return;
    pollfd pfd{fd_, POLLIN, 0};
    int ready = ::poll(&pfd, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return;
    if (ready > 0 && (pfd.revents & POLLIN) != 0 && InputCount() > 0) return;
    // A hung-up or failing device wakes poll() at once and forever and will deliver nothing: the wait
    // ends now, and the caller sees the port gone rather than waiting for it.
    if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      hungUp_ = true;
      return;
    }
    if (ready < 0) {
      std::this_thread::sleep_until(deadline);
      return;
    }
  }
}

bool PosixSerialPort::WriteBlock(std::span<const uint8_t> bytes) {
  if (fd_ < 0) return false;
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(BlockWriteBudgetMs(bytes.size()));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (written > 0) {
      done += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      NoteGone(errno);
      return false;
    }
    if (!WaitWritable(RemainingMs(deadline))) return false;
  }
  while (::tcdrain(fd_) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace velutron
