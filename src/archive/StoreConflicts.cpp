// Readings that disagree with those archived: kept apart, counted, listed.

#include <algorithm>

#include "archive/Store.h"

namespace velutron::archive::store {

bool Store::Conflicts(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<Conflict>& conflicts,
                      std::string& error) {
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

bool Store::AddConflict(int64_t series, int64_t t, const Stored& s, std::string& error) {
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

void Store::CountConflict(int64_t series, int64_t t, AddCounts& counts) const {
  ++counts.conflicts;
  counts.conflicts_from_ms = std::min(counts.conflicts_from_ms, t * 1000);
  counts.conflicts_to_ms = std::max(counts.conflicts_to_ms, t * 1000);
  for (const auto& [key, id] : series_) {
    if (id == series) counts.conflict_channels |= 1u << (std::get<1>(key) & 31);
  }
}

bool Store::Recheck(int64_t logger, std::span<const Row* const> rows, size_t missing, AddCounts& counts,
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

}  // namespace velutron::archive::store
