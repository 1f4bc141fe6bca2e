#pragma once

// The watcher of one logger: connects, runs the live monitoring's start sequence once per connection
// and again every hour, takes one reading of clock and channels per interval, and turns each interval
// into readings or a gap in the archive, alarm steps and notifications, and the station's snapshot.
// It never writes to the logger. One watcher runs in one thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "platform/Clock.h"
#include "platform/Locale.h"
#include "platform/SerialPort.h"
#include "session/Session.h"
#include "station/Alarms.h"
#include "station/ArchiveWriter.h"
#include "station/Log.h"
#include "station/Notifier.h"
#include "station/Snapshot.h"
#include "station/StationUi.h"

namespace velutron::station {

struct Limits {
  std::optional<double> low;
  std::optional<double> high;
};

struct WatcherSetup {
  std::string name;  // the logger's identity; empty: its port
  std::string port;
  Parity parity = Parity::Even;
  int interval_s = 10;
  AlarmSettings alarms;
  std::map<int, Limits> overrides;  // channel -> limits replacing the logger's
};

// What the watcher runs on: the system's port and clocks in the program, a simulated logger on virtual
// time in the tests.
struct WatcherEnv {
  SerialPort& port;
  Clock& clock;
  std::function<int64_t()> utc_ms;                   // the PC's time
  std::function<int64_t(int64_t utc_s)> local_wall;  // the PC's local wall time, as seconds "as if UTC"
  bool real_time = true;                             // waits wake early for Stop, Pause and acks
};

class Watcher {
 public:
  Watcher(WatcherSetup setup, WatcherEnv env, ArchiveWriter& archive, Notifier* notifier, Log& log);
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  // Watches until Stop(), or in tests until `until` says so; the port is closed on return.
  void Run();
  // Finishes the current reading, then Run returns. Any thread.
  void Stop();
  // Gives the port up until `until_utc_ms`; the time is a gap with cause Paused. Any thread.
  void Pause(int64_t until_utc_ms);
  // Acknowledges open alarms (of one channel, or all with nullopt) for `for_ms` (until they clear with
  // nullopt); returns how many. Any thread.
  int Ack(std::optional<int> channel, std::optional<int64_t> for_ms);

  LoggerSnapshot Snapshot() const;
  // The logger's identity: the name in the setup, else the port. Fixed for the watcher's life.
  std::string Name() const;
  // Before Run: carries on from the watcher this one replaces on a reload (stopped), keeping its open
  // alarms, acknowledgements, last readings and pause.
  void TakeOver(const Watcher& previous);
  // Before Run: the serial number the archive last knew for this logger, shown until it is read.
  void KnownSerial(const std::string& serial);

  // Tests: runs on the watcher's thread before each interval's reading, with that interval's time.
  std::function<void(int64_t utc_ms)> beforeInterval;
  // Tests: Run returns before the first interval at or after this time.
  std::optional<int64_t> runUntilUtcMs;

 private:
  enum class State { Up, Silent, PortGone, BusFailure, Paused, Late };

  // Waits until the PC's time reaches `utc_ms`; false when the watcher must stop.
  bool WaitUntil(int64_t utc_ms);
  bool Stopping();
  bool PausedAt(int64_t utc_ms);
  void Connect(int64_t tick);
  // Handed control by the live monitoring once its start sequence has read the logger: records that
  // reading, then one reading per interval until the connection is to be made again.
  void ReadIntervals();
  // One interval's reading, tried again while the interval leaves time for it; true when it was taken.
  bool Read(int64_t tick);
  // After a failed reading: a bus failure, a silent logger, or the port gone.
  archive::GapCause Classify(int64_t tick);
  // Runs the tests' hook once per interval.
  void Hook(int64_t tick);
  // The snapshot's open alarms from the rules.
  void RefreshAlarms();
  void Answered(int64_t tick);
  void Unanswered(int64_t tick, archive::GapCause cause);
  void CloseGap(int64_t to);
  void ReadIdentity();
  void RecordChannels(int64_t tick);
  void Raise(const std::vector<AlarmStep>& steps);
  void SetState(State state, const std::string& why);
  Limits LimitsOf(int channel) const;
  archive::LoggerId Id() const;

  WatcherSetup setup_;
  WatcherEnv env_;
  ArchiveWriter& archive_;
  Notifier* notifier_;
  Log& log_;
  FixedLocale locale_{","};
  StationUi ui_;
  std::unique_ptr<Session> session_;

  mutable std::mutex mutex_;  // everything below that other threads reach
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<bool> stopFlag_{false};  // stop_ for the link: ends a start sequence at its next exchange
  std::optional<int64_t> pausedUntil_;
  AlarmRules rules_;
  LoggerSnapshot snapshot_;
  std::string owner_;
  std::string serial_;

  // The watcher's own thread only.
  State state_ = State::Silent;
  bool stateKnown_ = false;
  int64_t nextTick_ = 0;
  int64_t connectedAt_ = 0;
  int64_t nextOpenAt_ = 0;
  int64_t backoffMs_ = 1000;
  int missed_ = 0;  // intervals in a row the logger did not answer, on this connection
  bool windowOpened_ = false;
  bool identityRead_ = false;      // since the port was last opened
  bool channelsRecorded_ = false;  // in this watcher's archive
  std::optional<int64_t> hookedTick_;
  std::optional<archive::Gap> gap_;
  std::vector<archive::ChannelInfo> channels_;
};

}  // namespace velutron::station
