#include "station/Http.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
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

namespace {

using Steady = std::chrono::steady_clock;

// One poll() loop serves every connection, so a client that sends or reads slowly holds nothing but
// its own socket, and each one has a deadline. The limits keep what a client can make the station
// hold small.
constexpr size_t kMaxHead = 8192;  // the request line and headers
constexpr size_t kMaxHeaders = 64;
constexpr size_t kMaxBody = 8192;  // only a refused method may send one, and it is thrown away
constexpr size_t kMaxConnections = 512;
constexpr size_t kMaxHistoryWaiting = 8;
constexpr auto kWriteTime = std::chrono::seconds(10);  // for any progress of an answer
constexpr auto kLingerTime = std::chrono::seconds(2);  // reading what follows a refusal, before close
constexpr size_t kMaxLingerBytes = 1 << 20;

struct Request {
  std::string method;
  std::string path;
  std::multimap<std::string, std::string> params;
  bool keepAlive = true;
};

struct Response {
  int status = 200;
  std::string contentType;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  bool close = false;
};

Response Text(int status, std::string body) {
  return {status, "text/plain; charset=utf-8", std::move(body), {}, false};
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
  }
  return "Error";
}

// The answer refusing a request the server could not or would not read; the connection then closes.
Response Refusal(int status) {
  std::string body;
  switch (status) {
    case 408:
      body = "Żądanie nie nadeszło w całości na czas\n";
      break;
    case 413:
      body = "Za długa treść żądania\n";
      break;
    case 414:
      body = "Za długi adres w żądaniu\n";
      break;
    case 431:
      body = "Za długie lub za liczne nagłówki żądania\n";
      break;
    default:
      body = "Nieprawidłowe żądanie\n";
  }
  Response r = Text(status, std::move(body));
  r.close = true;
  return r;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Decode(std::string_view text, bool plus_is_space, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size()) return false;
      const int high = HexDigit(text[i + 1]);
      const int low = HexDigit(text[i + 2]);
      if (high < 0 || low < 0) return false;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += plus_is_space && text[i] == '+' ? ' ' : text[i];
    }
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsToken(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return c > 32 && c < 127 && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
  });
}

enum class Parsed { Incomplete, Done, Refused };

