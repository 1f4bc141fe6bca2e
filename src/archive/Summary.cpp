#include "archive/Summary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace velutron::archive {

namespace {
constexpr double kZeroCelsius = 273.15;
}

int64_t StepsOf(Unit unit, double value) {
  return std::llround(value / (unit == Unit::RelativeHumidity ? 0.1 : 0.0625));
}

double ValueOf(Unit unit, int64_t steps) {
  return unit == Unit::RelativeHumidity ? static_cast<double>(steps) / 10.0
                                        : static_cast<double>(steps) / 16.0;
}

std::string HashLine(int64_t seconds, const std::optional<double>& value, const std::string& status) {
  std::string line = std::to_string(seconds) + ";";
  if (value) {
    char text[32];
    line.append(text, std::to_chars(text, text + sizeof text, *value).ptr);
  }
  return line + ";" + status + "\n";
}

BlockBuilder::BlockBuilder(Unit unit, double mkt_dh_kj)
    : unit_(unit), beta_(mkt_dh_kj * 1000.0 / kGasConstant) {}

void BlockBuilder::Add(int64_t seconds, const std::optional<double>& value, const std::string& status) {
  hash_.Add(HashLine(seconds, value, status));
  if (!value) {
    ++s_.invalid;
    return;
  }
  const int64_t steps = StepsOf(unit_, *value);
  if (s_.valid == 0 || steps < s_.min) s_.min = steps, s_.min_t = seconds;
  if (s_.valid == 0 || steps > s_.max) s_.max = steps, s_.max_t = seconds;
  ++s_.valid;
  s_.sum += steps;
  s_.sum_sq += steps * steps;
  // Scaled by e^(β/273.15) so that no term underflows between -55 °C and +125 °C.
  if (unit_ == Unit::Celsius) s_.mkt += std::exp(beta_ / kZeroCelsius - beta_ / (*value + kZeroCelsius));
}

BlockSummary BlockBuilder::Finish() {
  BlockSummary done = std::move(s_);
  done.digest = hash_.Hex();
  s_ = {};
  hash_ = {};
  return done;
}

std::optional<std::array<int64_t, 4>> DigestWords(const std::string& hex) {
  if (hex.size() != 64) return std::nullopt;
  std::array<int64_t, 4> words{};
  for (size_t i = 0; i < 4; ++i) {
    uint64_t word = 0;
    const char* from = hex.data() + 16 * i;
    const auto r = std::from_chars(from, from + 16, word, 16);
    if (r.ec != std::errc() || r.ptr != from + 16) return std::nullopt;
    words[i] = static_cast<int64_t>(word);
  }
  return words;
}

std::string DigestHex(const std::array<int64_t, 4>& words) {
  std::string hex;
  for (int64_t w : words) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(static_cast<uint64_t>(w)));
    hex += text;
  }
  return hex;
}

TimeSummary SummarizeTimes(const std::vector<int64_t>& seconds) {
  TimeSummary s;
  if (seconds.empty()) return s;
  s.count = static_cast<int64_t>(seconds.size());
  s.first = seconds.front();
  s.last = seconds.back();
  std::vector<int64_t> spacing;
  for (size_t i = 1; i < seconds.size(); ++i) spacing.push_back(seconds[i] - seconds[i - 1]);
  std::sort(spacing.begin(), spacing.end());
  for (int64_t d : spacing) {
    if (s.spacings.empty() || s.spacings.back().first != d) s.spacings.emplace_back(d, 0);
    ++s.spacings.back().second;
  }
  return s;
}

std::string WriteSpacings(const std::vector<std::pair<int64_t, int64_t>>& spacings) {
  std::string text;
  for (const auto& [spacing, count] : spacings) {
    if (!text.empty()) text += ',';
    text += std::to_string(spacing) + ":" + std::to_string(count);
  }
  return text;
}

std::optional<std::vector<std::pair<int64_t, int64_t>>> ReadSpacings(const std::string& text) {
  std::vector<std::pair<int64_t, int64_t>> spacings;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    int64_t spacing = 0, count = 0;
    auto r = std::from_chars(p, end, spacing);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':') return std::nullopt;
    r = std::from_chars(r.ptr + 1, end, count);
    if (r.ec != std::errc() || count <= 0) return std::nullopt;
    spacings.emplace_back(spacing, count);
    p = r.ptr;
    if (p < end && *p++ != ',') return std::nullopt;
  }
  return spacings;
}

}  // namespace velutron::archive
