#pragma once

// The archive: one continuous history of every logger's readings, written by the station and by
// imported downloads, read by the period queries and reports. Two engines sit behind this interface:
// an embedded SQLite file and a PostgreSQL server. No exceptions cross it: a failure returns false (or
// an empty optional) and says why in `error`.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace velutron::archive {

struct PeriodSummaries;
struct TimeSummary;

enum class Unit : uint8_t { Celsius = 0, RelativeHumidity = 1 };
enum class Source : uint8_t { Station = 0, Download = 1 };

// A logger as the archive knows it. `name` is the station's configured name or the name the user gave
// an import; by default the owner text.
struct LoggerId {
  std::string name;
  std::string owner;
  std::string serial;
};

// What one channel was at a moment: its measuring point's name, unit and the limits in force (absent
// when the logger has none for it). Recorded whenever it changes, so that a reading's context is known.
struct ChannelInfo {
  int channel = 0;  // 1..10
  std::string point;
  Unit unit = Unit::Celsius;
  std::optional<double> low;
  std::optional<double> high;
};

// One reading of one channel: a value at the sensor's full resolution, or no value and the text the
// window or report shows instead ("ERROR!", "T suchy!", "Brak tab.", "T_min"…). `status` is empty for
// a valid value.
struct Reading {
  int channel = 0;
  Unit unit = Unit::Celsius;
  std::optional<double> value;
  std::string status;
};

// One answered interval: the PC's time (UTC, milliseconds since the Unix epoch), the logger's own clock
// as it read (its local wall time in seconds since 1970-01-01 00:00 as if it were UTC; absent when the
// clock did not read as a date) and every channel read.
struct Interval {
  int64_t utc_ms = 0;
  std::optional<int64_t> logger_clock_s;
  std::vector<Reading> readings;
};

// StationLate: the station itself missed the interval's moment (its thread ran that late), not the logger.
enum class GapCause : uint8_t { Silence = 0, PortGone = 1, BusFailure = 2, Paused = 3, StationLate = 4 };

// A stretch of time without readings of a logger, and why.
struct Gap {
  int64_t from_utc_ms = 0;
  int64_t to_utc_ms = 0;
  GapCause cause = GapCause::Silence;
};

// A step in an alarm's life: event "start", "repeat", "ack" or "clear"; kind "high", "low", "sensor",
// "bus", "link" or "clock"; channel 0 for the logger's own alarms. `json` is the event exactly as the
// notification commands got it.
struct AlarmEvent {
  int64_t utc_ms = 0;
  std::string event;
  std::string kind;
  int channel = 0;
  std::optional<double> value;
  std::optional<double> limit;
  std::string json;
};

// One run of a notification command for an alarm event. `exit_code` is the command's exit code, or
// negative: -1 when it was killed at its time limit, -2 when it could not be started.
struct Notification {
  int64_t alarm_event_id = 0;
  int64_t utc_ms = 0;
  std::vector<std::string> command;
  int exit_code = 0;
  std::string error;
};

// One reading of one channel as the history returns it.
struct HistoryPoint {
  int64_t utc_ms = 0;
  std::optional<double> value;
  std::string status;
};

class Archive {
 public:
  virtual ~Archive() = default;

  // The logger's key in the archive, created on first use.
  virtual std::optional<int64_t> Logger(const LoggerId& id, std::string& error) = 0;
  // The key of the logger of that name, without creating it; empty (and `error` empty) when unknown.
  virtual std::optional<int64_t> FindLogger(const std::string& name, std::string& error) = 0;
  // Records the channels' names, units and limits as of `utc_ms`; only what changed is stored.
  virtual bool SetChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels,
                           std::string& error) = 0;
  // One interval's readings in one transaction: on true they are on disk (or committed on the server).
  virtual bool AddInterval(int64_t logger, Source source, const Interval& interval, std::string& error) = 0;
  virtual bool AddGap(int64_t logger, const Gap& gap, std::string& error) = 0;
  // The event's key, for its notifications.
  virtual std::optional<int64_t> AddAlarmEvent(int64_t logger, const AlarmEvent& event,
                                               std::string& error) = 0;
  virtual bool AddNotification(const Notification& notification, std::string& error) = 0;

  // The readings of one channel of a logger in [from_ms, to_ms), oldest first.
  virtual bool History(int64_t logger, int channel, int64_t from_ms, int64_t to_ms,
                       std::vector<HistoryPoint>& points, std::string& error) = 0;
};

// How an archive is opened. Create makes a missing archive (an import, the station); Existing is for
// reading: a missing SQLite file, an empty one, or a database without the archive's tables is refused,
// and nothing is written to it. Either way a SQLite file of another program is refused untouched.
enum class OpenMode : uint8_t { Create, Existing };

// Opens (creating and migrating as needed) the archive that `location` names: a "postgresql://" URL, or
// else a SQLite file.
std::unique_ptr<Archive> OpenArchive(const std::string& location, std::string& error,
                                     OpenMode mode = OpenMode::Create);

// What the period queries and imports add to the interface.

// A logger the archive holds, with its key.
struct LoggerEntry {
  int64_t key = 0;
  LoggerId id;
};

