#include "archive/SpacingGaps.h"

#include <cstddef>

namespace velutron::archive {

int64_t MedianSpacing(const std::map<int64_t, int64_t>& spacings) {
  int64_t total = 0;
  for (const auto& [spacing, count] : spacings) total += count;
  const int64_t mid = total / 2;
  int64_t seen = 0, below = 0;
  for (const auto& [spacing, count] : spacings) {
    if (seen + count > mid) return total % 2 == 0 && seen == mid ? (below + spacing) / 2 : spacing;
    seen += count;
    below = spacing;
  }
  return 0;
}

int64_t MedianSpacing(const std::vector<int64_t>& times) {
  std::map<int64_t, int64_t> spacings;
  for (size_t i = 1; i < times.size(); ++i) ++spacings[times[i] - times[i - 1]];
  return MedianSpacing(spacings);
}

namespace {

void AddGaps(const std::vector<int64_t>& times, int64_t median, std::vector<SpacingGap>& gaps) {
  for (size_t i = 1; i < times.size(); ++i) {
    if (times[i] - times[i - 1] > 2 * median) gaps.push_back({times[i - 1] + median, times[i]});
  }
}

}  // namespace

std::vector<SpacingGap> SpacingGaps(const std::vector<int64_t>& times) {
  std::vector<SpacingGap> gaps;
  AddGaps(times, MedianSpacing(times), gaps);
  return gaps;
}

}  // namespace velutron::archive
