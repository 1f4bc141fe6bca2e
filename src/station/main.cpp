// velutron-station: watches loggers unattended, keeps every reading in the archive, raises alarms.

#include <signal.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "archive/Location.h"
#include "platform/Process.h"
#include "station/Config.h"
#include "station/Control.h"
#include "station/Log.h"
#include "station/Station.h"
#ifdef VELUTRON_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace {

using namespace velutron;
using namespace velutron::station;

constexpr int kExitCannotStart = 1;
constexpr int kExitUsage = 2;

struct Options {
  std::string config;
  std::string port;
  bool odd = false;
  bool even = false;
  std::string archive;
  int interval = 0;
  std::string listen;
  std::optional<std::string> listenGiven;
  std::string logLevel = "info";
  std::string pause;
  std::string ack;
  std::string ackFor;
  std::string checkConfig;
};

// The configuration file, then the command line over it.
bool Compose(const Options& o, CLI::App& app, StationConfig& config, std::string& error) {
  config = {};
  if (!o.config.empty() && !LoadConfig(o.config, config, error)) return false;
  if (!o.archive.empty()) config.archive = o.archive;
  if (app.count("--interval") > 0) config.interval_s = o.interval;
  if (app.count("--listen") > 0) config.listen = o.listen;
  if (!o.port.empty()) {
    LoggerConfig logger;
    logger.port = o.port;
    logger.parity = o.odd ? Parity::Odd : Parity::Even;
    // A name the file gives that port is kept.
    for (const LoggerConfig& l : config.loggers) {
      if (l.port == o.port) logger.name = l.name;
    }
    config.loggers = {logger};
  }
  return CheckConfig(config, error);
}

int Talk(const std::string& request) {
  std::string reply;
  std::string error;
  if (!SendControl(ControlSocketPath(), request, reply, error)) {
    std::cerr << "velutron-station: " << error << "\n";
    return kExitCannotStart;
  }
  std::cout << reply << "\n";
  return reply.starts_with("ok") ? 0 : kExitCannotStart;
}

void Notify(const char* state) {
#ifdef VELUTRON_SYSTEMD
  sd_notify(0, state);
#else
  (void)state;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  Options o;
  CLI::App app{"velutron-station: watches VELUTRON loggers unattended, keeps every reading, raises alarms"};
  app.add_option("--config", o.config, "the configuration file (TOML)");
  app.add_option("--port", o.port, "one logger's port: COMn, a device path or a /dev/serial/by-id/ name");
  auto* odd = app.add_flag("--odd", o.odd, "the logger's parity is odd");
  app.add_flag("--even", o.even, "the logger's parity is even (the default)")->excludes(odd);
  app.add_option("--archive", o.archive, "the archive: a SQLite file or a postgresql:// URL");
  app.add_option("--interval", o.interval, "seconds between readings, 1 to 3600")->check(CLI::Range(1, 3600));
  app.add_option("--listen", o.listen, "serve metrics, the JSON API and the status page on ADDR:PORT");
  app.add_option("--log-level", o.logLevel, "error, warn, info or debug")
      ->check(CLI::IsMember({"error", "warn", "info", "debug"}));
  auto* pause =
      app.add_option("--pause", o.pause, "tell the running station to give up its ports for DURATION");
  auto* ack = app.add_option("--ack", o.ack, "acknowledge the open alarms of LOGGER[:CHANNEL]");
  app.add_option("--for", o.ackFor, "with --ack: stop their repeats for DURATION only")->needs(ack);
  auto* check = app.add_option("--check-config", o.checkConfig, "check FILE and exit: 0 valid, 2 not");
  pause->excludes(ack)->excludes(check);
  ack->excludes(check);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitUsage;
  }

  if (!o.checkConfig.empty()) {
    StationConfig config;
    std::string error;
    if (!LoadConfig(o.checkConfig, config, error) || !CheckConfig(config, error) ||
        !CheckRunnable(config, error)) {
      std::cerr << error << "\n";
      return kExitUsage;
    }
    return 0;
  }
  if (!o.pause.empty()) {
    const std::optional<int64_t> ms = ParseDuration(o.pause);
    if (!ms) {
      std::cerr << "--pause: not a duration: " << o.pause << " (such as 90s, 15m, 2h)\n";
      return kExitUsage;
    }
    return Talk("pause " + std::to_string(*ms));
  }
  if (!o.ack.empty()) {
    std::string request = "ack " + o.ack;
    if (!o.ackFor.empty()) {
      const std::optional<int64_t> ms = ParseDuration(o.ackFor);
      if (!ms) {
        std::cerr << "--for: not a duration: " << o.ackFor << " (such as 90s, 15m, 2h)\n";
        return kExitUsage;
      }
      request += " " + std::to_string(*ms);
    }
    return Talk(request);
  }

  Log log(*ParseLogLevel(o.logLevel));
  StationConfig config;
  std::string error;
  if (!Compose(o, app, config, error)) {
    std::cerr << "velutron-station: " << error << "\n";
    return kExitUsage;
  }

  // Signals are taken by this thread alone, synchronously; every thread started below inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // The handlers never run (the signals stay blocked and are taken below); they make the descriptor that
  // wakes a PostgreSQL wait when the stop interrupts it.
  InstallInterruptHandlers();
  ::signal(SIGPIPE, SIG_IGN);

  Station station(log);
  if (!station.Start(config, error)) {
    log.Error("", error);
    return kExitCannotStart;
  }
  ControlServer control;
  const std::string socketPath = ControlSocketPath();
  if (!control.Start(
          socketPath, [&station](const std::string& r) { return station.Handle(r); }, error)) {
    log.Error("", error);
    station.Stop();
    return kExitCannotStart;
  }
  const std::string started = "started: " + std::to_string(config.loggers.size()) + " loggers, archive " +
                              archive::MaskedLocation(config.archive) + ", control socket " + socketPath;
  log.Info("", started);
  Notify(("READY=1\nSTATUS=" + started).c_str());

  // The watchdog is told we live at half its time; the archive gets its retries on the same beat.
  uint64_t watchdogUs = 0;
#ifdef VELUTRON_SYSTEMD
  if (sd_watchdog_enabled(0, &watchdogUs) <= 0) watchdogUs = 0;
#endif
  const int64_t beatMs =
      watchdogUs > 0 ? std::min<int64_t>(static_cast<int64_t>(watchdogUs / 2000), 5000) : 5000;
  for (;;) {
    timespec wait{beatMs / 1000, (beatMs % 1000) * 1'000'000};
    const int got = sigtimedwait(&signals, nullptr, &wait);
    if (got == SIGTERM || got == SIGINT) break;
    if (got == SIGHUP) {
      Notify("RELOADING=1");
      StationConfig next;
      if (!Compose(o, app, next, error) || !station.Reload(next, error)) {
        log.Error("", "the configuration was not taken, the one in force stays: " + error);
      } else {
        log.Info("", "configuration reloaded");
      }
      Notify(("READY=1\nSTATUS=watching " + std::to_string(station.Snapshots().size()) + " loggers").c_str());
      continue;
    }
    if (watchdogUs > 0) Notify("WATCHDOG=1");
    station.Tick();
  }
  Notify("STOPPING=1\nSTATUS=stopping");
  log.Info("", "stopping");
  control.Stop();
  // The stop is due within 2 s: a write that hangs gets 0.8 s, then 0.6 s more to be interrupted, and is
  // then left behind.
  if (!station.Stop(std::chrono::milliseconds(800))) {
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return 0;
}
