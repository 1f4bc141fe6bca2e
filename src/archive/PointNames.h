#pragma once

// Which point name a channel had at a time, from its recorded entries: the station's stand from their
// time on, a download's stood back to the entry before them. Every figure, chart, export and list that
// names a channel asks here, so that they all agree.

#include <cstdint>
#include <string>
#include <vector>

#include "archive/Archive.h"

namespace velutron::archive {

// The entry whose name and unit the channel had at `utc_ms`; null before any entry says.
const ChannelEntry* EntryAt(const std::vector<ChannelEntry>& entries, int channel, int64_t utc_ms);

// A name the channel had over part of a period, from `from_ms` on.
struct PointSpan {
  std::string point;
  Unit unit = Unit::Celsius;
  int64_t from_ms = 0;
  bool operator==(const PointSpan&) const = default;
};

// The names the channel had in [from_ms, to_ms), oldest first: the first from `from_ms` (or from the
// first entry, when none said before it), each later one from the first whole second it stood. Spans of
// the same name and unit are one.
std::vector<PointSpan> PointsIn(const std::vector<ChannelEntry>& entries, int channel, int64_t from_ms,
                                int64_t to_ms);

// The name in force at the end of [from_ms, to_ms) ("" when none).
std::string PointAtEnd(const std::vector<ChannelEntry>& entries, int channel, int64_t from_ms, int64_t to_ms);

}  // namespace velutron::archive
