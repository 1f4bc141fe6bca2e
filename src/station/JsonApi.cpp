#include "station/JsonApi.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace velutron::station {

namespace {

using Json = nlohmann::ordered_json;

constexpr int64_t kDayMs = 24 * 3600 * 1000;
constexpr int64_t kMaxPeriodDays = 31;

Json Optional(const std::optional<double>& value) { return value ? Json(*value) : Json(nullptr); }

// Reads exactly `digits` decimal digits at `pos`.
bool Digits(std::string_view text, size_t& pos, size_t digits, int& value) {
  if (pos + digits > text.size()) return false;
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += digits;
  return true;
}

bool Expect(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::string UtcText(int64_t utc_ms) {
  using namespace std::chrono;
  const sys_time<milliseconds> t{milliseconds(utc_ms)};
  const sys_days day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> time{t - day};
  char text[40];
  const int ms = static_cast<int>(time.subseconds().count());
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  std::string s = text;
  if (ms != 0) {
    std::snprintf(text, sizeof text, ".%03d", ms);
    s += text;
  }
  return s + "Z";
}

std::optional<int64_t> ParseTime(std::string_view text) {
  using namespace std::chrono;
  size_t pos = 0;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  if (!Digits(text, pos, 4, y) || !Expect(text, pos, '-') || !Digits(text, pos, 2, mo) ||
      !Expect(text, pos, '-') || !Digits(text, pos, 2, d)) {
    return std::nullopt;
  }
  const year_month_day date{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
  if (!date.ok()) return std::nullopt;
  if (pos < text.size()) {
    if (!Expect(text, pos, 'T') || !Digits(text, pos, 2, h) || !Expect(text, pos, ':') ||
        !Digits(text, pos, 2, mi)) {
      return std::nullopt;
    }
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      if (!Digits(text, pos, 2, s)) return std::nullopt;
      if (pos < text.size() && text[pos] == '.') {
        ++pos;
        const size_t first = pos;
        int scale = 100;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
          ms += (text[pos] - '0') * scale;
          scale /= 10;
          ++pos;
        }
        if (pos == first) return std::nullopt;
      }
    }
    if (h > 23 || mi > 59 || s > 59) return std::nullopt;
  }
  const int64_t dayMs = int64_t{sys_days(date).time_since_epoch().count()} * kDayMs;
  const int64_t wallMs = dayMs + ((h * 60 + mi) * 60 + s) * int64_t{1000} + ms;
  if (pos == text.size()) {
    // No offset: the machine's local time, daylight saving time as it was on that day.
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    const std::time_t local = std::mktime(&tm);
    if (local == static_cast<std::time_t>(-1)) return std::nullopt;
    return int64_t{local} * 1000 + ms;
  }
  if (text[pos] == 'Z' && pos + 1 == text.size()) return wallMs;
  // A '+' that arrived unencoded in a query string reads as a space.
  const char sign = text[pos];
  if (sign != '+' && sign != '-' && sign != ' ') return std::nullopt;
  ++pos;
  int oh = 0, om = 0;
  if (!Digits(text, pos, 2, oh)) return std::nullopt;
  if (pos < text.size()) {
    Expect(text, pos, ':');
    if (!Digits(text, pos, 2, om)) return std::nullopt;
  }
  if (pos != text.size() || oh > 23 || om > 59) return std::nullopt;
  const int64_t offsetMs = (oh * 60 + om) * int64_t{60'000};
  return sign == '-' ? wallMs + offsetMs : wallMs - offsetMs;
}

std::string_view UnitText(archive::Unit unit) {
  return unit == archive::Unit::RelativeHumidity ? "%RH" : "°C";
}

std::string CurrentJson(const std::vector<LoggerSnapshot>& loggers,
                        const std::optional<ArchiveSnapshot>& archive) {
  Json list = Json::array();
  for (const LoggerSnapshot& l : loggers) {
    Json channels = Json::array();
    for (const ChannelSnapshot& c : l.channels) {
      channels.push_back({{"channel", c.channel},
                          {"point", c.point},
                          {"unit", UnitText(c.unit)},
                          {"value", Optional(c.value)},
                          {"status", c.status.empty() ? Json(nullptr) : Json(c.status)},
                          {"alarm", c.open_alarms.empty() ? Json(nullptr) : Json(c.open_alarms.front())},
                          {"low", Optional(c.low)},
                          {"high", Optional(c.high)}});
    }
    list.push_back({{"name", l.name},
                    {"serial", l.serial},
                    {"up", l.up},
                    {"time", l.last_reading_utc_ms ? Json(UtcText(*l.last_reading_utc_ms)) : Json(nullptr)},
                    {"channels", std::move(channels)},
                    {"alarms", l.open_alarms}});
  }
  // Texts from the logger are not always valid UTF-8; they must not make the answer fail.
  Json all{{"loggers", std::move(list)}};
  if (archive) {
    all["archive"] = {{"failing", archive->failing},
                      {"since", archive->failing_since_utc_ms ? Json(UtcText(*archive->failing_since_utc_ms))
                                                              : Json(nullptr)}};
  }
  return all.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool ParseHistoryQuery(const std::multimap<std::string, std::string>& params, int64_t now_ms,
                       HistoryQuery& query, std::string& error) {
  auto get = [&params](const std::string& key) -> std::optional<std::string> {
    const auto it = params.find(key);
    if (it == params.end()) return std::nullopt;
    return it->second;
  };
  const auto logger = get("logger");
  if (!logger || logger->empty()) {
    error = "brak parametru logger (nazwa rejestratora)";
    return false;
  }
  query.logger = *logger;

  const auto channel = get("channel");
  int n = 0;
  if (!channel ||
      std::from_chars(channel->data(), channel->data() + channel->size(), n).ptr !=
          channel->data() + channel->size() ||
      n < 1 || n > 10) {
    error = "channel: numer kanału od 1 do 10";
    return false;
  }
  query.channel = n;

  query.to_ms = now_ms;
  if (const auto to = get("to")) {
    const auto t = ParseTime(*to);
    if (!t) {
      error = "to: czas w formacie ISO 8601, np. 2026-12-08T06:00:00Z";
      return false;
    }
    query.to_ms = *t;
  }
  query.from_ms = query.to_ms - kDayMs;
  if (const auto from = get("from")) {
    const auto t = ParseTime(*from);
    if (!t) {
      error = "from: czas w formacie ISO 8601, np. 2026-12-07T06:00:00Z";
      return false;
    }
    query.from_ms = *t;
  }
  if (query.from_ms >= query.to_ms) {
    error = "from musi być wcześniej niż to";
    return false;
  }
  // The readings of a period are held in memory while the answer is made: a month of one channel
  // every second is a few hundred megabytes at most.
  if (query.to_ms - query.from_ms > kMaxPeriodDays * kDayMs) {
    error = "okres dłuższy niż " + std::to_string(kMaxPeriodDays) + " dni: podziel go na krótsze";
    return false;
  }

  query.max_points = 0;
  if (const auto max = get("max")) {
    size_t m = 0;
    if (std::from_chars(max->data(), max->data() + max->size(), m).ptr != max->data() + max->size() ||
        m < 2) {
      error = "max: liczba punktów, co najmniej 2";
      return false;
    }
    query.max_points = m;
  }
  return true;
}

std::vector<archive::HistoryPoint> Thin(const std::vector<archive::HistoryPoint>& points, size_t max_points,
                                        int64_t from_ms, int64_t to_ms) {
  if (max_points == 0 || points.size() <= max_points || to_ms <= from_ms) return points;
  const size_t buckets = max_points / 2;
  struct Pick {
    std::optional<size_t> low, high, marker;
  };
  std::vector<Pick> picks(buckets);
  const double span = static_cast<double>(to_ms - from_ms);
  for (size_t i = 0; i < points.size(); ++i) {
    const auto& p = points[i];
    const double share = std::clamp(static_cast<double>(p.utc_ms - from_ms) / span, 0.0, 1.0);
    Pick& pick = picks[std::min(buckets - 1, static_cast<size_t>(share * static_cast<double>(buckets)))];
    if (!p.value) {
      if (!pick.marker) pick.marker = i;
      continue;
    }
    if (!pick.low || *p.value < *points[*pick.low].value) pick.low = i;
    if (!pick.high || *p.value > *points[*pick.high].value) pick.high = i;
  }
  std::vector<archive::HistoryPoint> thinned;
  for (const Pick& pick : picks) {
    if (!pick.low) {
      if (pick.marker) thinned.push_back(points[*pick.marker]);
      continue;
    }
    const size_t first = std::min(*pick.low, *pick.high);
    const size_t second = std::max(*pick.low, *pick.high);
    thinned.push_back(points[first]);
    if (second != first) thinned.push_back(points[second]);
  }
  return thinned;
}

std::string HistoryJson(const std::vector<archive::HistoryPoint>& points) {
  Json readings = Json::array();
  for (const auto& p : points) {
    readings.push_back({{"time", UtcText(p.utc_ms)},
                        {"value", Optional(p.value)},
                        {"status", p.status.empty() ? Json(nullptr) : Json(p.status)}});
  }
  return Json{{"readings", std::move(readings)}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ErrorJson(std::string_view message) {
  return Json{{"error", message}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace velutron::station
