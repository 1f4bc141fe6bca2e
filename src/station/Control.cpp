#include "station/Control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velutron::station {

namespace {

constexpr size_t kMaxRequest = 512;
constexpr int kClientTimeoutMs = 5000;

bool Address(const std::string& path, sockaddr_un& addr, std::string& error) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    error = path + ": the socket's path is too long";
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Reads one line of at most kMaxRequest bytes, waiting at most `timeoutMs` in all.
bool ReadLine(int fd, std::string& line, int timeoutMs) {
  line.clear();
  char c = 0;
  while (line.size() < kMaxRequest) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0) return false;
    const ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) return !line.empty();
    if (c == '\n') return true;
    line += c;
  }
  return false;
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0 && errno != EINTR) return;
    if (n > 0) done += static_cast<size_t>(n);
  }
}

}  // namespace

std::string ControlSocketPath() {
  if (const char* path = std::getenv("VELUTRON_STATION_SOCKET"); path != nullptr && *path != 0) return path;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != 0) {
    return std::string(runtime) + "/velutron-station.sock";
  }
  return "/tmp/velutron-station-" + std::to_string(::getuid()) + "/station.sock";
}

ControlServer::~ControlServer() { Stop(); }

bool ControlServer::Start(const std::string& path, Handler handler, std::string& error) {
  sockaddr_un addr{};
  if (!Address(path, addr, error)) return false;
  // The folder of the fallback path is made private; a folder given is the user's own business.
  const std::string folder = path.substr(0, path.rfind('/'));
  if (!folder.empty() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = folder + ": " + std::strerror(errno);
    return false;
  }
  // A socket left by a station that was killed is taken over; one that answers belongs to a live station.
  std::string reply;
  std::string ignored;
  if (SendControl(path, "ping", reply, ignored)) {
    error = path + ": another station is running";
    return false;
  }
  ::unlink(path.c_str());
  listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const mode_t old = ::umask(0177);
  const bool bound = listen_ >= 0 && ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::umask(old);
  if (!bound || ::listen(listen_, 4) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
    error = path + ": " + std::strerror(errno);
    Stop();
    return false;
  }
  ::chmod(path.c_str(), 0600);
  path_ = path;
  handler_ = std::move(handler);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void ControlServer::Stop() {
  if (wake_[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
  }
  if (thread_.joinable()) thread_.join();
  for (int* fd : {&listen_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

void ControlServer::Serve() {
  for (;;) {
    pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ucred peer{};
    socklen_t size = sizeof peer;
    std::string request;
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::getuid()) {
      WriteAll(client, "error this station belongs to another user\n");
    } else if (ReadLine(client, request, kClientTimeoutMs)) {
      WriteAll(client, (request == "ping" ? std::string("ok") : handler_(request)) + "\n");
    }
    ::close(client);
  }
}

bool SendControl(const std::string& path, const std::string& request, std::string& reply,
                 std::string& error) {
  sockaddr_un addr{};
  if (!Address(path, addr, error)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    error = "no station is running (" + path + ": " + std::strerror(errno) + ")";
    if (fd >= 0) ::close(fd);
    return false;
  }
  WriteAll(fd, request + "\n");
  const bool ok = ReadLine(fd, reply, kClientTimeoutMs);
  ::close(fd);
  if (!ok) error = "the station did not answer";
  return ok;
}

}  // namespace velutron::station
