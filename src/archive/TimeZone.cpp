#include "archive/TimeZone.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/FileRead.h"

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

bool KnownZone(const std::string& name) {
  std::error_code ec;
  const bool plain = !name.empty() && name.find("..") == std::string::npos && name.front() != '/';
  return plain && std::filesystem::is_regular_file(ZoneDirectory() / name, ec);
}

}  // namespace

std::optional<TimeZone> TimeZone::Named(const std::string& name, std::string& error) {
  const char* tz = std::getenv("TZ");
  std::optional<std::string> previous = tz != nullptr ? std::optional<std::string>(tz) : std::nullopt;
  // The C library takes an unknown name for UTC without a word; a user's typing error must not.
  if (!name.empty() && !KnownZone(name)) {
    error = "unknown time zone: " + name;
    return std::nullopt;
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

std::string TimeZone::Format(int64_t utc_s) const { return FormatAtOffset(utc_s, OffsetAt(utc_s)); }

std::vector<TimeZone::Change> TimeZone::Changes(int64_t from_utc_s, int64_t to_utc_s) const {
  constexpr int64_t kStep = 6 * 3600;
  std::vector<Change> changes;
  int64_t at = from_utc_s, offset = OffsetAt(at);
  while (at < to_utc_s) {
    const int64_t next = std::min(to_utc_s, at + kStep), nextOffset = OffsetAt(next);
    if (nextOffset != offset) {
      // The first second of the new offset, in (at, next].
      int64_t lo = at, hi = next;
      while (hi - lo > 1) {
        const int64_t mid = lo + (hi - lo) / 2;
        (OffsetAt(mid) == offset ? lo : hi) = mid;
      }
      changes.push_back({hi, offset, nextOffset});
    }
    at = next;
    offset = nextOffset;
  }
  return changes;
}

std::string MachineZoneName() {
  std::error_code ec;
  std::string name;
  const std::filesystem::path link = std::filesystem::read_symlink("/etc/localtime", ec);
  if (!ec) {
    const std::string target = link.generic_string();
    const size_t at = target.find("zoneinfo/");
    if (at != std::string::npos) name = target.substr(at + 9);
  } else if (std::FILE* f = std::fopen("/etc/timezone", "r")) {
    char line[128] = {};
    if (std::fgets(line, sizeof line, f) != nullptr) name = line;
    std::fclose(f);
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
  }
  return KnownZone(name) ? name : std::string();
}

bool SameZone(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (!KnownZone(a) || !KnownZone(b)) return false;
  std::error_code ec;
  const auto pa = ZoneDirectory() / a, pb = ZoneDirectory() / b;
  if (std::filesystem::equivalent(pa, pb, ec)) return true;
  constexpr size_t kLargestZone = 1 << 20;
  const auto ra = ReadFileAtMost(pa, kLargestZone), rb = ReadFileAtMost(pb, kLargestZone);
  return ra && rb && *ra == *rb;
}

std::string FormatAtOffset(int64_t utc_s, int64_t offset_s) {
  const CivilTime c = CivilOf(utc_s + offset_s);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                c.second);
  return text + OffsetText(offset_s);
}

std::string OffsetText(int64_t offset_s) {
  const int64_t minutes = (offset_s < 0 ? -offset_s : offset_s) / 60;
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d:%02d", offset_s < 0 ? '-' : '+', static_cast<int>(minutes / 60),
                static_cast<int>(minutes % 60));
  return text;
}

std::optional<int64_t> ParseOffset(const std::string& text) {
  auto digit = [&text](size_t i) { return std::isdigit(static_cast<unsigned char>(text[i])) != 0; };
  if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || !digit(1) || !digit(2) || text[3] != ':' ||
      !digit(4) || !digit(5))
    return std::nullopt;
  const int h = (text[1] - '0') * 10 + (text[2] - '0'), m = (text[4] - '0') * 10 + (text[5] - '0');
  if (m > 59 || h * 60 + m > 14 * 60) return std::nullopt;
  return (h * 3600 + m * 60) * (text[0] == '-' ? -1 : 1);
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
