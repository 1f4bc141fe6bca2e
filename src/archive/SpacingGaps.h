#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velutron::archive {

class PeriodArchive;
struct Gap;

// A stretch without readings found from the spacing of a logger's records alone, whatever the cause:
// from when the next record was due (the last one plus one median spacing) to the next record.
struct SpacingGap {
  int64_t from_ms = 0;
  int64_t to_ms = 0;
  bool operator==(const SpacingGap&) const = default;
};

// The median of spacings given as spacing: count; for an even count the mean of the two middle ones,
// rounded down. 0 without spacings. The statistics and the gaps share it, so that they always agree.
int64_t MedianSpacing(const std::map<int64_t, int64_t>& spacings);

// The median of the spacings between consecutive record times (sorted, each once); 0 below two times.
int64_t MedianSpacing(const std::vector<int64_t>& times);

// Every spacing longer than twice the median, as the statistics count gaps.
std::vector<SpacingGap> SpacingGaps(const std::vector<int64_t>& times);

// SpacingGaps over every record time of the logger from `first_ms` to `last_ms` (both included: its
// first and last, or a period's ends), found from its hourly time summaries: record times are read only for
// the hours whose spacings hold a gap, and for the two at the span's edges.
bool SpacingGapsOf(PeriodArchive& archive, int64_t logger, int64_t first_ms, int64_t last_ms,
                   std::vector<SpacingGap>& gaps, std::string& error);

// A gap as `archive list` shows it, with its cause in words.
struct ShownGap {
  int64_t from, to;
  const char* cause;
};

// The gaps the station recorded and, beside them, those the spacing of the readings from `first_ms` to
// `last_ms` shows (none when the logger has no readings, `any` false), in time order.
bool ShownGaps(PeriodArchive& archive, int64_t logger, int64_t first_ms, int64_t last_ms, bool any,
               const std::vector<Gap>& gaps, std::vector<ShownGap>& shown, std::string& error);

}  // namespace velutron::archive
