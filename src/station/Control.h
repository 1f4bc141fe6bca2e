#pragma once

// The running station's local socket: `velutron-station --pause` and `--ack` talk to it. The socket is
// $VELUTRON_STATION_SOCKET when set, else $XDG_RUNTIME_DIR/velutron-station.sock, else
// /tmp/velutron-station-UID/station.sock; its folder and itself are readable by their user alone, and
// a connection from another user is refused. One line in ("pause MS", "ack LOGGER[:CHANNEL] [MS]"),
// one line back ("ok ..." or "error ...").

#include <functional>
#include <string>
#include <thread>

namespace velutron::station {

std::string ControlSocketPath();

class ControlServer {
 public:
  using Handler = std::function<std::string(const std::string& request)>;

  ControlServer() = default;
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  bool Start(const std::string& path, Handler handler, std::string& error);
  void Stop();

 private:
  void Serve();

  std::string path_;
  Handler handler_;
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

// Sends one request to the running station; false with the reason when it cannot be reached.
bool SendControl(const std::string& path, const std::string& request, std::string& reply, std::string& error);

}  // namespace velutron::station
