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

// One local time type of a zone file, and the rule of the string at the file's end (POSIX TZ), which
// gives the offsets after its last transition.
struct ZoneRules {
  struct Type {
    int32_t offset = 0;
    bool dst = false;
  };
  // A day of the year a rule's change falls on: "Jn" (1..365, no February 29), "n" (0..365), "Mm.w.d".
  struct Day {
    enum class Kind : uint8_t { Julian1, Julian0, MonthWeekDay } kind = Kind::Julian1;
    int day = 0;  // Jn, n; the weekday (0 Sunday) of Mm.w.d
    int month = 0;
    int week = 0;  // 1..5, 5 the last
    int64_t time = 0;  // local seconds after midnight, -167h..167h
  };
  struct Footer {
    int64_t standard = 0;  // seconds east of UTC
    std::optional<int64_t> daylight;
    Day start, end;  // of daylight saving time
  };

  std::vector<int64_t> transitions;  // ascending
  std::vector<uint8_t> typeAt;       // the type in force from each transition
  std::vector<Type> types;
  std::optional<Footer> footer;
};

namespace {

std::filesystem::path ZoneDirectory() {
  const char* dir = std::getenv("TZDIR");
  return dir != nullptr && *dir != 0 ? dir : "/usr/share/zoneinfo";
}

bool KnownZone(const std::string& name) {
  std::error_code ec;
  const bool plain = !name.empty() && name.find("..") == std::string::npos && name.front() != '/';
  return plain && std::filesystem::is_regular_file(ZoneDirectory() / name, ec);
}

// The largest zone files are some 4 KiB; anything far beyond is not one.
constexpr size_t kLargestZone = 1 << 20;
// Offsets RFC 8536 allows: -24:59:59 .. +25:59:59.
constexpr int64_t kLeastOffset = -89999, kMostOffset = 93599;

// Bounded big-endian reads over outside bytes: every read checks what is left.
class Bytes {
 public:
  explicit Bytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool Has(uint64_t n) const { return n <= bytes_.size() - at_; }
  bool Skip(uint64_t n) {
    if (!Has(n)) return false;
    at_ += static_cast<size_t>(n);
    return true;
  }
  int64_t Signed(int width) {  // callers check Has(width) first
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = v << 8 | bytes_[at_++];
    return width == 4 ? static_cast<int32_t>(static_cast<uint32_t>(v)) : static_cast<int64_t>(v);
  }
  uint8_t Byte() { return bytes_[at_++]; }
  std::string_view Rest() const {
    return {reinterpret_cast<const char*>(bytes_.data()) + at_, bytes_.size() - at_};
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

struct Header {
  char version = 0;
  uint32_t isut = 0, isstd = 0, leap = 0, time = 0, type = 0, chars = 0;
};

bool ReadHeader(Bytes& in, Header& h) {
  if (!in.Has(44)) return false;
  const std::string_view magic = in.Rest().substr(0, 4);
  if (magic != "TZif") return false;
  in.Skip(4);
  h.version = static_cast<char>(in.Byte());
  in.Skip(15);
  uint32_t* counts[] = {&h.isut, &h.isstd, &h.leap, &h.time, &h.type, &h.chars};
  for (uint32_t* c : counts) *c = static_cast<uint32_t>(in.Signed(4));
  return h.type != 0 && h.chars != 0 && (h.isut == 0 || h.isut == h.type) &&
         (h.isstd == 0 || h.isstd == h.type);
}

// One data block: `width` 4 (version 1) or 8 bytes a time.
bool ReadBlock(Bytes& in, const Header& h, int width, ZoneRules& rules) {
  const uint64_t size = uint64_t{h.time} * (width + 1) + uint64_t{h.type} * 6 + h.chars +
                        uint64_t{h.leap} * (width + 4) + h.isstd + h.isut;
  if (!in.Has(size)) return false;
  rules.transitions.clear();
  for (uint32_t i = 0; i < h.time; ++i) {
    rules.transitions.push_back(in.Signed(width));
    if (i > 0 && rules.transitions[i] <= rules.transitions[i - 1]) return false;
  }
  rules.typeAt.clear();
  for (uint32_t i = 0; i < h.time; ++i) {
    rules.typeAt.push_back(in.Byte());
    if (rules.typeAt.back() >= h.type) return false;
  }
  rules.types.clear();
  for (uint32_t i = 0; i < h.type; ++i) {
    const int64_t offset = in.Signed(4);
    const uint8_t dst = in.Byte();
    in.Byte();  // the abbreviation, which no output shows
    if (offset < kLeastOffset || offset > kMostOffset || dst > 1) return false;
    rules.types.push_back({static_cast<int32_t>(offset), dst == 1});
  }
  // The abbreviations, leap seconds and standard/UT indicators: localtime's offset uses none of them.
  return in.Skip(h.chars + uint64_t{h.leap} * (width + 4) + h.isstd + h.isut);
}

// POSIX TZ pieces, each advancing `s` past what it took.
bool Number(std::string_view& s, int most, int& value) {
  size_t n = 0;
  value = 0;
  while (n < s.size() && n < 3 && s[n] >= '0' && s[n] <= '9') value = value * 10 + (s[n++] - '0');
  s.remove_prefix(n);
  return n > 0 && value <= most;
}

// "[+-]hh[:mm[:ss]]" as signed seconds, hours up to `mostHours`.
bool Duration(std::string_view& s, int mostHours, int64_t& seconds) {
  int sign = 1;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    sign = s.front() == '-' ? -1 : 1;
    s.remove_prefix(1);
  }
  int h = 0, m = 0, sec = 0;
  if (!Number(s, mostHours, h)) return false;
  if (!s.empty() && s.front() == ':') {
    s.remove_prefix(1);
    if (!Number(s, 59, m)) return false;
    if (!s.empty() && s.front() == ':') {
      s.remove_prefix(1);
      if (!Number(s, 59, sec)) return false;
    }
  }
  seconds = sign * (h * 3600 + m * 60 + sec);
  return true;
}

// A zone abbreviation: three or more letters, or "<...>" of letters, digits, '+' and '-'.
bool Abbreviation(std::string_view& s) {
  size_t n = 0;
  if (!s.empty() && s.front() == '<') {
    n = 1;
    while (n < s.size() && s[n] != '>') {
      if (!std::isalnum(static_cast<unsigned char>(s[n])) && s[n] != '+' && s[n] != '-') return false;
      ++n;
    }
    if (n == s.size() || n < 4) return false;
    s.remove_prefix(n + 1);
    return true;
  }
  while (n < s.size() && std::isalpha(static_cast<unsigned char>(s[n]))) ++n;
  s.remove_prefix(n);
  return n >= 3;
}

bool RuleDay(std::string_view& s, ZoneRules::Day& d) {
  using Kind = ZoneRules::Day::Kind;
  if (s.empty()) return false;
  if (s.front() == 'J') {
    s.remove_prefix(1);
    d.kind = Kind::Julian1;
    if (!Number(s, 365, d.day) || d.day < 1) return false;
  } else if (s.front() == 'M') {
    s.remove_prefix(1);
    d.kind = Kind::MonthWeekDay;
    auto dot = [&s] {
      if (s.empty() || s.front() != '.') return false;
      s.remove_prefix(1);
      return true;
    };
    if (!Number(s, 12, d.month) || d.month < 1 || !dot() || !Number(s, 5, d.week) || d.week < 1 || !dot() ||
        !Number(s, 6, d.day))
      return false;
  } else {
    d.kind = Kind::Julian0;
    if (!Number(s, 365, d.day)) return false;
  }
  d.time = 2 * 3600;
  if (!s.empty() && s.front() == '/') {
    s.remove_prefix(1);
    return Duration(s, 167, d.time);
  }
  return true;
}

// The footer's string, as zic writes it: "CET-1CEST,M3.5.0,M10.5.0/3", "<-03>3", "EST5EDT,M3.2.0,M11.1.0".
std::optional<ZoneRules::Footer> ParseFooter(std::string_view s) {
  ZoneRules::Footer f;
  int64_t west = 0;
  if (!Abbreviation(s) || !Duration(s, 24, west)) return std::nullopt;
  f.standard = -west;
  if (s.empty()) return f;
  if (!Abbreviation(s)) return std::nullopt;
  f.daylight = f.standard + 3600;
  if (!s.empty() && s.front() != ',') {
    if (!Duration(s, 24, west)) return std::nullopt;
    f.daylight = -west;
  }
  if (s.empty() || s.front() != ',') return std::nullopt;
  s.remove_prefix(1);
  if (!RuleDay(s, f.start) || s.empty() || s.front() != ',') return std::nullopt;
  s.remove_prefix(1);
  if (!RuleDay(s, f.end) || !s.empty()) return std::nullopt;
  return f;
}

// UTC midnight of the day a rule names in `year`, in days since 1970-01-01, as the C library counts it.
int64_t RuleDayNumber(const ZoneRules::Day& d, int year) {
  using namespace std::chrono;
  const auto y = std::chrono::year{year};
  const int64_t january1 = sys_days{y / January / 1}.time_since_epoch().count();
  switch (d.kind) {
    case ZoneRules::Day::Kind::Julian1:
      return january1 + d.day - 1 + (d.day >= 60 && y.is_leap() ? 1 : 0);
    case ZoneRules::Day::Kind::Julian0:
      return january1 + d.day;
    case ZoneRules::Day::Kind::MonthWeekDay:
      break;
  }
  const auto month = std::chrono::month{static_cast<unsigned>(d.month)};
  const sys_days first{y / month / 1};
  const int length = static_cast<int>(static_cast<unsigned>((y / month / last).day()));
  int day = d.day - static_cast<int>(weekday{first}.c_encoding());
  if (day < 0) day += 7;
  for (int w = 1; w < d.week && day + 7 < length; ++w) day += 7;
  return first.time_since_epoch().count() + day;
}

int64_t FooterOffsetAt(const ZoneRules::Footer& f, int64_t utc_s) {
  if (!f.daylight) return f.standard;
  // The year of the moment in UTC, as the C library takes it.
  const int64_t days = utc_s >= 0 ? utc_s / 86400 : -((86399 - utc_s) / 86400);
  const std::chrono::year_month_day ymd{std::chrono::sys_days{std::chrono::days{days}}};
  const int year = static_cast<int>(ymd.year());
  const int64_t start = RuleDayNumber(f.start, year) * 86400 + f.start.time - f.standard;
  const int64_t end = RuleDayNumber(f.end, year) * 86400 + f.end.time - *f.daylight;
  const bool dst = start > end ? (utc_s < end || utc_s >= start) : (utc_s >= start && utc_s < end);
  return dst ? *f.daylight : f.standard;
}

// Moments beyond any calendar's use: the year stays within what std::chrono counts.
constexpr int64_t kFarest = int64_t{1} << 39;

}  // namespace

std::shared_ptr<const ZoneRules> ParseZoneFile(std::span<const uint8_t> bytes) {
  auto rules = std::make_shared<ZoneRules>();
  Bytes in(bytes);
  Header h;
  if (!ReadHeader(in, h) || !ReadBlock(in, h, 4, *rules)) return nullptr;
  if (h.version == 0) return rules;
  // Version 2 and later: the same again with 64-bit times, then the footer between two newlines.
  if (!ReadHeader(in, h) || !ReadBlock(in, h, 8, *rules)) return nullptr;
  const std::string_view rest = in.Rest();
  const size_t close = rest.size() >= 2 && rest.front() == '\n' ? rest.find('\n', 1) : std::string_view::npos;
  if (close == std::string_view::npos) return nullptr;
  const std::string_view footer = rest.substr(1, close - 1);
  if (!footer.empty()) {
    rules->footer = ParseFooter(footer);
    if (!rules->footer) return nullptr;
  }
  return rules;
}

int64_t ZoneOffsetAt(const ZoneRules& rules, int64_t utc_s) {
  utc_s = std::clamp(utc_s, -kFarest, kFarest);
  const auto& t = rules.transitions;
  if (t.empty() || utc_s < t.front()) {
    // Before any transition: the first type that is not daylight saving time (glibc's choice).
    for (const ZoneRules::Type& type : rules.types) {
      if (!type.dst) return type.offset;
    }
    return rules.types.front().offset;
  }
  if (utc_s >= t.back() && rules.footer) return FooterOffsetAt(*rules.footer, utc_s);
  const size_t after = static_cast<size_t>(std::upper_bound(t.begin(), t.end(), utc_s) - t.begin());
  return rules.types[rules.typeAt[after - 1]].offset;
}

std::optional<TimeZone> TimeZone::Named(const std::string& name, std::string& error) {
  // An unknown name must not pass for UTC: a user's typing error is told.
  if (!name.empty() && !KnownZone(name)) {
    error = "unknown time zone: " + name;
    return std::nullopt;
  }
  const std::filesystem::path file = name.empty() ? "/etc/localtime" : ZoneDirectory() / name;
  std::shared_ptr<const ZoneRules> rules;
  if (const auto bytes = ReadFileAtMost(file, kLargestZone); bytes && bytes->size() <= kLargestZone)
    rules = ParseZoneFile(*bytes);
  if (!rules && !name.empty()) {
    error = "unknown time zone: " + name;
    return std::nullopt;
  }
  // A machine without a zone of its own keeps UTC, as the C library does.
  if (!rules) rules = std::make_shared<const ZoneRules>(ZoneRules{{}, {}, {ZoneRules::Type{}}, {}});
  return TimeZone(name, std::move(rules));
}

TimeZone::TimeZone(std::string name, std::shared_ptr<const ZoneRules> rules)
    : name_(std::move(name)), rules_(std::move(rules)) {}

TimeZone::TimeZone(TimeZone&& other) noexcept = default;

TimeZone::~TimeZone() = default;

int64_t TimeZone::OffsetAt(int64_t utc_s) const { return ZoneOffsetAt(*rules_, utc_s); }

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