// The first request in `data`: Done with `used` its length, or Refused with the status that says why.
Parsed ParseRequest(std::string_view data, Request& request, size_t& used, int& status) {
  status = 400;
  size_t pos = 0;
  // Empty lines before a request are allowed.
  while (pos < data.size() && (data[pos] == '\r' || data[pos] == '\n')) ++pos;
  std::vector<std::string_view> lines;
  size_t headEnd = std::string_view::npos;
  for (size_t p = pos; p < data.size();) {
    const size_t nl = data.find('\n', p);
    if (nl == std::string_view::npos) break;
    std::string_view line = data.substr(p, nl - p);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    p = nl + 1;
    if (line.empty()) {
      headEnd = p;
      break;
    }
    lines.push_back(line);
    if (lines.size() > kMaxHeaders + 1) {
      status = 431;
      return Parsed::Refused;
    }
  }
  // The empty lines count: a client sending nothing else must not fill the buffer.
  if (headEnd == std::string_view::npos) {
    if (data.size() <= kMaxHead) return Parsed::Incomplete;
    status = lines.empty() ? 414 : 431;
    return Parsed::Refused;
  }
  if (headEnd > kMaxHead) {
    status = lines.size() == 1 ? 414 : 431;
    return Parsed::Refused;
  }

  const std::string_view first = lines.front();
  const size_t s1 = first.find(' ');
  const size_t s2 = s1 == std::string_view::npos ? s1 : first.find(' ', s1 + 1);
  if (s2 == std::string_view::npos || first.find(' ', s2 + 1) != std::string_view::npos)
    return Parsed::Refused;
  request.method = std::string(first.substr(0, s1));
  const std::string_view target = first.substr(s1 + 1, s2 - s1 - 1);
  const std::string_view version = first.substr(s2 + 1);
  if (!IsToken(request.method) || target.empty() || target.front() != '/') return Parsed::Refused;
  if (version == "HTTP/1.1") {
    request.keepAlive = true;
  } else if (version == "HTTP/1.0") {
    request.keepAlive = false;
  } else {
    return Parsed::Refused;
  }
  const size_t question = target.find('?');
  if (!Decode(target.substr(0, question), false, request.path)) return Parsed::Refused;
  request.params.clear();
  if (question != std::string_view::npos) {
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
      const size_t amp = query.find('&');
      const std::string_view pair = query.substr(0, amp);
      query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
      if (pair.empty()) continue;
      const size_t eq = pair.find('=');
      std::string key;
      std::string value;
      if (!Decode(pair.substr(0, eq), true, key) ||
          (eq != std::string_view::npos && !Decode(pair.substr(eq + 1), true, value)))
        return Parsed::Refused;
      request.params.emplace(std::move(key), std::move(value));
    }
  }

  std::optional<size_t> length;
  bool chunked = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const size_t colon = line.find(':');
    // A folded line or a name with spaces is how requests are smuggled past proxies.
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return Parsed::Refused;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "Content-Length")) {
      size_t n = 0;
      if (value.empty() || value.size() > 12 ||
          value.find_first_not_of("0123456789") != std::string_view::npos)
        return Parsed::Refused;
      for (char c : value) n = n * 10 + static_cast<size_t>(c - '0');
      if (length && *length != n) return Parsed::Refused;
      length = n;
    } else if (EqualsNoCase(name, "Transfer-Encoding")) {
      chunked = true;
    } else if (EqualsNoCase(name, "Connection")) {
      if (EqualsNoCase(value, "close")) request.keepAlive = false;
      if (EqualsNoCase(value, "keep-alive")) request.keepAlive = true;
    }
  }
  if (chunked && length) return Parsed::Refused;
  const bool reading = request.method == "GET" || request.method == "HEAD";
  if (reading && (chunked || length.value_or(0) > 0)) return Parsed::Refused;
  if (chunked) {
    // Refused below anyway: the body is not read, and the connection closes after the answer.
    request.keepAlive = false;
    used = headEnd;
    return Parsed::Done;
  }
  if (length.value_or(0) > kMaxBody) {
    status = 413;
    return Parsed::Refused;
  }
  if (data.size() < headEnd + length.value_or(0)) return Parsed::Incomplete;
  used = headEnd + length.value_or(0);
  return Parsed::Done;
}

