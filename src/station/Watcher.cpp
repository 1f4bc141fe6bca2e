#include "station/Watcher.h"

#include <algorithm>
#include <cmath>

#include "monitor/Monitoring.h"
#include "session/Format.h"
#include "session/Humidity.h"
#include "session/TextField.h"
#include "station/Event.h"

namespace velutron::station {

namespace {

constexpr int64_t kHourMs = 3'600'000;
constexpr int64_t kFirstRetryMs = 1000;
constexpr int64_t kLastRetryMs = 60'000;
// A read whose answer was lost is asked again once; a reading that still failed is tried again within
// its interval, if one more attempt (two answers' time-outs and the rest) still fits, up to this many.
constexpr int kReadRetries = 1;
constexpr int kReadAttempts = 3;
constexpr int64_t kAttemptMs = 550;
// A logger is taken for gone, and connected to again from the start, after this many intervals in a
// row without a reading; one lost answer on a busy PC must not cost a start sequence.
constexpr int kMissesBeforeReconnect = 3;
constexpr std::string_view kError = "ERROR!";
// Raw readings are sixteenths of a degree above -55 degrees; the limits are whole degrees above -55.
constexpr double kRawZero = 55 * 16;
constexpr int kLimitZero = 55;
constexpr double kHistogramBounds[] = {0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

const char* CauseName(archive::GapCause cause) {
  switch (cause) {
    case archive::GapCause::Silence:
      return "the logger does not answer";
    case archive::GapCause::PortGone:
      return "the port is gone";
    case archive::GapCause::BusFailure:
      return "the 1-Wire bus fails";
    case archive::GapCause::Paused:
      return "paused";
    case archive::GapCause::StationLate:
      return "the station was late: the PC did not run it in time";
  }
  return "";
}

int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

// The logger's clock registers as seconds of its wall time, when they make a date.
std::optional<int64_t> ClockSeconds(const std::array<uint8_t, 6>& regs) {
  const int second = BcdToByte(regs[0]), minute = BcdToByte(regs[1]), hour = BcdToByte(regs[2]);
  const int day = BcdToByte(regs[3]), month = BcdToByte(regs[4]), year = 2000 + regs[5];
  if (second > 59 || minute > 59 || hour > 23 || day < 1 || day > 31 || month < 1 || month > 12 ||
      regs[5] > 99) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string Trimmed(std::string text) {
  if (text == kEmptyFieldText) return {};
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

Watcher::Watcher(WatcherSetup setup, WatcherEnv env, ArchiveWriter& archive, Notifier* notifier, Log& log)
    : setup_(std::move(setup)),
      env_(std::move(env)),
      archive_(archive),
      notifier_(notifier),
      log_(log),
      ui_(log, setup_.name.empty() ? setup_.port : setup_.name),
      rules_(setup_.alarms) {
  session_ = std::make_unique<Session>(env_.port, env_.clock, ui_, locale_);
  // The station stops between two readings on its own signal, never in the middle of one.
  session_->link.stopOnInterrupt = false;
  session_->link.readRetries = kReadRetries;
  ui_.window = [this](const MonitorRefresh&) { ReadIntervals(); };
  snapshot_.name = Name();
  snapshot_.port = setup_.port;
  snapshot_.poll_bucket_bounds_s.assign(std::begin(kHistogramBounds), std::end(kHistogramBounds));
  snapshot_.poll_bucket_counts.assign(std::size(kHistogramBounds), 0);
}

Watcher::~Watcher() {
  if (env_.port.IsOpen()) env_.port.Close();
}

std::string Watcher::Name() const { return setup_.name.empty() ? setup_.port : setup_.name; }

archive::LoggerId Watcher::Id() const {
  std::lock_guard lock(mutex_);
  return {Name(), owner_, serial_};
}

void Watcher::TakeOver(const Watcher& previous) {
  std::scoped_lock lock(mutex_, previous.mutex_);
  rules_ = previous.rules_;
  rules_.SetSettings(setup_.alarms);
  owner_ = previous.owner_;
  serial_ = previous.serial_;
  pausedUntil_ = previous.pausedUntil_;  // a pause asked for outlasts a reload
  LoggerSnapshot snapshot = previous.snapshot_;
  snapshot.name = snapshot_.name;
  snapshot.port = snapshot_.port;
  snapshot_ = std::move(snapshot);
  // Its thread has ended: the points name the alarms of the channels until the next reading.
  channels_ = previous.channels_;
}

void Watcher::KnownSerial(const std::string& serial) {
  std::lock_guard lock(mutex_);
  if (serial_.empty()) serial_ = snapshot_.serial = serial;
}

LoggerSnapshot Watcher::Snapshot() const {
  LoggerSnapshot copy;
  {
    std::lock_guard lock(mutex_);
    copy = snapshot_;
  }
  copy.archive_readings_total = archive_.ReadingsWritten(copy.name);
  return copy;
}

void Watcher::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopFlag_ = true;
  wake_.notify_all();
}

void Watcher::Pause(int64_t until_utc_ms) {
  {
    std::lock_guard lock(mutex_);
    pausedUntil_ = until_utc_ms;
  }
  wake_.notify_all();
}

bool Watcher::Stopping() {
  std::lock_guard lock(mutex_);
  return stop_;
}

bool Watcher::PausedAt(int64_t utc_ms) {
  std::lock_guard lock(mutex_);
  if (pausedUntil_ && utc_ms >= *pausedUntil_) {
    pausedUntil_.reset();
    log_.Info(snapshot_.name, "pause over: taking the port back");
  }
  return pausedUntil_.has_value();
}

bool Watcher::WaitUntil(int64_t utc_ms) {
  for (;;) {
    const int64_t left = utc_ms - env_.utc_ms();
    if (Stopping()) return false;
    if (left <= 0) return true;
    if (!env_.real_time) {
      env_.clock.SleepMs(static_cast<uint32_t>(left));
      continue;
    }
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(left),
                   [&] { return stop_ || (pausedUntil_ && env_.port.IsOpen()); });
    // A pause gives the port up at once; the intervals from the next one on are the pause's.
    if (pausedUntil_ && env_.port.IsOpen()) {
      env_.port.Close();
      log_.Info(snapshot_.name, "paused: " + setup_.port + " is free");
    }
  }
}

void Watcher::Hook(int64_t tick) {
  if (hookedTick_ == tick) return;
  hookedTick_ = tick;
  if (beforeInterval) beforeInterval(tick);
}

void Watcher::SetState(State state, const std::string& why) {
  if (stateKnown_ && state == state_) return;
  const bool first = !stateKnown_;
  stateKnown_ = true;
  state_ = state;
  const std::string name = Name();
  if (state == State::Up) {
    if (!first)
      log_.Info(name, "answering again on " + setup_.port);
    else
      log_.Info(name, "watching on " + setup_.port);
  } else {
    log_.Warn(name, why);
  }
}

Limits Watcher::LimitsOf(int j) const {
  const MonitorState& m = session_->monitor;
  Limits limits;
  if (!(m.HumidityMode && j % 2 == 0)) {
    const MonitorChannel& c = m.channels[static_cast<size_t>(j - 1)];
    limits = {c.AlarmLow - kLimitZero, c.AlarmHigh - kLimitZero};
  }
  // An override replaces the bounds it gives and keeps the logger's other one.
  if (const auto it = setup_.overrides.find(j); it != setup_.overrides.end()) {
    if (it->second.low) limits.low = it->second.low;
    if (it->second.high) limits.high = it->second.high;
  }
  return limits;
}

void Watcher::Run() {
  const int64_t interval = int64_t{setup_.interval_s} * 1000;
  const int64_t now = env_.utc_ms();
  nextTick_ = (now + interval - 1) / interval * interval;
  for (;;) {
    if (runUntilUtcMs && nextTick_ >= *runUntilUtcMs) break;
    if (!WaitUntil(nextTick_)) break;
    // A clock stepped forward (or a machine woken from sleep) does not make the watcher catch up.
    const int64_t behind = env_.utc_ms() - nextTick_;
    if (behind >= 2 * interval) {
      log_.Warn(Name(), "the PC's clock jumped " + std::to_string(behind / 1000) + " s ahead");
      nextTick_ += behind / interval * interval;
    }
    const int64_t tick = nextTick_;
    Hook(tick);
    nextTick_ = tick + interval;
    if (PausedAt(tick)) {
      if (env_.port.IsOpen()) env_.port.Close();
      SetState(State::Paused, "paused: the port is free");
      Unanswered(tick, archive::GapCause::Paused);
      continue;
    }
    if (!env_.port.IsOpen()) {
      bool opened = false;
      if (tick >= nextOpenAt_) {
        opened = env_.port.Open(setup_.port, setup_.parity);
        if (!opened) {
          nextOpenAt_ = tick + backoffMs_;
          backoffMs_ = std::min(backoffMs_ * 2, kLastRetryMs);
          if (const std::string holder = env_.port.Holder(); !holder.empty()) {
            SetState(State::PortGone, setup_.port + ": " + holder);
          }
        }
      }
      if (!opened) {
        SetState(State::PortGone, "cannot open " + setup_.port);
        Unanswered(tick, archive::GapCause::PortGone);
        continue;
      }
      backoffMs_ = kFirstRetryMs;
    }
    Connect(tick);
  }
  if (gap_) CloseGap(gap_->to_utc_ms);
  if (env_.port.IsOpen()) env_.port.Close();
}

void Watcher::Connect(int64_t tick) {
  windowOpened_ = false;
  connectedAt_ = tick;
  nextTick_ = tick;
  missed_ = 0;
  // A stop ends the start sequence (some 260 exchanges) at its next exchange; it only reads.
  session_->link.stopFlag = &stopFlag_;
  BitBtn6Click(*session_);
  session_->link.stopFlag = nullptr;
  if (Stopping()) return;
  if (!windowOpened_) {
    nextTick_ = tick + int64_t{setup_.interval_s} * 1000;
    Unanswered(tick, Classify(tick));
  }
}

void Watcher::ReadIntervals() {
  windowOpened_ = true;
  // A reading once begun is finished.
  session_->link.stopFlag = nullptr;
  const int64_t interval = int64_t{setup_.interval_s} * 1000;
  const auto readingOk = [this] { return session_->link.state.LinkOk && !session_->monitor.BusError; };
  int64_t tick = nextTick_;
  nextTick_ = tick + interval;
  if (!readingOk()) {
    Unanswered(tick, Classify(tick));
    return;
  }
  // The readings of this interval were taken by the start sequence; the identity after them, once.
  if (!identityRead_) ReadIdentity();
  RecordChannels(tick);
  Answered(tick);
  for (;;) {
    if (runUntilUtcMs && nextTick_ >= *runUntilUtcMs) return;
    // Every hour the start sequence again, so renamed points and changed limits are seen.
    if (nextTick_ - connectedAt_ >= kHourMs) return;
    if (!WaitUntil(nextTick_)) return;
    if (env_.utc_ms() - nextTick_ >= 2 * interval) return;  // the outer loop handles a jump
    tick = nextTick_;
    Hook(tick);
    // The outer loop gives the port up; this interval is the pause's first.
    if (PausedAt(tick)) return;
    nextTick_ = tick + interval;
    // Woken an interval late, the station missed this interval's moment: the logger was not asked.
    if (env_.utc_ms() - tick >= interval) {
      Unanswered(tick, archive::GapCause::StationLate);
      continue;
    }
    const uint32_t started = env_.clock.TickMs();
    const bool ok = Read(tick);
    const double seconds = (env_.clock.TickMs() - started) / 1000.0;
    {
      std::lock_guard lock(mutex_);
      for (size_t i = 0; i < snapshot_.poll_bucket_bounds_s.size(); ++i) {
        if (seconds <= snapshot_.poll_bucket_bounds_s[i]) ++snapshot_.poll_bucket_counts[i];
      }
      snapshot_.poll_sum_s += seconds;
      ++snapshot_.poll_count;
    }
    if (!ok) {
      if (Stopping()) return;
      // A bus failure or a port gone is known at once; a silent logger only after several intervals.
      if (session_->monitor.BusError || env_.port.HungUp() || ++missed_ >= kMissesBeforeReconnect) {
        const archive::GapCause cause = Classify(tick);
        // A port that went without hanging up (as on Windows) looked silent until now: its gap is the
        // port's from the first of these missed intervals.
        if (cause == archive::GapCause::PortGone && gap_ && gap_->cause == archive::GapCause::Silence &&
            gap_->from_utc_ms == tick - (missed_ - 1) * interval)
          gap_->cause = cause;
        Unanswered(tick, cause);
        return;
      }
      Unanswered(tick, archive::GapCause::Silence);
      continue;
    }
    missed_ = 0;
    Answered(tick);
  }
}

bool Watcher::Read(int64_t tick) {
  const int64_t end = tick + int64_t{setup_.interval_s} * 1000;
  Session& s = *session_;
  MonitorView view;
  for (int attempt = 1;; ++attempt) {
    // Each attempt reads everything again; a lost answer left the link down, which this one starts.
    s.link.state.LinkOk = true;
    if (Timer1Timer(s, view)) return true;
    if (s.monitor.BusError || env_.port.HungUp() || Stopping()) return false;
    if (attempt == kReadAttempts || env_.utc_ms() + kAttemptMs > end) return false;
    log_.Debug(Name(), "an answer was lost: reading again");
  }
}

archive::GapCause Watcher::Classify(int64_t tick) {
  if (session_->link.state.LinkOk && session_->monitor.BusError) return archive::GapCause::BusFailure;
  // A device that hung up is gone (an adapter pulled); otherwise a port that cannot be opened again is
  // gone, and one that can has a silent logger.
  const bool hungUp = env_.port.HungUp();
  env_.port.Close();
  if (!hungUp && env_.port.Open(setup_.port, setup_.parity)) return archive::GapCause::Silence;
  nextOpenAt_ = tick + backoffMs_;
  backoffMs_ = std::min(backoffMs_ * 2, kLastRetryMs);
  // Whatever comes back on that port may be another logger; until then the alarms keep the last one's.
  identityRead_ = false;
  return archive::GapCause::PortGone;
}

void Watcher::ReadIdentity() {
  Session& s = *session_;
  Str_Read_EEPROM(s, proto::kParamRead, proto::mem::kOwner, proto::mem::kOwnerLength);
  if (!s.link.state.LinkOk) return;
  const std::string owner = Trimmed(s.FieldText);
  Str_Read_EEPROM(s, proto::kParamRead, proto::mem::kSerial, proto::mem::kSerialLength);
  if (!s.link.state.LinkOk) return;
  const std::string serial = Trimmed(s.FieldText);
  identityRead_ = true;
  std::lock_guard lock(mutex_);
  owner_ = owner;
  serial_ = serial;
  snapshot_.serial = serial_;
}

void Watcher::RecordChannels(int64_t tick) {
  const MonitorState& m = session_->monitor;
  std::vector<archive::ChannelInfo> channels;
  for (int j = 1; j <= m.ChannelCount; ++j) {
    const MonitorChannel& c = m.channels[static_cast<size_t>(j - 1)];
    archive::ChannelInfo info;
    info.channel = j;
    // The window's name label is "j. " and the point's name.
    const std::string prefix = std::to_string(j) + ". ";
    info.point = Trimmed(c.NameText.starts_with(prefix) ? c.NameText.substr(prefix.size()) : c.NameText);
    info.unit = m.HumidityMode && j % 2 == 0 ? archive::Unit::RelativeHumidity : archive::Unit::Celsius;
    const Limits limits = LimitsOf(j);
    info.low = limits.low;
    info.high = limits.high;
    channels.push_back(std::move(info));
  }
  if (channelsRecorded_ && channels.size() == channels_.size() &&
      std::equal(channels.begin(), channels.end(), channels_.begin(), [](const auto& a, const auto& b) {
        return a.point == b.point && a.unit == b.unit && a.low == b.low && a.high == b.high;
      })) {
    return;
  }
  if (!channels_.empty() && channelsRecorded_) log_.Info(Name(), "points or limits changed");
  channelsRecorded_ = true;
  channels_ = channels;
  archive_.SetChannels(Id(), tick, std::move(channels));
}

void Watcher::Answered(int64_t tick) {
  const MonitorState& m = session_->monitor;
  archive::Interval interval;
  interval.utc_ms = tick;
  interval.logger_clock_s = ClockSeconds(m.ClockRegs);
  Observation o;
  o.utc_ms = tick;
  o.answered = true;
  if (interval.logger_clock_s) {
    o.clock_offset_s = static_cast<double>(*interval.logger_clock_s - env_.local_wall(tick / 1000));
  }
  const auto raw = [&m](int j) {
    return static_cast<uint16_t>(m.RawBytes[2 * (j - 1)] | m.RawBytes[2 * (j - 1) + 1] << 8);
  };
  for (int j = 1; j <= m.ChannelCount && static_cast<size_t>(j) <= channels_.size(); ++j) {
    archive::Reading r;
    r.channel = j;
    r.unit = channels_[static_cast<size_t>(j - 1)].unit;
    if (r.unit == archive::Unit::RelativeHumidity) {
      if (!ValidReading(raw(j)) || !ValidReading(raw(j - 1))) {
        r.status = kError;
      } else {
        const HumidityResult h = HumidityFromPsychrometer(raw(j), raw(j - 1), locale_);
        if (h.HasValue()) {
          r.value = h.HumidityValue / 10.0;
        } else {
          r.status = h.HumidityText;
        }
      }
    } else if (ValidReading(raw(j))) {
      r.value = (raw(j) - kRawZero) / 16.0;
    } else {
      r.status = kError;
    }
    const Limits limits = LimitsOf(j);
    o.channels.push_back({j, r.value, !r.value.has_value(), limits.low, limits.high});
    interval.readings.push_back(std::move(r));
  }
  CloseGap(tick);
  const std::vector<archive::Reading> readings = interval.readings;
  // The line comes after the write: a reading in the log is on disk (or said to wait for it).
  const bool written = archive_.AddInterval(Id(), std::move(interval));
  if (log_.Enabled(LogLevel::Debug)) {
    std::string line = written ? "reading" : "reading (waiting for the archive)";
    for (const archive::Reading& r : readings) {
      line += " " + std::to_string(r.channel) + "=" + (r.value ? std::to_string(*r.value) : r.status);
    }
    log_.Debug(Name(), line);
  }
  std::vector<AlarmStep> steps;
  {
    std::lock_guard lock(mutex_);
    steps = rules_.Observe(o);
    snapshot_.up = true;
    snapshot_.last_reading_utc_ms = tick;
    snapshot_.clock_offset_s = o.clock_offset_s;
    // Updated in place: the same channels every interval, so their texts keep their room.
    snapshot_.channels.resize(readings.size());
    for (size_t i = 0; i < readings.size(); ++i) {
      ChannelSnapshot& c = snapshot_.channels[i];
      c.channel = readings[i].channel;
      c.point = channels_[i].point;
      c.unit = readings[i].unit;
      c.value = readings[i].value;
      c.status = readings[i].status;
      c.low = o.channels[i].low;
      c.high = o.channels[i].high;
    }
  }
  Raise(steps);
  RefreshAlarms();
  SetState(State::Up, "");
}

void Watcher::Unanswered(int64_t tick, archive::GapCause cause) {
  const int64_t interval = int64_t{setup_.interval_s} * 1000;
  if (!gap_ || gap_->cause != cause) {
    CloseGap(tick);
    gap_ = archive::Gap{tick, tick, cause};
  }
  gap_->to_utc_ms = tick + interval;
  const State state = cause == archive::GapCause::Silence      ? State::Silent
                      : cause == archive::GapCause::PortGone   ? State::PortGone
                      : cause == archive::GapCause::BusFailure ? State::BusFailure
                      : cause == archive::GapCause::Paused     ? State::Paused
                                                               : State::Late;
  SetState(state, CauseName(cause));
  std::vector<AlarmStep> steps;
  {
    std::lock_guard lock(mutex_);
    snapshot_.up = cause == archive::GapCause::BusFailure;
    for (ChannelSnapshot& c : snapshot_.channels) {
      c.value.reset();
      c.status = cause == archive::GapCause::BusFailure ? std::string(kError) : std::string();
    }
    // A pause is asked for, and a late station did not ask the logger: no link alarm.
    if (cause != archive::GapCause::Paused && cause != archive::GapCause::StationLate) {
      Observation o;
      o.utc_ms = tick;
      o.answered = cause == archive::GapCause::BusFailure;
      o.bus_failure = o.answered;
      steps = rules_.Observe(o);
    }
  }
  Raise(steps);
  RefreshAlarms();
}

void Watcher::CloseGap(int64_t to) {
  if (!gap_) return;
  gap_->to_utc_ms = to;
  if (gap_->to_utc_ms > gap_->from_utc_ms) archive_.AddGap(Id(), *gap_);
  gap_.reset();
}

int Watcher::Ack(std::optional<int> channel, std::optional<int64_t> for_ms) {
  const int64_t now = env_.utc_ms();
  std::vector<AlarmStep> steps;
  {
    std::lock_guard lock(mutex_);
    steps = rules_.Ack(channel, for_ms ? std::optional<int64_t>(now + *for_ms) : std::nullopt, now);
  }
  Raise(steps);
  RefreshAlarms();
  return static_cast<int>(steps.size());
}

void Watcher::Raise(const std::vector<AlarmStep>& steps) {
  if (steps.empty()) return;
  const archive::LoggerId id = Id();
  for (const AlarmStep& step : steps) {
    EventSubject subject{id.name, id.serial, "", std::nullopt};
    if (step.channel > 0 && static_cast<size_t>(step.channel) <= channels_.size()) {
      subject.point = channels_[static_cast<size_t>(step.channel - 1)].point;
      subject.unit = channels_[static_cast<size_t>(step.channel - 1)].unit;
    }
    const std::string json = EventJson(step, subject);
    log_.Write(step.event == "start" || step.event == "repeat" ? LogLevel::Warn : LogLevel::Info, id.name,
               "alarm " + json);
    const ArchiveWriter::EventKey key = archive_.AddAlarmEvent(
        id, {step.utc_ms, step.event, step.kind, step.channel, step.value, step.limit, json});
    if (notifier_ == nullptr || setup_.alarms.command.empty()) continue;
    Notifier::Job job;
    job.source = id.name;
    job.alarm = step.kind + ":" + std::to_string(step.channel);
    job.command = setup_.alarms.command;
    job.timeout_s = setup_.alarms.command_timeout_s;
    job.input = json + "\n";
    job.env = EventEnvironment(step, subject);
    ArchiveWriter* archive = &archive_;
    job.done = [archive, key, command = job.command, at = step.utc_ms](int code, const std::string& error) {
      archive->AddNotification(key, {0, at, command, code, error});
    };
    notifier_->Submit(std::move(job));
  }
}

void Watcher::RefreshAlarms() {
  std::lock_guard lock(mutex_);
  for (ChannelSnapshot& c : snapshot_.channels) c.open_alarms.clear();
  snapshot_.open_alarms.clear();
  for (const auto& [kind, channel] : rules_.Open()) {
    if (channel == 0) {
      snapshot_.open_alarms.push_back(kind);
    } else if (static_cast<size_t>(channel) <= snapshot_.channels.size()) {
      snapshot_.channels[static_cast<size_t>(channel - 1)].open_alarms.push_back(kind);
    }
  }
}

}  // namespace velutron::station
