// Readings, channels, gaps, alarms and time marks into the archive.

#include <algorithm>
#include <nlohmann/json.hpp>

#include "archive/PointNames.h"
#include "archive/Store.h"

namespace velutron::archive::store {

std::optional<int64_t> Store::Logger(const LoggerId& id, std::string& error) {
  auto found = FindLogger(id.name, error);
  if (found || !error.empty()) return found;
  // A concurrent writer may create the same logger between the look-up and the insert.
  if (!db_->Exec("INSERT INTO loggers(name, owner, serial) VALUES ($1, $2, $3) ON CONFLICT (name) DO NOTHING",
                 {id.name, id.owner, id.serial}, error))
    return std::nullopt;
  return FindLogger(id.name, error);
}

bool Store::SetChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels,
                        std::string& error) {
  return RecordChannels(logger, utc_ms, channels, false, error);
}

bool Store::SeenChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels,
                         std::string& error) {
  return RecordChannels(logger, utc_ms, channels, true, error);
}

bool Store::AddInterval(int64_t logger, Source source, const Interval& interval, std::string& error) {
  AddCounts counts;
  return AddIntervals(logger, source, std::span<const Interval>(&interval, 1), counts, error);
}

bool Store::AddIntervals(int64_t logger, Source source, std::span<const Interval> intervals,
                         AddCounts& counts, std::string& error) {
  if (intervals.empty()) return true;
  if (!Begin(error)) return false;
  std::vector<Row> rows;
  int64_t first = INT64_MAX, last = INT64_MIN;
  for (const Interval& interval : intervals) {
    const int64_t t = Seconds(interval.utc_ms);
    first = std::min(first, t);
    last = std::max(last, t);
    for (const Reading& r : interval.readings) {
      auto series = Series(logger, r.channel, r.unit, error);
      if (!series) return Fail();
      Stored s;
      if (r.value && r.status.empty()) {
        s.v = 2 * Encode(r.unit, *r.value);
      } else {
        auto code = StatusCode(r.status.empty() ? "?" : r.status, error);
        if (!code) return Fail();
        s.v = 2 * (kMarkers + *code);
      }
      s.v += static_cast<int64_t>(source);
      rows.push_back({*series, t, s});
    }
    if (!ClockOffset(logger, t, interval.logger_clock_s, error)) return Fail();
  }
  // What the archive already holds in the batch's time span, to tell present from conflicting.
  std::unordered_map<std::pair<int64_t, int64_t>, Stored, KeyHash> existing;
  existing.reserve(rows.size());
  if (!Existing(logger, first, last + 1, existing, error)) return Fail();

  std::vector<const Row*> fresh;
  fresh.reserve(rows.size());
  for (const Row& row : rows) {
    auto [it, inserted] = existing.try_emplace({row.series, row.t}, row.stored);
    if (inserted) {
      fresh.push_back(&row);
    } else if (it->second.SameReading(row.stored)) {
      ++counts.present;
    } else {
      if (!AddConflict(row.series, row.t, row.stored, error)) return Fail();
      CountConflict(row.series, row.t, counts);
    }
  }
  // In key order, each series' rows go to the end of its run of the index instead of every record
  // touching ten places of it: fewer pages written and split.
  std::map<int64_t, std::vector<const Row*>> bySeries;
  for (const Row* row : fresh) bySeries[row->series].push_back(row);
  fresh.clear();
  for (auto& [series, run] : bySeries) {
    auto earlier = [](const Row* a, const Row* b) { return a->t < b->t; };
    // Records come in time order already, but a station's late interval may not.
    if (!std::is_sorted(run.begin(), run.end(), earlier)) std::sort(run.begin(), run.end(), earlier);
    fresh.insert(fresh.end(), run.begin(), run.end());
  }
  // A station's interval, a row a series, goes in from the last series to the first: after weeks of
  // such inserts that leaves a tenth of the index's pages free instead of an eighth (15.5 bytes a
  // reading instead of 15.8). Longer runs fill the pages best in key order.
  if (fresh.size() == bySeries.size()) std::reverse(fresh.begin(), fresh.end());
  // Several rows a statement: a round trip per reading would make a server archive slow. A server
  // takes them as three arrays, one short text to parse however many rows it holds.
  const bool server = db_->Kind() == Engine::Postgres;
  const size_t perStatement = server ? kRowsPerArray : kRowsPerStatement;
  std::vector<SqlValue> params;
  for (size_t at = 0; at < fresh.size(); at += perStatement) {
    const size_t n = std::min(perStatement, fresh.size() - at);
    params.clear();
    if (server) {
      std::string series = "{", t = "{", v = "{";
      for (size_t i = 0; i < n; ++i) {
        const Row& row = *fresh[at + i];
        const char* comma = i ? "," : "";
        series += comma + std::to_string(row.series);
        t += comma + std::to_string(row.t);
        v += comma + std::to_string(row.stored.v);
      }
      params = {series + "}", t + "}", v + "}"};
    } else {
      for (size_t i = 0; i < n; ++i) {
        const Row& row = *fresh[at + i];
        params.insert(params.end(), {row.series, row.t, row.stored.v});
      }
    }
    if (!db_->Exec(InsertReadings(server ? 0 : n), params, {}, error)) return Fail();
    const auto added = static_cast<size_t>(db_->Changes());
    counts.added += added;
    // Another server connection archived some of them meanwhile: those are present or in conflict.
    if (added < n &&
        !Recheck(logger, std::span<const Row* const>(fresh).subspan(at, n), n - added, counts, error))
      return Fail();
  }
  // The rows are in key order: a block's run of them names it once.
  std::vector<std::pair<int64_t, int64_t>> touched;
  for (const Row* row : fresh) {
    const std::pair<int64_t, int64_t> block{row->series, BlockOf(row->t)};
    if (touched.empty() || touched.back() != block) touched.push_back(block);
  }
  if (!OutdateSummaries(logger, touched, error)) return Fail();
  return Commit(error);
}

