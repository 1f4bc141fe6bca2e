#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <tuple>
#include <unordered_map>

#include "archive/Archive.h"
#include "archive/Database.h"
#include "archive/Location.h"
#include "archive/PointNames.h"
#include "archive/Schema.h"
#include "archive/Summary.h"
#include "platform/Utf8Path.h"

namespace velutron::archive {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t Seconds(int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }

// Values are kept as whole steps of the sensor's resolution.
double StepOf(Unit unit) { return unit == Unit::RelativeHumidity ? 0.1 : 0.0625; }
int64_t Encode(Unit unit, double value) { return std::llround(value / StepOf(unit)); }
double Decode(Unit unit, int64_t steps) {
  return unit == Unit::RelativeHumidity ? static_cast<double>(steps) / 10.0
                                        : static_cast<double>(steps) / 16.0;
}

// A reading is one integer: v = 2 × its value in steps + source, or 2 × (kMarkers + status code) +
// source for a reading without value. One column instead of three keeps a row at 14 bytes.
constexpr int64_t kMarkers = 1'000'000;

int64_t Half(int64_t v) { return v >= 0 ? v / 2 : -((1 - v) / 2); }

struct Stored {
  int64_t v = 0;
  bool operator==(const Stored&) const = default;
  // Two readings agree when value and status agree, whatever their source.
  bool SameReading(const Stored& o) const { return Half(v) == Half(o.v); }
  Source SourceOf() const { return static_cast<Source>(v - 2 * Half(v)); }
  bool HasValue() const { return Half(v) < kMarkers; }
  int64_t Steps() const { return Half(v); }
  int64_t StatusCode() const { return Half(v) - kMarkers; }
};

SqlValue Nullable(const std::optional<int64_t>& v) { return v ? SqlValue{*v} : SqlValue{}; }
SqlValue Nullable(const std::optional<double>& v) { return v ? SqlValue{*v} : SqlValue{}; }

class Store final : public PeriodArchive {
 public:
  explicit Store(std::unique_ptr<Database> db) : db_(std::move(db)) {}

  std::optional<int64_t> Logger(const LoggerId& id, std::string& error) override {
    auto found = FindLogger(id.name, error);
    if (found || !error.empty()) return found;
    // A concurrent writer may create the same logger between the look-up and the insert.
    if (!db_->Exec(
            "INSERT INTO loggers(name, owner, serial) VALUES ($1, $2, $3) ON CONFLICT (name) DO NOTHING",
            {id.name, id.owner, id.serial}, error))
      return std::nullopt;
    return FindLogger(id.name, error);
  }

  std::optional<int64_t> FindLogger(const std::string& name, std::string& error) override {
    error.clear();
    std::optional<int64_t> key;
    if (!db_->Exec(
            "SELECT id FROM loggers WHERE name = $1", std::vector<SqlValue>{name},
            [&key](const SqlRow& row) { key = row.Int(0); }, error))
      return std::nullopt;
    return key;
  }

  bool SetChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels,
                   std::string& error) override {
    return RecordChannels(logger, utc_ms, channels, false, error);
  }

