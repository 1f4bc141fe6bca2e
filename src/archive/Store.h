#pragma once

// The archive on a database engine: one class, its work in files named for what they do (Store.cpp:
// transactions and opening; StoreWrites.cpp, StoreConflicts.cpp, StoreReads.cpp, StoreStatuses.cpp and
// StoreSummaries.cpp, the summary cache). Only those files include it.

#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "archive/Archive.h"
#include "archive/Database.h"
#include "archive/Summary.h"

namespace velutron::archive::store {

inline int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

inline int64_t Seconds(int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }

// Values are kept as whole steps of the sensor's resolution.
inline double StepOf(Unit unit) { return unit == Unit::RelativeHumidity ? 0.1 : 0.0625; }
inline int64_t Encode(Unit unit, double value) { return std::llround(value / StepOf(unit)); }
inline double Decode(Unit unit, int64_t steps) {
  return unit == Unit::RelativeHumidity ? static_cast<double>(steps) / 10.0
                                        : static_cast<double>(steps) / 16.0;
}

// A reading is one integer: v = 2 × its value in steps + source, or 2 × (kMarkers + status code) +
// source for a reading without value. One column instead of three keeps a row at 14 bytes.
constexpr int64_t kMarkers = 1'000'000;

inline int64_t Half(int64_t v) { return v >= 0 ? v / 2 : -((1 - v) / 2); }

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

inline SqlValue Nullable(const std::optional<int64_t>& v) { return v ? SqlValue{*v} : SqlValue{}; }
inline SqlValue Nullable(const std::optional<double>& v) { return v ? SqlValue{*v} : SqlValue{}; }

class Store final : public PeriodArchive {
 public:
  explicit Store(std::unique_ptr<Database> db) : db_(std::move(db)) {}

