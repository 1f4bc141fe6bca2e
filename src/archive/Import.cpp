#include "archive/Import.h"

#include <algorithm>

#include "data/Measurements.h"

namespace velutron::archive {

namespace {

// A logger's local stamps to UTC with two look-ups of the zone per local day instead of several per
// record: a day that starts and ends with one offset has it throughout.
class LocalToUtc {
 public:
  explicit LocalToUtc(const TimeZone& zone) : zone_(zone) {}

  int64_t operator()(int64_t wall, LocalTimeKind& kind, std::optional<int64_t> after) {
    const int64_t day = (wall >= 0 ? wall : wall - 86399) / 86400;
    if (day != day_) {
      day_ = day;
      const int64_t start = day * 86400, end = start + 86399;
      LocalTimeKind first, last;
      offset_ = start - zone_.ToUtc(start, first);
      const int64_t endOffset = end - zone_.ToUtc(end, last);
      steady_ = first == LocalTimeKind::Unique && last == LocalTimeKind::Unique && endOffset == offset_;
    }
    if (!steady_) return zone_.ToUtc(wall, kind, after);
    kind = LocalTimeKind::Unique;
    return wall - offset_;
  }

 private:
  const TimeZone& zone_;
  int64_t day_ = INT64_MIN;
  int64_t offset_ = 0;
  bool steady_ = false;  // one offset all day; not on a day the clocks change
};

}  // namespace

bool ImportDatabase(PeriodArchive& archive, const DatabaseContents& db, const std::string& logger,
                    const TimeZone& zone, ImportResult& result, std::string& error) {
  result = {};
  const std::string owner = LoggerText(db.ownerText);
  result.logger = logger.empty() ? owner : logger;
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

  std::vector<Interval> intervals;
  std::vector<TimeMark> marks;
  intervals.reserve(dated.size());
  std::optional<int64_t> previous;
  LocalToUtc toUtc(zone);
  for (const Measurement* m : dated) {
    const int64_t wall = WallSeconds(*m->time);
    LocalTimeKind kind;
    const int64_t utc = toUtc(wall, kind, previous);
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
  // One transaction for the whole file, the logger's first entry included: one sync of the log.
  if (!archive.BeginBatch(error)) return false;
  const auto key = archive.Logger({result.logger, owner, ""}, error);
  if (!key) {
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
  return archive.EndBatch(error);
}

}  // namespace velutron::archive
