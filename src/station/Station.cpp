#include "station/Station.h"

#include <charconv>
#include <chrono>
#include <ctime>

#include "archive/Archive.h"
#include "archive/Location.h"
#include "platform/PosixSerialPort.h"
#include "platform/Process.h"
#include "station/Event.h"
#ifdef VELUTRON_STATION_HTTP
#include "station/Http.h"
#endif

namespace velutron::station {

namespace {

// A cancelled PostgreSQL statement's end: its request to the server gets half a second.
constexpr std::chrono::milliseconds kCancelWait{600};

int64_t UtcNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// This PC's local wall time, as the logger's clock counts it.
int64_t LocalWall(int64_t utc_s) {
  const std::time_t t = static_cast<std::time_t>(utc_s);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return utc_s + tm.tm_gmtoff;
}

// The serial numbers an archive holds for its loggers, so that a logger not reached yet is labelled as
// it was before. None when it cannot tell.
std::map<std::string, std::string> KnownSerials(archive::Archive& archive) {
  std::map<std::string, std::string> serials;
  std::vector<archive::LoggerEntry> loggers;
  std::string error;
  auto* period = dynamic_cast<archive::PeriodArchive*>(&archive);
  if (period == nullptr || !period->Loggers(loggers, error)) return serials;
  for (const archive::LoggerEntry& l : loggers) serials[l.id.name] = l.id.serial;
  return serials;
}

}  // namespace

#ifdef VELUTRON_STATION_HTTP
class HttpServer {
 public:
  HttpServer(HttpEndpoint::SnapshotSource source, const std::string& archive,
             HttpEndpoint::ArchiveSource archive_state)
      : endpoint(std::move(source), archive, std::move(archive_state)) {}
  HttpEndpoint endpoint;
  std::string listen;
};
#else
class HttpServer {
 public:
  std::string listen;
};
#endif

struct Station::Running {
  PosixSerialPort port;
  std::unique_ptr<Watcher> watcher;
  std::thread thread;
};

Station::Station(Log& log) : log_(log), clock_(std::make_unique<SystemClock>()) {}

Station::~Station() { Stop(); }

bool Station::Start(const StationConfig& config, std::string& error) {
  std::unique_ptr<archive::Archive> archive = archive::OpenArchive(config.archive, error);
  if (!archive) {
    error = "archive " + archive::MaskedLocation(config.archive) + ": " + error;
    return false;
  }
  serials_ = KnownSerials(*archive);
  writer_ = std::make_unique<ArchiveWriter>(std::move(archive), log_);
  writer_->OnFailingChanged([this](bool failing, const std::string& why) { ArchiveFailing(failing, why); });
  writer_->CountDroppedIn(archive_dropped_);
  notifier_ = std::make_unique<Notifier>(log_);
  if (!config.listen.empty()) {
#ifdef VELUTRON_STATION_HTTP
    http_ = std::make_unique<HttpServer>([this] { return Snapshots(); }, config.archive,
                                         [this] { return ArchiveState(); });
    if (!http_->endpoint.Start(config.listen, error)) {
      error = "listen " + config.listen + ": " + error;
      http_.reset();
      return false;
    }
    http_->listen = config.listen;
    log_.Info("", "serving http://" + config.listen + "/");
#else
    error = "listen " + config.listen + ": this build has no HTTP endpoint";
    return false;
#endif
  }
  {
    std::lock_guard lock(mutex_);
    config_ = config;
  }
  StartWatchers(config, *writer_);
  return true;
}

std::vector<std::unique_ptr<Station::Running>> Station::StartWatchers(const StationConfig& config,
                                                                      ArchiveWriter& writer) {
  // Under the lock throughout: an acknowledgement waits for the watcher that takes it over.
  std::lock_guard lock(mutex_);
  std::vector<std::unique_ptr<Running>> started;
  for (WatcherSetup& setup : WatcherSetups(config)) {
    auto r = std::make_unique<Running>();
    WatcherEnv env{r->port, *clock_, UtcNowMs, LocalWall, true};
    r->watcher = std::make_unique<Watcher>(std::move(setup), env, writer, notifier_.get(), log_);
    if (const auto known = serials_.find(r->watcher->Name()); known != serials_.end()) {
      r->watcher->KnownSerial(known->second);
    }
    for (const auto& previous : running_) {
      if (previous->watcher->Name() == r->watcher->Name()) r->watcher->TakeOver(*previous->watcher);
    }
    r->thread = std::thread([w = r->watcher.get()] { w->Run(); });
    started.push_back(std::move(r));
  }
  running_.swap(started);
  return started;
}

void Station::StopWatchers() {
  std::vector<std::unique_ptr<Running>> stopping;
  {
    std::lock_guard lock(mutex_);
    stopping.swap(running_);
  }
  for (auto& r : stopping) r->watcher->Stop();
  for (auto& r : stopping) r->thread.join();
}

bool Station::Reload(const StationConfig& config, std::string& error) {
  std::unique_ptr<ArchiveWriter> writer;
  std::map<std::string, std::string> serials;
  if (config.archive != config_.archive) {
    std::unique_ptr<archive::Archive> archive = archive::OpenArchive(config.archive, error);
    if (!archive) {
      error = "archive " + archive::MaskedLocation(config.archive) + ": " + error;
      return false;
    }
    serials = KnownSerials(*archive);
    writer = std::make_unique<ArchiveWriter>(std::move(archive), log_);
  }
  std::unique_ptr<HttpServer> http;
  const std::string listening = http_ ? http_->listen : std::string();
  if (config.listen != listening && !config.listen.empty()) {
#ifdef VELUTRON_STATION_HTTP
    if (http_) http_->endpoint.Stop();  // the same port may be asked for again
    http = std::make_unique<HttpServer>([this] { return Snapshots(); }, config.archive,
                                        [this] { return ArchiveState(); });
    if (!http->endpoint.Start(config.listen, error)) {
      error = "listen " + config.listen + ": " + error;
      if (http_) {
        std::string ignored;
        http_->endpoint.Start(http_->listen, ignored);
      }
      return false;
    }
    http->listen = config.listen;
#else
    error = "listen " + config.listen + ": this build has no HTTP endpoint";
    return false;
#endif
  }
  // The stopping watchers stay in place meanwhile: the endpoint shows them and acknowledgements reach
  // them, and their successors carry on from them.
  std::vector<Running*> stopping;
  {
    std::lock_guard lock(mutex_);
    for (auto& r : running_) stopping.push_back(r.get());
  }
  for (Running* r : stopping) r->watcher->Stop();
  for (Running* r : stopping) r->thread.join();
  if (writer) {
    serials_ = std::move(serials);
    {
      std::lock_guard lock(mutex_);
      archive_state_ = {};  // a new archive, not failing until it says so
    }
    writer->OnFailingChanged([this](bool failing, const std::string& why) { ArchiveFailing(failing, why); });
    writer->CountDroppedIn(archive_dropped_);
  }
  StartWatchers(config, writer ? *writer : *writer_).clear();
  if (writer) {
    notifier_->Drain();
    writer_ = std::move(writer);
  }
  if (config.listen != listening) http_ = std::move(http);
  {
    std::lock_guard lock(mutex_);
    config_ = config;
  }
  return true;
}

bool Station::Stop(std::optional<std::chrono::milliseconds> archive_wait) {
  // The endpoint stops beside the rest: a client's connection may hold a worker up to its time-out.
  std::thread endpoint;
#ifdef VELUTRON_STATION_HTTP
  if (http_) endpoint = std::thread([http = http_.get()] { http->endpoint.Stop(); });
#endif
  if (writer_) writer_->StopWaiting();
  StopWatchers();
  bool closed = true;
  if (writer_) {
    std::optional<size_t> left = writer_->Close(archive_wait);
    if (!left && archive_wait) {
      // A write waiting on a PostgreSQL server is ended by an interrupt, which asks the server to drop
      // the statement (half a second at most): what waits is then counted below rather than lost. The
      // failure that follows is the stop's, not the archive's: no alarm.
      writer_->OnFailingChanged(nullptr);
      RequestInterrupt();
      left = writer_->Close(kCancelWait);
    }
    if (!left) {
      // A write that hangs must not hold the stop: what waits in memory is lost, as at any exit.
      log_.Error("", "archive: a write has no answer; " + std::to_string(writer_->Queued()) +
                         " records in memory are lost");
      writer_->OnFailingChanged(nullptr);
      static_cast<void>(writer_.release());  // its thread ends with the process
      closed = false;
    } else if (*left > 0) {
      log_.Error("", std::to_string(*left) + " records could not be written to the archive");
    }
  }
  if (endpoint.joinable()) endpoint.join();
  http_.reset();
  notifier_.reset();
  writer_.reset();
  return closed;
}

void Station::Tick() {
  if (writer_) writer_->Retry();
}

void Station::ArchiveFailing(bool failing, const std::string& error) {
  // The archive cannot hold this alarm while it fails; the log and the command carry it.
  const std::string event = failing ? "start" : "clear";
  const int64_t now = UtcNowMs();
  const std::string json =
      "{\"event\":\"" + event + "\",\"kind\":\"archive\",\"time\":\"" + FormatUtc(now) + "\"}";
  Notifier::Job job;
  {
    // The writer's thread calls this; a reload may be replacing the configuration meanwhile. The
    // endpoint shows the state before the log tells of it.
    std::lock_guard lock(mutex_);
    archive_state_.failing = failing;
    archive_state_.failing_since_utc_ms = failing ? std::optional<int64_t>(now) : std::nullopt;
    job.command = config_.alarms.command;
    job.timeout_s = config_.alarms.command_timeout_s;
  }
  if (failing) {
    log_.Error("", "alarm " + json + " " + error);
  } else {
    log_.Info("", "alarm " + json);
  }
  if (!notifier_ || job.command.empty()) return;
  job.alarm = "archive";
  job.input = json + "\n";
  job.env = {{"VELUTRON_EVENT", event}, {"VELUTRON_KIND", "archive"}, {"VELUTRON_TIME", FormatUtc(now)}};
  notifier_->Submit(std::move(job));
}

ArchiveSnapshot Station::ArchiveState() const {
  std::lock_guard lock(mutex_);
  ArchiveSnapshot state = archive_state_;
  state.dropped = *archive_dropped_;
  return state;
}

std::vector<LoggerSnapshot> Station::Snapshots() const {
  std::lock_guard lock(mutex_);
  std::vector<LoggerSnapshot> all;
  for (const auto& r : running_) all.push_back(r->watcher->Snapshot());
  return all;
}

std::string Station::Handle(const std::string& request) {
  const size_t space = request.find(' ');
  const std::string verb = request.substr(0, space);
  const std::string rest = space == std::string::npos ? std::string() : request.substr(space + 1);
  std::lock_guard lock(mutex_);
  if (verb == "pause") {
    // The socket speaks milliseconds; the command line turned "15m" into them.
    int64_t pauseMs = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), pauseMs);
    if (ec != std::errc{} || end != rest.data() + rest.size() || pauseMs < 0)
      return "error not a duration: " + rest;
    const std::optional<int64_t> ms = pauseMs;
    for (auto& r : running_) r->watcher->Pause(UtcNowMs() + *ms);
    log_.Info("", "pausing for " + std::to_string(*ms / 1000) + " s: the ports are given up");
    return "ok paused " + std::to_string(running_.size()) + " loggers for " + std::to_string(*ms / 1000) +
           " s";
  }
  if (verb == "ack") {
    // "LOGGER[:CHANNEL] [MS]"; a logger's name may hold spaces and colons, so both are cut from the end.
    std::string target = rest;
    std::optional<int64_t> forMs;
    if (const size_t last = target.rfind(' '); last != std::string::npos) {
      int64_t ms = 0;
      const auto [end, ec] = std::from_chars(target.data() + last + 1, target.data() + target.size(), ms);
      if (ec == std::errc{} && end == target.data() + target.size()) {
        forMs = ms;
        target.resize(last);
      }
    }
    for (int pass = 0; pass < 2; ++pass) {
      std::string name = target;
      std::optional<int> channel;
      if (pass == 1) {
        const size_t colon = target.rfind(':');
        int n = 0;
        if (colon == std::string::npos ||
            std::from_chars(target.data() + colon + 1, target.data() + target.size(), n).ec != std::errc{}) {
          break;
        }
        name = target.substr(0, colon);
        channel = n;
      }
      for (auto& r : running_) {
        if (r->watcher->Name() != name) continue;
        const int count = r->watcher->Ack(channel, forMs);
        return "ok " + std::to_string(count) + " alarms acknowledged";
      }
    }
    return "error no logger named " + target;
  }
  return "error unknown request: " + verb;
}

}  // namespace velutron::station
