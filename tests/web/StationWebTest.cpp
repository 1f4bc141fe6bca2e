// End to end: velutron-station on two velutron-sim loggers over pseudo-terminals, scraped by a real
// Prometheus server, its status page loaded in headless Chromium.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/SimProcess.h"

namespace velutron::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Tries `condition` up to `tries` times, 100 ms apart, until it holds.
bool Eventually(const std::function<bool()>& condition, int tries = 300) {
  for (int i = 0; i < tries && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return condition();
}

// A port of 127.0.0.1 that nothing listens on now.
int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  const bool bound = bind(s, reinterpret_cast<sockaddr*>(&a), size) == 0 &&
                     getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0;
  close(s);
  return bound ? ntohs(a.sin_port) : 0;
}

json GetJson(int port, const std::string& path) {
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(2);
  client.set_read_timeout(5);
  const auto r = client.Get(path);
  return r && r->status == 200 ? json::parse(r->body, nullptr, false) : json();
}

// A program in the background, output to `log`, ended with SIGTERM (then SIGKILL) with the object.
struct Background {
  Background(std::vector<std::string> argv, const fs::path& log, std::vector<std::string> env = {}) {
    if ((pid = fork()) != 0) return;
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    for (std::string& e : env) putenv(e.data());
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  ~Background() {
    kill(pid, SIGTERM);
    if (!Eventually([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 50)) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  pid_t pid = -1;
};

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Two loggers with fixed readings (band -5..25 °C): a cold store at 20.0 °C (inside) and 32.5 °C (above),
// a greenhouse at -5.0 °C (on the low limit: below) and a sensor that reads nothing.
class StationWebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cold_.Ready() && greenhouse_.Ready());
    fs::create_directories(dir_);
    std::ofstream(dir_ / "station.toml") << "archive = \"" << (dir_ / "velutron.db").string() << "\"\n"
                                         << "interval_s = 1\nlisten = \"127.0.0.1:" << port_ << "\"\n"
                                         << "[[logger]]\nport = \"COM1\"\nname = \"Chłodnia A\"\n"
                                         << "[[logger]]\nport = \"COM2\"\nname = \"Szklarnia <B>\"\n";
    station_ = std::make_unique<Background>(
        std::vector<std::string>{VELUTRON_STATION_PATH, "--config", (dir_ / "station.toml").string()},
        dir_ / "station.log",
        std::vector<std::string>{"VELUTRON_PORT_DIR=" + cold_.PortDir(),
                                 "VELUTRON_STATION_SOCKET=" + (dir_ / "station.sock").string()});
    // Ready once both loggers have answered a reading.
    ASSERT_TRUE(Eventually([&] {
      const json current = GetJson(port_, "/api/current");
      if (!current.is_object() || current["loggers"].size() != 2) return false;
      for (const auto& l : current["loggers"]) {
        if (!l["up"].get<bool>() || l["channels"].size() != 2 || l["channels"][0]["value"].is_null())
          return false;
      }
      return true;
    })) << Read(dir_ / "station.log");
  }
  void TearDown() override {
    station_.reset();
    fs::remove_all(dir_);
  }

  fs::path dir_ = fs::temp_directory_path() / ("velutron-web-" + std::to_string(getpid()));
  SimProcess cold_{{"--sensors", "2", "--reading", "1=1200", "--reading", "2=1400"}, 1};
  SimProcess greenhouse_{{"--sensors", "2", "--reading", "1=800", "--reading", "2=0"}, 2, cold_.PortDir()};
  int port_ = FreePort();
  std::unique_ptr<Background> station_;
};

TEST_F(StationWebTest, PrometheusScrapesTheSimulatedReadings) {
  if (!fs::exists("/usr/bin/prometheus")) GTEST_SKIP() << "/usr/bin/prometheus is not installed";
  std::ofstream(dir_ / "prometheus.yml") << "global:\n  scrape_interval: 1s\nscrape_configs:\n"
                                            "  - job_name: velutron\n    static_configs:\n"
                                            "      - targets: [\"127.0.0.1:"
                                         << port_ << "\"]\n";
  const int promPort = FreePort();
  Background prometheus({"/usr/bin/prometheus", "--config.file=" + (dir_ / "prometheus.yml").string(),
                         "--storage.tsdb.path=" + (dir_ / "tsdb").string(),
                         "--web.listen-address=127.0.0.1:" + std::to_string(promPort), "--log.level=warn"},
                        dir_ / "prometheus.log");
  const std::pair<std::string, std::string> cases[] = {
      {R"(velutron_temperature_celsius{logger="Chłodnia A",channel="1"})", "20"},
      {R"(velutron_temperature_celsius{logger="Chłodnia A",channel="2"})", "32.5"},
      {R"(velutron_temperature_celsius{logger="Szklarnia <B>",channel="1"})", "-5"},
      {R"(velutron_reading_valid{logger="Szklarnia <B>",channel="2"})", "0"},
      {R"(velutron_limit_celsius{logger="Chłodnia A",channel="1",bound="high"})", "25"},
  };
  for (const auto& [query, value] : cases) {
    SCOPED_TRACE(query);
    json result;
    ASSERT_TRUE(Eventually([&] {
      result = GetJson(promPort, "/api/v1/query?query=" + httplib::detail::encode_query_param(query));
      return result.is_object() && result["data"]["result"].size() == 1;
    })) << Read(dir_ / "prometheus.log");
    EXPECT_EQ(result["data"]["result"][0]["value"][1], value);
  }
}

TEST_F(StationWebTest, StatusPageShowsTheChannelsInTheirColours) {
  if (!fs::exists("/usr/bin/chromium")) GTEST_SKIP() << "/usr/bin/chromium is not installed";
  Command c;
  c.argv = {"/usr/bin/chromium",
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--no-first-run",
            "--user-data-dir=" + (dir_ / "chromium").string(),
            "--virtual-time-budget=5000",
            "--dump-dom",
            "http://127.0.0.1:" + std::to_string(port_) + "/"};
  c.timeoutMs = 60'000;
  // On a busy machine a logger can miss one reading's time-out; the page then rightly shows it lost, so
  // the page is loaded again until both answered.
  std::string dom;
  for (int attempt = 0; attempt < 5 && (dom.empty() || dom.find("logger down") != std::string::npos);
       ++attempt) {
    const CommandResult r = RunCommand(c);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    dom = r.out;
  }
  const std::string expected[] = {
      "<section class=\"logger\" data-logger=\"Chłodnia A\">",
      "<div class=\"point\">1. Freezer 1</div>\n<div class=\"value inside\" "
      "style=\"color:#008000\">20,0°C</div>\n"
      "<div class=\"band\">-5°C&lt;AL&gt;25°C</div>",
      "<div class=\"value above\" style=\"color:#ff0000\">32,5°C</div>",
      "<section class=\"logger\" data-logger=\"Szklarnia &lt;B&gt;\">\n<h2>Szklarnia &lt;B&gt;",
      "<div class=\"value below\" style=\"color:#0000ff\">-5,0°C</div>",
      "<div class=\"value above\" style=\"color:#ff0000\">ERROR!</div>",
      // The page's own script drew the last 24 hours from /api/history.
      "<path class=\"line\" d=\"M",
  };
  for (const std::string& part : expected) EXPECT_NE(dom.find(part), std::string::npos) << part;
  if (HasFailure()) ADD_FAILURE() << dom;
}

}  // namespace
}  // namespace velutron::test