bool Store::AddGap(int64_t logger, const Gap& gap, std::string& error) {
  return db_->Exec("INSERT INTO gaps(logger, from_ms, to_ms, cause) VALUES ($1, $2, $3, $4)",
                   {logger, gap.from_utc_ms, gap.to_utc_ms, int64_t{static_cast<int>(gap.cause)}}, error);
}

std::optional<int64_t> Store::AddAlarmEvent(int64_t logger, const AlarmEvent& e, std::string& error) {
  std::optional<int64_t> key;
  if (!db_->Exec(
          "INSERT INTO alarm_events(logger, utc_ms, event, kind, channel, value, lim, json) VALUES "
          "($1, $2, $3, $4, $5, $6, $7, $8) RETURNING id",
          std::vector<SqlValue>{logger, e.utc_ms, e.event, e.kind, int64_t{e.channel}, Nullable(e.value),
                                Nullable(e.limit), e.json},
          [&key](const SqlRow& row) { key = row.Int(0); }, error))
    return std::nullopt;
  return key;
}

bool Store::AddNotification(const Notification& n, std::string& error) {
  const std::string command = nlohmann::json(n.command).dump();
  return db_->Exec(
      "INSERT INTO notifications(alarm_event, utc_ms, command, exit_code, error) VALUES "
      "($1, $2, $3, $4, $5)",
      {n.alarm_event_id, n.utc_ms, command, int64_t{n.exit_code}, n.error}, error);
}

bool Store::SetLoggerZone(int64_t logger, const std::string& zone, std::string& error) {
  return db_->Exec("UPDATE loggers SET zone = $2 WHERE id = $1", {logger, zone}, error);
}

bool Store::AddTimeMarks(int64_t logger, std::span<const TimeMark> marks, std::string& error) {
  if (marks.empty()) return true;
  if (!Begin(error)) return false;
  for (const TimeMark& mark : marks) {
    if (!db_->Exec("INSERT INTO time_marks(logger, t, mark) VALUES ($1, $2, $3) ON CONFLICT (logger, t) "
                   "DO NOTHING",
                   {logger, Seconds(mark.utc_ms), mark.mark}, error))
      return Fail();
  }
  return Commit(error);
}

