#include "archive/Statistics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "archive/Sha256.h"

namespace velutron::archive {

namespace {

constexpr double kZeroCelsius = 273.15;

std::string Shortest(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// What each of the logger's record times stands for.
struct Spans {
  std::vector<int64_t> times;  // sorted, unique
  std::vector<int64_t> duration_ms;
  std::vector<int64_t> gap_ms;

  size_t IndexOf(int64_t t) const {
    return static_cast<size_t>(std::lower_bound(times.begin(), times.end(), t) - times.begin());
  }
};

Spans SpansOf(std::vector<int64_t> times, int64_t to_ms) {
  Spans s;
  s.times = std::move(times);
  std::sort(s.times.begin(), s.times.end());
  s.times.erase(std::unique(s.times.begin(), s.times.end()), s.times.end());
  std::vector<int64_t> spacing;
  for (size_t i = 1; i < s.times.size(); ++i) spacing.push_back(s.times[i] - s.times[i - 1]);
  int64_t median = 0;
  if (!spacing.empty()) {
    std::vector<int64_t> sorted = spacing;
    const size_t mid = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(mid), sorted.end());
    median = sorted[mid];
    if (sorted.size() % 2 == 0) {
      const int64_t below =
          *std::max_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(mid));
      median = (median + below) / 2;
    }
  }
  for (size_t i = 0; i < s.times.size(); ++i) {
    if (i + 1 < s.times.size()) {
      const int64_t gap = spacing[i] > 2 * median ? spacing[i] - median : 0;
      s.duration_ms.push_back(spacing[i] - gap);
      s.gap_ms.push_back(gap);
    } else {
      s.duration_ms.push_back(std::max<int64_t>(0, std::min(median, to_ms - s.times[i])));
      s.gap_ms.push_back(0);
    }
  }
  return s;
}

struct Limits {
  std::optional<double> low, high;
};

class Accumulator {
 public:
  Accumulator(ChannelStats& s, const StatsOptions& o, const std::vector<ChannelEntry>& channels)
      : s_(s), o_(o), beta_(o.mkt_dh_kj * 1000.0 / kGasConstant) {
    for (const ChannelEntry& e : channels) {
      if (e.info.channel == s.channel) entries_.push_back(&e);
    }
  }

  void Add(const PeriodPoint& p, int64_t duration_ms, int64_t gap_ms) {
    s_.gap_s += gap_ms;  // in milliseconds until Finish
    hash_.Add(std::to_string(p.utc_ms / 1000) + ";" + (p.value ? Shortest(*p.value) : "") + ";" + p.status +
              "\n");
    const Limits limits = LimitsAt(p.utc_ms);
    last_ = limits;
    if (!p.value) {
      ++s_.invalid;
      EndExcursion();
      return;
    }
    const double v = *p.value;
    ++s_.readings;
    valid_ms_ += duration_ms;
    if (!s_.min || v < *s_.min) s_.min = v, s_.min_ms = p.utc_ms;
    if (!s_.max || v > *s_.max) s_.max = v, s_.max_ms = p.utc_ms;
    // Welford's running mean and sum of squares, steady over millions of readings.
    const double delta = v - mean_;
    mean_ += delta / static_cast<double>(s_.readings);
    m2_ += delta * (v - mean_);
    if (s_.unit == Unit::Celsius) exponents_.push_back(-beta_ / (v + kZeroCelsius));

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

  void Finish() {
    EndExcursion();
    s_.gap_s /= 1000;
    if (s_.readings > 0) s_.mean = mean_;
    if (s_.readings > 1) s_.stddev = std::sqrt(m2_ / static_cast<double>(s_.readings - 1));
    if (!exponents_.empty()) {
      // ln of the mean of e^x, taken around the largest x so that nothing underflows.
      const double top = *std::max_element(exponents_.begin(), exponents_.end());
      double sum = 0;
      for (double x : exponents_) sum += std::exp(x - top);
      const double lnMean = top + std::log(sum / static_cast<double>(exponents_.size()));
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
  Limits LimitsAt(int64_t t) const {
    Limits l{o_.low, o_.high};
    if (o_.low || o_.high) return l;
    const ChannelEntry* in_force = nullptr;
    for (const ChannelEntry* e : entries_) {
      if (e->from_ms <= t && e->info.unit == s_.unit) in_force = e;
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
  Sha256 hash_;
  Limits last_;
  double mean_ = 0, m2_ = 0;
  std::vector<double> exponents_;
  int64_t valid_ms_ = 0, above_ms_ = 0, below_ms_ = 0;
  bool anyHigh_ = false, anyLow_ = false;
  std::optional<Excursion> run_;
};

}  // namespace

struct StatsBuilder::State {
  Spans spans;
  std::vector<ChannelEntry> channels;
  StatsOptions options;
  std::vector<ChannelStats> result;
  std::optional<Accumulator> acc;
  size_t at = 0;  // where in the spans the last point was found
};

StatsBuilder::StatsBuilder(std::vector<int64_t> times, std::vector<ChannelEntry> channels,
                           StatsOptions options)
    : state_(std::make_unique<State>()) {
  state_->spans = SpansOf(std::move(times), options.to_ms);
  state_->channels = std::move(channels);
  state_->options = std::move(options);
  // Results are filled in place: no reallocation may move one an accumulator is writing.
  state_->result.reserve(64);
}

StatsBuilder::~StatsBuilder() = default;

void StatsBuilder::Add(const PeriodPoint& p) {
  State& st = *state_;
  const StatsOptions& o = st.options;
  if (!o.channels.empty() && std::find(o.channels.begin(), o.channels.end(), p.channel) == o.channels.end())
    return;
  if (st.result.empty() || st.result.back().channel != p.channel || st.result.back().unit != p.unit) {
    if (st.acc) st.acc->Finish();
    st.acc.reset();
    if (st.result.size() == st.result.capacity()) return;  // more series than any logger has
    ChannelStats& s = st.result.emplace_back();
    s.channel = p.channel;
    s.unit = p.unit;
    for (const ChannelEntry& e : st.channels) {
      if (e.info.channel == p.channel && e.from_ms < o.to_ms) s.point = e.info.point;
    }
    st.acc.emplace(s, st.options, st.channels);
    st.at = 0;
  }
  // Points come in time order within a series: the search goes on from the last one found.
  const auto& times = st.spans.times;
  if (st.at >= times.size() || times[st.at] > p.utc_ms) st.at = 0;
  st.at = static_cast<size_t>(
      std::lower_bound(times.begin() + static_cast<std::ptrdiff_t>(st.at), times.end(), p.utc_ms) -
      times.begin());
  if (st.at >= times.size() || times[st.at] != p.utc_ms) return;  // not among the logger's times
  st.acc->Add(p, st.spans.duration_ms[st.at], st.spans.gap_ms[st.at]);
}

std::vector<ChannelStats> StatsBuilder::Finish() {
  if (state_->acc) state_->acc->Finish();
  state_->acc.reset();
  return std::move(state_->result);
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
  return j.dump();
}

}  // namespace velutron::archive
