#include <gtest/gtest.h>

#include "station/Config.h"

namespace velutron::station {
namespace {

TEST(ConfigTest, TheExampleConfigurationReadsWhole) {
  StationConfig c;
  std::string error;
  ASSERT_TRUE(ParseConfig(R"(archive = "site.db"
interval_s = 30
listen = "127.0.0.1:9457"
[[logger]]
port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12B-if00-port0"
parity = "odd"
name = "Chłodnia A"
[[logger]]
port = "COM2"
[alarms]
delay_s = 300
clear_margin_c = 0.5
link_lost_s = 60
clock_drift_s = 120
repeat_s = 3600
command = ["/usr/bin/notify-send", "Velutron"]
command_timeout_s = 30
[[override]]
logger = "Chłodnia A"
channel = 3
low_c = -25
high_c = -15
)",
                          "site.toml", c, error))
      << error;
  ASSERT_TRUE(CheckConfig(c, error)) << error;
  const std::vector<WatcherSetup> setups = WatcherSetups(c);
  ASSERT_EQ(setups.size(), 2u);
  EXPECT_EQ(setups[0].name, "Chłodnia A");
  EXPECT_EQ(setups[0].parity, Parity::Odd);
  EXPECT_EQ(setups[0].interval_s, 30);
  EXPECT_EQ(setups[0].overrides.at(3).low, -25);
  EXPECT_EQ(setups[0].overrides.at(3).high, -15);
  EXPECT_EQ(setups[1].name, "COM2");
  EXPECT_TRUE(setups[1].overrides.empty());
  EXPECT_EQ(setups[1].alarms.command, (std::vector<std::string>{"/usr/bin/notify-send", "Velutron"}));
}

TEST(ConfigTest, AnErrorNamesTheFileTheLineAndTheKey) {
  const std::pair<const char*, const char*> rows[] = {
      {"interval_s = 0", "site.toml:1: interval_s: must be a whole number from 1 to 3600"},
      {"\n[alarms]\ndelay_s = \"5\"", "site.toml:3: alarms.delay_s: must be a whole number from 0 to 86400"},
      {"colour = 1", "site.toml:1: colour: unknown key"},
      {"[[logger]]\nparity = \"even\"", "site.toml:1: logger.port: missing"},
      {"[[logger]]\nport = \"COM1\"\nparity = \"none\"",
       "site.toml:3: logger.parity: must be \"even\" or \"odd\""},
      {"listen = \"localhost\"", "site.toml:1: listen: must be ADDRESS:PORT, such as \"127.0.0.1:9457\""},
      {"listen = \"localhost:9457\"",
       "site.toml:1: listen: localhost is not an IPv4 address or a [bracketed] IPv6 one"},
      {"listen = \"[::1:9457\"", "site.toml:1: listen: must be ADDRESS:PORT, such as \"127.0.0.1:9457\""},
      {"listen = \"127.0.0.1:94x\"", "site.toml:1: listen: the port must be a number 0 to 65535, not 94x"},
      {"[alarms]\ncommand = []",
       "site.toml:2: alarms.command: must be a list of texts: the program and its arguments"},
      {"[[override]]\nlogger = \"A\"\nchannel = 11",
       "site.toml:3: override.channel: must be a whole number from 1 to 10"},
      {"logger = 1", "site.toml:1: logger: must be written [[logger]]"},
      {"archive = ", "site.toml:1: "},  // toml++'s own words follow
      {"[[logger]]\nport = \"COM1\"\n[[logger]]\nport = \"COM1\"", "logger.port: COM1 is given twice"},
      {"[[logger]]\nport = \"COM1\"\n[[logger]]\nport = \"com1\"",
       "logger.port: com1 and COM1 are the same device, "},
      {"[[logger]]\nport = \"COM1\"\nname = \"COM2\"\n[[logger]]\nport = \"COM2\"",
       "logger.name: COM2 names two loggers (one without a name is named after its port)"},
      {"[[logger]]\nport = \"COM1\"\n[[override]]\nlogger = \"B\"\nchannel = 1",
       "override.logger: no logger named B"},
      {"archive = \"a.db\"", "no logger: give --port, or [[logger]] in the configuration"},
  };
  for (const auto& [text, expected] : rows) {
    SCOPED_TRACE(text);
    StationConfig c;
    std::string error;
    EXPECT_FALSE(ParseConfig(text, "site.toml", c, error) && CheckConfig(c, error));
    EXPECT_TRUE(error.starts_with(expected)) << error;
  }
}

TEST(ConfigTest, DurationsReadInSecondsMinutesHoursAndDays) {
  const std::pair<const char*, std::optional<int64_t>> rows[] = {
      {"90", 90'000},       {"90s", 90'000},        {"15m", 900'000},    {"2h", 7'200'000},
      {"1d", 86'400'000},   {"", std::nullopt},     {"x", std::nullopt}, {"5w", std::nullopt},
      {"-1", std::nullopt}, {"1.5h", std::nullopt},
  };
  for (const auto& [text, ms] : rows) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseDuration(text), ms);
  }
}

}  // namespace
}  // namespace velutron::station
