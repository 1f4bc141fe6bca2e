// The period report's figures against values worked out by hand (and MKT, stddev and the hash checked
// with Python's math, statistics and hashlib on the same readings).

#include <gtest/gtest.h>

#include "archive/Sha256.h"
#include "archive/Statistics.h"

namespace velutron::test {
namespace {

using namespace archive;

constexpr int64_t kT0 = 1'764'547'200'000;  // 2025-12-01T00:00:00Z
constexpr int64_t kMinute = 60'000;

struct Point {
  int minute;
  std::optional<double> value;
  const char* status = "";
};

struct Trip {
  bool high;
  int start, end;  // minutes
  double extreme;
  bool operator==(const Trip&) const = default;
};

struct StatsCase {
  const char* name;
  Unit unit;
  std::vector<Point> points;
  int toMinute;
  std::optional<double> low, high;  // given on the command line
  std::vector<ChannelEntry> recorded;
  size_t readings, invalid;
  int64_t gapS;
  std::optional<double> min, max;
  int minMinute, maxMinute;
  std::optional<double> mean, stddev, mkt;
  std::optional<int64_t> aboveS, belowS;
  std::optional<double> aboveShare, belowShare;
  std::vector<Trip> trips;
};

TEST(StatisticsTest, EachFigureFollowsTheReportRules) {
  const ChannelEntry before{0, {1, "Komora", Unit::Celsius, std::nullopt, 10.0}};
  const ChannelEntry after{kT0 + 20 * kMinute, {1, "Komora 2", Unit::Celsius, std::nullopt, 30.0}};
  const ChannelEntry seen{
      kT0 + 20 * kMinute, {1, "Komora 3", Unit::Celsius, std::nullopt, std::nullopt}, true};
  const std::vector<StatsCase> cases = {
      {"three readings: mean, sample deviation and MKT by hand, no limits",
       Unit::Celsius,
       {{0, 20.0}, {10, 25.0}, {20, 30.0}},
       30,
       {},
       {},
       {},
       3,
       0,
       0,
       20.0,
       30.0,
       0,
       20,
       25.0,
       5.0,
       25.858202177951227,
       {},
       {},
       {},
       {},
       {}},
      {"a constant series: MKT is the temperature, the first extreme's time is kept",
       Unit::Celsius,
       {{0, 5.0}, {10, 5.0}, {20, 5.0}, {30, 5.0}},
       40,
       {},
       {},
       {},
       4,
       0,
       0,
       5.0,
       5.0,
       0,
       0,
       5.0,
       0.0,
       5.0,
       {},
       {},
       {},
       {},
       {}},
      {"a gap ends an excursion: the reading before it stands for one spacing",
       Unit::Celsius,
       {{0, -16.0}, {10, -14.0625}, {20, -14.5}, {60, -14.0}, {70, -16.0}},
       80,
       {},
       -15.0,
       {},
       5,
       0,
       1800,
       -16.0,
       -14.0,
       0,
       60,
       -14.9125,
       1.011264678509044,
       -14.855199384959406,
       1800,
       {},
       0.6,
       {},
       {{true, 10, 30, -14.0625}, {true, 60, 70, -14.0}}},
      {"at the period's edges, and an invalid reading ends an excursion",
       Unit::Celsius,
       {{0, -21.0}, {10, -20.0}, {20, std::nullopt, "ERROR!"}, {30, -22.0}},
       35,
       -20.0,
       {},
       {},
       3,
       1,
       0,
       -22.0,
       -20.0,
       30,
       10,
       -21.0,
       1.0,
       -20.95032347394161,
       {},
       1500,
       {},
       1.0,
       {{false, 0, 20, -21.0}, {false, 30, 35, -22.0}}},
      {"the limits recorded in force at each reading",
       Unit::Celsius,
       {{0, 15.0}, {10, 15.0}, {20, 15.0}, {30, 15.0}},
       40,
       {},
       {},
       {before, after},
       4,
       0,
       0,
       15.0,
       15.0,
       0,
       0,
       15.0,
       0.0,
       15.0,
       1200,
       {},
       0.5,
       {},
       {{true, 0, 20, 15.0}}},
      {"a download's names carry no limits: the station's stay in force",
       Unit::Celsius,
       {{0, 15.0}, {10, 15.0}, {20, 15.0}, {30, 15.0}},
       40,
       {},
       {},
       {before, seen},
       4,
       0,
       0,
       15.0,
       15.0,
       0,
       0,
       15.0,
       0.0,
       15.0,
       2400,
       {},
       1.0,
       {},
       {{true, 0, 40, 15.0}}},
      {"humidity takes its own limits (--high-rh), never those of °C (here 0)",
       Unit::RelativeHumidity,
       {{0, 55.0}, {10, 65.0}, {20, 60.0}},
       30,
       {},
       60.0,
       {},
       3,
       0,
       0,
       55.0,
       65.0,
       0,
       10,
       60.0,
       5.0,
       {},
       1200,
       {},
       0.6666666666666666,
       {},
       {{true, 10, 30, 65.0}}},
      {"humidity has no MKT; a lone reading no deviation",
       Unit::RelativeHumidity,
       {{0, 90.2}},
       10,
       {},
       {},
       {},
       1,
       0,
       0,
       90.2,
       90.2,
       0,
       0,
       90.2,
       {},
       {},
       {},
       {},
       {},
       {},
       {}},
  };
  for (const StatsCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PeriodPoint> points;
    for (const Point& p : c.points)
      points.push_back({1, c.unit, kT0 + p.minute * kMinute, p.value, p.status, Source::Download});
    StatsOptions options{kT0, kT0 + c.toMinute * kMinute, c.low, c.high, 83.144, {}, {}, {}};
    if (c.unit == Unit::RelativeHumidity)
      options = {options.from_ms, options.to_ms, 0.0, 0.0, 83.144, {}, c.low, c.high};
    const auto stats = ComputeStats(points, c.recorded, options);
    ASSERT_EQ(stats.size(), 1u);
    const ChannelStats& s = stats[0];
    EXPECT_EQ(s.readings, c.readings);
    EXPECT_EQ(s.invalid, c.invalid);
    EXPECT_EQ(s.gap_s, c.gapS);
    EXPECT_EQ(s.min, c.min);
    EXPECT_EQ(s.max, c.max);
    EXPECT_EQ(s.min_ms, kT0 + c.minMinute * kMinute);
    EXPECT_EQ(s.max_ms, kT0 + c.maxMinute * kMinute);
    ASSERT_EQ(s.mean.has_value(), c.mean.has_value());
    if (c.mean) {
      EXPECT_NEAR(*s.mean, *c.mean, 1e-12);
    }
    ASSERT_EQ(s.stddev.has_value(), c.stddev.has_value());
    if (c.stddev) {
      EXPECT_NEAR(*s.stddev, *c.stddev, 1e-12);
    }
    ASSERT_EQ(s.mkt.has_value(), c.mkt.has_value());
    if (c.mkt) {
      EXPECT_NEAR(*s.mkt, *c.mkt, 1e-9);
    }
    EXPECT_EQ(s.above_s, c.aboveS);
    EXPECT_EQ(s.below_s, c.belowS);
    EXPECT_EQ(s.above_share, c.aboveShare);
    EXPECT_EQ(s.below_share, c.belowShare);
    std::vector<Trip> trips;
    for (const Excursion& e : s.excursions)
      trips.push_back({e.high, static_cast<int>((e.start_ms - kT0) / kMinute),
                       static_cast<int>((e.end_ms - kT0) / kMinute), e.extreme});
    EXPECT_EQ(trips, c.trips);
  }
}

TEST(StatisticsTest, TheHashCoversTimesValuesAndMarkersAndTheJsonLineCarriesIt) {
  std::vector<PeriodPoint> points;
  for (int i = 0; i < 3; ++i)
    points.push_back({1, Unit::Celsius, kT0 + i * 10 * kMinute, 20.0 + 5 * i, "", Source::Station});
  const StatsOptions options{kT0, kT0 + 30 * kMinute, {}, {}, 83.144, {}, {}, {}};
  const auto stats = ComputeStats(points, {}, options);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].sha256, "ceb271cb95a1c1650028451e244a1a5a91652ed857b3805b8f66cc8b28534982");
  std::string error;
  auto zone = TimeZone::Named("Europe/Warsaw", error);
  EXPECT_EQ(StatsJson(stats[0], "Hala B", options, *zone),
            R"({"type":"stats","logger":"Hala B","channel":1,"point":"","unit":"°C",)"
            R"("from":"2025-12-01T01:00:00+01:00","to":"2025-12-01T01:30:00+01:00","readings":3,"invalid":0,)"
            R"("gap_s":0,"min":20.0,"min_time":"2025-12-01T01:00:00+01:00","max":30.0,)"
            R"("max_time":"2025-12-01T01:20:00+01:00","mean":25.0,"stddev":5.0,"mkt":25.858202177951227,)"
            R"("low":null,"high":null,"above_s":null,"below_s":null,"above_share":null,"below_share":null,)"
            R"("excursions":[],"sha256":"ceb271cb95a1c1650028451e244a1a5a91652ed857b3805b8f66cc8b28534982",)"
            R"("mkt_dh":83.144,"limits":"recorded","changed_hours":[]})");
}

