#include <cstdio>

#include "platform/Locale.h"

namespace velutron {

std::string FixedLocale::ShortDate(const CivilTime& t) const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%s%02d%s%04d", t.day, dateSeparator_.c_str(), t.month,
                dateSeparator_.c_str(), t.year);
  return buf;
}

std::string FixedLocale::LongTime(const CivilTime& t) const {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

}  // namespace velutron
