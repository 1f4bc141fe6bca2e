#pragma once

// The alarm rules of one logger: from what each interval showed to the steps of every alarm's life
// (start, repeat, ack, clear). Pure and on the caller's time, so a week of rules runs in a test.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velutron::station {

struct AlarmSettings {
  int delay_s = 300;            // a condition holds this long to start, and the way back to clear
  double clear_margin_c = 0.5;  // back inside the band by this much to clear
  int link_lost_s = 60;
  int clock_drift_s = 120;
  int repeat_s = 3600;  // 0: never
  std::vector<std::string> command;
  int command_timeout_s = 30;
};

// What one interval showed.
struct Observation {
  struct Channel {
    int channel = 0;
    std::optional<double> value;  // absent when the reading is invalid
    bool invalid = false;
    std::optional<double> low;  // the limits in force; none on a humidity channel
    std::optional<double> high;
  };
  int64_t utc_ms = 0;
  bool answered = false;     // false: nothing came (silence, port gone, paused)
  bool bus_failure = false;  // the logger answered but its sensors could not be read
  std::optional<double> clock_offset_s;
  std::vector<Channel> channels;
};

// One step of an alarm. `channel` is 0 for the logger's own alarms (bus, link, clock).
struct AlarmStep {
  std::string event;  // "start", "repeat", "ack", "clear"
  std::string kind;   // "high", "low", "sensor", "bus", "link", "clock"
  int channel = 0;
  std::optional<double> value;
  std::optional<double> limit;
  int64_t since_ms = 0;  // when the condition began
  int64_t utc_ms = 0;
};

class AlarmRules {
 public:
  explicit AlarmRules(AlarmSettings settings = {}) : settings_(std::move(settings)) {}

  void SetSettings(AlarmSettings settings) { settings_ = std::move(settings); }
  std::vector<AlarmStep> Observe(const Observation& o);
  // Acknowledges the open alarms of `channel` (all of the logger's with 0, or with nullopt): no repeats
  // until `until_ms` (for good with nullopt); returns their "ack" steps.
  std::vector<AlarmStep> Ack(std::optional<int> channel, std::optional<int64_t> until_ms, int64_t now_ms);
  // The open alarms as (kind, channel).
  std::vector<std::pair<std::string, int>> Open() const;

 private:
  enum class Condition { Active, Inside, Between, Unknown };
  // The kinds in a fixed order, so that a key is two numbers and costs no text per reading.
  enum Kind : uint8_t { kHigh, kLow, kSensor, kBus, kLink, kClock };
  struct State {
    bool open = false;
    std::optional<int64_t> pending;  // the condition (or, while open, the way back) began here
    int64_t since_ms = 0;
    int64_t notified_ms = 0;
    std::optional<int64_t> acked_until;  // INT64_MAX: until it clears
    std::optional<double> value;
    std::optional<double> limit;
  };
  using Key = std::pair<Kind, int>;

  void Step(const Key& key, Condition c, int64_t hold_ms, int64_t now, std::optional<double> value,
            std::optional<double> limit, std::vector<AlarmStep>& out);
  AlarmStep Make(const Key& key, const State& s, const char* event, int64_t now) const;

  AlarmSettings settings_;
  std::map<Key, State> states_;
};

}  // namespace velutron::station
