// Loggers, channels, readings, gaps and spans out of the archive.

#include <algorithm>
#include <iterator>

#include "archive/Store.h"

namespace velutron::archive::store {

std::optional<int64_t> Store::FindLogger(const std::string& name, std::string& error) {
  error.clear();
  std::optional<int64_t> key;
  if (!db_->Exec(
          "SELECT id FROM loggers WHERE name = $1", std::vector<SqlValue>{name},
          [&key](const SqlRow& row) { key = row.Int(0); }, error))
    return std::nullopt;
  return key;
}

bool Store::History(int64_t logger, int channel, int64_t from_ms, int64_t to_ms,
                    std::vector<HistoryPoint>& points, std::string& error) {
  points.clear();
  auto keep = [&](const PeriodPoint& p) {
    if (p.channel == channel) points.push_back({p.utc_ms, p.value, p.status});
  };
  if (!PeriodOf(logger, channel, from_ms, to_ms, keep, error)) return false;
  // A channel that held both units over time comes as two runs.
  std::stable_sort(points.begin(), points.end(),
                   [](const HistoryPoint& a, const HistoryPoint& b) { return a.utc_ms < b.utc_ms; });
  return true;
}

bool Store::Loggers(std::vector<LoggerEntry>& loggers, std::string& error) {
  loggers.clear();
  return db_->Exec(
      "SELECT id, name, owner, serial FROM loggers ORDER BY name", {},
      [&](const SqlRow& row) {
        loggers.push_back({row.Int(0), {row.Text(1), row.Text(2), row.Text(3)}});
      },
      error);
}

bool Store::LoggerZone(int64_t logger, std::string& zone, std::string& error) {
  zone.clear();
  return db_->Exec(
      "SELECT zone FROM loggers WHERE id = $1", std::vector<SqlValue>{logger},
      [&zone](const SqlRow& row) { zone = row.Text(0); }, error);
}

bool Store::Channels(int64_t logger, std::vector<ChannelEntry>& channels, std::string& error) {
  channels.clear();
  return db_->Exec(
      "SELECT from_ms, channel, point, unit, low, high, seen FROM channels WHERE logger = $1 "
      "ORDER BY channel, from_ms",
      std::vector<SqlValue>{logger},
      [&](const SqlRow& row) {
        ChannelEntry e;
        e.from_ms = row.Int(0);
        e.info.channel = static_cast<int>(row.Int(1));
        e.info.point = row.Text(2);
        e.info.unit = static_cast<Unit>(row.Int(3));
        if (!row.IsNull(4)) e.info.low = row.Real(4);
        if (!row.IsNull(5)) e.info.high = row.Real(5);
        e.until = row.Int(6) != 0;
        channels.push_back(std::move(e));
      },
      error);
}

bool Store::Period(int64_t logger, int64_t from_ms, int64_t to_ms,
                   const std::function<void(const PeriodPoint&)>& each, std::string& error) {
  return PeriodOf(logger, 0, from_ms, to_ms, each, error);
}

// One channel's readings, or every channel's with `channel` 0.
bool Store::PeriodOf(int64_t logger, int channel, int64_t from_ms, int64_t to_ms,
                     const std::function<void(const PeriodPoint&)>& each, std::string& error) {
  if (!LoadStatuses(error)) return false;
  std::vector<std::tuple<int64_t, int, Unit>> series;
  if (!db_->Exec(
          "SELECT id, channel, unit FROM series WHERE logger = $1 AND ($2 = 0 OR channel = $2) "
          "ORDER BY channel, unit",
          std::vector<SqlValue>{logger, int64_t{channel}},
          [&](const SqlRow& row) {
            series.emplace_back(row.Int(0), static_cast<int>(row.Int(1)), static_cast<Unit>(row.Int(2)));
          },
          error))
    return false;
  // Whole seconds: [from, to) in milliseconds covers the seconds from ceil(from) to ceil(to).
  for (const auto& [id, number, unit] : series) {
    if (!Readings(id, number, unit, -Seconds(-from_ms), -Seconds(-to_ms), each, error)) return false;
  }
  return true;
}

bool Store::SeriesIn(int64_t logger, int64_t from_ms, int64_t to_ms,
                     std::vector<std::pair<int, Unit>>& present, std::string& error) {
  present.clear();
  std::vector<std::tuple<int64_t, int, Unit>> series;
  if (!db_->Exec(
          "SELECT id, channel, unit FROM series WHERE logger = $1 ORDER BY channel, unit",
          std::vector<SqlValue>{logger},
          [&](const SqlRow& row) {
            series.emplace_back(row.Int(0), static_cast<int>(row.Int(1)), static_cast<Unit>(row.Int(2)));
          },
          error))
    return false;
  for (const auto& [id, channel, unit] : series) {
    bool any = false;
    if (!db_->Exec(
            "SELECT 1 FROM readings WHERE series = $1 AND t >= $2 AND t < $3 LIMIT 1",
            std::vector<SqlValue>{id, -Seconds(-from_ms), -Seconds(-to_ms)},
            [&any](const SqlRow&) { any = true; }, error))
      return false;
    if (any) present.emplace_back(channel, unit);
  }
  return true;
}

bool Store::Times(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<int64_t>& times,
                  std::string& error) {
  times.clear();
  std::vector<int64_t> series, one, merged;
  if (!db_->Exec(
          "SELECT id FROM series WHERE logger = $1", std::vector<SqlValue>{logger},
          [&](const SqlRow& row) { series.push_back(row.Int(0)); }, error))
    return false;
  for (int64_t id : series) {
    one.clear();
    if (!Readings(
            id, 0, Unit::Celsius, -Seconds(-from_ms), -Seconds(-to_ms),  // only the times count
            [&one](const PeriodPoint& p) { one.push_back(p.utc_ms); }, error))
      return false;
    merged.clear();
    std::set_union(times.begin(), times.end(), one.begin(), one.end(), std::back_inserter(merged));
    times.swap(merged);
  }
  return true;
}

bool Store::Gaps(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<Gap>& gaps, std::string& error) {
  gaps.clear();
  return db_->Exec(
      "SELECT from_ms, to_ms, cause FROM gaps WHERE logger = $1 AND to_ms > $2 AND from_ms < $3 "
      "ORDER BY from_ms",
      std::vector<SqlValue>{logger, from_ms, to_ms},
      [&](const SqlRow& row) {
        gaps.push_back({row.Int(0), row.Int(1), static_cast<GapCause>(row.Int(2))});
      },
      error);
}

bool Store::Span(int64_t logger, int64_t& first_ms, int64_t& last_ms, bool& any, std::string& error) {
  any = false;
  // Each series' ends from its index: a min and max over the join would read every reading.
  return db_->Exec(
      "SELECT min(f), max(l) FROM (SELECT (SELECT min(t) FROM readings WHERE series = s.id) AS f, "
      "(SELECT max(t) FROM readings WHERE series = s.id) AS l FROM series s WHERE s.logger = $1) AS e",
      std::vector<SqlValue>{logger},
      [&](const SqlRow& row) {
        if (row.IsNull(0)) return;
        any = true;
        first_ms = row.Int(0) * 1000;
        last_ms = row.Int(1) * 1000;
      },
      error);
}

// One series' readings in [from_s, to_s), in slices so that a server's answer for a year never sits
// in memory whole.
bool Store::Readings(int64_t id, int channel, Unit unit, int64_t from_s, int64_t to_s,
                     const std::function<void(const PeriodPoint&)>& each, std::string& error) {
  constexpr int64_t kSlice = 100000;
  PeriodPoint p;
  p.channel = channel;
  p.unit = unit;
  int64_t from = from_s;
  for (int64_t rows = kSlice; rows == kSlice;) {
    rows = 0;
    if (!db_->Exec(
            "SELECT t, v FROM readings WHERE series = $1 AND t >= $2 AND t < $3 ORDER BY t LIMIT $4",
            std::vector<SqlValue>{id, from, to_s, kSlice},
            [&](const SqlRow& row) {
              ++rows;
              const int64_t t = row.Int(0);
              from = t + 1;
              p.utc_ms = t * 1000;
              Decoded(Stored{row.Int(1)}, p);
              each(p);
            },
            error))
      return false;
  }
  return true;
}

void Store::Decoded(const Stored& stored, PeriodPoint& p) const {
  p.source = stored.SourceOf();
  if (stored.HasValue()) {
    p.value = Decode(p.unit, stored.Steps());
    p.status.clear();
  } else {
    p.value.reset();
    p.status = StatusText(stored.StatusCode());
  }
}

bool Store::SeriesList(int64_t logger, std::vector<SeriesEntry>& series, std::string& error) {
  series.clear();
  return db_->Exec(
      "SELECT id, channel, unit FROM series WHERE logger = $1 ORDER BY channel, unit",
      std::vector<SqlValue>{logger},
      [&](const SqlRow& row) {
        series.push_back({row.Int(0), static_cast<int>(row.Int(1)), static_cast<Unit>(row.Int(2))});
      },
      error);
}

}  // namespace velutron::archive::store
