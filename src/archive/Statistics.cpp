#include "archive/Statistics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <tuple>

#include "archive/Sha256.h"
#include "archive/SpacingGaps.h"

namespace velutron::archive {

namespace {

constexpr double kZeroCelsius = 273.15;

struct Limits {
  std::optional<double> low, high;
};

class Accumulator {
 public:
  Accumulator(ChannelStats& s, const StatsOptions& o, const std::vector<ChannelEntry>& channels)
      : s_(s), o_(o), beta_(o.mkt_dh_kj * 1000.0 / kGasConstant), block_(s.unit, o.mkt_dh_kj) {
    s_.limits_given = o.Low(s_.unit) || o.High(s_.unit);
    for (const ChannelEntry& e : channels) {
      if (e.info.channel == s.channel) entries_.push_back(&e);
    }
  }

  void Add(const PeriodPoint& p, int64_t duration_ms, int64_t gap_ms) {
    const int64_t seconds = p.utc_ms / 1000;
    if (BlockOf(seconds) != at_) Flush(), at_ = BlockOf(seconds);
    block_.Add(seconds, p.value, p.status);
    s_.gap_s += gap_ms;  // in milliseconds until Finish
    const Limits limits = LimitsAt(p.utc_ms);
    last_ = limits;
    if (!p.value) {
      EndExcursion();
      return;
    }
    const double v = *p.value;
    valid_ms_ += duration_ms;
    const bool above = limits.high && v >= *limits.high, below = limits.low && v <= *limits.low;
    if (limits.high) above_ms_ += above ? duration_ms : 0, anyHigh_ = true;
    if (limits.low) below_ms_ += below ? duration_ms : 0, anyLow_ = true;
    if (above || below) {
      if (run_ && run_->high != above) EndExcursion();
      if (!run_) run_ = Excursion{above, p.utc_ms, p.utc_ms, v};
      run_->end_ms = p.utc_ms + duration_ms;
      run_->extreme = above ? std::max(run_->extreme, v) : std::min(run_->extreme, v);
    } else {
      EndExcursion();
    }
    if (gap_ms > 0) EndExcursion();
  }

  // The summaries kept of this series' blocks [first, end), which its readings are checked against.
  void Check(const std::map<int64_t, BlockSummary>* kept, int64_t first, int64_t end) {
    kept_ = kept;
    first_ = first;
    end_ = end;
  }

  void Finish() {
    Flush();
    EndExcursion();
    // A kept hour without any reading left in it changed too.
    if (kept_ != nullptr) {
      for (auto it = kept_->lower_bound(first_); it != kept_->end() && it->first < end_; ++it) {
        if (!std::binary_search(checked_.begin(), checked_.end(), it->first))
          s_.changed_ms.push_back(it->first * kBlockSeconds * 1000);
      }
      std::sort(s_.changed_ms.begin(), s_.changed_ms.end());
    }
    s_.gap_s /= 1000;
    const auto n = static_cast<int64_t>(s_.readings);
    const double step = ValueOf(s_.unit, 1);
    if (n > 0) {
      s_.min = ValueOf(s_.unit, min_);
      s_.max = ValueOf(s_.unit, max_);
      s_.mean = static_cast<double>(sum_) / static_cast<double>(n) * step;
    }
    if (n > 1) {
      // Exact in integers, then one rounding: no cancellation over millions of readings.
      const __int128 spread = static_cast<__int128>(n) * sum_sq_ - static_cast<__int128>(sum_) * sum_;
      s_.stddev =
          std::sqrt(static_cast<double>(spread) / (static_cast<double>(n) * static_cast<double>(n - 1))) *
          step;
    }
    if (n > 0 && s_.unit == Unit::Celsius) {
      const double lnMean = std::log(mkt_ / static_cast<double>(n)) - beta_ / kZeroCelsius;
      s_.mkt = beta_ / -lnMean - kZeroCelsius;
    }
    s_.low = last_.low;
    s_.high = last_.high;
    const double valid = static_cast<double>(valid_ms_);
    if (anyHigh_) {
      s_.above_s = above_ms_ / 1000;
      s_.above_share = valid > 0 ? static_cast<double>(above_ms_) / valid : 0.0;
    }
    if (anyLow_) {
      s_.below_s = below_ms_ / 1000;
      s_.below_share = valid > 0 ? static_cast<double>(below_ms_) / valid : 0.0;
    }
    s_.sha256 = hash_.Hex();
  }

