#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace velutron::archive {

// How a local time was turned into UTC.
enum class LocalTimeKind : uint8_t {
  Unique,
  Gap,   // never existed (clocks went forward): read with the offset in force before the change
  Fold,  // existed twice (clocks went back): the earlier unless that would go back before `after`
};

// The rules of one zone as a TZif file (RFC 8536) of the system's database gives them.
struct ZoneRules;
// Reads a zone file's bytes, whatever they are: nullptr when they are not a zone file.
std::shared_ptr<const ZoneRules> ParseZoneFile(std::span<const uint8_t> bytes);
// Seconds east of UTC at a moment, as the C library's localtime_r gives them for that file.
int64_t ZoneOffsetAt(const ZoneRules& rules, int64_t utc_s);

// An IANA time zone of the system's database, for loggers' local clocks and the times a user types and
// reads. Its rules are read once from the zone's file; the process's own zone (TZ) is never touched, so
// any number of zones may live at once, on any thread.
class TimeZone {
 public:
  // `name` empty: the machine's zone. nullopt with `error` set for a name the system does not know.
  static std::optional<TimeZone> Named(const std::string& name, std::string& error);
  TimeZone(TimeZone&& other) noexcept;
  TimeZone& operator=(TimeZone&&) = delete;
  ~TimeZone();

  const std::string& Name() const { return name_; }
  // Seconds east of UTC at a moment.
  int64_t OffsetAt(int64_t utc_s) const;
  // A local wall time (seconds since 1970-01-01 00:00 as if it were UTC) as UTC seconds. A local time
  // that existed twice gives the earlier moment unless that is before `after`.
  int64_t ToUtc(int64_t local_s, LocalTimeKind& kind, std::optional<int64_t> after = std::nullopt) const;
  // ISO 8601 with the offset in force, "2026-12-01T08:00:00+01:00".
  std::string Format(int64_t utc_s) const;

  // A change of the zone's offset: from `before` to `after` (seconds east of UTC) at `utc_s`.
  struct Change {
    int64_t utc_s = 0;
    int64_t before = 0;
    int64_t after = 0;
  };
  // The changes in (from_utc_s, to_utc_s], oldest first, to the second (changes at least six hours apart).
  std::vector<Change> Changes(int64_t from_utc_s, int64_t to_utc_s) const;

 private:
  TimeZone(std::string name, std::shared_ptr<const ZoneRules> rules);
  std::string name_;
  std::shared_ptr<const ZoneRules> rules_;
};

// The IANA name of the machine's zone (/etc/localtime), or empty when it has none.
std::string MachineZoneName();
// Whether two names are one zone of the system's database ("UTC" and "Etc/UTC", "Poland" and
// "Europe/Warsaw"): the same name, or the same rules.
bool SameZone(const std::string& a, const std::string& b);

// ISO 8601 of a UTC time as seen at `offset_s` east of UTC, "2026-03-29T03:09:00+01:00".
std::string FormatAtOffset(int64_t utc_s, int64_t offset_s);
// "+01:00", "-05:00": the offset in seconds; nullopt for anything else (beyond ±14:00 too).
std::optional<int64_t> ParseOffset(const std::string& text);
// The offset as ParseOffset reads it.
std::string OffsetText(int64_t offset_s);

// A civil date and time as seconds since 1970-01-01 00:00 of the same calendar.
int64_t WallSeconds(const CivilTime& t);
CivilTime CivilOf(int64_t wall_s);

// A time typed on the command line: a date (its local midnight), a local time "2026-12-01T08:00[:SS]",
// or one with "Z" or an offset "+01:00". UTC milliseconds, or nullopt when it is none of these.
std::optional<int64_t> ParseTime(const std::string& text, const TimeZone& zone);

}  // namespace velutron::archive
