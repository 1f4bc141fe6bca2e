#include "station/ArchiveWriter.h"

#include <algorithm>
#include <bit>

#include "archive/Summary.h"

namespace velutron::station {

namespace {

// A write that has taken thirty times the patience (30 s by default) raises the archive's alarm.
constexpr int kHungPatiences = 30;

}  // namespace

ArchiveWriter::ArchiveWriter(std::unique_ptr<archive::Archive> archive, Log& log, size_t max_queued,
                             size_t batch_intervals, std::chrono::milliseconds patience)
    : archive_(std::move(archive)),
      log_(log),
      max_queued_(max_queued),
      batch_(std::max<size_t>(1, batch_intervals)),
      patience_(patience) {
  // Batches need the archive's many-interval write.
  if (dynamic_cast<archive::PeriodArchive*>(archive_.get()) == nullptr) batch_ = 1;
  thread_ = std::thread([this] { Run(); });
}

ArchiveWriter::~ArchiveWriter() { Close(); }

size_t ArchiveWriter::Close() { return *Close(std::nullopt); }

std::optional<size_t> ArchiveWriter::Close(std::optional<std::chrono::milliseconds> wait) {
  std::unique_lock lock(mutex_);
  closing_ = true;
  work_.notify_one();
  const auto over = [this] { return finished_; };
  if (wait) {
    if (!done_.wait_for(lock, *wait, over)) return std::nullopt;
  } else {
    done_.wait(lock, over);
  }
  lock.unlock();
  if (thread_.joinable()) thread_.join();
  return Queued();
}

void ArchiveWriter::StopWaiting() {
  {
    std::lock_guard lock(mutex_);
    noWaiting_ = true;
  }
  done_.notify_all();
}

void ArchiveWriter::OnFailingChanged(FailingChanged callback) {
  std::lock_guard lock(mutex_);
  failing_changed_ = std::move(callback);
}

void ArchiveWriter::CountDroppedIn(std::shared_ptr<std::atomic<uint64_t>> total) {
  std::lock_guard lock(mutex_);
  dropped_total_ = std::move(total);
}

bool ArchiveWriter::Failing() const {
  std::lock_guard lock(mutex_);
  return failing_;
}

size_t ArchiveWriter::Queued() const {
  std::lock_guard lock(mutex_);
  return queue_.size() + writing_.size();
}

uint64_t ArchiveWriter::ReadingsWritten(const std::string& logger) const {
  std::lock_guard lock(mutex_);
  const auto it = written_.find(logger);
  return it == written_.end() ? 0 : it->second;
}

bool ArchiveWriter::DueLocked() const {
  if (queue_.empty()) return false;
  if (batch_ == 1 || retry_ || failing_ || queue_.size() >= batch_) return true;
  // In batches, intervals wait for their batch; anything else writes what waits before it.
  return std::any_of(queue_.begin(), queue_.end(),
                     [](const Item& i) { return !std::holds_alternative<archive::Interval>(i.what); });
}

bool ArchiveWriter::PendingLocked(uint64_t number) const {
  return std::find(writing_.begin(), writing_.end(), number) != writing_.end() ||
         std::any_of(queue_.begin(), queue_.end(), [number](const Item& i) { return i.number == number; });
}

bool ArchiveWriter::HungLocked(Clock::duration longer_than) const {
  return writing_since_ && Clock::now() - *writing_since_ >= longer_than;
}

void ArchiveWriter::Report() {
  // One at a time, and always the state as it is now: a write that ends just as it is said to hang
  // must not have its "writing again" told before the hang.
  std::lock_guard report(report_mutex_);
  FailingChanged callback;
  bool now = false;
  std::string why;
  {
    std::lock_guard lock(mutex_);
    now = failing_;
    why = why_;
    callback = failing_changed_;
  }
  if (now == reported_) return;
  reported_ = now;
  if (callback) callback(now, why);
}

void ArchiveWriter::TrimLocked() {
  // Bounded: readings go first and the oldest of them first, so the latest hours survive a long outage
  // and the alarms survive it whole. Notifications go before any event, so none is kept without its event.
  // By the variant's order: Channels, Interval, Gap, Event, Note.
  constexpr int kRank[] = {4, 0, 1, 3, 2};
  while (queue_.size() > max_queued_) {
    size_t drop = 0;
    for (size_t i = 0; i < queue_.size() && kRank[queue_[drop].what.index()] > 0; ++i) {
      if (kRank[queue_[i].what.index()] < kRank[queue_[drop].what.index()]) drop = i;
    }
    queue_.erase(queue_.begin() + static_cast<ptrdiff_t>(drop));
    ++dropped_;
    if (dropped_total_) ++*dropped_total_;
    if (dropped_ == 1 || dropped_ % 1000 == 0)
      log_.Error("", "archive: the memory queue is full; " + std::to_string(dropped_) +
                         (dropped_ == 1 ? " record" : " records") +
                         " lost so far, the oldest readings first");
  }
}

void ArchiveWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return closing_ || (asked_ && DueLocked()); });
    if (closing_) {
      // One last attempt at everything, batches or not.
      retry_ = true;
      if (!queue_.empty()) WriteWaiting(lock);
      finished_ = true;
      done_.notify_all();
      return;
    }
    WriteWaiting(lock);
  }
}

