#include "archive/SpacingGaps.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "archive/Archive.h"
#include "archive/Summary.h"

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

bool SpacingGapsOf(PeriodArchive& archive, int64_t logger, int64_t first_ms, int64_t last_ms,
                   std::vector<SpacingGap>& gaps, std::string& error) {
  gaps.clear();
  constexpr int64_t kBlockMs = kBlockSeconds * 1000;
  const int64_t first = BlockOfMs(first_ms), last = BlockOfMs(last_ms);
  // The edge hours are read as they are: the last one may still be filling, and a summary of it would
  // be out of date at the next record.
  std::map<int64_t, TimeSummary> hours;
  if (last - first >= 2 && !archive.TimeSummaries(logger, first + 1, last, hours, error)) return false;
  std::map<int64_t, std::vector<int64_t>> read;  // milliseconds, by block
  // Only the times in the span count: a period's gaps follow its own median spacing, as its report's do.
  auto readHour = [&](int64_t b) {
    std::vector<int64_t>& times = read[b];
    return archive.Times(logger, std::max(first_ms, b * kBlockMs), std::min(last_ms + 1, (b + 1) * kBlockMs),
                         times, error);
  };
  for (int64_t b : {first, last}) {
    if (read.contains(b)) continue;
    if (!readHour(b)) return false;
    std::vector<int64_t> seconds;
    for (int64_t t : read[b]) seconds.push_back(t / 1000);
    hours[b] = SummarizeTimes(seconds);
  }
  std::map<int64_t, int64_t> spacings;  // milliseconds
  const TimeSummary* before = nullptr;
  for (const auto& [b, hour] : hours) {
    if (hour.count == 0) continue;
    if (before != nullptr) ++spacings[(hour.first - before->last) * 1000];
    for (const auto& [spacing, count] : hour.spacings) spacings[spacing * 1000] += count;
    before = &hour;
  }
  const int64_t median = MedianSpacing(spacings);
  before = nullptr;
  for (const auto& [b, hour] : hours) {
    if (hour.count == 0) continue;
    if (before != nullptr && (hour.first - before->last) * 1000 > 2 * median)
      gaps.push_back({before->last * 1000 + median, hour.first * 1000});
    before = &hour;
    const bool inside = std::any_of(hour.spacings.begin(), hour.spacings.end(),
                                    [median](const auto& s) { return s.first * 1000 > 2 * median; });
    if (!inside) continue;
    if (!read.contains(b) && !readHour(b)) return false;
    AddGaps(read[b], median, gaps);
  }
  return true;
}

// The cause of a gap found in the spacing of the readings rather than recorded by the station.
constexpr const char* kMissingReadings = "missing readings";

bool ShownGaps(PeriodArchive& archive, int64_t logger, int64_t first_ms, int64_t last_ms, bool any,
               const std::vector<Gap>& gaps, std::vector<ShownGap>& shown, std::string& error) {
  static constexpr const char* kCauses[] = {"silence", "port gone", "bus failure", "paused", "station late"};
  shown.clear();
  for (const Gap& g : gaps)
    shown.push_back({g.from_utc_ms, g.to_utc_ms,
                     static_cast<size_t>(g.cause) < std::size(kCauses) ? kCauses[static_cast<size_t>(g.cause)]
                                                                       : "unknown"});
  // Beside the gaps the station recorded, those the spacing of the readings shows (a download's
  // logger stopped, a station that was not running), unless the station recorded them itself.
  std::vector<SpacingGap> spacingGaps;
  if (any && !SpacingGapsOf(archive, logger, first_ms, last_ms, spacingGaps, error)) return false;
  for (const SpacingGap& g : spacingGaps) {
    const bool recorded = std::any_of(gaps.begin(), gaps.end(), [&g](const Gap& known) {
      return known.from_utc_ms < g.to_ms && g.from_ms < known.to_utc_ms;
    });
    if (!recorded) shown.push_back({g.from_ms, g.to_ms, kMissingReadings});
  }
  std::stable_sort(shown.begin(), shown.end(),
                   [](const ShownGap& a, const ShownGap& b) { return a.from < b.from; });
  return true;
}

}  // namespace velutron::archive