std::string Serialise(const Response& r, bool head, bool close) {
  std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + Reason(r.status) + "\r\n";
  if (!r.contentType.empty()) out += "Content-Type: " + r.contentType + "\r\n";
  out += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
  out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
  for (const auto& [name, value] : r.headers) out += name + ": " + value + "\r\n";
  if (close) out += "Connection: close\r\n";
  out += "\r\n";
  if (!head) out += r.body;
  return out;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

struct HttpEndpoint::Impl {
  SnapshotSource snapshot;
  ArchiveSource archiveState;
  std::string archiveLocation;
  int listenFd = -1;
  int wakeRead = -1;
  int wakeWrite = -1;
  int port = 0;
  std::thread loop;
  std::thread worker;
  std::atomic<bool> stopping{false};
  std::chrono::milliseconds requestTime{10'000};  // for a whole request, or idle between two

  struct Connection {
    int fd = -1;
    enum class State { Reading, Handling, Writing, Lingering } state = State::Reading;
    std::string in;
    std::string out;
    size_t sent = 0;
    size_t discarded = 0;
    bool head = false;
    bool keepAlive = true;
    bool closeAfter = false;
    bool closed = false;
    bool eof = false;  // the client sends no more, but may still read
    Steady::time_point deadline;
    Steady::time_point since;  // when its present request was first waited for
  };
  std::map<uint64_t, Connection> connections;  // the loop's alone
  uint64_t nextId = 0;
  size_t historyWaiting = 0;
  Steady::time_point acceptPaused;  // out of descriptors with none to free: accept again after it

  // /api/history reads the archive, which may be slow: it runs on the worker, never in the loop.
  struct Job {
    uint64_t id;
    std::multimap<std::string, std::string> params;
  };
  std::mutex jobMutex;
  std::condition_variable jobReady;
  std::deque<Job> jobs;
  std::deque<std::pair<uint64_t, Response>> answered;
  std::unique_ptr<archive::Archive> archive;  // the worker's alone; opened once

  Response Route(const Request& request);
  Response History(const std::multimap<std::string, std::string>& params);
  void Loop();
  void Work();
  void Wake();
  void Accept();
  void Read(uint64_t id, Connection& c);
  void Advance(uint64_t id, Connection& c);
  void Reply(Connection& c, const Response& response);
  void Send(Connection& c);
  void Linger(Connection& c);
  bool Evict();
};

Response HttpEndpoint::Impl::Route(const Request& request) {
  // Read-only: anything but GET and HEAD is refused.
  if (request.method != "GET" && request.method != "HEAD") {
    Response r = Text(405, "Tylko do odczytu: GET\n");
    r.headers.emplace_back("Allow", "GET, HEAD");
    return r;
  }
  const std::optional<ArchiveSnapshot> archived =
      archiveState ? std::optional<ArchiveSnapshot>(archiveState()) : std::nullopt;
  if (request.path == "/metrics")
    return {200, kMetricsContentType, RenderMetrics(snapshot(), archived), {}, false};
  if (request.path == "/api/current") return {200, kJson, CurrentJson(snapshot(), archived), {}, false};
  if (request.path == "/") {
    return {200,
            "text/html; charset=utf-8",
            RenderStatusPage(snapshot(), NowMs(), archived),
            {{"Content-Security-Policy", kPagePolicy}},
            false};
  }
  if (request.path == "/status.js")
    return {200, "text/javascript; charset=utf-8", std::string(kStatusScript), {}, false};
  if (request.path == "/status.css")
    return {200, "text/css; charset=utf-8", std::string(kStatusStyle), {}, false};
  return Text(404, "Nie ma takiej strony\n");
}

Response HttpEndpoint::Impl::History(const std::multimap<std::string, std::string>& params) {
  HistoryQuery query;
  std::string error;
  if (!ParseHistoryQuery(params, NowMs(), query, error)) return {400, kJson, ErrorJson(error), {}, false};
  std::vector<archive::HistoryPoint> points;
  if (!archive) {
    if (archiveLocation.empty()) {
      error = "stacja nie prowadzi archiwum";
    } else {
      archive = archive::OpenArchive(archiveLocation, error);
    }
  }
  if (!archive) return {503, kJson, ErrorJson(error), {}, false};
  const auto logger = archive->FindLogger(query.logger, error);
  if (!logger) {
    // A connection that failed is opened afresh next time.
    if (!error.empty()) {
      archive.reset();
      return {503, kJson, ErrorJson(error), {}, false};
    }
    return {404, kJson, ErrorJson("nieznany rejestrator: " + query.logger), {}, false};
  }
  if (!archive->History(*logger, query.channel, query.from_ms, query.to_ms, points, error)) {
    archive.reset();
    return {503, kJson, ErrorJson(error), {}, false};
  }
  return {200, kJson, HistoryJson(Thin(points, query.max_points, query.from_ms, query.to_ms)), {}, false};
}

void HttpEndpoint::Impl::Wake() {
  const char byte = 1;
  // A full pipe already wakes the loop.
  [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &byte, 1);
}

void HttpEndpoint::Impl::Work() {
  std::unique_lock lock(jobMutex);
  for (;;) {
    jobReady.wait(lock, [this] { return stopping || !jobs.empty(); });
    if (stopping) return;
    Job job = std::move(jobs.front());
    jobs.pop_front();
    lock.unlock();
    Response response = History(job.params);
    lock.lock();
    answered.emplace_back(job.id, std::move(response));
    Wake();
  }
}

bool HttpEndpoint::Impl::Evict() {
  // The connection that has waited longest for its request to end: a slow client's, never a quick one.
  auto oldest = connections.end();
  for (auto it = connections.begin(); it != connections.end(); ++it) {
    if (it->second.closed || it->second.state == Connection::State::Handling) continue;
    if (oldest == connections.end() || it->second.since < oldest->second.since) oldest = it;
  }
  if (oldest == connections.end()) return false;
  oldest->second.closed = true;
  return true;
}

void HttpEndpoint::Impl::Accept() {
  for (;;) {
    size_t open = 0;
    for (const auto& [id, c] : connections) open += c.closed ? 0 : 1;
    if (open >= kMaxConnections && !Evict()) {
      acceptPaused = Steady::now() + std::chrono::seconds(1);
      return;
    }
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // Out of descriptors: a slow client's goes, and the next round takes the new one.
      if ((errno == EMFILE || errno == ENFILE) && !Evict())
        acceptPaused = Steady::now() + std::chrono::seconds(1);
      return;
    }
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    Connection c;
    c.fd = fd;
    c.since = Steady::now();
    c.deadline = c.since + requestTime;
    connections.emplace(nextId++, std::move(c));
  }
}

void HttpEndpoint::Impl::Read(uint64_t id, Connection& c) {
  char buffer[16384];
  for (;;) {
    const size_t room = kMaxHead + kMaxBody + 4 - c.in.size();
    if (room == 0) break;
    const ssize_t n = ::recv(c.fd, buffer, std::min(room, sizeof buffer), 0);
    if (n > 0) {
      c.in.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0) {
      c.closed = true;
      return;
    }
    // What came before the end is still answered; a request cut short is not.
    c.eof = true;
    break;
  }
  Advance(id, c);
}

void HttpEndpoint::Impl::Advance(uint64_t id, Connection& c) {
  while (!c.closed && c.state == Connection::State::Reading && !c.in.empty()) {
    Request request;
    size_t used = 0;
    int status = 0;
    const Parsed parsed = ParseRequest(c.in, request, used, status);
    if (parsed == Parsed::Incomplete) break;
    if (parsed == Parsed::Refused) {
      c.head = false;
      Reply(c, Refusal(status));
      return;
    }
    c.in.erase(0, used);
    c.head = request.method == "HEAD";
    c.keepAlive = request.keepAlive;
    if (request.path == "/api/history" && (request.method == "GET" || c.head)) {
      if (historyWaiting >= kMaxHistoryWaiting) {
        Reply(c, Text(503, "Za dużo zapytań o historię naraz, spróbuj za chwilę\n"));
        continue;
      }
      ++historyWaiting;
      c.state = Connection::State::Handling;
      {
        std::lock_guard lock(jobMutex);
        jobs.push_back({id, std::move(request.params)});
      }
      jobReady.notify_one();
      return;
    }
    Reply(c, Route(request));
  }
  if (c.eof && c.state == Connection::State::Reading) c.closed = true;
}

void HttpEndpoint::Impl::Reply(Connection& c, const Response& response) {
  c.closeAfter = response.close || !c.keepAlive;
  c.out = Serialise(response, c.head, c.closeAfter);
  c.sent = 0;
  c.state = Connection::State::Writing;
  c.deadline = Steady::now() + kWriteTime;
  Send(c);
}

void HttpEndpoint::Impl::Send(Connection& c) {
  while (c.sent < c.out.size()) {
    const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (n > 0) {
      c.sent += static_cast<size_t>(n);
      c.deadline = Steady::now() + kWriteTime;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    c.closed = true;
    return;
  }
  c.out.clear();
  c.out.shrink_to_fit();
  const auto now = Steady::now();
  if (c.closeAfter) {
    // The client may still be sending what was refused: closing at once would reset the connection
    // and could lose the answer, so the rest is read and dropped for a moment first.
    ::shutdown(c.fd, SHUT_WR);
    c.state = Connection::State::Lingering;
    c.in.clear();
    c.deadline = now + kLingerTime;
    return;
  }
  c.state = Connection::State::Reading;
  c.since = now;
  c.deadline = now + requestTime;
}

void HttpEndpoint::Impl::Linger(Connection& c) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      c.discarded += static_cast<size_t>(n);
      if (c.discarded > kMaxLingerBytes) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    break;
  }
  c.closed = true;
}