// A channel's name, unit and limits in force from `from_ms` on (the station's). A download's names are
// what the logger held when it was read: `until` entries were seen at `from_ms` (the file's last
// record) and stood back to the channel's previous entry; they carry no limits.
struct ChannelEntry {
  int64_t from_ms = 0;
  ChannelInfo info;
  bool until = false;
};

// One archived reading of a period. Times are kept to the second (the loggers' clocks have no finer
// resolution, and four bytes a time keep the file small).
struct PeriodPoint {
  int channel = 0;
  Unit unit = Unit::Celsius;
  int64_t utc_ms = 0;
  std::optional<double> value;
  std::string status;
  Source source = Source::Station;
};

// How a batch of readings went: new, already archived with the same value, or disagreeing with the
// archived one (kept apart as a conflict; the first one archived stays).
struct AddCounts {
  size_t added = 0;
  size_t present = 0;
  size_t conflicts = 0;
  // Where the conflicts lie: the first and last one's time (UTC ms) and their channels (bit n: channel n).
  int64_t conflicts_from_ms = INT64_MAX;
  int64_t conflicts_to_ms = INT64_MIN;
  uint32_t conflict_channels = 0;
};

// A time that the logger's local clock named ambiguously, and how it was resolved: "dst-gap" (a
// local time that never existed, read with the offset before the change) or "dst-fold" (a local
// time that existed twice).
struct TimeMark {
  int64_t utc_ms = 0;
  std::string mark;
};

// A reading that disagreed with the archived one at the same logger, channel and time.
using Conflict = PeriodPoint;

class PeriodArchive : public Archive {
 public:
  virtual bool Loggers(std::vector<LoggerEntry>& loggers, std::string& error) = 0;
  // The IANA zone of the logger's clock, recorded at its first import; empty when none was.
  virtual bool LoggerZone(int64_t logger, std::string& zone, std::string& error) = 0;
  virtual bool SetLoggerZone(int64_t logger, const std::string& zone, std::string& error) = 0;
  // Every recorded state of every channel of the logger, oldest first per channel.
  virtual bool Channels(int64_t logger, std::vector<ChannelEntry>& channels, std::string& error) = 0;
  // The names and units a download's last record carries, seen at `utc_ms`: they stood back to each
  // channel's previous entry. Only what changes the name in force is stored; no other entry is touched.
  virtual bool SeenChannels(int64_t logger, int64_t utc_ms, const std::vector<ChannelInfo>& channels,
                            std::string& error) = 0;
  // Many intervals in one transaction, each reading counted in `counts`.
  virtual bool AddIntervals(int64_t logger, Source source, std::span<const Interval> intervals,
                            AddCounts& counts, std::string& error) = 0;
  virtual bool AddTimeMarks(int64_t logger, std::span<const TimeMark> marks, std::string& error) = 0;
  // The readings of the logger in [from_ms, to_ms) by channel, unit and time.
  virtual bool Period(int64_t logger, int64_t from_ms, int64_t to_ms,
                      const std::function<void(const PeriodPoint&)>& each, std::string& error) = 0;
  // What is written between BeginBatch and EndBatch is committed together, in one transaction (after
  // a failure inside, EndBatch returns false and nothing of the batch is kept).
  virtual bool BeginBatch(std::string& error) = 0;
  virtual bool EndBatch(std::string& error) = 0;
  virtual void AbandonBatch() = 0;
  // The channels and units of the logger with readings in [from_ms, to_ms), by channel.
  virtual bool SeriesIn(int64_t logger, int64_t from_ms, int64_t to_ms,
                        std::vector<std::pair<int, Unit>>& series, std::string& error) = 0;
  // The logger's record times in [from_ms, to_ms) over all its channels, oldest first, once each.
  virtual bool Times(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<int64_t>& times,
                     std::string& error) = 0;
  virtual bool Gaps(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<Gap>& gaps,
                    std::string& error) = 0;
  virtual bool Conflicts(int64_t logger, int64_t from_ms, int64_t to_ms, std::vector<Conflict>& conflicts,
                         std::string& error) = 0;
  // The first and last reading of the logger; false in `any` when it has none.
  virtual bool Span(int64_t logger, int64_t& first_ms, int64_t& last_ms, bool& any, std::string& error) = 0;

  // The summaries (Summary.h) of the logger's whole blocks first_block … end_block - 1, building and
  // keeping those missing or out of date; a block without readings has none.
  virtual bool Summaries(int64_t logger, int64_t first_block, int64_t end_block, PeriodSummaries& summaries,
                         std::string& error) = 0;
  // The same for the logger's record times alone, by block.
  virtual bool TimeSummaries(int64_t logger, int64_t first_block, int64_t end_block,
                             std::map<int64_t, TimeSummary>& times, std::string& error) = 0;
  // The current summaries of the logger's blocks first_block … end_block - 1 as they are kept, without
  // building any: what the readings of those hours gave when they were summarized.
  virtual bool KeptSummaries(int64_t logger, int64_t first_block, int64_t end_block,
                             PeriodSummaries& summaries, std::string& error) = 0;
};

// As OpenArchive, with the period queries.
std::unique_ptr<PeriodArchive> OpenPeriodArchive(const std::string& location, std::string& error,
                                                 OpenMode mode = OpenMode::Create);

}  // namespace velutron::archive