void ArchiveWriter::WriteWaiting(std::unique_lock<std::mutex>& lock) {
  asked_ = false;
  std::string error;
  bool refused = false;
  while (!refused && DueLocked()) {
    std::vector<Item> items = TakeLocked();
    writing_since_ = Clock::now();
    lock.unlock();
    const std::optional<size_t> readings = Write(items, error);
    lock.lock();
    writing_.clear();
    writing_since_.reset();
    refused = !readings;
    if (readings) {
      if (*readings > 0) written_[items.front().logger.name] += *readings;
    } else {
      // Back at the head, in their order; only other loggers' intervals were passed.
      queue_.insert(queue_.begin(), std::make_move_iterator(items.begin()),
                    std::make_move_iterator(items.end()));
      TrimLocked();
    }
    // Whoever waits for these items finds the state they left.
    if (failing_ != refused) {
      failing_ = refused;
      if (refused) {
        why_ = error;
        log_.Error("", "archive: " + error + "; readings wait in memory");
      } else {
        log_.Info("", "archive: writing again");
      }
      // Outside the lock: the callback may add records of its own.
      lock.unlock();
      Report();
      lock.lock();
    }
    done_.notify_all();
  }
  if (queue_.empty()) retry_ = false;
  ++passes_;
  done_.notify_all();
}

std::vector<ArchiveWriter::Item> ArchiveWriter::TakeLocked() {
  std::vector<Item> items;
  if (batch_ == 1 || !std::holds_alternative<archive::Interval>(queue_.front().what)) {
    items.push_back(std::move(queue_.front()));
    queue_.pop_front();
  } else {
    const std::string name = queue_.front().logger.name;
    // Other loggers' intervals in between may be passed; nothing else may, so each logger's order holds.
    std::vector<size_t> taken;
    for (size_t i = 0; i < queue_.size() && std::holds_alternative<archive::Interval>(queue_[i].what); ++i) {
      if (queue_[i].logger.name == name) taken.push_back(i);
    }
    // A power of two at a time: the archive keeps a prepared statement for each size of batch it saw.
    taken.resize(std::bit_floor(taken.size()));
    for (const size_t i : taken) items.push_back(std::move(queue_[i]));
    for (auto i = taken.rbegin(); i != taken.rend(); ++i)
      queue_.erase(queue_.begin() + static_cast<ptrdiff_t>(*i));
  }
  for (const Item& item : items) writing_.push_back(item.number);
  return items;
}

std::optional<size_t> ArchiveWriter::Write(std::vector<Item>& items, std::string& error) {
  Item& item = items.front();
  const auto done = [](bool ok, size_t readings = 0) { return ok ? std::optional(readings) : std::nullopt; };
  if (auto* n = std::get_if<Note>(&item.what)) {
    // The event is ahead of it in the queue, so it has its key by now.
    n->notification.alarm_event_id = n->key->value_or(0);
    return done(archive_->AddNotification(n->notification, error));
  }
  const std::optional<int64_t> key = Key(item.logger, error);
  if (!key) return std::nullopt;
  const int64_t logger = *key;
  if (auto* c = std::get_if<Channels>(&item.what))
    return done(archive_->SetChannels(logger, c->utc_ms, c->channels, error));
  if (auto* e = std::get_if<Event>(&item.what)) {
    const std::optional<int64_t> id = archive_->AddAlarmEvent(logger, e->event, error);
    if (id) *e->key = *id;
    return done(id.has_value());
  }
  if (const auto* gap = std::get_if<archive::Gap>(&item.what))
    return done(archive_->AddGap(logger, *gap, error));
  std::vector<archive::Interval> intervals;
  size_t readings = 0;
  int64_t latest = INT64_MIN;
  for (Item& i : items) {
    intervals.push_back(std::move(std::get<archive::Interval>(i.what)));
    readings += intervals.back().readings.size();
    latest = std::max(latest, archive::BlockOfMs(intervals.back().utc_ms));
  }
  archive::AddCounts counts;
  const bool ok = intervals.size() == 1
                      ? archive_->AddInterval(logger, archive::Source::Station, intervals.front(), error)
                      : static_cast<archive::PeriodArchive&>(*archive_).AddIntervals(
                            logger, archive::Source::Station, intervals, counts, error);
  // Refused, they go back to the queue whole.
  for (size_t k = 0; k < items.size(); ++k) items[k].what = std::move(intervals[k]);
  if (!ok) return std::nullopt;
  Summarize(item.logger.name, logger, latest);
  return readings;
}