void HttpEndpoint::Impl::Loop() {
  std::vector<pollfd> fds;
  std::vector<uint64_t> ids;
  while (!stopping) {
    fds.clear();
    ids.clear();
    fds.push_back({wakeRead, POLLIN, 0});
    const bool accepting = Steady::now() >= acceptPaused;
    fds.push_back({listenFd, static_cast<short>(accepting ? POLLIN : 0), 0});
    auto next = accepting ? Steady::time_point::max() : acceptPaused;
    for (auto& [id, c] : connections) {
      short events = 0;
      switch (c.state) {
        case Connection::State::Reading:
        case Connection::State::Lingering:
          events = POLLIN;
          break;
        case Connection::State::Writing:
          events = POLLOUT;
          break;
        case Connection::State::Handling:
          continue;
      }
      fds.push_back({c.fd, events, 0});
      ids.push_back(id);
      next = std::min(next, c.deadline);
    }
    int timeout = -1;
    if (next != Steady::time_point::max()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Steady::now()).count();
      timeout = static_cast<int>(std::clamp<int64_t>(wait, 0, 60'000));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (stopping) break;

    if (fds[0].revents != 0) {
      char drain[64];
      while (::read(wakeRead, drain, sizeof drain) > 0) {
      }
      std::deque<std::pair<uint64_t, Response>> done;
      {
        std::lock_guard lock(jobMutex);
        done.swap(answered);
      }
      for (auto& [id, response] : done) {
        --historyWaiting;
        const auto it = connections.find(id);
        if (it == connections.end()) continue;
        Connection& c = it->second;
        if (c.closed) continue;
        Reply(c, response);
        if (c.state == Connection::State::Reading) Advance(id, c);
      }
    }
    for (size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      const uint64_t id = ids[i - 2];
      Connection& c = connections.at(id);
      if (c.closed) continue;
      switch (c.state) {
        case Connection::State::Reading:
          Read(id, c);
          break;
        case Connection::State::Writing:
          Send(c);
          if (c.state == Connection::State::Reading) Advance(id, c);
          break;
        case Connection::State::Lingering:
          Linger(c);
          break;
        case Connection::State::Handling:
          break;
      }
    }
    const auto now = Steady::now();
    for (auto& [id, c] : connections) {
      if (c.closed || c.state == Connection::State::Handling || now < c.deadline) continue;
      if (c.state == Connection::State::Reading && !c.in.empty()) {
        // Part of a request and no more: a slow client is told so and let go.
        c.head = false;
        Reply(c, Refusal(408));
        if (c.state == Connection::State::Writing) c.closed = true;  // it does not read either
      } else {
        c.closed = true;
      }
    }
    if (fds[1].revents != 0) Accept();
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->second.closed) {
        ::close(it->second.fd);
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }
}

HttpEndpoint::HttpEndpoint(SnapshotSource snapshot, std::string archive_location, ArchiveSource archive_state)
    : impl_(std::make_unique<Impl>()) {
  impl_->snapshot = std::move(snapshot);
  impl_->archiveLocation = std::move(archive_location);
  impl_->archiveState = std::move(archive_state);
}

HttpEndpoint::~HttpEndpoint() { Stop(); }

bool HttpEndpoint::Start(const std::string& listen, std::string& error) {
  if (impl_->loop.joinable()) {
    error = "the HTTP endpoint is running already";
    return false;
  }
  std::string host;
  int port = 0;
  if (!ParseListenAddress(listen, host, port, error)) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    error = ::gai_strerror(resolved);
    return false;
  }
  int cause = 0;
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      cause = errno;
      continue;
    }
    // SO_REUSEADDR alone: SO_REUSEPORT would let a second station share the port unnoticed.
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
      cause = errno;
      CloseFd(fd);
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) {
    error = cause != 0 ? std::strerror(cause) : "cannot listen there";
    return false;
  }
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
  impl_->port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  int wake[2];
  if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    CloseFd(fd);
    return false;
  }
  impl_->listenFd = fd;
  impl_->wakeRead = wake[0];
  impl_->wakeWrite = wake[1];
  impl_->stopping = false;
  impl_->loop = std::thread([impl = impl_.get()] { impl->Loop(); });
  impl_->worker = std::thread([impl = impl_.get()] { impl->Work(); });
  return true;
}

void HttpEndpoint::Stop() {
  if (!impl_->loop.joinable()) return;
  {
    std::lock_guard lock(impl_->jobMutex);
    impl_->stopping = true;
  }
  impl_->jobReady.notify_all();
  impl_->Wake();
  impl_->loop.join();
  impl_->worker.join();
  for (auto& [id, c] : impl_->connections) ::close(c.fd);
  impl_->connections.clear();
  impl_->jobs.clear();
  impl_->answered.clear();
  impl_->historyWaiting = 0;
  CloseFd(impl_->listenFd);
  CloseFd(impl_->wakeRead);
  CloseFd(impl_->wakeWrite);
}

void HttpEndpoint::SetRequestTimeout(std::chrono::milliseconds timeout) { impl_->requestTime = timeout; }

int HttpEndpoint::Port() const { return impl_->port; }

}  // namespace velutron::station
