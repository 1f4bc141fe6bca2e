#include "archive/TimeZone.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace velutron::archive {

namespace {

void SetTz(const std::optional<std::string>& value) {
  if (value) {
    setenv("TZ", value->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

std::filesystem::path ZoneDirectory() {
  const char* dir = std::getenv("TZDIR");
  return dir != nullptr && *dir != 0 ? dir : "/usr/share/zoneinfo";
}

}  // namespace

std::optional<TimeZone> TimeZone::Named(const std::string& name, std::string& error) {
  const char* tz = std::getenv("TZ");
  std::optional<std::string> previous = tz != nullptr ? std::optional<std::string>(tz) : std::nullopt;
  if (!name.empty()) {
    // The C library takes an unknown name for UTC without a word; a user's typing error must not.
    std::error_code ec;
    const bool plain = name.find("..") == std::string::npos && name.front() != '/';
    if (!plain || !std::filesystem::is_regular_file(ZoneDirectory() / name, ec)) {
      error = "unknown time zone: " + name;
      return std::nullopt;
    }
  }
  return TimeZone(name, std::move(previous));
}

TimeZone::TimeZone(std::string name, std::optional<std::string> previous)
    : name_(std::move(name)), previous_(std::move(previous)) {
  if (name_.empty()) {
    SetTz(std::nullopt);
  } else {
    SetTz(":" + name_);
  }
}

TimeZone::TimeZone(TimeZone&& other) noexcept
    : name_(std::move(other.name_)), previous_(std::move(other.previous_)), active_(other.active_) {
  other.active_ = false;
}

TimeZone::~TimeZone() {
  if (active_) SetTz(previous_);
}

int64_t TimeZone::OffsetAt(int64_t utc_s) const {
  const auto t = static_cast<time_t>(utc_s);
  tm local{};
  localtime_r(&t, &local);
  return local.tm_gmtoff;
}

int64_t TimeZone::ToUtc(int64_t local_s, LocalTimeKind& kind, std::optional<int64_t> after) const {
  // Offsets a day either side bracket any change near this time.
  const int64_t before = OffsetAt(local_s - 86400), later = OffsetAt(local_s + 86400);
  const int64_t a = local_s - before, b = local_s - later;
  const bool aFits = OffsetAt(a) == before, bFits = before != later && OffsetAt(b) == later;
  if (aFits && bFits) {
    kind = LocalTimeKind::Fold;
    const int64_t early = std::min(a, b), late = std::max(a, b);
    return after && early < *after ? late : early;
  }
  if (aFits || bFits) {
    kind = LocalTimeKind::Unique;
    return aFits ? a : b;
  }
  kind = LocalTimeKind::Gap;
  return a;
}

std::string TimeZone::Format(int64_t utc_s) const {
  const int64_t offset = OffsetAt(utc_s);
  const CivilTime c = CivilOf(utc_s + offset);
  const int64_t minutes = (offset < 0 ? -offset : offset) / 60;
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second, offset < 0 ? '-' : '+', static_cast<int>(minutes / 60),
                static_cast<int>(minutes % 60));
  return text;
}

int64_t WallSeconds(const CivilTime& t) {
  using namespace std::chrono;
  const sys_days day{year{t.year} / month{static_cast<unsigned>(t.month)} / static_cast<unsigned>(t.day)};
  return day.time_since_epoch().count() * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

CivilTime CivilOf(int64_t wall_s) {
  using namespace std::chrono;
  const int64_t days = wall_s >= 0 ? wall_s / 86400 : -((86399 - wall_s) / 86400);
  const int64_t rest = wall_s - days * 86400;
  const year_month_day ymd{sys_days{std::chrono::days{days}}};
  return {static_cast<int>(ymd.year()),
          static_cast<int>(static_cast<unsigned>(ymd.month())),
          static_cast<int>(static_cast<unsigned>(ymd.day())),
          static_cast<int>(rest / 3600),
          static_cast<int>(rest / 60 % 60),
          static_cast<int>(rest % 60)};
}

std::optional<int64_t> ParseTime(const std::string& text, const TimeZone& zone) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  CivilTime t;
  size_t at = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10) return std::nullopt;
  at = 10;
  if (at < text.size() && text[at] == 'T') {
    used = 0;
    if (std::sscanf(text.c_str() + at + 1, "%2d:%2d%n", &h, &mi, &used) != 2 || used != 5)
      return std::nullopt;
    at += 6;
    if (at < text.size() && text[at] == ':') {
      used = 0;
      if (std::sscanf(text.c_str() + at + 1, "%2d%n", &s, &used) != 1 || used != 2) return std::nullopt;
      at += 3;
    }
  }
  t = {y, mo, d, h, mi, s};
  const CivilTime back = CivilOf(WallSeconds(t));
  if (mo < 1 || mo > 12 || back.day != d || back.month != mo || h > 23 || mi > 59 || s > 59)
    return std::nullopt;
  const int64_t wall = WallSeconds(t);
  const std::string zonePart = text.substr(at);
  if (zonePart.empty()) {
    LocalTimeKind kind;
    return zone.ToUtc(wall, kind) * 1000;
  }
  if (zonePart == "Z") return wall * 1000;
  int oh = 0, om = 0;
  used = 0;
  if ((zonePart[0] == '+' || zonePart[0] == '-') &&
      std::sscanf(zonePart.c_str() + 1, "%2d:%2d%n", &oh, &om, &used) == 2 && used == 5 &&
      zonePart.size() == 6) {
    const int64_t offset = (oh * 3600 + om * 60) * (zonePart[0] == '-' ? -1 : 1);
    return (wall - offset) * 1000;
  }
  return std::nullopt;
}

}  // namespace velutron::archive
