#include "station/Config.h"

#include <arpa/inet.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "archive/Location.h"
#include "platform/FileRead.h"
#include "platform/PortNames.h"

namespace velutron::station {

namespace {

// Far above any real configuration; a device or a huge file is refused instead of read whole.
constexpr size_t kLargestConfig = 1 << 20;

// "ADDR:PORT" with ADDR a numeric IPv4 address, or "[IPv6]:PORT"; empty when so, else why not.
std::string ListenProblem(const std::string& listen) {
  const bool v6 = listen.starts_with('[');
  const size_t close = v6 ? listen.find(']') : 0;
  const size_t colon = v6 ? close + 1 : listen.rfind(':');
  if ((v6 && close == std::string::npos) || colon == std::string::npos || colon == 0 ||
      colon >= listen.size() || listen[colon] != ':') {
    return "must be ADDRESS:PORT, such as \"127.0.0.1:9457\"";
  }
  const std::string host = v6 ? listen.substr(1, close - 1) : listen.substr(0, colon);
  unsigned char address[16];
  if (inet_pton(v6 ? AF_INET6 : AF_INET, host.c_str(), address) != 1) {
    return host + " is not an IPv4 address or a [bracketed] IPv6 one";
  }
  const std::string_view port(listen.data() + colon + 1, listen.size() - colon - 1);
  int number = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (port.empty() || ec != std::errc{} || end != port.data() + port.size() || number < 0 || number > 65535) {
    return "the port must be a number 0 to 65535, not " + std::string(port);
  }
  return {};
}

// The device a port opens, links resolved: "COM31" and a link to its device are one logger's port.
std::string DeviceOf(const std::string& port) {
  const std::string path = ResolvePortName(port);
  std::error_code ec;
  const std::filesystem::path device = std::filesystem::canonical(path, ec);
  return ec ? path : device.string();
}

bool Executable(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

// Collects the first error with its place.
class Reader {
 public:
  Reader(const std::string& file, std::string& error) : file_(file), error_(error) {}

  bool Fail(const toml::node& node, const std::string& key, const std::string& why) {
    if (error_.empty()) {
      error_ = file_ + ":" + std::to_string(node.source().begin.line) + ": " + key + ": " + why;
    }
    return false;
  }
  bool Fail(const toml::table& at, const std::string& key, const std::string& why) {
    return Fail(static_cast<const toml::node&>(at), key, why);
  }

  bool Text(const toml::node& node, const std::string& key, std::string& out) {
    const auto* value = node.as_string();
    if (value == nullptr) return Fail(node, key, "must be a text in quotes");
    out = value->get();
    return true;
  }
  bool Whole(const toml::node& node, const std::string& key, int64_t low, int64_t high, int& out) {
    const auto* value = node.as_integer();
    if (value == nullptr || value->get() < low || value->get() > high) {
      return Fail(node, key,
                  "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    out = static_cast<int>(value->get());
    return true;
  }
  bool Number(const toml::node& node, const std::string& key, double low, double high, double& out) {
    std::optional<double> v;
    if (const auto* i = node.as_integer()) v = static_cast<double>(i->get());
    if (const auto* f = node.as_floating_point()) v = f->get();
    if (!v || *v < low || *v > high) {
      std::ostringstream range;
      range << low << " to " << high;
      return Fail(node, key, "must be a number from " + range.str());
    }
    out = *v;
    return true;
  }

 private:
  const std::string& file_;
  std::string& error_;
};

bool ReadAlarms(Reader& r, const toml::table& t, AlarmSettings& a) {
  for (const auto& [k, node] : t) {
    const std::string key = "alarms." + std::string(k.str());
    bool ok = true;
    if (k == "delay_s") {
      ok = r.Whole(node, key, 0, 86400, a.delay_s);
    } else if (k == "clear_margin_c") {
      ok = r.Number(node, key, 0, 50, a.clear_margin_c);
    } else if (k == "link_lost_s") {
      ok = r.Whole(node, key, 0, 86400, a.link_lost_s);
    } else if (k == "clock_drift_s") {
      ok = r.Whole(node, key, 1, 86400 * 366, a.clock_drift_s);
    } else if (k == "repeat_s") {
      ok = r.Whole(node, key, 0, 86400 * 366, a.repeat_s);
    } else if (k == "command_timeout_s") {
      ok = r.Whole(node, key, 1, 3600, a.command_timeout_s);
    } else if (k == "command") {
      const auto* list = node.as_array();
      if (list == nullptr || list->empty())
        return r.Fail(node, key, "must be a list of texts: the program and its arguments");
      a.command.clear();
      for (const toml::node& part : *list) {
        std::string text;
        if (!r.Text(part, key, text)) return false;
        a.command.push_back(text);
      }
      if (a.command.front().empty()) return r.Fail(node, key, "the program's name is empty");
    } else {
      ok = r.Fail(node, key, "unknown key");
    }
    if (!ok) return false;
  }
  return true;
}

bool ReadLogger(Reader& r, const toml::table& t, LoggerConfig& l) {
  for (const auto& [k, node] : t) {
    const std::string key = "logger." + std::string(k.str());
    bool ok = true;
    if (k == "port") {
      ok = r.Text(node, key, l.port) && (!l.port.empty() || r.Fail(node, key, "is empty"));
    } else if (k == "name") {
      ok = r.Text(node, key, l.name);
    } else if (k == "parity") {
      std::string parity;
      ok = r.Text(node, key, parity);
      if (ok && parity != "even" && parity != "odd") ok = r.Fail(node, key, "must be \"even\" or \"odd\"");
      l.parity = parity == "odd" ? Parity::Odd : Parity::Even;
    } else {
      ok = r.Fail(node, key, "unknown key");
    }
    if (!ok) return false;
  }
  if (l.port.empty()) return r.Fail(t, "logger.port", "missing");
  return true;
}

bool ReadOverride(Reader& r, const toml::table& t, OverrideConfig& o) {
  for (const auto& [k, node] : t) {
    const std::string key = "override." + std::string(k.str());
    bool ok = true;
    double limit = 0;
    if (k == "logger") {
      ok = r.Text(node, key, o.logger);
    } else if (k == "channel") {
      ok = r.Whole(node, key, 1, 10, o.channel);
    } else if (k == "low_c") {
      ok = r.Number(node, key, -55, 125, limit);
      o.limits.low = limit;
    } else if (k == "high_c") {
      ok = r.Number(node, key, -55, 125, limit);
      o.limits.high = limit;
    } else {
      ok = r.Fail(node, key, "unknown key");
    }
    if (!ok) return false;
  }
  if (o.logger.empty()) return r.Fail(t, "override.logger", "missing");
  if (o.channel == 0) return r.Fail(t, "override.channel", "missing");
  if (o.limits.low && o.limits.high && *o.limits.low >= *o.limits.high) {
    return r.Fail(t, "override.low_c", "must be below high_c");
  }
  return true;
}

bool ReadTables(Reader& r, const toml::node& node, const std::string& key,
                const std::function<bool(const toml::table&)>& each) {
  const auto* list = node.as_array();
  if (list == nullptr || !list->is_array_of_tables())
    return r.Fail(node, key, "must be written [[" + key + "]]");
  for (const toml::node& item : *list) {
    if (!each(*item.as_table())) return false;
  }
  return true;
}

}  // namespace

bool ParseConfig(std::string_view text, const std::string& file, StationConfig& config, std::string& error) {
  error.clear();
  toml::table root;
  try {
    root = toml::parse(text, file);
  } catch (const toml::parse_error& e) {
    error = file + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
    return false;
  }
  Reader r(file, error);
  for (const auto& [k, node] : root) {
    const std::string key(k.str());
    bool ok = true;
    if (key == "archive") {
      ok = r.Text(node, key, config.archive) && (!config.archive.empty() || r.Fail(node, key, "is empty"));
    } else if (key == "interval_s") {
      ok = r.Whole(node, key, 1, 3600, config.interval_s);
    } else if (key == "listen") {
      ok = r.Text(node, key, config.listen);
      const std::string problem = ok && !config.listen.empty() ? ListenProblem(config.listen) : "";
      if (!problem.empty()) ok = r.Fail(node, key, problem);
    } else if (key == "logger") {
      ok = ReadTables(r, node, key, [&](const toml::table& t) {
        LoggerConfig l;
        if (!ReadLogger(r, t, l)) return false;
        config.loggers.push_back(l);
        return true;
      });
    } else if (key == "override") {
      ok = ReadTables(r, node, key, [&](const toml::table& t) {
        OverrideConfig o;
        if (!ReadOverride(r, t, o)) return false;
        config.overrides.push_back(o);
        return true;
      });
    } else if (key == "alarms") {
      const auto* table = node.as_table();
      ok = table != nullptr ? ReadAlarms(r, *table, config.alarms)
                            : r.Fail(node, key, "must be a table [alarms]");
    } else {
      ok = r.Fail(node, key, "unknown key");
    }
    if (!ok) return false;
  }
  return true;
}

bool LoadConfig(const std::string& file, StationConfig& config, std::string& error) {
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    error = file + ": not a regular file";
    return false;
  }
  const std::optional<std::vector<uint8_t>> bytes = ReadFileAtMost(file, kLargestConfig);
  if (!bytes) {
    error = file + ": cannot be read";
    return false;
  }
  if (bytes->size() > kLargestConfig) {
    error = file + ": larger than 1 MiB, not a configuration";
    return false;
  }
  const std::string text(bytes->begin(), bytes->end());
  return ParseConfig(text, file, config, error);
}

std::string LoggerIdentity(const LoggerConfig& logger) {
  return logger.name.empty() ? logger.port : logger.name;
}

bool CheckConfig(const StationConfig& config, std::string& error) {
  if (config.loggers.empty()) {
    error = "no logger: give --port, or [[logger]] in the configuration";
    return false;
  }
  std::set<std::string> ports;
  std::set<std::string> names;
  std::map<std::string, std::string> devices;  // device -> the port naming it
  std::set<std::string> identities;
  for (const LoggerConfig& l : config.loggers) {
    if (!ports.insert(l.port).second) {
      error = "logger.port: " + l.port + " is given twice";
      return false;
    }
    const std::string device = DeviceOf(l.port);
    if (const auto [at, added] = devices.emplace(device, l.port); !added) {
      error = "logger.port: " + l.port + " and " + at->second + " are the same device, " + device;
      return false;
    }
    if (!l.name.empty() && !names.insert(l.name).second) {
      error = "logger.name: " + l.name + " is given twice";
      return false;
    }
    // The archive, the metrics and the alarms know a logger by this; two would be merged into one.
    if (!identities.insert(LoggerIdentity(l)).second) {
      error = "logger.name: " + LoggerIdentity(l) +
              " names two loggers (one without a name is named after its port)";
      return false;
    }
  }
  for (const OverrideConfig& o : config.overrides) {
    if (!names.contains(o.logger) && !ports.contains(o.logger)) {
      error = "override.logger: no logger named " + o.logger;
      return false;
    }
  }
  return true;
}

bool CheckRunnable(const StationConfig& config, std::string& error) {
  namespace fs = std::filesystem;
  const std::string& archive = config.archive;
  if (!velutron::archive::IsServerLocation(archive)) {
    // SQLite writes its journal beside the file, so the folder must take new files.
    const fs::path folder =
        fs::path(archive).parent_path().empty() ? fs::path(".") : fs::path(archive).parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      error = "archive: no such folder: " + folder.string();
      return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
      error = "archive: the folder " + folder.string() + " is not writable by this user";
      return false;
    }
  }
  if (!config.alarms.command.empty()) {
    const std::string& program = config.alarms.command.front();
    bool found = false;
    if (program.find('/') != std::string::npos) {
      found = Executable(program);
    } else if (const char* path = std::getenv("PATH")) {
      std::istringstream dirs(path);
      for (std::string dir; !found && std::getline(dirs, dir, ':');) {
        found = Executable(fs::path(dir.empty() ? "." : dir) / program);
      }
    }
    if (!found) {
      error =
          "alarms.command: " + program + " is not an executable program (an absolute path, or found on PATH)";
      return false;
    }
  }
  return true;
}

std::vector<WatcherSetup> WatcherSetups(const StationConfig& config) {
  std::vector<WatcherSetup> setups;
  for (const LoggerConfig& l : config.loggers) {
    WatcherSetup s;
    s.name = LoggerIdentity(l);
    s.port = l.port;
    s.parity = l.parity;
    s.interval_s = config.interval_s;
    s.alarms = config.alarms;
    for (const OverrideConfig& o : config.overrides) {
      if (o.logger == l.name || o.logger == l.port) s.overrides[o.channel] = o.limits;
    }
    setups.push_back(std::move(s));
  }
  return setups;
}

std::optional<int64_t> ParseDuration(std::string_view text) {
  int64_t number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc{} || number < 0 || end == text.data()) return std::nullopt;
  const std::string_view unit(end, static_cast<size_t>(text.data() + text.size() - end));
  int64_t scale = 0;
  if (unit.empty() || unit == "s") scale = 1000;
  if (unit == "m" || unit == "min") scale = 60'000;
  if (unit == "h") scale = 3'600'000;
  if (unit == "d") scale = 86'400'000;
  if (scale == 0 || number > INT64_MAX / scale) return std::nullopt;
  return number * scale;
}

}  // namespace velutron::station