std::optional<int64_t> ArchiveWriter::Key(const archive::LoggerId& logger, std::string& error) {
  // Earlier stations archived a logger without a name under its owner text: say where that went.
  if (!logger.owner.empty() && logger.owner != logger.name && ownersChecked_.insert(logger.name).second) {
    std::string ignored;
    if (archive_->FindLogger(logger.owner, ignored)) {
      log_.Warn(logger.name, "archive: the readings archived under its owner text \"" + logger.owner +
                                 "\" stay there; its readings go under \"" + logger.name +
                                 "\" from now on (name = \"" + logger.owner +
                                 "\" in its [[logger]] section continues the old series instead)");
    }
  }
  auto id = ids_.find(logger.name);
  if (id == ids_.end()) {
    const std::optional<int64_t> key = archive_->Logger(logger, error);
    if (!key) return std::nullopt;
    id = ids_.emplace(logger.name, *key).first;
  }
  return id->second;
}

// A little work each hour (the readings are already committed) spares the first report over a year
// building thousands of hours. A failure only leaves that work to the report.
void ArchiveWriter::Summarize(const std::string& name, int64_t logger, int64_t block) {
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

void ArchiveWriter::Enqueue(Item item) {
  std::lock_guard lock(mutex_);
  EnqueueLocked(std::move(item));
}

uint64_t ArchiveWriter::EnqueueLocked(Item item) {
  const uint64_t number = item.number = ++added_;
  queue_.push_back(std::move(item));
  // While a write hangs nothing else is written, and the queue must not grow without bound.
  if (HungLocked(patience_)) TrimLocked();
  asked_ = true;
  if (DueLocked()) work_.notify_one();
  return number;
}

void ArchiveWriter::Retry() {
  bool hung = false;
  {
    std::lock_guard lock(mutex_);
    // A write that takes this long fails the archive as far as anyone is told; its end says which it was.
    if (!failing_ && HungLocked(patience_ * kHungPatiences)) {
      hung = failing_ = true;
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(patience_ * kHungPatiences).count();
      why_ = "no answer for " + (ms % 1000 ? std::to_string(ms) + " ms" : std::to_string(ms / 1000) + " s");
      log_.Error("", "archive: " + why_ + "; readings wait in memory");
    }
    if (!queue_.empty()) {
      retry_ = true;
      asked_ = true;
    }
  }
  work_.notify_one();
  if (hung) Report();
}

void ArchiveWriter::SetChannels(const archive::LoggerId& logger, int64_t utc_ms,
                                std::vector<archive::ChannelInfo> channels) {
  Enqueue({logger, Channels{utc_ms, std::move(channels)}});
}

bool ArchiveWriter::AddInterval(const archive::LoggerId& logger, archive::Interval interval) {
  std::unique_lock lock(mutex_);
  const uint64_t passes = passes_;
  const uint64_t number = EnqueueLocked({logger, std::move(interval)});
  const Clock::time_point since = Clock::now();
  for (;;) {
    // (An interval the full queue dropped would count as done too; while a write hangs nobody waits.)
    if (!PendingLocked(number)) return true;
    const bool queued =
        std::any_of(queue_.begin(), queue_.end(), [number](const Item& i) { return i.number == number; });
    if (queued && !DueLocked()) return false;         // its batch is not full yet
    if (failing_ && passes_ != passes) return false;  // the archive refused it
    if (noWaiting_) return false;
    // A write that hangs holds up everything behind it: the readings go on without it.
    const Clock::time_point deadline = std::min(since, writing_since_.value_or(since)) + patience_;
    if (Clock::now() >= deadline) return false;
    done_.wait_until(lock, deadline);
  }
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