 private:
  void Flush() {
    if (block_.Empty()) return;
    const BlockSummary b = block_.Finish();
    if (kept_ != nullptr && at_ >= first_ && at_ < end_) {
      checked_.push_back(at_);
      const auto kept = kept_->find(at_);
      if (kept != kept_->end() && !SameReadings(kept->second, b))
        s_.changed_ms.push_back(at_ * kBlockSeconds * 1000);
    }
    Take(b);
  }

  // A block's figures, in time order: the first minimum and maximum reached stay.
  void Take(const BlockSummary& b) {
    if (b.valid > 0) {
      if (s_.readings == 0 || b.min < min_) min_ = b.min, s_.min_ms = b.min_t * 1000;
      if (s_.readings == 0 || b.max > max_) max_ = b.max, s_.max_ms = b.max_t * 1000;
    }
    s_.readings += static_cast<size_t>(b.valid);
    s_.invalid += static_cast<size_t>(b.invalid);
    sum_ += b.sum;
    sum_sq_ += b.sum_sq;
    mkt_ += b.mkt;
    // The channel's hash is the SHA-256 of its blocks' hashes, so that it follows from summaries.
    if (b.valid + b.invalid > 0) hash_.Add(b.digest + "\n");
  }

  Limits LimitsAt(int64_t t) const {
    Limits l{o_.Low(s_.unit), o_.High(s_.unit)};
    if (s_.limits_given) return l;
    const ChannelEntry* in_force = nullptr;
    // A download's names carry no limits: only the station's entries say which were in force.
    for (const ChannelEntry* e : entries_) {
      if (e->from_ms <= t && e->info.unit == s_.unit && !e->until) in_force = e;
    }
    if (in_force != nullptr) l = {in_force->info.low, in_force->info.high};
    return l;
  }

  void EndExcursion() {
    if (run_) s_.excursions.push_back(*run_);
    run_.reset();
  }

  ChannelStats& s_;
  const StatsOptions& o_;
  const double beta_;  // ΔH / R in kelvin
  std::vector<const ChannelEntry*> entries_;
  BlockBuilder block_;
  int64_t at_ = INT64_MIN;  // the block being built
  Sha256 hash_;
  Limits last_;
  int64_t min_ = 0, max_ = 0, sum_ = 0, sum_sq_ = 0;
  double mkt_ = 0;
  int64_t valid_ms_ = 0, above_ms_ = 0, below_ms_ = 0;
  bool anyHigh_ = false, anyLow_ = false;
  std::optional<Excursion> run_;
  const std::map<int64_t, BlockSummary>* kept_ = nullptr;
  int64_t first_ = 0, end_ = 0;
  std::vector<int64_t> checked_;  // the blocks compared, in order
};

}  // namespace

void Timeline::AddTimes(int64_t block, std::vector<int64_t> seconds) {
  if (seconds.empty()) return;
  blocks_[block].times = std::move(seconds);
}

void Timeline::Finish() {
  // The median spacing of the whole period, from every block's spacings and those between blocks.
  std::map<int64_t, int64_t> spacings;  // milliseconds
  Segment* before = nullptr;
  for (auto& [block, s] : blocks_) {
    if (before != nullptr) {
      before->next = s.times.front();
      ++spacings[(s.times.front() - before->times.back()) * 1000];
    }
    for (size_t i = 1; i < s.times.size(); ++i) ++spacings[(s.times[i] - s.times[i - 1]) * 1000];
    before = &s;
  }
  median_ = MedianSpacing(spacings);
}

Timeline::Share Timeline::Of(int64_t spacing_ms) const {
  const int64_t gap = spacing_ms > 2 * median_ ? spacing_ms - median_ : 0;
  return {spacing_ms - gap, gap};
}

Timeline::Share Timeline::After(int64_t t, std::optional<int64_t> next) const {
  if (next) return Of((*next - t) * 1000);
  return {std::max<int64_t>(0, std::min(median_, to_ms_ - t * 1000)), 0};
}

std::optional<Timeline::Share> Timeline::At(int64_t seconds) const {
  auto found = blocks_.find(BlockOf(seconds));
  if (found == blocks_.end()) return std::nullopt;
  const Segment& s = found->second;
  auto it = std::lower_bound(s.times.begin(), s.times.end(), seconds);
  if (it == s.times.end() || *it != seconds) return std::nullopt;
  return After(seconds, it + 1 != s.times.end() ? std::optional<int64_t>(*(it + 1)) : s.next);
}

struct StatsBuilder::State {
  explicit State(Timeline t) : timeline(std::move(t)) {}
  Timeline timeline;
  std::vector<ChannelEntry> channels;
  StatsOptions options;
  std::vector<ChannelStats> result;
  std::optional<Accumulator> acc;
  PeriodSummaries kept;
  int64_t keptFirst = 0, keptEnd = 0;

