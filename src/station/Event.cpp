#include "station/Event.h"

#include <cctype>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

namespace velutron::station {

namespace {

// Whole numbers go out without a fraction ("limit":-15), as a person writes them.
nlohmann::ordered_json Number(double v) {
  if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15) return static_cast<int64_t>(v);
  return v;
}

nlohmann::ordered_json Fields(const AlarmStep& step, const EventSubject& subject) {
  nlohmann::ordered_json j;
  j["event"] = step.event;
  j["kind"] = step.kind;
  j["logger"] = subject.logger;
  j["serial"] = subject.serial;
  if (step.channel != 0) {
    j["channel"] = step.channel;
    j["point"] = subject.point;
    if (subject.unit) j["unit"] = *subject.unit == archive::Unit::Celsius ? "°C" : "%RH";
  }
  if (step.value) j["value"] = Number(*step.value);
  if (step.limit) j["limit"] = Number(*step.limit);
  j["since"] = FormatUtc(step.since_ms);
  j["time"] = FormatUtc(step.utc_ms);
  return j;
}

}  // namespace

std::string FormatUtc(int64_t utc_ms) {
  const std::time_t seconds = static_cast<std::time_t>(utc_ms >= 0 ? utc_ms / 1000 : (utc_ms - 999) / 1000);
  std::tm tm{};
  ::gmtime_r(&seconds, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string EventJson(const AlarmStep& step, const EventSubject& subject) {
  return Fields(step, subject).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<std::pair<std::string, std::string>> EventEnvironment(const AlarmStep& step,
                                                                  const EventSubject& subject) {
  std::vector<std::pair<std::string, std::string>> env;
  const nlohmann::ordered_json fields = Fields(step, subject);
  for (const auto& [key, value] : fields.items()) {
    std::string name = "VELUTRON_";
    for (char c : key) name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    env.emplace_back(name, value.is_string() ? value.get<std::string>() : value.dump());
  }
  return env;
}

}  // namespace velutron::station
