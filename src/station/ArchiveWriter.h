#pragma once

// The archive writer: everything the station records goes through here, from every watcher's thread.
// What the archive cannot take (a full disk, a server gone) waits in a bounded queue in memory, in
// order, and is written as soon as the archive takes writes again.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "archive/Archive.h"
#include "station/Log.h"

namespace velutron::station {

class ArchiveWriter {
 public:
  // An alarm event's key, known once the event is written; its notifications wait behind it.
  using EventKey = std::shared_ptr<std::optional<int64_t>>;
  // Called (outside the writer's lock) when writes start failing or work again.
  using FailingChanged = std::function<void(bool failing, const std::string& error)>;

  // `batch_intervals` intervals go into one transaction. The station writes each on its own, so that an
  // interval is on disk when AddInterval returns; more suit only runs nobody waits on, on virtual time.
  ArchiveWriter(std::unique_ptr<archive::Archive> archive, Log& log, size_t max_queued = 20000,
                size_t batch_intervals = 1);
  // What still waits is written, if the archive takes it.
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  void SetChannels(const archive::LoggerId& logger, int64_t utc_ms,
                   std::vector<archive::ChannelInfo> channels);
  // True when the interval is on disk now; false when it waits in the queue.
  bool AddInterval(const archive::LoggerId& logger, archive::Interval interval);
  void AddGap(const archive::LoggerId& logger, archive::Gap gap);
  EventKey AddAlarmEvent(const archive::LoggerId& logger, archive::AlarmEvent event);
  void AddNotification(const EventKey& event, archive::Notification notification);
  // Writes what waits; the station calls it between readings too.
  void Retry();

  void OnFailingChanged(FailingChanged callback);
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
  };

  void Enqueue(Item item);
  // Writes the queue's head while the archive takes it; under the lock.
  void FlushLocked();
  bool WriteLocked(Item& item, std::string& error);
  // Writes the head's interval with the other intervals of its logger queued right behind it in one
  // transaction, and takes them off the queue; false when the archive refused.
  bool WriteBatchLocked(std::string& error);
  std::optional<int64_t> KeyLocked(const archive::LoggerId& logger, std::string& error);
  // Builds the summaries of the logger's hours finished before `block`, the hour just written.
  void SummarizeLocked(const std::string& name, int64_t logger, int64_t block);

  std::unique_ptr<archive::Archive> archive_;
  Log& log_;
  size_t max_queued_;
  size_t batch_;
  mutable std::mutex mutex_;
  std::deque<Item> queue_;
  std::map<std::string, int64_t> ids_;
  std::map<std::string, uint64_t> written_;
  std::map<int64_t, int64_t> hours_;  // the hour of the latest interval written, by logger key
  bool failing_ = false;
  std::string error_;
  uint64_t dropped_ = 0;
  FailingChanged failing_changed_;
};

}  // namespace velutron::station
