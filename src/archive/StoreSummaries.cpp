// The summary cache: hourly summaries of each series and of the logger's times, built from the readings
// when out of date and kept for the next report.

#include <algorithm>

#include "archive/Store.h"

namespace velutron::archive::store {

bool Store::KeptSummaries(int64_t logger, int64_t first_block, int64_t end_block, PeriodSummaries& out,
                          std::string& error) {
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
              blocks[b] = {row.Int(1),      row.Int(2),
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

bool Store::Summaries(int64_t logger, int64_t first_block, int64_t end_block, PeriodSummaries& out,
                      std::string& error) {
  out = {};
  if (!LoadStatuses(error) || !SeriesList(logger, out.series, error)) return false;
  if (first_block >= end_block) return true;
  // Rows in the order an insert touches them (OutdateSummaries: the logger's times, then each series by key), so
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

// Inserts into these blocks make their summaries (and the logger's time summaries) out of date. In
// key order, so that two writers lock the rows in the same order.
bool Store::OutdateSummaries(int64_t logger, std::vector<std::pair<int64_t, int64_t>> touched, std::string& error) {
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

// Keeps summaries built from readings read after `versions`: a row whose version has moved on since
// is left out of date. A failure to write (a read-only file) only costs the next report the work.
template <typename Fill>
void Store::SaveSummaries(int64_t key, const Versions& versions, const std::vector<int64_t>& blocks, Fill fill) {
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
bool Store::ReadSummaries(int64_t key, int64_t first, int64_t end, Versions& stale, Take take,
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
std::vector<std::pair<int64_t, int64_t>> Store::Runs(const Versions& stale) {
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

bool Store::SeriesSummaries(const SeriesEntry& series, int64_t first, int64_t end,
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
  SaveSummaries(series.key, stale, built, [&blocks](int64_t b, std::vector<SqlValue>& params) {
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

bool Store::TimeSummaries(int64_t logger, int64_t first, int64_t end, std::map<int64_t, TimeSummary>& times,
                          std::string& error) {
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
  SaveSummaries(-logger, stale, built, [&times](int64_t b, std::vector<SqlValue>& params) {
    const TimeSummary& s = times.at(b);
    const int64_t at = b * kBlockSeconds;
    params.insert(params.end(), {s.count, int64_t{0}, int64_t{0}, s.first - at, int64_t{0}, s.last - at,
                                 int64_t{0}, int64_t{0}, 0.0, SqlValue{}, SqlValue{}, SqlValue{}, SqlValue{},
                                 WriteSpacings(s.spacings)});
  });
  return true;
}

}  // namespace velutron::archive::store
