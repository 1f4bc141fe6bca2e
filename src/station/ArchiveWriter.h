#pragma once

// The archive writer: everything the station records goes through here, from every watcher's thread,
// and is written by a thread of its own, so that an archive that hangs (a server that stops answering,
// another program holding the file's write lock) never stops the readings. What the archive cannot take
// (a full disk, a server gone) waits in a bounded queue in memory, in order, and is written as soon as
// the archive takes writes again.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "archive/Archive.h"
#include "station/Log.h"

namespace velutron::station {

class ArchiveWriter {
 public:
  // An alarm event's key, known once the event is written; its notifications wait behind it.
  using EventKey = std::shared_ptr<std::optional<int64_t>>;
  // Called on the writer's thread (outside its lock) when writes start failing or work again.
  using FailingChanged = std::function<void(bool failing, const std::string& error)>;

  // `batch_intervals` intervals go into one transaction. The station writes each on its own, so that an
  // interval is on disk when AddInterval returns; more suit only runs nobody waits on, on virtual time.
  // AddInterval waits for its interval until a write has taken `patience`: a sound write takes
  // milliseconds.
  ArchiveWriter(std::unique_ptr<archive::Archive> archive, Log& log, size_t max_queued = 20000,
                size_t batch_intervals = 1, std::chrono::milliseconds patience = std::chrono::seconds(1));
  // Close().
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  void SetChannels(const archive::LoggerId& logger, int64_t utc_ms,
                   std::vector<archive::ChannelInfo> channels);
  // True when the interval is on disk now; false when it waits in the queue: the archive refused it,
  // the write in progress has taken longer than the patience, or its batch is not full yet.
  bool AddInterval(const archive::LoggerId& logger, archive::Interval interval);
  void AddGap(const archive::LoggerId& logger, archive::Gap gap);
  EventKey AddAlarmEvent(const archive::LoggerId& logger, archive::AlarmEvent event);
  void AddNotification(const EventKey& event, archive::Notification notification);
  // Asks for another attempt at what waits, without waiting for it; the station asks between readings.
  // A write in progress for thirty times the patience is then said to fail, until it ends.
  void Retry();
  // Makes one last attempt at what waits and stops the writer's thread; returns how many records could
  // not be written. Nothing may be added after it.
  size_t Close();
  // The same, waiting at most `wait` for the last attempt; nothing when the writer is still writing (a
  // write that hangs), which a later Close() (or the destructor) then waits for.
  std::optional<size_t> Close(std::optional<std::chrono::milliseconds> wait);
  // The station is stopping: AddInterval waits no longer for a write, so a hung one holds no watcher.
  void StopWaiting();

  void OnFailingChanged(FailingChanged callback);
  // Adds every record the full queue drops to `total`, which may outlive the writer (the station's count
  // for /metrics, kept across archives).
  void CountDroppedIn(std::shared_ptr<std::atomic<uint64_t>> total);
  bool Failing() const;
  size_t Queued() const;
  // Readings (one per channel) written for that logger since the start.
  uint64_t ReadingsWritten(const std::string& logger) const;

 private:
  struct Channels {
    int64_t utc_ms;
    std::vector<archive::ChannelInfo> channels;
  };
  struct Event {
    archive::AlarmEvent event;
    EventKey key;
  };
  struct Note {
    archive::Notification notification;
    EventKey key;
  };
  struct Item {
    archive::LoggerId logger;
    std::variant<Channels, archive::Interval, archive::Gap, Event, Note> what;
    uint64_t number = 0;  // in the order of adding
  };

  void Enqueue(Item item);
  // Queues the item and wakes the writer's thread when it is due; returns its number.
  uint64_t EnqueueLocked(Item item);
  // Whether the writer's thread has work: under the lock.
  bool DueLocked() const;
  bool PendingLocked(uint64_t number) const;
  // Whether the write in progress has taken longer than that.
  bool HungLocked(std::chrono::steady_clock::duration longer_than) const;
  // Tells the failing callback the state, if it changed since it was last told.
  void Report();
  // Drops records beyond the queue's bound: readings first, the oldest first.
  void TrimLocked();
  // The writer's thread: passes over the queue while there is work, until closed.
  void Run();
  // Writes what waits, the archive's work outside the lock, while it is due and the archive takes it;
  // `lock` holds the lock on entry and exit.
  void WriteWaiting(std::unique_lock<std::mutex>& lock);
  // The items the next write takes off the queue: the head, or in batches the head's interval with the
  // other intervals of its logger queued right behind it.
  std::vector<Item> TakeLocked();
  // The archive's work for `items` (in one transaction when several); the readings written, or nothing
  // when the archive refused. Only the writer's thread calls these.
  std::optional<size_t> Write(std::vector<Item>& items, std::string& error);
  std::optional<int64_t> Key(const archive::LoggerId& logger, std::string& error);
  // Builds the summaries of the logger's hours finished before `block`, the hour just written.
  void Summarize(const std::string& name, int64_t logger, int64_t block);

  using Clock = std::chrono::steady_clock;

  // The archive and these two are the writer's thread's alone.
  std::unique_ptr<archive::Archive> archive_;
  std::map<std::string, int64_t> ids_;
  std::map<int64_t, int64_t> hours_;     // the hour of the latest interval written, by logger key
  std::set<std::string> ownersChecked_;  // loggers whose owner text was looked for in the archive

  Log& log_;
  size_t max_queued_;
  size_t batch_;
  std::chrono::milliseconds patience_;
  mutable std::mutex mutex_;
  std::condition_variable work_;  // the writer's thread waits on it for something to do
  std::condition_variable done_;  // AddInterval and Close wait on it for a write, a pass, the thread to end
  std::deque<Item> queue_;
  std::vector<uint64_t> writing_;                   // the items being written now, off the queue
  std::optional<Clock::time_point> writing_since_;  // when that write began
  uint64_t added_ = 0;
  uint64_t passes_ = 0;  // passes over the queue ended
  bool asked_ = false;   // work was added or a retry asked for since the last pass began
  bool retry_ = false;   // write even a batch that is not full
  bool closing_ = false;
  bool noWaiting_ = false;
  bool finished_ = false;  // the writer's thread is done
  std::map<std::string, uint64_t> written_;
  bool failing_ = false;
  std::string why_;  // why it fails
  uint64_t dropped_ = 0;
  std::shared_ptr<std::atomic<uint64_t>> dropped_total_;
  FailingChanged failing_changed_;
  std::mutex report_mutex_;  // taken before mutex_, never while holding it
  bool reported_ = false;    // the state the callback was last told
  std::thread thread_;
};

}  // namespace velutron::station
