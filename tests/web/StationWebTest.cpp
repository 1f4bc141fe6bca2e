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

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/SimProcess.h"

namespace velutron::test {
namespace {

namespace fs = std::filesystem;

// A port of 127.0.0.1 that nothing listens on now.
int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    close(s);
    return 0;
  }
  close(s);
  return ntohs(a.sin_port);
}

// Tries `condition` up to `tries` times, 100 ms apart, until it holds.
template <class Condition>
bool Eventually(Condition condition, int tries = 300) {
  for (int i = 0; i < tries; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// A program that runs in the background until the test stops it with SIGTERM; its output goes to a file.
class Background {
 public:
  Background(std::vector<std::string> argv, const fs::path& log, std::vector<std::string> env = {}) {
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (std::string& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Background() { Stop(); }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  bool Running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  // SIGTERM, then the exit code (-1 when it had to be killed).
  int Stop() {
    if (pid_ <= 0) return code_;
    kill(pid_, SIGTERM);
    int status = 0;
    const bool ended = Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 100);
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    code_ = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return code_;
  }

 private:
  pid_t pid_ = -1;
  int code_ = -1;
};

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Two loggers with fixed readings: a cold store at 20.0 °C (inside its band of -5..25 °C) and 32.5 °C
// (above), a greenhouse at -5.0 °C (on its low limit: below) and a sensor that reads nothing.
class StationWebTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(fs::temp_directory_path() / ("velutron-web-" + std::to_string(getpid())));
    fs::create_directories(*dir_);
    cold_ = new SimProcess({"--sensors", "2", "--reading", "1=1200", "--reading", "2=1400"}, 1);
    greenhouse_ =
        new SimProcess({"--sensors", "2", "--reading", "1=800", "--reading", "2=0"}, 2, cold_->PortDir());
    port_ = FreePort();
    std::ofstream(*dir_ / "station.toml")
        << "archive = \"" << (*dir_ / "velutron.db").string() << "\"\n"
        << "interval_s = 1\n"
        << "listen = \"127.0.0.1:" << port_ << "\"\n"
        << "[[logger]]\nport = \"COM1\"\nparity = \"even\"\nname = \"Chłodnia A\"\n"
        << "[[logger]]\nport = \"COM2\"\nparity = \"even\"\n"
        << "name = \"Szklarnia <B>\"\n";
    station_ = new Background(
        {VELUTRON_STATION_PATH, "--config", (*dir_ / "station.toml").string(), "--log-level", "warn"},
        *dir_ / "station.log",
        {"VELUTRON_PORT_DIR=" + cold_->PortDir(),
         "VELUTRON_STATION_SOCKET=" + (*dir_ / "station.sock").string()});
    // Ready once both loggers have answered a reading with values.
    httplib::Client client("127.0.0.1", port_);
    ready_ = Eventually([&] {
      const auto r = client.Get("/api/current");
      if (!r || r->status != 200) return false;
      const auto current = nlohmann::json::parse(r->body, nullptr, false);
      if (current.is_discarded() || current["loggers"].size() != 2) return false;
      for (const auto& l : current["loggers"]) {
        if (!l["up"].get<bool>() || l["channels"].size() != 2 || l["channels"][0]["value"].is_null())
          return false;
      }
      return true;
    });
  }
  static void TearDownTestSuite() {
    delete station_;
    delete greenhouse_;
    delete cold_;
    fs::remove_all(*dir_);
    delete dir_;
  }
  void SetUp() override {
    ASSERT_TRUE(cold_->Ready() && greenhouse_->Ready());
    ASSERT_TRUE(ready_) << Read(*dir_ / "station.log");
  }

  static inline fs::path* dir_;
  static inline SimProcess* cold_;
  static inline SimProcess* greenhouse_;
  static inline Background* station_;
  static inline int port_ = 0;
  static inline bool ready_ = false;
};

TEST_F(StationWebTest, PrometheusScrapesTheSimulatedReadings) {
  if (!fs::exists("/usr/bin/prometheus")) GTEST_SKIP() << "/usr/bin/prometheus is not installed";
  const fs::path storage = *dir_ / "prometheus";
  fs::create_directories(storage);
  std::ofstream(*dir_ / "prometheus.yml") << "global:\n  scrape_interval: 1s\n"
                                             "scrape_configs:\n  - job_name: velutron\n"
                                             "    static_configs:\n      - targets: [\"127.0.0.1:"
                                          << port_ << "\"]\n";
  const int promPort = FreePort();
  Background prometheus({"/usr/bin/prometheus", "--config.file=" + (*dir_ / "prometheus.yml").string(),
                         "--storage.tsdb.path=" + storage.string(),
                         "--web.listen-address=127.0.0.1:" + std::to_string(promPort), "--log.level=warn"},
                        *dir_ / "prometheus.log");
  httplib::Client client("127.0.0.1", promPort);
  const struct {
    std::string query;
    std::string value;
  } cases[] = {
      {R"(velutron_temperature_celsius{logger="Chłodnia A",channel="1"})", "20"},
      {R"(velutron_temperature_celsius{logger="Chłodnia A",channel="2"})", "32.5"},
      {R"(velutron_temperature_celsius{logger="Szklarnia <B>",channel="1"})", "-5"},
      {R"(velutron_reading_valid{logger="Szklarnia <B>",channel="2"})", "0"},
      {R"(velutron_up{logger="Szklarnia <B>"})", "1"},
      {R"(velutron_limit_celsius{logger="Chłodnia A",channel="1",bound="high"})", "25"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    std::string value;
    const bool found = Eventually([&] {
      const auto r = client.Get("/api/v1/query?query=" + httplib::detail::encode_query_param(c.query));
      if (!r || r->status != 200) return false;
      const auto answer = nlohmann::json::parse(r->body, nullptr, false);
      if (answer.is_discarded() || answer["data"]["result"].size() != 1) return false;
      value = answer["data"]["result"][0]["value"][1].get<std::string>();
      return true;
    });
    ASSERT_TRUE(found) << Read(*dir_ / "prometheus.log");
    EXPECT_EQ(value, c.value);
  }
  EXPECT_EQ(prometheus.Stop(), 0) << Read(*dir_ / "prometheus.log");
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
            "--user-data-dir=" + (*dir_ / "chromium").string(),
            "--virtual-time-budget=5000",
            "--dump-dom",
            "http://127.0.0.1:" + std::to_string(port_) + "/"};
  c.timeoutMs = 60'000;
  // On a busy machine a logger can miss one reading's time-out; the page then rightly shows it lost, so
  // the page is loaded again until both answered.
  std::string dom;
  for (int attempt = 0; attempt < 5; ++attempt) {
    const CommandResult r = RunCommand(c);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    dom = r.out;
    if (dom.find("class=\"logger down\"") == std::string::npos) break;
  }
  const std::string expected[] = {
      "<section class=\"logger\" data-logger=\"Chłodnia A\">",
      "<div class=\"point\">1. Freezer 1</div>\n"
      "<div class=\"value inside\" style=\"color:#008000\">20,0°C</div>\n"
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

TEST_F(StationWebTest, StopsCleanlyOnSigterm) {
  EXPECT_EQ(station_->Stop(), 0) << Read(*dir_ / "station.log");
  EXPECT_FALSE(httplib::Client("127.0.0.1", port_).Get("/metrics"));
}

}  // namespace
}  // namespace velutron::test
