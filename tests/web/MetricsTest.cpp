// /metrics: the exact exposition text of the loggers' snapshots.

#include <gtest/gtest.h>

#include "station/Metrics.h"
#include "support/SimProcess.h"

namespace velutron::station {
namespace {

using archive::Unit;

ChannelSnapshot Channel(int n, std::string point, Unit unit, std::optional<double> value,
                        std::string status = {}, std::optional<double> low = {},
                        std::optional<double> high = {}, std::vector<std::string> alarms = {}) {
  return {n, std::move(point), unit, value, std::move(status), low, high, std::move(alarms)};
}

LoggerSnapshot ColdStore() {
  LoggerSnapshot l;
  l.name = "Chłodnia A";
  l.serial = "VT-2031";
  l.up = true;
  l.last_reading_utc_ms = 1796710570250;
  l.clock_offset_s = -2.5;
  l.channels = {Channel(1, "Mroźnia", Unit::Celsius, -12.5, {}, -25, -15, {"high"}),
                Channel(2, "Wilgotność", Unit::RelativeHumidity, 90.2)};
  l.poll_bucket_bounds_s = {0.1, 0.5};
  l.poll_bucket_counts = {3, 7};
  l.poll_sum_s = 1.75;
  l.poll_count = 8;
  l.archive_readings_total = 16;
  return l;
}

TEST(MetricsTest, ALoggerWithATemperatureAndAHumidityChannel) {
  EXPECT_EQ(RenderMetrics({ColdStore()}), R"(# HELP velutron_up 1 while the logger answers.
# TYPE velutron_up gauge
velutron_up{logger="Chłodnia A",serial="VT-2031"} 1
# HELP velutron_temperature_celsius The last valid temperature of a channel.
# TYPE velutron_temperature_celsius gauge
velutron_temperature_celsius{logger="Chłodnia A",serial="VT-2031",channel="1",point="Mroźnia"} -12.5
# HELP velutron_relative_humidity_percent The last valid relative humidity of a channel.
# TYPE velutron_relative_humidity_percent gauge
velutron_relative_humidity_percent{logger="Chłodnia A",serial="VT-2031",channel="2",point="Wilgotność"} 90.2
# HELP velutron_reading_valid 1 when the channel's last reading was valid.
# TYPE velutron_reading_valid gauge
velutron_reading_valid{logger="Chłodnia A",serial="VT-2031",channel="1",point="Mroźnia"} 1
velutron_reading_valid{logger="Chłodnia A",serial="VT-2031",channel="2",point="Wilgotność"} 1
# HELP velutron_limit_celsius The alarm limits in force.
# TYPE velutron_limit_celsius gauge
velutron_limit_celsius{logger="Chłodnia A",serial="VT-2031",channel="1",point="Mroźnia",bound="low"} -25
velutron_limit_celsius{logger="Chłodnia A",serial="VT-2031",channel="1",point="Mroźnia",bound="high"} -15
# HELP velutron_alarm 1 while that alarm is open.
# TYPE velutron_alarm gauge
velutron_alarm{logger="Chłodnia A",serial="VT-2031",kind="link"} 0
velutron_alarm{logger="Chłodnia A",serial="VT-2031",kind="bus"} 0
velutron_alarm{logger="Chłodnia A",serial="VT-2031",kind="clock"} 0
velutron_alarm{logger="Chłodnia A",serial="VT-2031",channel="1",point="Mroźnia",kind="high"} 1
velutron_alarm{logger="Chłodnia A",serial="VT-2031",channel="1",point="Mroźnia",kind="low"} 0
velutron_alarm{logger="Chłodnia A",serial="VT-2031",channel="1",point="Mroźnia",kind="sensor"} 0
velutron_alarm{logger="Chłodnia A",serial="VT-2031",channel="2",point="Wilgotność",kind="high"} 0
velutron_alarm{logger="Chłodnia A",serial="VT-2031",channel="2",point="Wilgotność",kind="low"} 0
velutron_alarm{logger="Chłodnia A",serial="VT-2031",channel="2",point="Wilgotność",kind="sensor"} 0
# HELP velutron_last_reading_timestamp_seconds Unix time of the logger's last answered reading.
# TYPE velutron_last_reading_timestamp_seconds gauge
velutron_last_reading_timestamp_seconds{logger="Chłodnia A",serial="VT-2031"} 1796710570.25
# HELP velutron_clock_offset_seconds The logger's clock minus the PC's.
# TYPE velutron_clock_offset_seconds gauge
velutron_clock_offset_seconds{logger="Chłodnia A",serial="VT-2031"} -2.5
# HELP velutron_poll_duration_seconds How long one reading's exchanges took.
# TYPE velutron_poll_duration_seconds histogram
velutron_poll_duration_seconds_bucket{logger="Chłodnia A",serial="VT-2031",le="0.1"} 3
velutron_poll_duration_seconds_bucket{logger="Chłodnia A",serial="VT-2031",le="0.5"} 7
velutron_poll_duration_seconds_bucket{logger="Chłodnia A",serial="VT-2031",le="+Inf"} 8
velutron_poll_duration_seconds_sum{logger="Chłodnia A",serial="VT-2031"} 1.75
velutron_poll_duration_seconds_count{logger="Chłodnia A",serial="VT-2031"} 8
# HELP velutron_archive_readings_total Readings written to the archive.
# TYPE velutron_archive_readings_total counter
velutron_archive_readings_total{logger="Chłodnia A",serial="VT-2031"} 16
)");
}

TEST(MetricsTest, UnknownValuesAreAbsentAndTextsEscaped) {
  struct Case {
    const char* what;
    LoggerSnapshot logger;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  LoggerSnapshot down = ColdStore();
  down.up = false;
  down.last_reading_utc_ms.reset();
  down.clock_offset_s.reset();
  down.open_alarms = {"link", "paused"};
  down.channels = {Channel(1, "Mroźnia", Unit::Celsius, std::nullopt, "ERROR!", -25, -15, {"sensor"}),
                   Channel(2, "Drzwi", Unit::Celsius, std::nullopt)};
  LoggerSnapshot odd = ColdStore();
  odd.name = "Hala \"B\"\\2\nnowa";
  odd.channels = {Channel(3, "a\"b", Unit::Celsius, 21.4375)};
  const std::string oddL = R"(logger="Hala \"B\"\\2\nnowa",serial="VT-2031")";
  // clang-format off
  const Case cases[] = {
      {"a logger that stopped answering", down,
       {"velutron_up{logger=\"Chłodnia A\",serial=\"VT-2031\"} 0\n",
        "velutron_reading_valid{logger=\"Chłodnia A\",serial=\"VT-2031\",channel=\"1\",point=\"Mroźnia\"} 0\n",
        "velutron_alarm{logger=\"Chłodnia A\",serial=\"VT-2031\",kind=\"link\"} 1\n",
        "velutron_alarm{logger=\"Chłodnia A\",serial=\"VT-2031\",kind=\"paused\"} 1\n",
        "velutron_alarm{logger=\"Chłodnia A\",serial=\"VT-2031\",channel=\"1\",point=\"Mroźnia\",kind=\"sensor\"} 1\n"},
       {"velutron_temperature_celsius", "velutron_relative_humidity_percent", "channel=\"2\",point=\"Drzwi\"} 1",
        "velutron_reading_valid{logger=\"Chłodnia A\",serial=\"VT-2031\",channel=\"2\"",
        "velutron_last_reading_timestamp_seconds", "velutron_clock_offset_seconds"}},
      {"quotes, backslashes and line feeds in labels", odd,
       {"velutron_up{" + oddL + "} 1\n",
        "velutron_temperature_celsius{" + oddL + ",channel=\"3\",point=\"a\\\"b\"} 21.4375\n"},
       {"\nnowa"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = RenderMetrics({c.logger});
    for (const std::string& line : c.present) EXPECT_NE(text.find(line), std::string::npos) << line << text;
    for (const std::string& part : c.absent) EXPECT_EQ(text.find(part), std::string::npos) << part << text;
  }
  EXPECT_EQ(RenderMetrics({}), "");
  EXPECT_EQ(
      RenderMetrics({}, ArchiveSnapshot{}),
      "# HELP velutron_archive_failing 1 while writes to the archive fail and readings wait in memory.\n"
      "# TYPE velutron_archive_failing gauge\nvelutron_archive_failing 0\n"
      "# HELP velutron_archive_dropped_total Records the full memory queue dropped while the archive failed, "
      "the oldest readings first.\n# TYPE velutron_archive_dropped_total counter\nvelutron_archive_dropped_total 0\n");
}

TEST(MetricsTest, PromtoolAcceptsTheText) {
  if (system("command -v promtool >/dev/null 2>&1") != 0) GTEST_SKIP() << "promtool is not installed";
  LoggerSnapshot second = ColdStore();
  second.name = "Szklarnia \"2\"";
  second.channels[0].value.reset();
  second.channels[0].status = "ERROR!";
  test::Command c;
  c.argv = {"/bin/sh", "-c", "promtool check metrics"};
  c.input = RenderMetrics({ColdStore(), second}, ArchiveSnapshot{true, 1796709970250, 4});
  const test::CommandResult r = test::RunCommand(c);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out + r.err, "");
}

}  // namespace
}  // namespace velutron::station
