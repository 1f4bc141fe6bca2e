#include <gtest/gtest.h>

#include "station/Alarms.h"

namespace velutron::station {
namespace {

// What the logger showed from `from_s` on: a value on channel 1 (band -5..25), an invalid reading,
// silence, a bus failure, or a clock offset.
struct Segment {
  int from_s;
  enum What { Value, Invalid, Silent, Bus, Offset } what;
  double x = 0;
};

struct Row {
  const char* behaviour;
  std::vector<Segment> segments;
  int end_s;
  std::vector<std::string> expected;  // "t kind channel event since"
  int ack_at_s = -1;
  std::optional<int64_t> ack_for_s = std::nullopt;
};

TEST(AlarmRulesTest, StartsRepeatsAcksAndClearsExactlyAsTheRulesSay) {
  using S = Segment;
  const std::vector<Row> rows = {
      {"above the band for less than the delay is no alarm",
       {{0, S::Value, 26}, {50, S::Value, 20}},
       300,
       {}},
      {"above for the delay starts; back inside by the margin for the delay clears",
       {{0, S::Value, 26}, {100, S::Value, 20}},
       300,
       {"60 high 1 start 0", "160 high 1 clear 0"}},
      {"inside the band but not by the margin does not clear",
       {{0, S::Value, 26}, {100, S::Value, 24.8}},
       300,
       {"60 high 1 start 0"}},
      {"equal to the high limit is outside, as the window colours it",
       {{0, S::Value, 25}},
       70,
       {"60 high 1 start 0"}},
      {"at the low limit is a low alarm", {{0, S::Value, -5}}, 70, {"60 low 1 start 0"}},
      {"an open alarm repeats every repeat_s",
       {{0, S::Value, 26}},
       1300,
       {"60 high 1 start 0", "660 high 1 repeat 0", "1260 high 1 repeat 0"}},
      {"acknowledged, it repeats no more and still clears",
       {{0, S::Value, 26}, {1000, S::Value, 0}},
       1300,
       {"60 high 1 start 0", "100 high 1 ack 0", "1060 high 1 clear 0"},
       100},
      {"acknowledged for a while, it repeats again after it",
       {{0, S::Value, 26}},
       1700,
       {"60 high 1 start 0", "100 high 1 ack 0", "1000 high 1 repeat 0", "1600 high 1 repeat 0"},
       100,
       900},
      {"an invalid reading is a sensor alarm", {{0, S::Invalid}}, 70, {"60 sensor 1 start 0"}},
      {"silence longer than link_lost_s loses the link; answering for the delay clears it",
       {{0, S::Silent}, {40, S::Value, 20}},
       200,
       {"30 link 0 start 0", "100 link 0 clear 0"}},
      {"silence shorter than link_lost_s is no alarm", {{0, S::Silent}, {30, S::Value, 20}}, 200, {}},
      {"a failing bus", {{0, S::Bus}, {70, S::Value, 20}}, 200, {"60 bus 0 start 0", "130 bus 0 clear 0"}},
      {"a clock drifted beyond clock_drift_s",
       {{0, S::Offset, -150}, {70, S::Offset, 100}},
       200,
       {"60 clock 0 start 0", "130 clock 0 clear 0"}},
      {"an interval without an answer starts the delay again",
       {{0, S::Value, 26}, {40, S::Silent}, {50, S::Value, 26}},
       200,
       {"110 high 1 start 50"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.behaviour);
    AlarmRules rules({60, 0.5, 30, 120, 600, {}, 30});
    std::vector<std::string> got;
    const auto record = [&](const std::vector<AlarmStep>& steps) {
      for (const AlarmStep& s : steps) {
        got.push_back(std::to_string(s.utc_ms / 1000) + " " + s.kind + " " + std::to_string(s.channel) + " " +
                      s.event + " " + std::to_string(s.since_ms / 1000));
      }
    };
    for (int t = 0; t < row.end_s; t += 10) {
      if (t == row.ack_at_s) {
        record(
            rules.Ack(std::nullopt,
                      row.ack_for_s ? std::optional<int64_t>(t * 1000 + *row.ack_for_s * 1000) : std::nullopt,
                      t * 1000));
      }
      Segment seg = row.segments.front();
      for (const Segment& s : row.segments) {
        if (s.from_s <= t) seg = s;
      }
      Observation o;
      o.utc_ms = t * 1000;
      o.answered = seg.what != S::Silent;
      o.bus_failure = seg.what == S::Bus;
      o.clock_offset_s = seg.what == S::Offset ? seg.x : 0;
      Observation::Channel c{1, std::nullopt, seg.what == S::Invalid, -5, 25};
      if (seg.what == S::Value || seg.what == S::Offset) c.value = seg.what == S::Value ? seg.x : 20;
      o.channels.push_back(c);
      record(rules.Observe(o));
    }
    EXPECT_EQ(got, row.expected);
  }
}

}  // namespace
}  // namespace velutron::station
