#include "archive/SpacingGaps.h"

#include <algorithm>

namespace velutron::archive {

int64_t MedianSpacing(const std::vector<int64_t>& times) {
  if (times.size() < 2) return 0;
  std::vector<int64_t> spacing;
  spacing.reserve(times.size() - 1);
  for (size_t i = 1; i < times.size(); ++i) spacing.push_back(times[i] - times[i - 1]);
  const size_t mid = spacing.size() / 2;
  const auto at = spacing.begin() + static_cast<std::ptrdiff_t>(mid);
  std::nth_element(spacing.begin(), at, spacing.end());
  if (spacing.size() % 2 != 0) return *at;
  // An even count takes the mean of the two middle spacings, as the statistics do.
  return (*at + *std::max_element(spacing.begin(), at)) / 2;
}

std::vector<SpacingGap> SpacingGaps(const std::vector<int64_t>& times) {
  std::vector<SpacingGap> gaps;
  const int64_t median = MedianSpacing(times);
  for (size_t i = 1; i < times.size(); ++i) {
    if (times[i] - times[i - 1] > 2 * median) gaps.push_back({times[i - 1] + median, times[i]});
  }
  return gaps;
}

}  // namespace velutron::archive
