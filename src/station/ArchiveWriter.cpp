#include "station/ArchiveWriter.h"

#include <algorithm>
#include <bit>

#include "archive/Summary.h"

namespace velutron::station {

ArchiveWriter::ArchiveWriter(std::unique_ptr<archive::Archive> archive, Log& log, size_t max_queued,
                             size_t batch_intervals)
    : archive_(std::move(archive)),
      log_(log),
      max_queued_(max_queued),
      batch_(std::max<size_t>(1, batch_intervals)) {
  // Batches need the archive's many-interval write.
  if (dynamic_cast<archive::PeriodArchive*>(archive_.get()) == nullptr) batch_ = 1;
}

ArchiveWriter::~ArchiveWriter() {
  std::lock_guard lock(mutex_);
  if (!queue_.empty()) FlushLocked();
}

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
  const std::optional<int64_t> key = KeyLocked(item.logger, error);
  if (!key) return false;
  const int64_t logger = *key;
  if (auto* c = std::get_if<Channels>(&item.what))
    return archive_->SetChannels(logger, c->utc_ms, c->channels, error);
  if (auto* i = std::get_if<archive::Interval>(&item.what)) {
    if (!archive_->AddInterval(logger, archive::Source::Station, *i, error)) return false;
    written_[item.logger.name] += i->readings.size();
    SummarizeLocked(item.logger.name, logger, archive::BlockOfMs(i->utc_ms));
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

std::optional<int64_t> ArchiveWriter::KeyLocked(const archive::LoggerId& logger, std::string& error) {
  auto id = ids_.find(logger.name);
  if (id == ids_.end()) {
    const std::optional<int64_t> key = archive_->Logger(logger, error);
    if (!key) return std::nullopt;
    id = ids_.emplace(logger.name, *key).first;
  }
  return id->second;
}

bool ArchiveWriter::WriteBatchLocked(std::string& error) {
  const archive::LoggerId logger = queue_.front().logger;
  const std::optional<int64_t> key = KeyLocked(logger, error);
  if (!key) return false;
  // Other loggers' intervals in between may be passed; nothing else may, so each logger's order holds.
  std::vector<size_t> taken;
  std::vector<archive::Interval> intervals;
  size_t readings = 0;
  for (size_t i = 0; i < queue_.size() && std::holds_alternative<archive::Interval>(queue_[i].what); ++i) {
    if (queue_[i].logger.name == logger.name) taken.push_back(i);
  }
  // A power of two at a time: the archive keeps a prepared statement for each size of batch it saw.
  taken.resize(std::bit_floor(taken.size()));
  for (const size_t i : taken) {
    intervals.push_back(std::get<archive::Interval>(queue_[i].what));
    readings += intervals.back().readings.size();
  }
  archive::AddCounts counts;
  if (!static_cast<archive::PeriodArchive&>(*archive_).AddIntervals(*key, archive::Source::Station, intervals,
                                                                    counts, error))
    return false;
  written_[logger.name] += readings;
  for (auto i = taken.rbegin(); i != taken.rend(); ++i)
    queue_.erase(queue_.begin() + static_cast<ptrdiff_t>(*i));
  int64_t latest = INT64_MIN;
  for (const archive::Interval& i : intervals) latest = std::max(latest, archive::BlockOfMs(i.utc_ms));
  SummarizeLocked(logger.name, *key, latest);
  return true;
}

// A little work each hour (the readings are already committed) spares the first report over a year
// building thousands of hours. A failure only leaves that work to the report.
void ArchiveWriter::SummarizeLocked(const std::string& name, int64_t logger, int64_t block) {
  auto* period = dynamic_cast<archive::PeriodArchive*>(archive_.get());
  if (period == nullptr) return;
  const auto [last, started] = hours_.try_emplace(logger, block);
  // On a start, the previous run may have stopped before the hour it wrote in was summarized.
  int64_t from = started ? block - 1 : last->second;
  if (!started && block <= last->second) {
    last->second = block;  // the PC's clock went back: follow it
    return;
  }
  last->second = block;
  // Not more than a week back after a jump of the clock: the report builds whatever is older.
  from = std::max(from, block - 7 * 24);
  // In one transaction: one sync for all the channels' summaries instead of one each.
  archive::PeriodSummaries summaries;
  std::string error;
  if (!period->BeginBatch(error)) {
  } else if (!period->Summaries(logger, from, block, summaries, error)) {
    period->AbandonBatch();
  } else if (period->EndBatch(error)) {
    return;
  }
  log_.Warn(name, "archive: hourly summaries not built: " + error);
}

void ArchiveWriter::FlushLocked() {
  std::string error;
  while (!queue_.empty()) {
    if (batch_ > 1 && std::holds_alternative<archive::Interval>(queue_.front().what)) {
      if (WriteBatchLocked(error)) continue;
    } else if (WriteLocked(queue_.front(), error)) {
      queue_.pop_front();
      continue;
    }
    if (!failing_) log_.Error("", "archive: " + error + "; readings wait in memory");
    failing_ = true;
    error_ = error;
    return;
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
    const bool interval = std::holds_alternative<archive::Interval>(item.what);
    queue_.push_back(std::move(item));
    // In batches, intervals wait for their batch; anything else writes what waits before it.
    if (!interval || queue_.size() >= batch_ || failing_) FlushLocked();
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