  // StoreWrites.cpp
  std::optional<int64_t> Logger(const LoggerId& id, std::string& error) override;
  bool SetChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels,
                   std::string& error) override;
  bool SeenChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels,
                    std::string& error) override;
  bool AddInterval(int64_t logger, Source source, const Interval& interval, std::string& error) override;
  bool AddIntervals(int64_t logger, Source source, std::span<const Interval> intervals, AddCounts& counts,
                    std::string& error) override;
  bool AddGap(int64_t logger, const Gap& gap, std::string& error) override;
  std::optional<int64_t> AddAlarmEvent(int64_t logger, const AlarmEvent& e, std::string& error) override;
  bool AddNotification(const Notification& n, std::string& error) override;
  bool SetLoggerZone(int64_t logger, const std::string& zone, std::string& error) override;
  bool AddTimeMarks(int64_t logger, std::span<const TimeMark> marks, std::string& error) override;

  // StoreReads.cpp
  std::optional<int64_t> FindLogger(const std::string& name, std::string& error) override;
  bool History(int64_t logger, int channel, int64_t from_ms, int64_t to_ms, std::vector<HistoryPoint>& points,
               std::string& error) override;
  bool Loggers(std::vector<LoggerEntry>& loggers, std::string& error) override;
  bool LoggerZone(int64_t logger, std::string& zone, std::string& error) override;
  bool Channels(int64_t logger, std::vector<ChannelEntry>& channels, std::string& error) override;
  bool Period(int64_t logger, int64_t from_ms, int64_t to_ms,
              const std::function<void(const PeriodPoint&)>& each, std::string& error) override;
  bool SeriesIn(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<std::pair<int, Unit>>& present,
                std::string& error) override;
  bool Times(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<int64_t>& times,
             std::string& error) override;
  bool Gaps(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<Gap>& gaps,
            std::string& error) override;
  bool Span(int64_t logger, int64_t& first_ms, int64_t& last_ms, bool& any, std::string& error) override;

  // StoreConflicts.cpp
  bool Conflicts(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<Conflict>& conflicts,
                 std::string& error) override;

  // StoreSummaries.cpp
  bool KeptSummaries(int64_t logger, int64_t first_block, int64_t end_block, PeriodSummaries& out,
                     std::string& error) override;
  bool Summaries(int64_t logger, int64_t first_block, int64_t end_block, PeriodSummaries& out,
                 std::string& error) override;
  bool TimeSummaries(int64_t logger, int64_t first, int64_t end, std::map<int64_t, TimeSummary>& times,
                     std::string& error) override;

  bool BeginBatch(std::string& error) override { return Begin(error); }
  bool EndBatch(std::string& error) override { return Commit(error); }
  void AbandonBatch() override {
    if (depth_ > 0) Fail();
  }

 private:
  // A reading on its way in: its series, its second and what is stored.
  struct Row {
    int64_t series;
    int64_t t;
    Stored stored;
  };

  struct KeyHash {
    size_t operator()(const std::pair<int64_t, int64_t>& k) const {
      return static_cast<size_t>(static_cast<uint64_t>(k.second) * 31 +
                                 static_cast<uint64_t>(k.first) * 0x9E3779B97F4A7C15ULL);
    }
  };

  // Store.cpp
  bool Begin(std::string& error);
  bool Commit(std::string& error);
  bool Fail();

  // StoreWrites.cpp
  bool RecordChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels, bool until,
                      std::string& error);
  std::optional<int64_t> Series(int64_t logger, int channel, Unit unit, std::string& error);
  bool ClockOffset(int64_t logger, int64_t t, const std::optional<int64_t>& clock, std::string& error);
  static constexpr size_t kRowsPerStatement = 1000;
  static constexpr size_t kRowsPerArray = 20000;
  const std::string& InsertReadings(size_t n);

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

  // StoreConflicts.cpp
  bool AddConflict(int64_t series, int64_t t, const Stored& s, std::string& error);
  void CountConflict(int64_t series, int64_t t, AddCounts& counts) const;
  bool Recheck(int64_t logger, std::span<const Row* const> rows, size_t missing, AddCounts& counts,
               std::string& error);

  // StoreReads.cpp
  bool PeriodOf(int64_t logger, int channel, int64_t from_ms, int64_t to_ms,
                const std::function<void(const PeriodPoint&)>& each, std::string& error);
  bool Readings(int64_t id, int channel, Unit unit, int64_t from_s, int64_t to_s,
                const std::function<void(const PeriodPoint&)>& each, std::string& error);
  void Decoded(const Stored& stored, PeriodPoint& p) const;
  bool SeriesList(int64_t logger, std::vector<SeriesEntry>& series, std::string& error);

  // StoreStatuses.cpp
  bool LoadStatuses(std::string& error);
  std::string StatusText(int64_t code) const;
  std::optional<int64_t> StatusCode(const std::string& text, std::string& error);

  // StoreSummaries.cpp
  // Marks the summaries of the blocks `touched` (series, block) out of date, the logger's times too.
  bool OutdateSummaries(int64_t logger, std::vector<std::pair<int64_t, int64_t>> touched, std::string& error);
  // The version each block's row had when its readings were read, or none when it had no row.
  using Versions = std::map<int64_t, std::optional<int64_t>>;
  // Saves the summaries built for `blocks` where their rows' versions are still those read.
  template <typename Fill>
  void SaveSummaries(int64_t key, const Versions& versions, const std::vector<int64_t>& blocks, Fill fill);
  template <typename Take>
  bool ReadSummaries(int64_t key, int64_t first, int64_t end, Versions& stale, Take take, std::string& error);
  static std::vector<std::pair<int64_t, int64_t>> Runs(const Versions& stale);
  bool SeriesSummaries(const SeriesEntry& series, int64_t first, int64_t end,
                       std::map<int64_t, BlockSummary>& blocks, std::string& error);

  std::unique_ptr<Database> db_;
  std::map<size_t, std::string> insertTexts_;
  int depth_ = 0;
  std::map<std::tuple<int64_t, int, int>, int64_t> series_;
  std::unordered_map<std::string, int64_t> statuses_;
  std::unordered_map<int64_t, std::string> status_texts_;
  std::map<int64_t, std::optional<std::optional<int64_t>>> offsets_;
};

}  // namespace velutron::archive::store
