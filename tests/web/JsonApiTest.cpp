// The JSON API: /api/current, /api/history's parameters and answer.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "station/JsonApi.h"

namespace velutron::station {
namespace {

using archive::HistoryPoint;
using archive::Unit;

// 2026-12-08T06:06:10Z
constexpr int64_t kT = 1796709970000;

TEST(JsonApiTest, CurrentShowsEveryLoggerAndChannelWithUnknownsAsNull) {
  LoggerSnapshot a;
  a.name = "Chłodnia \"A\"";
  a.serial = "VT-2031";
  a.up = true;
  a.last_reading_utc_ms = kT + 250;
  a.channels = {{1, "Mroźnia", Unit::Celsius, -12.5, "", -25, -15, {"high"}},
                {2, "Wilg.", Unit::RelativeHumidity, std::nullopt, "T suchy!", {}, {}, {}}};
  a.open_alarms = {"clock"};
  LoggerSnapshot b;
  b.name = "Hala";
  EXPECT_EQ(
      CurrentJson({a, b}),
      R"({"loggers":[{"name":"Chłodnia \"A\"","serial":"VT-2031","up":true,"time":"2026-12-08T06:06:10.250Z",)"
      R"("channels":[{"channel":1,"point":"Mroźnia","unit":"°C","value":-12.5,"status":null,"alarm":"high",)"
      R"("low":-25.0,"high":-15.0},{"channel":2,"point":"Wilg.","unit":"%RH","value":null,"status":"T suchy!",)"
      R"("alarm":null,"low":null,"high":null}],"alarms":["clock"]},)"
      R"({"name":"Hala","serial":"","up":false,"time":null,"channels":[],"alarms":[]}]})");
}

TEST(JsonApiTest, TimesAreReadAsTheCommandLineReadsThem) {
  setenv("TZ", "Europe/Warsaw", 1);
  tzset();
  const std::pair<const char*, std::optional<int64_t>> cases[] = {
      {"2026-12-08T06:06:10Z", kT},
      {"2026-12-08T06:06:10.25Z", kT + 250},
      {"2026-12-08T07:06:10+01:00", kT},
      {"2026-12-08T07:06:10 01:00", kT},  // '+' decoded as a space in a query string
      {"2026-12-08T05:06:10-01", kT},
      {"2026-12-08T07:06:10", kT},  // local, winter time
      {"2026-12-08T07:06", kT - 10'000},
      {"2026-07-01", 1782856800000},  // local midnight, summer time
      {"2026-12-08T06:06Z", kT - 10'000},
      {"2026-02-30", std::nullopt},
      {"2026-12-08T24:00Z", std::nullopt},
      {"2026-12-08T06:06:10X", std::nullopt},
      {"2026-12-08 06:06", std::nullopt},
      {"1796710570", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseTime(text), expected) << text;
  unsetenv("TZ");
  tzset();
}

TEST(JsonApiTest, HistoryParametersAreCheckedWithAReason) {
  struct Case {
    std::string query;
    std::string error;  // empty: accepted, with these
    int64_t from_ms = 0, to_ms = 0;
    size_t max = 0;
  };
  // clang-format off
  const Case cases[] = {
      {"logger=Hala&channel=3", "", kT - 86'400'000, kT},
      {"logger=Hala&channel=10&from=2026-12-08T00:00Z&to=2026-12-08T06:00Z&max=600", "", 1796688000000, 1796709600000, 600},
      {"logger=Hala&channel=1&from=2026-11-01T00:00Z&to=2026-12-01T00:00Z", "", 1793491200000, 1796083200000},
      {"channel=3", "brak parametru logger (nazwa rejestratora)"},
      {"logger=Hala&channel=11", "channel: numer kanału od 1 do 10"},
      {"logger=Hala&channel=1x", "channel: numer kanału od 1 do 10"},
      {"logger=Hala", "channel: numer kanału od 1 do 10"},
      {"logger=Hala&channel=1&from=wczoraj", "from: czas w formacie ISO 8601, np. 2026-12-07T06:00:00Z"},
      {"logger=Hala&channel=1&to=2026-13-01", "to: czas w formacie ISO 8601, np. 2026-12-08T06:00:00Z"},
      {"logger=Hala&channel=1&from=2026-12-08T06:00Z&to=2026-12-08T06:00Z", "from musi być wcześniej niż to"},
      {"logger=Hala&channel=1&max=1", "max: liczba punktów, co najmniej 2"},
      {"logger=Hala&channel=1&from=2026-11-01T00:00Z&to=2026-12-02T00:00:01Z", "okres dłuższy niż 31 dni: podziel go na krótsze"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    std::multimap<std::string, std::string> params;
    for (size_t at = 0; at < c.query.size();) {
      const size_t end = std::min(c.query.find('&', at), c.query.size()), eq = c.query.find('=', at);
      params.emplace(c.query.substr(at, eq - at), c.query.substr(eq + 1, end - eq - 1));
      at = end + 1;
    }
    HistoryQuery q;
    std::string error;
    EXPECT_EQ(ParseHistoryQuery(params, kT, q, error), c.error.empty());
    EXPECT_EQ(error, c.error);
    if (c.error.empty()) {
      EXPECT_EQ(q.logger, "Hala");
      EXPECT_EQ(q.from_ms, c.from_ms);
      EXPECT_EQ(q.to_ms, c.to_ms);
      EXPECT_EQ(q.max_points, c.max);
    }
  }
}

TEST(JsonApiTest, HistoryListsReadingsWithTheirMarkers) {
  EXPECT_EQ(HistoryJson({{kT, 21.4375, ""}, {kT + 10'000, std::nullopt, "ERROR!"}}),
            R"({"readings":[{"time":"2026-12-08T06:06:10Z","value":21.4375,"status":null},)"
            R"({"time":"2026-12-08T06:06:20Z","value":null,"status":"ERROR!"}]})");
  EXPECT_EQ(HistoryJson({}), R"({"readings":[]})");
  EXPECT_EQ(ErrorJson("nieznany rejestrator: \"x\""), R"({"error":"nieznany rejestrator: \"x\""})");
}

TEST(JsonApiTest, ThinningKeepsEachStretchsExtremesAndMarkers) {
  // Ten readings a second apart over [0, 10 s): two stretches of five.
  std::vector<HistoryPoint> points;
  const double values[] = {5, 9, 1, 4, 4, 6, 6, 6, 6, 6};
  for (int i = 0; i < 10; ++i) points.push_back({i * 1000, values[i], ""});
  points[7] = {7000, std::nullopt, "ERROR!"};
  auto times = [](const std::vector<HistoryPoint>& p) {
    std::vector<int64_t> t;
    for (const auto& x : p) t.push_back(x.utc_ms);
    return t;
  };
  EXPECT_EQ(times(Thin(points, 4, 0, 10'000)), (std::vector<int64_t>{1000, 2000, 5000}));
  EXPECT_EQ(times(Thin(points, 0, 0, 10'000)).size(), 10u);
  EXPECT_EQ(times(Thin(points, 20, 0, 10'000)).size(), 10u);
  std::vector<HistoryPoint> markers(6, HistoryPoint{0, std::nullopt, "ERROR!"});
  EXPECT_EQ(Thin(markers, 2, 0, 10'000).size(), 1u);
}

}  // namespace
}  // namespace velutron::station