  bool SeenChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels,
                    std::string& error) override {
    return RecordChannels(logger, utc_ms, channels, true, error);
  }

  bool AddInterval(int64_t logger, Source source, const Interval& interval, std::string& error) override {
    AddCounts counts;
    return AddIntervals(logger, source, std::span<const Interval>(&interval, 1), counts, error);
  }

  bool AddIntervals(int64_t logger, Source source, std::span<const Interval> intervals, AddCounts& counts,
                    std::string& error) override {
    if (intervals.empty()) return true;
    if (!Begin(error)) return false;
    struct Row {
      int64_t series;
      int64_t t;
      Stored stored;
    };
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
    if (!Touch(logger, touched, error)) return Fail();
    return Commit(error);
  }

  bool AddGap(int64_t logger, const Gap& gap, std::string& error) override {
    return db_->Exec("INSERT INTO gaps(logger, from_ms, to_ms, cause) VALUES ($1, $2, $3, $4)",
                     {logger, gap.from_utc_ms, gap.to_utc_ms, int64_t{static_cast<int>(gap.cause)}}, error);
  }

  std::optional<int64_t> AddAlarmEvent(int64_t logger, const AlarmEvent& e, std::string& error) override {
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

  bool AddNotification(const Notification& n, std::string& error) override {
    const std::string command = nlohmann::json(n.command).dump();
    return db_->Exec(
        "INSERT INTO notifications(alarm_event, utc_ms, command, exit_code, error) VALUES "
        "($1, $2, $3, $4, $5)",
        {n.alarm_event_id, n.utc_ms, command, int64_t{n.exit_code}, n.error}, error);
  }

  bool History(int64_t logger, int channel, int64_t from_ms, int64_t to_ms, std::vector<HistoryPoint>& points,
               std::string& error) override {
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

  bool Loggers(std::vector<LoggerEntry>& loggers, std::string& error) override {
    loggers.clear();
    return db_->Exec(
        "SELECT id, name, owner, serial FROM loggers ORDER BY name", {},
        [&](const SqlRow& row) {
          loggers.push_back({row.Int(0), {row.Text(1), row.Text(2), row.Text(3)}});
        },
        error);
  }

  bool LoggerZone(int64_t logger, std::string& zone, std::string& error) override {
    zone.clear();
    return db_->Exec(
        "SELECT zone FROM loggers WHERE id = $1", std::vector<SqlValue>{logger},
        [&zone](const SqlRow& row) { zone = row.Text(0); }, error);
  }

  bool SetLoggerZone(int64_t logger, const std::string& zone, std::string& error) override {
    return db_->Exec("UPDATE loggers SET zone = $2 WHERE id = $1", {logger, zone}, error);
  }

  bool Channels(int64_t logger, std::vector<ChannelEntry>& channels, std::string& error) override {
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

  bool AddTimeMarks(int64_t logger, std::span<const TimeMark> marks, std::string& error) override {
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

  bool Period(int64_t logger, int64_t from_ms, int64_t to_ms,
              const std::function<void(const PeriodPoint&)>& each, std::string& error) override {
    return PeriodOf(logger, 0, from_ms, to_ms, each, error);
  }

 private:
  // One channel's readings, or every channel's with `channel` 0.
  bool PeriodOf(int64_t logger, int channel, int64_t from_ms, int64_t to_ms,
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

 public:
  bool BeginBatch(std::string& error) override { return Begin(error); }
  bool EndBatch(std::string& error) override { return Commit(error); }
  void AbandonBatch() override {
    if (depth_ > 0) Fail();
  }

  bool SeriesIn(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<std::pair<int, Unit>>& present,
                std::string& error) override {
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

  bool Times(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<int64_t>& times,
             std::string& error) override {
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

  bool Gaps(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<Gap>& gaps,
            std::string& error) override {
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

  bool Conflicts(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<Conflict>& conflicts,
                 std::string& error) override {
    conflicts.clear();
    if (!LoadStatuses(error)) return false;
    return db_->Exec(
        "SELECT s.channel, s.unit, c.t, c.v FROM series s JOIN conflicts c ON c.series = s.id "
        "WHERE s.logger = $1 AND c.t >= $2 AND c.t < $3 ORDER BY c.t, s.channel, c.id",
        std::vector<SqlValue>{logger, -Seconds(-from_ms), -Seconds(-to_ms)},
        [&](const SqlRow& row) {
          Conflict c;
          c.channel = static_cast<int>(row.Int(0));
          c.unit = static_cast<Unit>(row.Int(1));
          c.utc_ms = row.Int(2) * 1000;
          const Stored stored{row.Int(3)};
          c.source = stored.SourceOf();
          if (stored.HasValue()) {
            c.value = Decode(c.unit, stored.Steps());
          } else {
            c.status = StatusText(stored.StatusCode());
          }
          conflicts.push_back(std::move(c));
        },
        error);
  }

  bool Span(int64_t logger, int64_t& first_ms, int64_t& last_ms, bool& any, std::string& error) override {
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

  bool KeptSummaries(int64_t logger, int64_t first_block, int64_t end_block, PeriodSummaries& out,
                     std::string& error) override {
    out = {};
    if (!SeriesList(logger, out.series, error)) return false;
    for (const SeriesEntry& series : out.series) {
      auto& blocks = out.blocks[series.key];
      if (!db_->Exec(
              "SELECT b, valid, invalid, mn, mn_t, mx, mx_t, total, total_sq, mkt, d0, d1, d2, d3 "
              "FROM summaries WHERE series = $1 AND b >= $2 AND b < $3 AND built = version AND d0 IS NOT "
              "NULL AND d1 IS NOT NULL AND d2 IS NOT NULL AND d3 IS NOT NULL ORDER BY b",
              std::vector<SqlValue>{series.key, first_block, end_block},
              [&blocks](const SqlRow& row) {
                const int64_t b = row.Int(0), at = b * kBlockSeconds;
                blocks[b] = {
                    row.Int(1),      row.Int(2),
                    row.Int(3),      row.Int(5),
                    at + row.Int(4), at + row.Int(6),
                    row.Int(7),      row.Int(8),
                    row.Real(9),     DigestHex({row.Int(10), row.Int(11), row.Int(12), row.Int(13)})};
              },
              error))
        return false;
    }
    return true;
  }

  bool Summaries(int64_t logger, int64_t first_block, int64_t end_block, PeriodSummaries& out,
                 std::string& error) override {
    out = {};
    if (!LoadStatuses(error) || !SeriesList(logger, out.series, error)) return false;
    if (first_block >= end_block) return true;
    // Rows in the order an insert touches them (Touch: the logger's times, then each series by key), so
    // that a caller's transaction and a concurrent writer's never wait for each other in a circle.
    if (!TimeSummaries(logger, first_block, end_block, out.times, error)) return false;
    std::vector<const SeriesEntry*> byKey;
    for (const SeriesEntry& series : out.series) byKey.push_back(&series);
    std::sort(byKey.begin(), byKey.end(),
              [](const SeriesEntry* a, const SeriesEntry* b) { return a->key < b->key; });
    for (const SeriesEntry* series : byKey) {
      if (!SeriesSummaries(*series, first_block, end_block, out.blocks[series->key], error)) return false;
    }
    return true;
  }

 private:
  // An entry is stored only when it changes what the archive says: the name and unit in force at its
  // time, or (the station's) the limits, which only the station's entries carry.
  bool RecordChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels, bool until,
                      std::string& error) {
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
      if (!db_->Exec(
              "INSERT INTO channels(logger, channel, from_ms, point, unit, low, high, seen) VALUES "
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

  // Transactions nest inside a batch: only the outermost one reaches the engine.
  bool Begin(std::string& error) {
    if (depth_++ > 0) return true;
    if (db_->Begin(error)) return true;
    depth_ = 0;
    return false;
  }
  bool Commit(std::string& error) {
    if (depth_ == 0 || --depth_ > 0) return true;
    return db_->Commit(error) || Fail();
  }
  bool Fail() {
    // The whole batch is gone; the callers up the chain see false and give up too.
    if (depth_ > 0) --depth_;
    db_->Rollback();
    // What was cached inside the rolled-back transaction may not exist.
    series_.clear();
    statuses_.clear();
    status_texts_.clear();
    offsets_.clear();
    return false;
  }

  std::optional<int64_t> Series(int64_t logger, int channel, Unit unit, std::string& error) {
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

  bool LoadStatuses(std::string& error) {
    return db_->Exec(
        "SELECT code, text FROM statuses", {},
        [this](const SqlRow& row) {
          statuses_[row.Text(1)] = row.Int(0);
          status_texts_[row.Int(0)] = row.Text(1);
        },
        error);
  }

  std::string StatusText(int64_t code) const {
    auto it = status_texts_.find(code);
    return it != status_texts_.end() ? it->second : "?";
  }

  std::optional<int64_t> StatusCode(const std::string& text, std::string& error) {
    if (auto it = statuses_.find(text); it != statuses_.end()) return it->second;
    if (!db_->Exec("INSERT INTO statuses(text) VALUES ($1) ON CONFLICT (text) DO NOTHING", {text}, error) ||
        !LoadStatuses(error))
      return std::nullopt;
    return statuses_.at(text);
  }

  // Stores the logger's clock against the PC's only when the difference changes.
  bool ClockOffset(int64_t logger, int64_t t, const std::optional<int64_t>& clock, std::string& error) {
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
    if (!db_->Exec(
            "INSERT INTO clock_offsets(logger, t, offset_s) VALUES ($1, $2, $3) ON CONFLICT (logger, t) "
            "DO UPDATE SET offset_s = excluded.offset_s",
            {logger, t, Nullable(offset)}, error))
      return false;
    it->second = offset;
    return true;
  }

  template <typename Map>
  bool Existing(int64_t logger, int64_t from, int64_t to, Map& existing, std::string& error) {
    return db_->Exec(
        "SELECT r.series, r.t, r.v FROM series s JOIN readings r ON r.series = s.id "
        "WHERE s.logger = $1 AND r.t >= $2 AND r.t < $3",
        std::vector<SqlValue>{logger, from, to},
        [&](const SqlRow& row) {
          existing[{row.Int(0), row.Int(1)}] = Stored{row.Int(2)};
        },
        error);
  }

  bool AddConflict(int64_t series, int64_t t, const Stored& s, std::string& error) {
    // The same disagreeing reading imported again is not a new conflict.
    bool known = false;
    if (!db_->Exec(
            "SELECT v FROM conflicts WHERE series = $1 AND t = $2", std::vector<SqlValue>{series, t},
            [&](const SqlRow& row) { known = known || Stored{row.Int(0)}.SameReading(s); }, error))
      return false;
    if (known) return true;
    return db_->Exec("INSERT INTO conflicts(series, t, v, found_ms) VALUES ($1, $2, $3, $4)",
                     {series, t, s.v, NowMs()}, error);
  }

  void CountConflict(int64_t series, int64_t t, AddCounts& counts) const {
    ++counts.conflicts;
    counts.conflicts_from_ms = std::min(counts.conflicts_from_ms, t * 1000);
    counts.conflicts_to_ms = std::max(counts.conflicts_to_ms, t * 1000);
    for (const auto& [key, id] : series_) {
      if (id == series) counts.conflict_channels |= 1u << (std::get<1>(key) & 31);
    }
  }

  template <typename Row>
  bool Recheck(int64_t logger, std::span<const Row* const> rows, size_t missing, AddCounts& counts,
               std::string& error) {
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (const Row* row : rows) {
      first = std::min(first, row->t);
      last = std::max(last, row->t);
    }
    std::map<std::pair<int64_t, int64_t>, Stored> now;
    if (!Existing(logger, first, last + 1, now, error)) return false;
    for (const Row* row : rows) {
      if (missing == 0) break;
      const Stored& stored = now[{row->series, row->t}];
      if (stored == row->stored) continue;  // ours, or the very same reading
      --missing;
      if (stored.SameReading(row->stored)) {
        ++counts.present;
      } else {
        if (!AddConflict(row->series, row->t, row->stored, error)) return false;
        CountConflict(row->series, row->t, counts);
      }
    }
    counts.present += missing;
    return true;
  }

  static constexpr size_t kRowsPerStatement = 1000;
  static constexpr size_t kRowsPerArray = 20000;

  // The insert of n readings (0: of three arrays), its text made once per size.
  const std::string& InsertReadings(size_t n) {
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

  struct KeyHash {
    size_t operator()(const std::pair<int64_t, int64_t>& k) const {
      return static_cast<size_t>(static_cast<uint64_t>(k.second) * 31 +
                                 static_cast<uint64_t>(k.first) * 0x9E3779B97F4A7C15ULL);
    }
  };

  // One series' readings in [from_s, to_s), in slices so that a server's answer for a year never sits
  // in memory whole.
  bool Readings(int64_t id, int channel, Unit unit, int64_t from_s, int64_t to_s,
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

  void Decoded(const Stored& stored, PeriodPoint& p) const {
    p.source = stored.SourceOf();
    if (stored.HasValue()) {
      p.value = Decode(p.unit, stored.Steps());
      p.status.clear();
    } else {
      p.value.reset();
      p.status = StatusText(stored.StatusCode());
    }
  }

  bool SeriesList(int64_t logger, std::vector<SeriesEntry>& series, std::string& error) {
    series.clear();
    return db_->Exec(
        "SELECT id, channel, unit FROM series WHERE logger = $1 ORDER BY channel, unit",
        std::vector<SqlValue>{logger},
        [&](const SqlRow& row) {
          series.push_back({row.Int(0), static_cast<int>(row.Int(1)), static_cast<Unit>(row.Int(2))});
        },
        error);
  }

  // Inserts into these blocks make their summaries (and the logger's time summaries) out of date. In
  // key order, so that two writers lock the rows in the same order.
  bool Touch(int64_t logger, std::vector<std::pair<int64_t, int64_t>> touched, std::string& error) {
    const size_t n = touched.size();
    for (size_t i = 0; i < n; ++i) touched.emplace_back(-logger, touched[i].second);
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    constexpr size_t kRowsPerStatement = 250;
    for (size_t at = 0; at < touched.size(); at += kRowsPerStatement) {
      const size_t count = std::min(kRowsPerStatement, touched.size() - at);
      std::string sql = "INSERT INTO summaries(series, b, version, built) VALUES ";
      std::vector<SqlValue> params;
      for (size_t i = 0; i < count; ++i) {
        sql += (i ? ",($" : "($") + std::to_string(2 * i + 1) + ",$" + std::to_string(2 * i + 2) + ",1,-1)";
        params.insert(params.end(), {touched[at + i].first, touched[at + i].second});
      }
      sql += " ON CONFLICT (series, b) DO UPDATE SET version = summaries.version + 1";
      if (!db_->Exec(sql, params, {}, error)) return false;
    }
    return true;
  }

  // The version each block's row had when its readings were read, or none when it had no row.
  using Versions = std::map<int64_t, std::optional<int64_t>>;

  // Keeps summaries built from readings read after `versions`: a row whose version has moved on since
  // is left out of date. A failure to write (a read-only file) only costs the next report the work.
  template <typename Fill>
  void Keep(int64_t key, const Versions& versions, const std::vector<int64_t>& blocks, Fill fill) {
    std::string error;
    if (blocks.empty() || !Begin(error)) return;
    // Many rows a statement: a statement each cost a server archive a round trip per hour and series.
    // A row read without a version is new (version 0); one read with a version is kept only while its
    // version has not moved on, as a concurrent insert moves it.
    constexpr size_t kRowsPerStatement = 200;
    constexpr size_t kColumns = 17;
    const bool server = db_->Kind() == Engine::Postgres;
    std::vector<SqlValue> params;
    for (size_t at = 0; at < blocks.size(); at += kRowsPerStatement) {
      const size_t n = std::min(kRowsPerStatement, blocks.size() - at);
      std::string sql =
          "INSERT INTO summaries(series, b, valid, invalid, mn, mn_t, mx, mx_t, total, total_sq, mkt, d0, "
          "d1, "
          "d2, d3, spacings, version, built) VALUES ";
      params.clear();
      for (size_t i = 0; i < n; ++i) {
        const int64_t b = blocks[at + i];
        params.emplace_back(key);
        params.emplace_back(b);
        fill(b, params);
        const auto& version = versions.at(b);
        params.emplace_back(version ? *version : int64_t{0});
        sql += i ? ",(" : "(";
        if (server) {
          const size_t first = i * kColumns + 1;
          for (size_t c = 0; c < kColumns; ++c) sql += "$" + std::to_string(first + c) + ",";
          sql += "$" + std::to_string(first + kColumns - 1) + ")";
        } else {
          // Plain parameters in order: SQLite looks each numbered one up among all before it.
          params.push_back(params.back());
          sql += "?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
        }
      }
      sql +=
          " ON CONFLICT (series, b) DO UPDATE SET built = excluded.built, valid = excluded.valid, invalid = "
          "excluded.invalid, mn = excluded.mn, mn_t = excluded.mn_t, mx = excluded.mx, mx_t = excluded.mx_t, "
          "total = excluded.total, total_sq = excluded.total_sq, mkt = excluded.mkt, d0 = excluded.d0, d1 = "
          "excluded.d1, d2 = excluded.d2, d3 = excluded.d3, spacings = excluded.spacings WHERE "
          "summaries.version "
          "= excluded.version";
      if (!db_->Exec(sql, params, {}, error)) {
        Fail();
        return;
      }
    }
    Commit(error);
  }

  // Reads the rows of blocks [first, end) of `key`: current ones go to `current`, the others' versions
  // (and every block without a row) to `stale`.
  template <typename Take>
  bool ReadSummaries(int64_t key, int64_t first, int64_t end, Versions& stale, Take take,
                     std::string& error) {
    std::vector<int64_t> present;
    if (!db_->Exec(
            "SELECT b, version, built, valid, invalid, mn, mn_t, mx, mx_t, total, total_sq, mkt, d0, d1, d2, "
            "d3, spacings FROM summaries WHERE series = $1 AND b >= $2 AND b < $3 ORDER BY b",
            std::vector<SqlValue>{key, first, end},
            [&](const SqlRow& row) {
              const int64_t b = row.Int(0);
              present.push_back(b);
              if (row.Int(1) != row.Int(2) || !take(b, row)) stale[b] = row.Int(1);
            },
            error))
      return false;
    // Blocks without a row: from an archive older than the summaries, or without readings.
    size_t at = 0;
    for (int64_t b = first; b < end; ++b) {
      if (at < present.size() && present[at] == b) {
        ++at;
      } else {
        stale[b] = std::nullopt;
      }
    }
    return true;
  }

  // Runs of consecutive blocks of `stale`, as [first, end).
  static std::vector<std::pair<int64_t, int64_t>> Runs(const Versions& stale) {
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (const auto& [b, version] : stale) {
      if (!runs.empty() && runs.back().second == b) {
        ++runs.back().second;
      } else {
        runs.emplace_back(b, b + 1);
      }
    }
    return runs;
  }

  bool SeriesSummaries(const SeriesEntry& series, int64_t first, int64_t end,
                       std::map<int64_t, BlockSummary>& blocks, std::string& error) {
    Versions stale;
    auto take = [&blocks](int64_t b, const SqlRow& row) {
      if (row.IsNull(12) || row.IsNull(13) || row.IsNull(14) || row.IsNull(15)) return false;
      const int64_t at = b * kBlockSeconds;
      blocks[b] = {row.Int(3),      row.Int(4),
                   row.Int(5),      row.Int(7),
                   at + row.Int(6), at + row.Int(8),
                   row.Int(9),      row.Int(10),
                   row.Real(11),    DigestHex({row.Int(12), row.Int(13), row.Int(14), row.Int(15)})};
      return true;
    };
    if (!ReadSummaries(series.key, first, end, stale, take, error)) return false;
    std::vector<int64_t> built;
    for (const auto& [from, to] : Runs(stale)) {
      BlockBuilder builder(series.unit, kDefaultMktDh);
      int64_t current = 0;
      auto close = [&] {
        if (builder.Empty()) return;
        blocks[current] = builder.Finish();
        built.push_back(current);
      };
      auto each = [&](const PeriodPoint& p) {
        const int64_t b = BlockOf(p.utc_ms / 1000);
        if (b != current) close(), current = b;
        builder.Add(p.utc_ms / 1000, p.value, p.status);
      };
      if (!Readings(series.key, series.channel, series.unit, from * kBlockSeconds, to * kBlockSeconds, each,
                    error))
        return false;
      close();
    }
    Keep(series.key, stale, built, [&blocks](int64_t b, std::vector<SqlValue>& params) {
      const BlockSummary& s = blocks.at(b);
      const int64_t at = b * kBlockSeconds;
      // Each made in place: GCC 12 at -O3 takes the strings of a list of values for uninitialised.
      for (int64_t v : {s.valid, s.invalid, s.min, s.min_t - at, s.max, s.max_t - at, s.sum, s.sum_sq})
        params.emplace_back(v);
      params.emplace_back(s.mkt);
      const auto words = DigestWords(s.digest);
      for (int64_t w : *words) params.push_back(w);
      params.emplace_back();  // a null made in place: GCC 12 at -O3 took a moved one for uninitialised
    });
    return true;
  }

 public:
  bool TimeSummaries(int64_t logger, int64_t first, int64_t end, std::map<int64_t, TimeSummary>& times,
                     std::string& error) override {
    Versions stale;
    auto take = [&times](int64_t b, const SqlRow& row) {
      auto spacings = ReadSpacings(row.Text(16));
      if (!spacings || row.IsNull(16)) return false;
      const int64_t at = b * kBlockSeconds;
      times[b] = {row.Int(3), at + row.Int(6), at + row.Int(8), std::move(*spacings)};
      return true;
    };
    if (!ReadSummaries(-logger, first, end, stale, take, error)) return false;
    std::vector<int64_t> built, all, block;
    for (const auto& [from, to] : Runs(stale)) {
      if (!Times(logger, from * kBlockSeconds * 1000, to * kBlockSeconds * 1000, all, error)) return false;
      for (size_t i = 0; i < all.size();) {
        const int64_t b = BlockOf(all[i] / 1000);
        block.clear();
        for (; i < all.size() && BlockOf(all[i] / 1000) == b; ++i) block.push_back(all[i] / 1000);
        times[b] = SummarizeTimes(block);
        built.push_back(b);
      }
    }
    Keep(-logger, stale, built, [&times](int64_t b, std::vector<SqlValue>& params) {
      const TimeSummary& s = times.at(b);
      const int64_t at = b * kBlockSeconds;
      params.insert(params.end(), {s.count, int64_t{0}, int64_t{0}, s.first - at, int64_t{0}, s.last - at,
                                   int64_t{0}, int64_t{0}, 0.0, SqlValue{}, SqlValue{}, SqlValue{},
                                   SqlValue{}, WriteSpacings(s.spacings)});
    });
    return true;
  }

 private:
  std::unique_ptr<Database> db_;
  std::map<size_t, std::string> insertTexts_;
  int depth_ = 0;
  std::map<std::tuple<int64_t, int, int>, int64_t> series_;
  std::unordered_map<std::string, int64_t> statuses_;
  std::unordered_map<int64_t, std::string> status_texts_;
  std::map<int64_t, std::optional<std::optional<int64_t>>> offsets_;
};

// A SQLite file is looked at read-only before it is opened for writing (which puts it in WAL mode and
// creates the tables): a missing or empty file is made an archive only when asked to be, and a file of
// another program is left as it is.
bool SqliteFileFits(const std::string& file, OpenMode mode, std::string& error) {
  std::error_code ec;
  const auto status = std::filesystem::status(PathFromUtf8(file), ec);
  if (!std::filesystem::exists(status)) {
    if (mode == OpenMode::Create) return true;
    error = "no such file";
    return false;
  }
  if (std::filesystem::is_regular_file(status) && std::filesystem::file_size(PathFromUtf8(file), ec) == 0) {
    if (mode == OpenMode::Create) return true;
    error = "an empty file, not an archive";
    return false;
  }
  const auto db = InspectSqlite(file, error);
  return db && CheckSqliteArchive(*db, mode, error);
}

}  // namespace

std::unique_ptr<PeriodArchive> OpenPeriodArchive(const std::string& location, std::string& error,
                                                 OpenMode mode) {
  const bool server = IsServerLocation(location);
  if (!server && !SqliteFileFits(location, mode, error)) return nullptr;
  std::unique_ptr<Database> db =
      server ? OpenPostgres(location, error) : OpenSqlite(location, error, mode == OpenMode::Create);
  if (!db) return nullptr;
  if (!PrepareSchema(*db, error, mode)) return nullptr;
  return std::make_unique<Store>(std::move(db));
}

std::unique_ptr<Archive> OpenArchive(const std::string& location, std::string& error, OpenMode mode) {
  return OpenPeriodArchive(location, error, mode);
}

}  // namespace velutron::archive