// An entry is stored only when it changes what the archive says: the name and unit in force at its
// time, or (the station's) the limits, which only the station's entries carry.
bool Store::RecordChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels,
                           bool until, std::string& error) {
  std::vector<ChannelEntry> known;
  if (!Begin(error)) return false;
  if (!Channels(logger, known, error)) return Fail();
  for (const ChannelInfo& c : channels) {
    const ChannelEntry* named = EntryAt(known, c.channel, utc_ms);
    bool same = named != nullptr && named->info.point == c.point && named->info.unit == c.unit;
    if (!until) {
      const ChannelEntry* limits = nullptr;
      for (const ChannelEntry& e : known) {
        if (e.info.channel == c.channel && e.info.unit == c.unit && !e.until && e.from_ms <= utc_ms)
          limits = &e;
      }
      same = same && (limits != nullptr ? limits->info.low == c.low && limits->info.high == c.high
                                        : !c.low && !c.high);
    }
    if (same) continue;
    // A download's entry never replaces the station's of the same moment, which knows the limits.
    if (!db_->Exec("INSERT INTO channels(logger, channel, from_ms, point, unit, low, high, seen) VALUES "
                   "($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT (logger, channel, from_ms) DO UPDATE SET "
                   "point = excluded.point, unit = excluded.unit, low = excluded.low, high = excluded.high, "
                   "seen = excluded.seen" +
                       std::string(until ? " WHERE channels.seen = 1" : ""),
                   {logger, int64_t{c.channel}, utc_ms, c.point, int64_t{static_cast<int>(c.unit)},
                    until ? SqlValue{} : Nullable(c.low), until ? SqlValue{} : Nullable(c.high),
                    int64_t{until ? 1 : 0}},
                   error))
      return Fail();
  }
  return Commit(error);
}

std::optional<int64_t> Store::Series(int64_t logger, int channel, Unit unit, std::string& error) {
  const auto key = std::make_tuple(logger, channel, static_cast<int>(unit));
  if (auto it = series_.find(key); it != series_.end()) return it->second;
  const std::vector<SqlValue> params{logger, int64_t{channel}, int64_t{static_cast<int>(unit)}};
  std::optional<int64_t> id;
  auto take = [&id](const SqlRow& row) { id = row.Int(0); };
  if (!db_->Exec("INSERT INTO series(logger, channel, unit) VALUES ($1, $2, $3) "
                 "ON CONFLICT (logger, channel, unit) DO NOTHING",
                 params, {}, error) ||
      !db_->Exec("SELECT id FROM series WHERE logger = $1 AND channel = $2 AND unit = $3", params, take,
                 error))
    return std::nullopt;
  if (id) series_[key] = *id;
  return id;
}

// Stores the logger's clock against the PC's only when the difference changes.
bool Store::ClockOffset(int64_t logger, int64_t t, const std::optional<int64_t>& clock, std::string& error) {
  const std::optional<int64_t> offset = clock ? std::optional<int64_t>(*clock - t) : std::nullopt;
  auto it = offsets_.find(logger);
  if (it == offsets_.end()) {
    std::optional<int64_t> last;
    bool any = false;
    if (!db_->Exec(
            "SELECT offset_s FROM clock_offsets WHERE logger = $1 ORDER BY t DESC LIMIT 1",
            std::vector<SqlValue>{logger},
            [&](const SqlRow& row) {
              any = true;
              if (!row.IsNull(0)) last = row.Int(0);
            },
            error))
      return false;
    it = offsets_.emplace(logger, any ? std::optional<std::optional<int64_t>>(last) : std::nullopt).first;
  }
  if (it->second && *it->second == offset) return true;
  if (!db_->Exec("INSERT INTO clock_offsets(logger, t, offset_s) VALUES ($1, $2, $3) ON CONFLICT (logger, t) "
                 "DO UPDATE SET offset_s = excluded.offset_s",
                 {logger, t, Nullable(offset)}, error))
    return false;
  it->second = offset;
  return true;
}

// The insert of n readings (0: of three arrays), its text made once per size.
const std::string& Store::InsertReadings(size_t n) {
  std::string& sql = insertTexts_[n];
  if (!sql.empty()) return sql;
  sql = "INSERT INTO readings(series, t, v) ";
  if (n == 0) {
    sql += "SELECT * FROM unnest($1::bigint[], $2::bigint[], $3::bigint[])";
  } else {
    // SQLite looks up each numbered parameter among all those before it while it compiles; plain
    // ones in order cost nothing.
    sql += "VALUES ";
    for (size_t i = 0; i < n; ++i) sql += i ? ",(?,?,?)" : "(?,?,?)";
  }
  sql += " ON CONFLICT (series, t) DO NOTHING";
  return sql;
}

}  // namespace velutron::archive::store
