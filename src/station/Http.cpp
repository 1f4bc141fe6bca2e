#include "station/Http.h"

#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "station/JsonApi.h"
#include "station/Metrics.h"
#include "station/StatusPage.h"

namespace velutron::station {

namespace {

constexpr int kDefaultPort = 9457;
constexpr const char* kJson = "application/json; charset=utf-8";
// The page runs only its own script and talks only to the station.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

bool ParseListenAddress(const std::string& listen, std::string& host, int& port, std::string& error) {
  std::string rest;
  if (!listen.empty() && listen.front() == '[') {
    const size_t close = listen.find(']');
    if (close == std::string::npos) {
      error = "no closing bracket";
      return false;
    }
    host = listen.substr(1, close - 1);
    rest = listen.substr(close + 1);
  } else {
    const size_t colon = listen.rfind(':');
    host = listen.substr(0, colon);
    rest = colon == std::string::npos ? std::string() : listen.substr(colon);
  }
  if (host.empty() || (host.find(':') != std::string::npos && listen.front() != '[')) {
    error = "not ADDRESS:PORT or [IPv6 ADDRESS]:PORT";
    return false;
  }
  port = kDefaultPort;
  if (rest.empty()) return true;
  if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6 ||
      rest.find_first_not_of("0123456789", 1) != std::string::npos || std::stoi(rest.substr(1)) > 65535) {
    error = "the port must be a number 0 to 65535";
    return false;
  }
  port = std::stoi(rest.substr(1));
  return true;
}

struct HttpEndpoint::Impl {
  SnapshotSource snapshot;
  std::string archiveLocation;
  httplib::Server server;
  std::thread thread;
  int port = 0;

  std::mutex runMutex;
  std::condition_variable runEnded;
  bool running = false;

  // One connection for every request: SQLite serialises them anyway, and a server opens it once.
  std::mutex archiveMutex;
  std::unique_ptr<archive::Archive> archive;

  void Routes();
  void History(const httplib::Request& request, httplib::Response& response);
};

void HttpEndpoint::Impl::Routes() {
  // Read-only: anything but GET and HEAD is refused before it reaches a handler.
  server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
    if (request.method == "GET" || request.method == "HEAD")
      return httplib::Server::HandlerResponse::Unhandled;
    response.status = 405;
    response.set_header("Allow", "GET, HEAD");
    response.set_content("Tylko do odczytu: GET\n", "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  });
  server.set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});

  server.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(RenderMetrics(snapshot()), kMetricsContentType);
  });
  server.Get("/api/current", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(CurrentJson(snapshot()), kJson);
  });
  server.Get("/api/history", [this](const httplib::Request& request, httplib::Response& response) {
    History(request, response);
  });
  server.Get("/", [this](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Security-Policy", kPagePolicy);
    response.set_content(RenderStatusPage(snapshot(), NowMs()), "text/html; charset=utf-8");
  });
  server.Get("/status.js", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(kStatusScript), "text/javascript; charset=utf-8");
  });
  server.Get("/status.css", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(kStatusStyle), "text/css; charset=utf-8");
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.status == 404 && response.body.empty()) {
      response.set_content("Nie ma takiej strony\n", "text/plain; charset=utf-8");
    }
  });
}

void HttpEndpoint::Impl::History(const httplib::Request& request, httplib::Response& response) {
  HistoryQuery query;
  std::string error;
  if (!ParseHistoryQuery(request.params, NowMs(), query, error)) {
    response.status = 400;
    response.set_content(ErrorJson(error), kJson);
    return;
  }
  std::vector<archive::HistoryPoint> points;
  {
    std::lock_guard lock(archiveMutex);
    if (!archive) {
      if (archiveLocation.empty()) {
        error = "stacja nie prowadzi archiwum";
      } else {
        archive = archive::OpenArchive(archiveLocation, error);
      }
    }
    if (!archive) {
      response.status = 503;
      response.set_content(ErrorJson(error), kJson);
      return;
    }
    const auto logger = archive->FindLogger(query.logger, error);
    if (!logger) {
      response.status = error.empty() ? 404 : 503;
      response.set_content(ErrorJson(error.empty() ? "nieznany rejestrator: " + query.logger : error), kJson);
      // A connection that failed is opened afresh next time.
      if (!error.empty()) archive.reset();
      return;
    }
    if (!archive->History(*logger, query.channel, query.from_ms, query.to_ms, points, error)) {
      response.status = 503;
      response.set_content(ErrorJson(error), kJson);
      archive.reset();
      return;
    }
  }
  response.set_content(HistoryJson(Thin(points, query.max_points, query.from_ms, query.to_ms)), kJson);
}

HttpEndpoint::HttpEndpoint(SnapshotSource snapshot, std::string archive_location)
    : impl_(std::make_unique<Impl>()) {
  impl_->snapshot = std::move(snapshot);
  impl_->archiveLocation = std::move(archive_location);
  // A few readers at a time is plenty; the station's threads are for its loggers.
  impl_->server.new_task_queue = [] { return new httplib::ThreadPool(2); };
  // SO_REUSEADDR alone: the library's SO_REUSEPORT would let a second station share the port unnoticed.
  impl_->server.set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // Headers and body go out in two writes; with Nagle's algorithm the body would wait for the client's
  // delayed acknowledgement, 40 ms a request.
  impl_->server.set_tcp_nodelay(true);
  impl_->server.set_read_timeout(5, 0);
  impl_->server.set_write_timeout(5, 0);
  impl_->Routes();
}

HttpEndpoint::~HttpEndpoint() { Stop(); }

bool HttpEndpoint::Start(const std::string& listen, std::string& error) {
  if (impl_->thread.joinable()) {
    error = "the HTTP endpoint is running already";
    return false;
  }
  std::string host;
  int port = 0;
  if (!ParseListenAddress(listen, host, port, error)) return false;
  errno = 0;
  if (port == 0) {
    impl_->port = impl_->server.bind_to_any_port(host);
  } else {
    impl_->port = impl_->server.bind_to_port(host, port) ? port : -1;
  }
  if (impl_->port < 0) {
    const int cause = errno;
    impl_->port = 0;
    error = cause != 0 ? std::strerror(cause) : "cannot listen there";
    return false;
  }
  impl_->running = true;
  impl_->thread = std::thread([impl = impl_.get()] {
    impl->server.listen_after_bind();
    std::lock_guard lock(impl->runMutex);
    impl->running = false;
    impl->runEnded.notify_all();
  });
  return true;
}

void HttpEndpoint::Stop() {
  if (!impl_->thread.joinable()) return;
  std::unique_lock lock(impl_->runMutex);
  // The server ignores a stop that comes before its loop has begun, so it is repeated until the loop ends.
  while (impl_->running) {
    impl_->server.stop();
    impl_->runEnded.wait_for(lock, std::chrono::milliseconds(20));
  }
  lock.unlock();
  impl_->thread.join();
}

int HttpEndpoint::Port() const { return impl_->port; }

}  // namespace velutron::station
