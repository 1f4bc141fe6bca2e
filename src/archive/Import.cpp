#include "archive/Import.h"

#include <algorithm>

#include "archive/Summary.h"
#include "data/Measurements.h"

namespace velutron::archive {

namespace {

// The offset each record's stamp is read with: one for the whole file, changed only where the stamps
// jump by exactly the zone's change across the zone's moment of it (the interval's usual spacing plus
// an hour in spring, minus an hour in autumn).
class ClockReader {
 public:
  ClockReader(const TimeZone& zone, const std::vector<int64_t>& walls, std::optional<int64_t> offset)
      : given_(offset.has_value()) {
    if (walls.empty()) return;
    const auto [low, high] = std::minmax_element(walls.begin(), walls.end());
    // Every stamp lies within a day of its UTC moment, whatever the offset.
    changes_ = zone.Changes(*low - 86400, *high + 86400);
    LocalTimeKind kind;
    offset_ = offset ? *offset : walls.front() - zone.ToUtc(walls.front(), kind);
    std::vector<int64_t> steps;
    for (size_t i = 1; i < walls.size(); ++i) {
      if (walls[i] > walls[i - 1]) steps.push_back(walls[i] - walls[i - 1]);
    }
    if (!steps.empty()) {
      std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2),
                       steps.end());
      spacing_ = steps[steps.size() / 2];
    }
  }

  // The UTC seconds of the next record's stamp, in time order; `changed` when the offset changed there.
  int64_t operator()(int64_t wall, bool& changed) {
    changed = false;
    if (previous_ && !given_ && spacing_ > 0) {
      const int64_t before = *previous_ - offset_, step = wall - *previous_;
      for (const TimeZone::Change& c : changes_) {
        if (c.before == offset_ && before < c.utc_s && c.utc_s <= before + spacing_ &&
            step == spacing_ + (c.after - c.before)) {
          offset_ = c.after;
          changed = true;
          break;
        }
      }
    }
    previous_ = wall;
    return wall - offset_;
  }

  int64_t Offset() const { return offset_; }

  // A stamp the zone itself names ambiguously: in the hour it skips or the one it repeats.
  LocalTimeKind KindOf(int64_t wall) const {
    for (const TimeZone::Change& c : changes_) {
      const int64_t a = c.utc_s + c.before, b = c.utc_s + c.after;
      if (wall >= std::min(a, b) && wall < std::max(a, b))
        return b > a ? LocalTimeKind::Gap : LocalTimeKind::Fold;
    }
    return LocalTimeKind::Unique;
  }

 private:
  bool given_ = false;
  std::vector<TimeZone::Change> changes_;
  int64_t offset_ = 0;
  int64_t spacing_ = 0;  // the median step between stamps
  std::optional<int64_t> previous_;
};

// Summarises the hours the file's records fall in, as the station does each hour, so that a report
// names an hour changed outside the program afterwards. Runs of consecutive hours are taken one at a
// time: a record with a wrong date far away costs its own hour, not every hour up to it.
void SummarizeHours(PeriodArchive& archive, int64_t logger, const std::vector<Interval>& intervals,
                    std::string& error) {
  std::vector<int64_t> blocks;
  for (const Interval& interval : intervals) blocks.push_back(BlockOfMs(interval.utc_ms));
  std::sort(blocks.begin(), blocks.end());
  blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
  // A run in one transaction (one sync); its rows are taken in the order every writer takes them.
  PeriodSummaries summaries;
  for (size_t i = 0; i < blocks.size();) {
    size_t j = i + 1;
    while (j < blocks.size() && blocks[j] == blocks[j - 1] + 1) ++j;
    if (!archive.BeginBatch(error)) return;
    if (!archive.Summaries(logger, blocks[i], blocks[j - 1] + 1, summaries, error)) {
      archive.AbandonBatch();
      return;
    }
    if (!archive.EndBatch(error)) return;
    i = j;
  }
}

}  // namespace

std::string ImportedLoggerName(const DatabaseContents& db, const std::string& logger) {
  return logger.empty() ? LoggerText(db.ownerText) : logger;
}