  bool Wanted(int channel) const {
    return options.channels.empty() ||
           std::find(options.channels.begin(), options.channels.end(), channel) != options.channels.end();
  }
  // The accumulator of this series, started when the series changes; none past the last one kept.
  Accumulator* Series(int channel, Unit unit) {
    if (result.empty() || result.back().channel != channel || result.back().unit != unit) {
      if (acc) acc->Finish();
      acc.reset();
      if (result.size() == result.capacity()) return nullptr;  // more series than any logger has
      ChannelStats& s = result.emplace_back();
      s.channel = channel;
      s.unit = unit;
      // A change of unit alone is no new name.
      for (PointSpan& span : PointsIn(channels, channel, options.from_ms, options.to_ms)) {
        if (s.points.empty() || s.points.back().point != span.point) s.points.push_back(std::move(span));
      }
      if (!s.points.empty()) s.point = s.points.back().point;
      if (s.points.size() < 2) s.points.clear();
      acc.emplace(s, options, channels);
      for (const SeriesEntry& series : kept.series) {
        if (series.channel == channel && series.unit == unit)
          acc->Check(&kept.blocks[series.key], keptFirst, keptEnd);
      }
    }
    return acc ? &*acc : nullptr;
  }
};

namespace {

Timeline TimelineOf(std::vector<int64_t> times_ms, int64_t to_ms) {
  std::sort(times_ms.begin(), times_ms.end());
  times_ms.erase(std::unique(times_ms.begin(), times_ms.end()), times_ms.end());
  Timeline timeline(to_ms);
  std::vector<int64_t> block;
  for (size_t i = 0; i < times_ms.size();) {
    const int64_t b = BlockOf(times_ms[i] / 1000);
    block.clear();
    for (; i < times_ms.size() && BlockOf(times_ms[i] / 1000) == b; ++i) block.push_back(times_ms[i] / 1000);
    timeline.AddTimes(b, block);
  }
  timeline.Finish();
  return timeline;
}

}  // namespace

StatsBuilder::StatsBuilder(std::vector<int64_t> times, std::vector<ChannelEntry> channels,
                           StatsOptions options)
    : state_(std::make_unique<State>(TimelineOf(std::move(times), options.to_ms))) {
  state_->channels = std::move(channels);
  state_->options = std::move(options);
  // Results are filled in place: no reallocation may move one an accumulator is writing.
  state_->result.reserve(64);
}

StatsBuilder::~StatsBuilder() = default;

void StatsBuilder::Add(const PeriodPoint& p) {
  State& st = *state_;
  if (!st.Wanted(p.channel)) return;
  const auto share = st.timeline.At(p.utc_ms / 1000);
  Accumulator* acc = st.Series(p.channel, p.unit);
  if (acc == nullptr || !share) return;  // not among the logger's times
  acc->Add(p, share->duration_ms, share->gap_ms);
}

void StatsBuilder::Check(PeriodSummaries kept, int64_t first, int64_t end) {
  State& st = *state_;
  st.kept = std::move(kept);
  st.keptFirst = first;
  st.keptEnd = end;
}

std::vector<ChannelStats> StatsBuilder::Finish() {
  State& st = *state_;
  // A series whose kept hours hold no reading now still gets its line, to name them.
  for (const SeriesEntry& series : st.kept.series) {
    const auto& blocks = st.kept.blocks[series.key];
    const auto inside = blocks.lower_bound(st.keptFirst);
    const bool reported = std::any_of(st.result.begin(), st.result.end(), [&series](const ChannelStats& s) {
      return s.channel == series.channel && s.unit == series.unit;
    });
    if (!reported && st.Wanted(series.channel) && inside != blocks.end() && inside->first < st.keptEnd)
      st.Series(series.channel, series.unit);
  }
  if (st.acc) st.acc->Finish();
  st.acc.reset();
  std::stable_sort(st.result.begin(), st.result.end(), [](const ChannelStats& a, const ChannelStats& b) {
    return std::tie(a.channel, a.unit) < std::tie(b.channel, b.unit);
  });
  return std::move(st.result);
}

std::vector<ChannelStats> ComputeStats(const std::vector<PeriodPoint>& points,
                                       const std::vector<ChannelEntry>& channels,
                                       const StatsOptions& options) {
  std::vector<int64_t> times;
  for (const PeriodPoint& p : points) times.push_back(p.utc_ms);
  StatsBuilder builder(std::move(times), channels, options);
  for (const PeriodPoint& p : points) builder.Add(p);
  return builder.Finish();
}

std::string StatsJson(const ChannelStats& s, const std::string& logger, const StatsOptions& o,
                      const TimeZone& zone) {
  using Json = nlohmann::ordered_json;
  auto number = [](const std::optional<double>& v) { return v ? Json(*v) : Json(nullptr); };
  auto time = [&zone](int64_t ms) { return zone.Format(ms / 1000); };
  Json j;
  j["type"] = "stats";
  j["logger"] = logger;
  j["channel"] = s.channel;
  j["point"] = s.point;
  if (!s.points.empty()) {
    j["points"] = Json::array();
    for (const PointSpan& p : s.points)
      j["points"].push_back({{"point", p.point}, {"from", time(p.from_ms)}});
  }
  j["unit"] = s.unit == Unit::RelativeHumidity ? "%RH" : "°C";
  j["from"] = time(o.from_ms);
  j["to"] = time(o.to_ms);
  j["readings"] = s.readings;
  j["invalid"] = s.invalid;
  j["gap_s"] = s.gap_s;
  j["min"] = number(s.min);
  j["min_time"] = s.min ? Json(time(s.min_ms)) : Json(nullptr);
  j["max"] = number(s.max);
  j["max_time"] = s.max ? Json(time(s.max_ms)) : Json(nullptr);
  j["mean"] = number(s.mean);
  j["stddev"] = number(s.stddev);
  if (s.unit == Unit::Celsius) j["mkt"] = number(s.mkt);
  j["low"] = number(s.low);
  j["high"] = number(s.high);
  j["above_s"] = s.above_s ? Json(*s.above_s) : Json(nullptr);
  j["below_s"] = s.below_s ? Json(*s.below_s) : Json(nullptr);
  j["above_share"] = number(s.above_share);
  j["below_share"] = number(s.below_share);
  Json excursions = Json::array();
  for (const Excursion& e : s.excursions) {
    excursions.push_back({{"kind", e.high ? "high" : "low"},
                          {"start", time(e.start_ms)},
                          {"end", time(e.end_ms)},
                          {"duration_s", (e.end_ms - e.start_ms) / 1000},
                          {"extreme", e.extreme}});
  }
  j["excursions"] = excursions;
  j["sha256"] = s.sha256;
  // What `archive verify` needs to work the figures out again as they were.
  if (s.unit == Unit::Celsius) j["mkt_dh"] = o.mkt_dh_kj;
  j["limits"] = s.limits_given ? "given" : "recorded";
  Json changed = Json::array();
  for (int64_t ms : s.changed_ms) changed.push_back(time(ms));
  j["changed_hours"] = changed;
  return j.dump();
}

}  // namespace velutron::archive
