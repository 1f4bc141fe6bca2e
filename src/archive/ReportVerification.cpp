#include "archive/ReportVerification.h"

#include <algorithm>

namespace velutron::archive {

using Json = nlohmann::ordered_json;

bool IsSha256(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::vector<ReportedChannel> ReadReport(std::string_view text, const TimeZone& zone, std::string& why) {
  std::vector<ReportedChannel> channels;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // the byte order mark of an editor
  for (size_t number = 1; !text.empty(); ++number) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    const Json j = Json::parse(line.begin(), line.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
      why = where + "not a JSON object";
      return {};
    }
    const auto type = j.find("type");
    if (type == j.end() || !type->is_string()) {
      why = where + "an object without \"type\"";
      return {};
    }
    if (*type != "stats") continue;
    auto text_of = [&j](const char* key) {
      const auto it = j.find(key);
      return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    ReportedChannel c;
    c.logger = text_of("logger");
    const auto channel = j.find("channel");
    const std::string unit = text_of("unit");
    c.from = text_of("from");
    c.to = text_of("to");
    c.sha256 = text_of("sha256");
    const auto from = ParseTime(c.from, zone), to = ParseTime(c.to, zone);
    if (c.logger.empty()) {
      why = where + "no logger";
    } else if (channel == j.end() || !channel->is_number_integer() || channel->get<int64_t>() < 1 ||
               channel->get<int64_t>() > 10) {
      why = where + "no channel 1..10";
    } else if (unit != "°C" && unit != "%RH") {
      why = where + "no unit °C or %RH";
    } else if (!from || !to || *from >= *to) {
      why = where + "no period (from, to)";
    } else if (!IsSha256(c.sha256)) {
      why = where + "no sha256";
    }
    if (!why.empty()) return {};
    c.channel = static_cast<int>(channel->get<int64_t>());
    c.unit = unit == "%RH" ? Unit::RelativeHumidity : Unit::Celsius;
    c.line = j;
    channels.push_back(std::move(c));
  }
  if (channels.empty()) why = "no \"stats\" line: not what archive report --json writes";
  return channels;
}

bool SameFigure(const Json& reported, const Json& now, const TimeZone& zone) {
  if (reported.is_number() && now.is_number()) return reported.get<double>() == now.get<double>();
  if (reported.is_string() && now.is_string()) {
    const auto a = ParseTime(reported.get<std::string>(), zone), b = ParseTime(now.get<std::string>(), zone);
    return a && b ? *a == *b : reported == now;
  }
  if (reported.is_array() && now.is_array()) {
    if (reported.size() != now.size()) return false;
    for (size_t i = 0; i < now.size(); ++i) {
      if (!SameFigure(reported[i], now[i], zone)) return false;
    }
    return true;
  }
  if (reported.is_object() && now.is_object()) {
    if (reported.size() != now.size()) return false;
    for (const auto& [key, value] : now.items()) {
      const auto it = reported.find(key);
      if (it == reported.end() || !SameFigure(*it, value, zone)) return false;
    }
    return true;
  }
  return reported == now;
}

std::optional<double> NumberIn(const Json& line, const char* key) {
  const auto it = line.find(key);
  return it != line.end() && it->is_number() ? std::optional<double>(it->get<double>()) : std::nullopt;
}

}  // namespace velutron::archive
