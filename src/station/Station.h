#pragma once

// The station as a whole: the archive writer, the notifier, one watcher and thread per logger, the
// HTTP endpoint, and what the local socket asks of them.

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "station/ArchiveWriter.h"
#include "station/Config.h"
#include "station/Log.h"
#include "station/Notifier.h"
#include "station/Snapshot.h"
#include "station/Watcher.h"

namespace velutron::station {

class HttpServer;

class Station {
 public:
  explicit Station(Log& log);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Opens the archive, starts the HTTP endpoint when asked for and a watcher per logger; false with
  // the reason when one of them cannot start.
  bool Start(const StationConfig& config, std::string& error);
  // Takes a new configuration: the watchers restart on it, each carrying on from the one of the same
  // logger (its open alarms, acknowledgements and last readings); the archive and the endpoint are
  // reopened when they changed. On false nothing changed.
  bool Reload(const StationConfig& config, std::string& error);
  // Every watcher finishes its reading and stops; the archive is closed. A write that has no answer
  // after `archive_wait` is interrupted (a process-wide interrupt, so only at the end) and gets 0.6 s
  // more. False when it still had none: the writer is left to end with the process, which should end now.
  bool Stop(std::optional<std::chrono::milliseconds> archive_wait = std::nullopt);
  // Between readings: what waits for the archive is written again.
  void Tick();

  // A request from the local socket: "pause MS", "ack LOGGER[:CHANNEL] [MS]".
  std::string Handle(const std::string& request);
  std::vector<LoggerSnapshot> Snapshots() const;
  // Whether writes to the archive fail now, and since when.
  ArchiveSnapshot ArchiveState() const;

 private:
  struct Running;

  // Starts the configuration's watchers in place of the running ones, which must have stopped, and
  // returns those.
  std::vector<std::unique_ptr<Running>> StartWatchers(const StationConfig& config, ArchiveWriter& writer);
  void StopWatchers();
  void ArchiveFailing(bool failing, const std::string& error);

  Log& log_;
  std::unique_ptr<Clock> clock_;
  StationConfig config_;
  std::unique_ptr<ArchiveWriter> writer_;
  // What the full memory queues dropped: every writer's, across reloads.
  std::shared_ptr<std::atomic<uint64_t>> archive_dropped_ = std::make_shared<std::atomic<uint64_t>>(0);
  std::unique_ptr<Notifier> notifier_;
  std::unique_ptr<HttpServer> http_;
  mutable std::mutex
      mutex_;  // guards running_ against the HTTP threads and the socket, config_ against the writer
  std::vector<std::unique_ptr<Running>> running_;
  std::map<std::string, std::string> serials_;  // logger -> the serial number the archive knew at start
  ArchiveSnapshot archive_state_;  // guarded by mutex_
};

}  // namespace velutron::station
