#pragma once

// What the period report and chart need from one block of a series' readings, kept in the archive so
// that a year is read as thousands of summaries instead of millions of readings. A block is an hour of
// UTC from the Unix epoch: in every zone with a whole-hour offset (and daylight-saving changes on the
// hour) a local day is whole blocks. Elsewhere (India, Nepal, Newfoundland…) the block across local
// midnight is read reading by reading for the day-by-day table: slower, the same figures. A summary
// takes about 0.3 bytes a reading at 10 s; quarter hours would make the archive over 16 bytes a reading.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "archive/Sha256.h"

namespace velutron::archive {

inline constexpr int64_t kBlockSeconds = 3600;
inline constexpr double kDefaultMktDh = 83.144;  // kJ/mol
inline constexpr double kGasConstant = 8.3144598;  // J/(mol·K)

inline int64_t BlockOf(int64_t seconds) {
  return seconds >= 0 ? seconds / kBlockSeconds : -((kBlockSeconds - 1 - seconds) / kBlockSeconds);
}
// The block of a time in milliseconds, kept to the whole second below as the archive keeps it.
inline int64_t BlockOfMs(int64_t ms) { return BlockOf(ms >= 0 ? ms / 1000 : -((999 - ms) / 1000)); }

// A reading in whole steps of its sensor's resolution: the summaries' sums are exact integers.
int64_t StepsOf(Unit unit, double value);
double ValueOf(Unit unit, int64_t steps);

// The line a reading adds to its block's hash: "seconds;value;status\n".
std::string HashLine(int64_t seconds, const std::optional<double>& value, const std::string& status);

// One block of one series (or the part of it inside a period).
struct BlockSummary {
  int64_t valid = 0, invalid = 0;
  int64_t min = 0, max = 0;      // steps, the first time each was reached
  int64_t min_t = 0, max_t = 0;  // seconds
  int64_t sum = 0, sum_sq = 0;   // steps
  double mkt = 0;                // Σ e^(β/273.15 − β/T) over the valid readings (°C only)
  std::string digest;            // SHA-256 of the block's hash lines, hexadecimal
};

// Builds a block's summary from its readings in time order; the report's full scan uses the same
// builder, so figures from summaries and from readings agree to the bit.
class BlockBuilder {
 public:
  BlockBuilder(Unit unit, double mkt_dh_kj);
  void Add(int64_t seconds, const std::optional<double>& value, const std::string& status);
  bool Empty() const { return s_.valid + s_.invalid == 0; }
  BlockSummary Finish();  // and starts a new block

 private:
  Unit unit_;
  double beta_;
  BlockSummary s_;
  Sha256 hash_;
};

// Whether a block's readings now give the summary kept of them: the same hash and counts.
inline bool SameReadings(const BlockSummary& kept, const BlockSummary& now) {
  return kept.digest == now.digest && kept.valid == now.valid && kept.invalid == now.invalid;
}

// A logger's record times (over all its channels) in one block: how many, the first and last, and how
// often each spacing between two of them occurs, so that durations and gaps follow without the times.
struct TimeSummary {
  int64_t count = 0;
  int64_t first = 0, last = 0;                        // seconds
  std::vector<std::pair<int64_t, int64_t>> spacings;  // seconds, count; by spacing
};

// A series of a logger: one channel in one unit.
struct SeriesEntry {
  int64_t key = 0;
  int channel = 0;
  Unit unit = Unit::Celsius;
};

struct PeriodSummaries {
  std::vector<SeriesEntry> series;                            // by channel and unit
  std::map<int64_t, std::map<int64_t, BlockSummary>> blocks;  // by series key, then block
  std::map<int64_t, TimeSummary> times;                       // the logger's record times, by block
};

// A block's hash (64 hexadecimal digits) as four 64-bit words, and back; empty for anything else.
std::optional<std::array<int64_t, 4>> DigestWords(const std::string& hex);
std::string DigestHex(const std::array<int64_t, 4>& words);

TimeSummary SummarizeTimes(const std::vector<int64_t>& seconds);  // sorted, unique
std::string WriteSpacings(const std::vector<std::pair<int64_t, int64_t>>& spacings);
// Empty for text that is not a list of "spacing:count" pairs.
std::optional<std::vector<std::pair<int64_t, int64_t>>> ReadSpacings(const std::string& text);

}  // namespace velutron::archive
