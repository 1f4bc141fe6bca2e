#include "archive/Import.h"

#include <algorithm>

#include "archive/Summary.h"
#include "data/Measurements.h"

namespace velutron::archive {

bool ImportDatabase(PeriodArchive& archive, const DatabaseContents& db, const std::string& logger,
                    const TimeZone& zone, ImportResult& result, std::string& error) {
  result = {};
  const std::string owner = LoggerText(db.ownerText);
  result.logger = logger.empty() ? owner : logger;
  if (result.logger.empty()) {
    error = "the file names no owner: give the logger a name (--logger)";
    return false;
  }
  const auto key = archive.Logger({result.logger, owner, ""}, error);
  if (!key) return false;

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

  std::vector<Interval> intervals;
  std::vector<TimeMark> marks;
  intervals.reserve(dated.size());
  std::optional<int64_t> previous;
  for (const Measurement* m : dated) {
    const int64_t wall = WallSeconds(*m->time);
    LocalTimeKind kind;
    const int64_t utc = zone.ToUtc(wall, kind, previous);
    previous = utc;
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
  // One transaction for the whole file: one sync of the log instead of three.
  if (!archive.BeginBatch(error)) return false;
  if (!intervals.empty()) {
    // The point names the file carries, as of its first record; units as the first record has them.
    std::vector<ChannelInfo> channels;
    for (const Reading& r : intervals.front().readings)
      channels.push_back(
          {r.channel, LoggerText(db.PointName(r.channel)), r.unit, std::nullopt, std::nullopt});
    if (!archive.SetChannels(*key, intervals.front().utc_ms, channels, error)) {
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
  // The hours the file finished get their summaries now, so that the first report finds them; the hour
  // of its last record may go on in the next download. A failure here only leaves them to that report.
  if (!intervals.empty()) {
    const auto [first, last] =
        std::minmax_element(intervals.begin(), intervals.end(),
                            [](const Interval& a, const Interval& b) { return a.utc_ms < b.utc_ms; });
    PeriodSummaries summaries;
    std::string ignored;
    if (!archive.BeginBatch(ignored)) return true;
    if (archive.Summaries(*key, BlockOfMs(first->utc_ms), BlockOfMs(last->utc_ms), summaries, ignored))
      archive.EndBatch(ignored);
    else
      archive.AbandonBatch();
  }
  return true;
}

}  // namespace velutron::archive
