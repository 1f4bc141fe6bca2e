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

  ArchiveWriter(std::unique_ptr<archive::Archive> archive, Log& log, size_t max_queued = 20000);

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

  std::unique_ptr<archive::Archive> archive_;
  Log& log_;
  size_t max_queued_;
  mutable std::mutex mutex_;
  std::deque<Item> queue_;
  std::map<std::string, int64_t> ids_;
  std::map<std::string, uint64_t> written_;
  bool failing_ = false;
  std::string error_;
  uint64_t dropped_ = 0;
  FailingChanged failing_changed_;
};

}  // namespace velutron::station
