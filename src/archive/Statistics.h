#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/PointNames.h"
#include "archive/Summary.h"
#include "archive/TimeZone.h"

namespace velutron::archive {

struct Excursion {
  bool high = true;
  int64_t start_ms = 0;
  int64_t end_ms = 0;
  double extreme = 0;
};

// A channel's figures over a period, as `archive report` prints them.
struct ChannelStats {
  int channel = 0;
  Unit unit = Unit::Celsius;
  std::string point;              // the name in force at the period's end
  std::vector<PointSpan> points;  // every name it had in the period, oldest first, when more than one
  size_t readings = 0;            // valid
  size_t invalid = 0;
  int64_t gap_s = 0;
  std::optional<double> min, max, mean, stddev, mkt;
  int64_t min_ms = 0, max_ms = 0;
  std::optional<double> low, high;  // in force at the period's last reading (or given)
  std::optional<int64_t> above_s, below_s;
  std::optional<double> above_share, below_share;
  std::vector<Excursion> excursions;
  std::string sha256;
  bool limits_given = false;        // low/high from the command line, not the recorded ones
  std::vector<int64_t> changed_ms;  // hours (UTC starts) whose readings no longer give their kept summary
};

struct StatsOptions {
  int64_t from_ms = 0;
  int64_t to_ms = 0;
  std::optional<double> low, high;  // instead of the recorded limits of temperature channels
  double mkt_dh_kj = 83.144;
  std::vector<int> channels;              // empty: all
  std::optional<double> low_rh, high_rh;  // the same for humidity channels

  // The limits given for channels of `unit`; none given: the recorded ones count.
  std::optional<double> Low(Unit unit) const { return unit == Unit::RelativeHumidity ? low_rh : low; }
  std::optional<double> High(Unit unit) const { return unit == Unit::RelativeHumidity ? high_rh : high; }
};

// The logger's record times over a period, block by block. Durations follow them: each record stands for
// the time until the next one, the last for the median spacing (cut at the period's end), and a spacing
// over twice the median is a gap after one median spacing.
class Timeline {
 public:
  explicit Timeline(int64_t to_ms) : to_ms_(to_ms) {}
  // Times in seconds, sorted and unique, all in `block`; blocks come in any order but each once.
  void AddTimes(int64_t block, std::vector<int64_t> seconds);
  void Finish();  // after the last Add

  struct Share {
    int64_t duration_ms = 0, gap_ms = 0;
  };
  // What the record at `seconds` stands for; empty when it is not one of the times given.
  std::optional<Share> At(int64_t seconds) const;

 private:
  struct Segment {
    std::vector<int64_t> times;
    std::optional<int64_t> next;  // the first time of the next block with records
  };
  Share After(int64_t t, std::optional<int64_t> next) const;
  Share Of(int64_t spacing_ms) const;
  int64_t to_ms_;
  int64_t median_ = 0;
  std::map<int64_t, Segment> blocks_;
};

// The statistics of each channel and unit, fed one reading at a time in channel, unit and time order
// (as PeriodArchive::Period gives them), so that a year never sits in memory. `times` are the logger's
// record times in the period, over all its channels (PeriodArchive::Times).
class StatsBuilder {
 public:
  StatsBuilder(std::vector<int64_t> times, std::vector<ChannelEntry> channels, StatsOptions options);
  ~StatsBuilder();
  StatsBuilder(const StatsBuilder&) = delete;
  StatsBuilder& operator=(const StatsBuilder&) = delete;
  // Before the first Add: the summaries kept of the blocks [first, end) that the period holds whole, each
  // compared with what the block's readings give; a block that differs (or has no readings left) goes
  // into its series' `changed_ms`.
  void Check(PeriodSummaries kept, int64_t first, int64_t end);
  void Add(const PeriodPoint& point);
  std::vector<ChannelStats> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The statistics of each channel (and unit) of `points`, all the logger's readings of the period in
// channel, unit and time order as PeriodArchive::Period gives them. Durations follow the logger's
// records over all its channels: each reading stands for the time until the next record, the last one
// for the median spacing (cut at the period's end), and a spacing over twice the median is a gap after
// one median spacing.
std::vector<ChannelStats> ComputeStats(const std::vector<PeriodPoint>& points,
                                       const std::vector<ChannelEntry>& channels,
                                       const StatsOptions& options);

// The `stats` line of `archive report --json`.
std::string StatsJson(const ChannelStats& s, const std::string& logger, const StatsOptions& options,
                      const TimeZone& zone);

}  // namespace velutron::archive