TEST(StatisticsTest, TheHashIsSha256AtEveryPaddingBoundary) {
  // "abc...zab..." cut to each length; the hashes from `sha256sum` and Python's hashlib. 55 bytes leave
  // just room for the padding in the last block, 56 push the length into a block of its own.
  const struct {
    size_t length;
    const char* hex;
  } rows[] = {
      {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {1, "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"},
      {55, "595615dbe4f0f407ae397d08b4c2cb870cb9b0e11937416f950c5160acf9c005"},
      {56, "784f623b787495078e93ff28a25b581df0584055a7e71d8cd90c454716b92f51"},
      {63, "5ca3e1ef5207490eac01a795e5cc94d59582a5118bf9534665c8668d87aa647c"},
      {64, "2fcd5a0d60e4c941381fcc4e00a4bf8be422c3ddfafb93c809e8d1e2bfffae8e"},
      {65, "1b3cd1877ab2f2f19f7be001722554f336cb799df0329de0bb4c118dc6abc06d"},
      {119, "faef67da856d6fd9c8d12f9ed0a4fefd3cf0ce085ab43e2907418d457e3c354b"},
      {120, "c9512b08619c19fbb503c7da6b46ef20301e5f7a7a5f43989182398536f5c5c8"},
      {128, "6c05be2c4268843ae47e68e611277ce62c02153f2f4d2e1e2a1a4b44f766cf74"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.length);
    std::string message;
    for (size_t i = 0; i < row.length; ++i) message += static_cast<char>('a' + i % 26);
    Sha256 whole;
    whole.Add(message);
    EXPECT_EQ(whole.Hex(), row.hex);
    // Fed a byte at a time, the blocks fill across calls.
    Sha256 bytes;
    for (const char c : message) bytes.Add(std::string_view(&c, 1));
    EXPECT_EQ(bytes.Hex(), row.hex);
  }
}

}  // namespace
}  // namespace velutron::test
