#include "station/Alarms.h"

#include <cmath>
#include <limits>

namespace velutron::station {

namespace {
constexpr int64_t kForever = std::numeric_limits<int64_t>::max();
constexpr const char* kKindNames[] = {"high", "low", "sensor", "bus", "link", "clock"};
}  // namespace

AlarmStep AlarmRules::Make(const Key& key, const State& s, const char* event, int64_t now) const {
  return AlarmStep{event, kKindNames[key.first], key.second, s.value, s.limit, s.since_ms, now};
}

void AlarmRules::Step(const Key& key, Condition c, int64_t hold_ms, int64_t now, std::optional<double> value,
                      std::optional<double> limit, std::vector<AlarmStep>& out) {
  auto found = states_.find(key);
  if (found == states_.end()) {
    if (c != Condition::Active) return;  // nothing to remember
    found = states_.emplace(key, State{}).first;
  }
  State& s = found->second;
  if (!s.open) {
    if (c != Condition::Active) {
      states_.erase(found);
      return;
    }
    if (!s.pending) s.pending = now;
    s.value = value;
    s.limit = limit;
    if (now - *s.pending < hold_ms) return;
    s.open = true;
    s.since_ms = *s.pending;
    s.pending.reset();
    s.notified_ms = now;
    out.push_back(Make(key, s, "start", now));
    return;
  }

  if (c == Condition::Unknown) return;
  if (c == Condition::Inside) {
    if (!s.pending) s.pending = now;
    if (now - *s.pending >= int64_t{settings_.delay_s} * 1000) {
      s.value = value;
      out.push_back(Make(key, s, "clear", now));
      states_.erase(found);
      return;
    }
  } else {
    s.pending.reset();
    // The step carries the latest value outside the band.
    if (c == Condition::Active) s.value = value;
    if (limit) s.limit = limit;
  }
  if (s.acked_until && now >= *s.acked_until) s.acked_until.reset();
  const int64_t repeat_ms = int64_t{settings_.repeat_s} * 1000;
  if (repeat_ms > 0 && !s.acked_until && now - s.notified_ms >= repeat_ms) {
    s.notified_ms = now;
    out.push_back(Make(key, s, "repeat", now));
  }
}

std::vector<AlarmStep> AlarmRules::Observe(const Observation& o) {
  std::vector<AlarmStep> out;
  const int64_t now = o.utc_ms;
  const int64_t delay = int64_t{settings_.delay_s} * 1000;
  const double margin = settings_.clear_margin_c;

  Step({kLink, 0}, o.answered ? Condition::Inside : Condition::Active, int64_t{settings_.link_lost_s} * 1000,
       now, std::nullopt, settings_.link_lost_s, out);
  if (!o.answered) {
    // Nothing else is known of an interval without an answer: every other alarm stays as it was.
    for (auto& [key, s] : states_) {
      if (key.first != kLink && s.pending && !s.open) s.pending.reset();
    }
    return out;
  }
  Step({kBus, 0}, o.bus_failure ? Condition::Active : Condition::Inside, delay, now, std::nullopt,
       std::nullopt, out);
  if (o.clock_offset_s) {
    const bool off = std::fabs(*o.clock_offset_s) > settings_.clock_drift_s;
    Step({kClock, 0}, off ? Condition::Active : Condition::Inside, delay, now, o.clock_offset_s,
         settings_.clock_drift_s, out);
  }
  if (o.bus_failure) return out;

  for (const Observation::Channel& ch : o.channels) {
    Step({kSensor, ch.channel}, ch.invalid ? Condition::Active : Condition::Inside, delay, now, std::nullopt,
         std::nullopt, out);
    const auto band = [&](bool high) {
      const std::optional<double> limit = high ? ch.high : ch.low;
      if (!ch.value || !limit) return Condition::Unknown;
      const double v = *ch.value;
      // Equal to a limit is outside, as the monitoring window colours it.
      if (high ? v >= *limit : v <= *limit) return Condition::Active;
      if (high ? v <= *limit - margin : v >= *limit + margin) return Condition::Inside;
      return Condition::Between;
    };
    Step({kHigh, ch.channel}, band(true), delay, now, ch.value, ch.high, out);
    Step({kLow, ch.channel}, band(false), delay, now, ch.value, ch.low, out);
  }
  return out;
}

std::vector<AlarmStep> AlarmRules::Ack(std::optional<int> channel, std::optional<int64_t> until_ms,
                                       int64_t now_ms) {
  std::vector<AlarmStep> out;
  for (auto& [key, s] : states_) {
    if (!s.open || (channel && key.second != *channel)) continue;
    s.acked_until = until_ms.value_or(kForever);
    out.push_back(Make(key, s, "ack", now_ms));
  }
  return out;
}

std::vector<std::pair<std::string, int>> AlarmRules::Open() const {
  std::vector<std::pair<std::string, int>> open;
  for (const auto& [key, s] : states_) {
    if (s.open) open.emplace_back(kKindNames[key.first], key.second);
  }
  return open;
}

}  // namespace velutron::station
