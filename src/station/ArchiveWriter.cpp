#include "station/ArchiveWriter.h"

namespace velutron::station {

ArchiveWriter::ArchiveWriter(std::unique_ptr<archive::Archive> archive, Log& log, size_t max_queued)
    : archive_(std::move(archive)), log_(log), max_queued_(max_queued) {}

void ArchiveWriter::OnFailingChanged(FailingChanged callback) {
  std::lock_guard lock(mutex_);
  failing_changed_ = std::move(callback);
}

bool ArchiveWriter::Failing() const {
  std::lock_guard lock(mutex_);
  return failing_;
}

size_t ArchiveWriter::Queued() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

uint64_t ArchiveWriter::ReadingsWritten(const std::string& logger) const {
  std::lock_guard lock(mutex_);
  const auto it = written_.find(logger);
  return it == written_.end() ? 0 : it->second;
}

bool ArchiveWriter::WriteLocked(Item& item, std::string& error) {
  if (auto* n = std::get_if<Note>(&item.what)) {
    // The event is ahead of it in the queue, so it has its key by now.
    n->notification.alarm_event_id = n->key->value_or(0);
    return archive_->AddNotification(n->notification, error);
  }
  auto id = ids_.find(item.logger.name);
  if (id == ids_.end()) {
    const std::optional<int64_t> key = archive_->Logger(item.logger, error);
    if (!key) return false;
    id = ids_.emplace(item.logger.name, *key).first;
  }
  const int64_t logger = id->second;
  if (auto* c = std::get_if<Channels>(&item.what))
    return archive_->SetChannels(logger, c->utc_ms, c->channels, error);
  if (auto* i = std::get_if<archive::Interval>(&item.what)) {
    if (!archive_->AddInterval(logger, archive::Source::Station, *i, error)) return false;
    written_[item.logger.name] += i->readings.size();
    return true;
  }
  if (auto* e = std::get_if<Event>(&item.what)) {
    const std::optional<int64_t> key = archive_->AddAlarmEvent(logger, e->event, error);
    if (!key) return false;
    *e->key = *key;
    return true;
  }
  return archive_->AddGap(logger, std::get<archive::Gap>(item.what), error);
}

void ArchiveWriter::FlushLocked() {
  std::string error;
  while (!queue_.empty()) {
    if (!WriteLocked(queue_.front(), error)) {
      if (!failing_) log_.Error("", "archive: " + error + "; readings wait in memory");
      failing_ = true;
      error_ = error;
      return;
    }
    queue_.pop_front();
  }
  if (failing_) log_.Info("", "archive: writing again");
  failing_ = false;
  error_.clear();
}

void ArchiveWriter::Enqueue(Item item) {
  bool was = false;
  bool now = false;
  std::string error;
  FailingChanged callback;
  {
    std::lock_guard lock(mutex_);
    was = failing_;
    queue_.push_back(std::move(item));
    FlushLocked();
    // Bounded: the oldest wait longest and go first, so the latest hours survive a long outage.
    if (queue_.size() > max_queued_) {
      queue_.pop_front();
      if (dropped_++ % 1000 == 0)
        log_.Error("", "archive: the memory queue is full; the oldest records are lost");
    }
    now = failing_;
    error = error_;
    callback = failing_changed_;
  }
  if (was != now && callback) callback(now, error);
}

void ArchiveWriter::Retry() {
  bool was = false;
  bool now = false;
  std::string error;
  FailingChanged callback;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return;
    was = failing_;
    FlushLocked();
    now = failing_;
    error = error_;
    callback = failing_changed_;
  }
  if (was != now && callback) callback(now, error);
}

void ArchiveWriter::SetChannels(const archive::LoggerId& logger, int64_t utc_ms,
                                std::vector<archive::ChannelInfo> channels) {
  Enqueue({logger, Channels{utc_ms, std::move(channels)}});
}

bool ArchiveWriter::AddInterval(const archive::LoggerId& logger, archive::Interval interval) {
  Enqueue({logger, std::move(interval)});
  std::lock_guard lock(mutex_);
  return queue_.empty();
}

void ArchiveWriter::AddGap(const archive::LoggerId& logger, archive::Gap gap) { Enqueue({logger, gap}); }

ArchiveWriter::EventKey ArchiveWriter::AddAlarmEvent(const archive::LoggerId& logger,
                                                     archive::AlarmEvent event) {
  EventKey key = std::make_shared<std::optional<int64_t>>();
  Enqueue({logger, Event{std::move(event), key}});
  return key;
}

void ArchiveWriter::AddNotification(const EventKey& event, archive::Notification notification) {
  Enqueue({{}, Note{std::move(notification), event}});
}

}  // namespace velutron::station
