#include "archive/PointNames.h"

#include <algorithm>

namespace velutron::archive {

namespace {

int64_t NextSecond(int64_t ms) { return (ms >= 0 ? ms / 1000 : -((999 - ms) / 1000)) * 1000 + 1000; }

}  // namespace

const ChannelEntry* EntryAt(const std::vector<ChannelEntry>& entries, int channel, int64_t utc_ms) {
  const ChannelEntry* before = nullptr;  // the last entry at or before the time
  const ChannelEntry* after = nullptr;   // the first at or after it
  for (const ChannelEntry& e : entries) {
    if (e.info.channel != channel) continue;
    if (e.from_ms <= utc_ms && (before == nullptr || e.from_ms > before->from_ms)) before = &e;
    if (e.from_ms >= utc_ms && (after == nullptr || e.from_ms < after->from_ms)) after = &e;
  }
  // A download's name stood since the entry before it; the station's stands until the next entry.
  return after != nullptr && after->until ? after : before;
}

std::vector<PointSpan> PointsIn(const std::vector<ChannelEntry>& entries, int channel, int64_t from_ms,
                                int64_t to_ms) {
  // The name can change only at an entry's time or just after it.
  std::vector<int64_t> times = {from_ms};
  for (const ChannelEntry& e : entries) {
    if (e.info.channel != channel) continue;
    for (int64_t t : {e.from_ms, NextSecond(e.from_ms)}) {
      if (t > from_ms && t < to_ms) times.push_back(t);
    }
  }
  std::sort(times.begin(), times.end());
  std::vector<PointSpan> spans;
  for (int64_t t : times) {
    const ChannelEntry* e = EntryAt(entries, channel, t);
    if (e == nullptr) continue;
    if (spans.empty() || spans.back().point != e->info.point || spans.back().unit != e->info.unit)
      spans.push_back({e->info.point, e->info.unit, t});
  }
  return spans;
}

std::string PointAtEnd(const std::vector<ChannelEntry>& entries, int channel, int64_t from_ms,
                       int64_t to_ms) {
  const auto spans = PointsIn(entries, channel, from_ms, to_ms);
  return spans.empty() ? std::string() : spans.back().point;
}

}  // namespace velutron::archive
