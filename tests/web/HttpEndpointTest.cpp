// The HTTP endpoint on a free port of 127.0.0.1, with its history from a real SQLite archive.

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "station/Http.h"

namespace velutron::station {
namespace {

using archive::Unit;

// 2026-12-08T06:06:10Z
constexpr int64_t kT = 1796709970000;

// A connection of its own to the endpoint, with `request` sent on it.
int Connect(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval patience{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

// All the endpoint answers on `fd` until it closes the connection (or 5 s pass without a byte).
std::string Answer(int fd) {
  std::string answer;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
  close(fd);
  return answer;
}

class HttpEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ =
        std::filesystem::temp_directory_path() / ("velutron_http_" + std::to_string(getpid()) + ".db");
    std::filesystem::remove(database_);
    std::string error;
    auto a = archive::OpenArchive(database_.string(), error);
    ASSERT_TRUE(a) << error;
    const auto key = a->Logger({"Chłodnia A", "Zakład", "VT-2031"}, error);
    ASSERT_TRUE(key) << error;
    ASSERT_TRUE(a->SetChannels(*key, kT, {{1, "Mroźnia", Unit::Celsius, -25, -15}}, error)) << error;
    for (int i = 0; i < 3; ++i) {
      archive::Interval interval{kT + i * 10'000, std::nullopt, {{1, Unit::Celsius, -20.0625 + i, ""}}};
      if (i == 1) interval.readings[0] = {1, Unit::Celsius, std::nullopt, "ERROR!"};
      ASSERT_TRUE(a->AddInterval(*key, archive::Source::Station, interval, error)) << error;
    }
    logger_.name = "Chłodnia A";
    logger_.serial = "VT-2031";
    logger_.up = true;
    logger_.last_reading_utc_ms = kT + 20'000;
    logger_.channels = {{1, "Mroźnia", Unit::Celsius, -18.0625, "", -25, -15, {}}};
  }
  void TearDown() override {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(database_.string() + suffix);
  }

  std::filesystem::path database_;
  LoggerSnapshot logger_;
};

TEST_F(HttpEndpointTest, ServesMetricsApiAndPageReadOnly) {
  // The archive has been failing since kT.
  HttpEndpoint endpoint([this] { return std::vector<LoggerSnapshot>{logger_}; }, database_.string(),
                        [] {
                          return ArchiveSnapshot{true, kT};
                        });
  std::string error;
  ASSERT_TRUE(endpoint.Start("127.0.0.1:0", error)) << error;
  ASSERT_GT(endpoint.Port(), 0);
  httplib::Client client("127.0.0.1", endpoint.Port());

  struct Case {
    std::string method, path;
    int status;
    std::string contentType;
    std::string body;  // the whole body, or a part of it when `part`
    bool part = false;
  };
  const std::string json = "application/json; charset=utf-8";
  const std::string history = "/api/history?logger=Ch%C5%82odnia%20A&channel=1&from=2026-12-08T06:00Z&to=";
  // clang-format off
  const Case cases[] = {
      {"GET", "/metrics", 200, "text/plain; version=0.0.4; charset=utf-8",
       "velutron_temperature_celsius{logger=\"Chłodnia A\",serial=\"VT-2031\",channel=\"1\",point=\"Mroźnia\"} "
       "-18.0625\n", true},
      {"GET", "/api/current", 200, json, R"("channels":[{"channel":1,"point":"Mroźnia","unit":"°C","value":-18.0625)", true},
      {"GET", "/metrics", 200, "text/plain; version=0.0.4; charset=utf-8",
       "# TYPE velutron_archive_failing gauge\nvelutron_archive_failing 1\n"
       "# HELP velutron_archive_failing_since_timestamp_seconds Unix time of the first failed write while the "
       "archive fails.\n# TYPE velutron_archive_failing_since_timestamp_seconds gauge\n"
       "velutron_archive_failing_since_timestamp_seconds 1796709970\n", true},
      {"GET", "/api/current", 200, json, R"(,"archive":{"failing":true,"since":"2026-12-08T06:06:10Z"}})", true},
      {"GET", "/", 200, "text/html; charset=utf-8",
       "<h1>Stan rejestratorów</h1>\n<p class=\"archive-failing\" role=\"alert\">Błąd zapisu do archiwum: "
       "odczyty czekają w pamięci i nie są zapisywane (pierwszy błąd <span class=\"age\" "
       "data-time=\"2026-12-08T06:06:10Z\">", true},
      {"GET", history + "2026-12-08T07:00Z", 200, json,
       R"({"readings":[{"time":"2026-12-08T06:06:10Z","value":-20.0625,"status":null},)"
       R"({"time":"2026-12-08T06:06:20Z","value":null,"status":"ERROR!"},)"
       R"({"time":"2026-12-08T06:06:30Z","value":-18.0625,"status":null}]})"},
      {"GET", history + "2026-12-08T06:06:20Z", 200, json,
       R"({"readings":[{"time":"2026-12-08T06:06:10Z","value":-20.0625,"status":null}]})"},
      {"GET", "/api/history?logger=Nikt&channel=1", 404, json, R"({"error":"nieznany rejestrator: Nikt"})"},
      {"GET", "/api/history?logger=Nikt&channel=0", 400, json, R"({"error":"channel: numer kanału od 1 do 10"})"},
      {"GET", "/", 200, "text/html; charset=utf-8",
       "<div class=\"value inside\" style=\"color:#008000\">-18,1°C</div>", true},
      {"GET", "/status.js", 200, "text/javascript; charset=utf-8", "fetch('/api/history?'", true},
      {"GET", "/status.css", 200, "text/css; charset=utf-8", ".value.above { color: #ff0000; }", true},
      {"GET", "/nic", 404, "text/plain; charset=utf-8", "Nie ma takiej strony\n"},
      {"POST", "/metrics", 405, "text/plain; charset=utf-8", "Tylko do odczytu: GET\n"},
      {"DELETE", "/api/current", 405, "text/plain; charset=utf-8", "Tylko do odczytu: GET\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path);
    httplib::Result r = c.method == "GET"    ? client.Get(c.path)
                        : c.method == "POST" ? client.Post(c.path, "x", "text/plain")
                                             : client.Delete(c.path);
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(r->status, c.status);
    EXPECT_EQ(r->get_header_value("Content-Type"), c.contentType);
    EXPECT_EQ(r->get_header_value("Cache-Control"), "no-store");
    if (c.part) {
      EXPECT_NE(r->body.find(c.body), std::string::npos) << r->body;
    } else {
      EXPECT_EQ(r->body, c.body);
    }
  }
  // The page may run only its own script.
  EXPECT_EQ(client.Get("/")->get_header_value("Content-Security-Policy"),
            "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; connect-src 'self'; "
            "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
}

TEST_F(HttpEndpointTest, SlowAndOversizedRequestsNeitherBlindNorBurdenIt) {
  HttpEndpoint endpoint([this] { return std::vector<LoggerSnapshot>{logger_}; }, database_.string());
  std::string error;
  ASSERT_TRUE(endpoint.Start("127.0.0.1:0", error)) << error;
  // 200 clients that never finish their request…
  std::vector<int> slow;
  for (int i = 0; i < 200; ++i)
    slow.push_back(Connect(endpoint.Port(), "GET /metrics HTTP/1.1\r\nHost: x\r\n"));
  ASSERT_EQ(std::count(slow.begin(), slow.end(), -1), 0);
  // …and Prometheus, with a time-out shorter than the server's, is still answered every time.
  httplib::Client client("127.0.0.1", endpoint.Port());
  client.set_connection_timeout(3);
  client.set_read_timeout(3);
  int answered = 0;
  for (int i = 0; i < 20; ++i) {
    const auto r = client.Get(i % 2 ? "/metrics" : "/api/history?logger=Nikt&channel=1");
    answered += r && r->status == (i % 2 ? 200 : 404) ? 1 : 0;
  }
  EXPECT_EQ(answered, 20);
  for (int fd : slow) close(fd);

  const std::string big(9000, 'a');
  std::string many = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 70; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {"GET / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", "400 Bad Request|Nieprawidłowe żądanie\n"},
      {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       "400 Bad Request|Nieprawidłowe żądanie\n"},
      {"POST / HTTP/1.1\r\nContent-Length: 200000000\r\n\r\n" + big,
       "413 Content Too Large|Za długa treść żądania\n"},
      {many + "\r\n", "431 Request Header Fields Too Large|Za długie lub za liczne nagłówki żądania\n"},
      {"GET / HTTP/1.1\r\nX: " + big + "\r\n\r\n",
       "431 Request Header Fields Too Large|Za długie lub za liczne nagłówki żądania\n"},
      {"GET /" + big + " HTTP/1.1\r\n\r\n", "414 URI Too Long|Za długi adres w żądaniu\n"},
      {"GET /\r\n\r\n", "400 Bad Request|Nieprawidłowe żądanie\n"},
  };
  for (const auto& [request, expected] : cases) {
    SCOPED_TRACE(request.substr(0, 60));
    const int fd = Connect(endpoint.Port(), request);
    shutdown(fd, SHUT_WR);
    const std::string answer = Answer(fd);
    const size_t bar = expected.find('|');
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 " + expected.substr(0, bar));
    EXPECT_NE(answer.find("Connection: close\r\n\r\n" + expected.substr(bar + 1)), std::string::npos)
        << answer;
  }
  // Requests sent together are answered in turn on one connection; HTTP/1.0 closes it.
  const std::string two =
      Answer(Connect(endpoint.Port(), "GET /nic HTTP/1.1\r\n\r\nHEAD /nic HTTP/1.0\r\n\r\n"));
  EXPECT_NE(two.find("nosniff\r\n\r\nNie ma takiej strony\nHTTP/1.1 404 Not Found\r\n"), std::string::npos)
      << two;
  EXPECT_EQ(two.substr(two.size() - 23), "\r\nConnection: close\r\n\r\n") << two;
  endpoint.Stop();

  // A request that does not end in time is answered 408 and closed.
  HttpEndpoint patient([] { return std::vector<LoggerSnapshot>{}; }, "");
  patient.SetRequestTimeout(std::chrono::milliseconds(200));
  ASSERT_TRUE(patient.Start("127.0.0.1:0", error)) << error;
  const std::string late = Answer(Connect(patient.Port(), "GET /metrics HTTP/1.1\r\nHost"));
  EXPECT_EQ(late.substr(0, late.find("\r\n")), "HTTP/1.1 408 Request Timeout");
  EXPECT_EQ(late.substr(late.find("\r\n\r\n") + 4), "Żądanie nie nadeszło w całości na czas\n");
}

TEST_F(HttpEndpointTest, RefusesAnAddressItCannotUseWithTheReason) {
  HttpEndpoint first([] { return std::vector<LoggerSnapshot>{}; }, "");
  std::string error;
  ASSERT_TRUE(first.Start("127.0.0.1:0", error)) << error;
  const std::string taken = "127.0.0.1:" + std::to_string(first.Port());
  const std::pair<std::string, std::string> cases[] = {
      {taken, "Address already in use"},
      {"127.0.0.1:65536", "the port must be a number 0 to 65535"},
      {"127.0.0.1:x", "the port must be a number 0 to 65535"},
      {"::1:9457", "not ADDRESS:PORT or [IPv6 ADDRESS]:PORT"},
      {"[::1:9457", "no closing bracket"},
  };
  std::string host;
  int port = 0;
  EXPECT_TRUE(ParseListenAddress("[::1]:8080", host, port, error) && host == "::1" && port == 8080);
  EXPECT_TRUE(ParseListenAddress("127.0.0.1", host, port, error) && host == "127.0.0.1" && port == 9457);
  for (const auto& [listen, reason] : cases) {
    HttpEndpoint endpoint([] { return std::vector<LoggerSnapshot>{}; }, "");
    EXPECT_FALSE(endpoint.Start(listen, error)) << listen;
    EXPECT_EQ(error, reason);
  }
  // Without an archive the history says so rather than failing silently.
  httplib::Client client("127.0.0.1", first.Port());
  const auto r = client.Get("/api/history?logger=A&channel=1");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 503);
  EXPECT_EQ(r->body, R"({"error":"stacja nie prowadzi archiwum"})");
  first.Stop();
  EXPECT_FALSE(client.Get("/metrics"));
}

}  // namespace
}  // namespace velutron::station