bool ChooseClockZone(PeriodArchive& archive, const std::string& logger, const std::string& asked,
                     bool replace, bool once, ClockZone& zone, std::string& error) {
  zone = {};
  std::string stored;
  const auto key = archive.FindLogger(logger, error);
  if (!error.empty() || (key && !archive.LoggerZone(*key, stored, error))) return false;
  if (!asked.empty() && !stored.empty() && !SameZone(asked, stored) && !replace && !once) {
    error = "the clock of " + logger + " is in " + stored + " (stored at its first import), not " + asked +
            ": leave out --tz, add --new-zone to read the file in " + asked +
            " and store that zone from now on, or give --offset ±HH:MM for this file alone";
    return false;
  }
  zone.name = !asked.empty() ? asked : !stored.empty() ? stored : MachineZoneName();
  if (stored.empty() || (replace && !SameZone(zone.name, stored))) zone.record = zone.name;
  return true;
}

bool ImportDatabase(PeriodArchive& archive, const DatabaseContents& db, const std::string& logger,
                    const TimeZone& zone, ImportResult& result, std::string& error) {
  return ImportDatabase(archive, db, ImportOptions{logger, std::nullopt, ""}, zone, result, error);
}

bool ImportDatabase(PeriodArchive& archive, const DatabaseContents& db, const ImportOptions& options,
                    const TimeZone& zone, ImportResult& result, std::string& error) {
  result = {};
  const std::string owner = LoggerText(db.ownerText);
  result.logger = ImportedLoggerName(db, options.logger);
  if (result.logger.empty()) {
    error = "the file names no owner: give the logger a name (--logger)";
    return false;
  }
  std::vector<Measurement> rows = Measurements(db);
  std::vector<const Measurement*> dated;
  for (const Measurement& m : rows) {
    if (m.time) {
      dated.push_back(&m);
    } else {
      ++result.undated;
    }
  }
  // A download from the last record to the first holds them newest first.
  if (dated.size() > 1 && WallSeconds(*dated.front()->time) > WallSeconds(*dated.back()->time))
    std::reverse(dated.begin(), dated.end());
  std::vector<int64_t> walls;
  walls.reserve(dated.size());
  for (const Measurement* m : dated) walls.push_back(WallSeconds(*m->time));

  std::vector<Interval> intervals;
  std::vector<TimeMark> marks;
  intervals.reserve(dated.size());
  ClockReader clock(zone, walls, options.offset_s);
  for (size_t i = 0; i < dated.size(); ++i) {
    const Measurement* m = dated[i];
    const int64_t wall = walls[i];
    bool changed = false;
    const int64_t utc = clock(wall, changed);
    if (i == 0 || changed) result.offsets.push_back({clock.Offset(), utc * 1000});
    const LocalTimeKind kind = clock.KindOf(wall);
    if (kind == LocalTimeKind::Gap) {
      ++result.gap_times;
      marks.push_back({utc * 1000, "dst-gap"});
    } else if (kind == LocalTimeKind::Fold) {
      ++result.fold_times;
      marks.push_back({utc * 1000, "dst-fold"});
    }
    Interval interval{utc * 1000, wall, {}};
    for (size_t k = 0; k < m->readings.size(); ++k) {
      const velutron::Reading& r = m->readings[k];
      interval.readings.push_back({static_cast<int>(k + 1),
                                   r.quantity == Quantity::Humidity ? Unit::RelativeHumidity : Unit::Celsius,
                                   r.value, std::string(r.marker)});
    }
    intervals.push_back(std::move(interval));
  }
  // One transaction for the whole file, the logger's first entry included: one sync of the log.
  if (!archive.BeginBatch(error)) return false;
  const auto key = archive.Logger({result.logger, owner, ""}, error);
  if (!key || (!options.record_zone.empty() && !archive.SetLoggerZone(*key, options.record_zone, error))) {
    archive.AbandonBatch();
    return false;
  }
  if (!intervals.empty()) {
    // The point names the file carries are what the logger held when it was read, at its last record
    // (with that record's units); since the previous download at the latest.
    std::vector<ChannelInfo> channels;
    for (const Reading& r : intervals.back().readings)
      channels.push_back(
          {r.channel, LoggerText(db.PointName(r.channel)), r.unit, std::nullopt, std::nullopt});
    if (!archive.SeenChannels(*key, intervals.back().utc_ms, channels, error)) {
      archive.AbandonBatch();
      return false;
    }
  }
  if (!archive.AddIntervals(*key, Source::Download, intervals, result.counts, error) ||
      !archive.AddTimeMarks(*key, marks, error)) {
    archive.AbandonBatch();
    return false;
  }
  if (!archive.EndBatch(error)) return false;
  if (result.counts.added > 0) SummarizeHours(archive, *key, intervals, result.summary_error);
  return true;
}

}  // namespace velutron::archive
