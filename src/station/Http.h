#pragma once

// The station's HTTP endpoint: /metrics (Prometheus text format), /api/current, /api/history and the
// status page at /. Everything it serves is read-only.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "station/Snapshot.h"

namespace velutron::station {

class HttpEndpoint {
 public:
  using SnapshotSource = std::function<std::vector<LoggerSnapshot>()>;
  using ArchiveSource = std::function<ArchiveSnapshot()>;

  // `snapshot` and `archive_state` are called from the server's thread; `archive_location` is opened by
  // the endpoint itself for /api/history and the status page's charts. Without `archive_state` the
  // archive's state is not shown.
  HttpEndpoint(SnapshotSource snapshot, std::string archive_location, ArchiveSource archive_state = {});
  ~HttpEndpoint();
  HttpEndpoint(const HttpEndpoint&) = delete;
  HttpEndpoint& operator=(const HttpEndpoint&) = delete;

  // Listens on "ADDR:PORT" (an IPv4 address, or [IPv6]:PORT) and serves in a thread of its own: one
  // poll() loop for every connection, each with its deadlines and limits, and a worker for the archive's
  // queries. False, with the reason, when the address cannot be bound.
  bool Start(const std::string& listen, std::string& error);
  // Stops serving and joins the thread; also done by the destructor.
  void Stop();
  // How long a client has to send a whole request (10 s); before Start. Tests shorten it.
  void SetRequestTimeout(std::chrono::milliseconds timeout);
  // The port bound (useful with port 0 in tests).
  int Port() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "ADDR:PORT" or "[IPv6]:PORT" (the port 9457 when left out) split in two; false, with the reason,
// when it is malformed.
bool ParseListenAddress(const std::string& listen, std::string& host, int& port, std::string& error);

}  // namespace velutron::station
