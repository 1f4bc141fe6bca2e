// The station's /metrics and status page: rendering alone, and whole requests over the loopback with
// a kept-alive connection, for a station of four loggers of ten channels; and /metrics on a new
// connection each time beside 0 and 200 clients that never finish their request (the two should take
// about as long).
//   build/dev/bench/velutron_http_bench --benchmark_min_time=2

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "station/Http.h"
#include "station/Metrics.h"
#include "station/StatusPage.h"

namespace {

using velutron::station::ChannelSnapshot;
using velutron::station::LoggerSnapshot;

std::vector<LoggerSnapshot> Station() {
  std::vector<LoggerSnapshot> loggers;
  for (int l = 1; l <= 4; ++l) {
    LoggerSnapshot s;
    s.name = "Chłodnia " + std::to_string(l);
    s.serial = "VT-20" + std::to_string(l);
    s.up = true;
    s.last_reading_utc_ms = 1796709970000;
    s.clock_offset_s = -1.5;
    for (int c = 1; c <= 10; ++c) {
      s.channels.push_back(ChannelSnapshot{c,
                                           "Punkt " + std::to_string(c),
                                           velutron::archive::Unit::Celsius,
                                           -18.0625 + c,
                                           "",
                                           -25.0,
                                           -15.0,
                                           {}});
    }
    s.poll_bucket_bounds_s = {0.05, 0.1, 0.25, 0.5, 1, 2.5};
    s.poll_bucket_counts = {0, 10, 900, 1000, 1000, 1000};
    s.poll_sum_s = 250;
    s.poll_count = 1000;
    s.archive_readings_total = 10000;
    loggers.push_back(std::move(s));
  }
  return loggers;
}

void BM_RenderMetrics(benchmark::State& state) {
  const auto loggers = Station();
  for (auto _ : state) benchmark::DoNotOptimize(velutron::station::RenderMetrics(loggers));
}
BENCHMARK(BM_RenderMetrics);

void Request(benchmark::State& state, const char* path, int slow_clients = -1) {
  const auto loggers = Station();
  velutron::station::HttpEndpoint endpoint([&loggers] { return loggers; }, "");
  std::string error;
  if (!endpoint.Start("127.0.0.1:0", error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<int> slow;
  for (int i = 0; i < slow_clients; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(endpoint.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    send(fd, "GET /metrics HTTP/1.1\r\nHost", 27, MSG_NOSIGNAL);
    slow.push_back(fd);
  }
  httplib::Client client("127.0.0.1", endpoint.Port());
  client.set_keep_alive(slow_clients < 0);
  client.set_read_timeout(5);
  size_t bytes = 0;
  for (auto _ : state) {
    auto r = client.Get(path);
    if (!r || r->status != 200) {
      state.SkipWithError("request failed");
      break;
    }
    bytes += r->body.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  for (int fd : slow) close(fd);
}

void BM_MetricsRequest(benchmark::State& state) { Request(state, "/metrics"); }
BENCHMARK(BM_MetricsRequest)->UseRealTime();

void BM_MetricsBesideSlowClients(benchmark::State& state) {
  Request(state, "/metrics", static_cast<int>(state.range(0)));
}
BENCHMARK(BM_MetricsBesideSlowClients)->Arg(0)->Arg(200)->UseRealTime();

void BM_StatusPageRequest(benchmark::State& state) { Request(state, "/"); }
BENCHMARK(BM_StatusPageRequest)->UseRealTime();

}  // namespace
