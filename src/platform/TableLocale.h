#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Locale.h"

namespace velutron {

// The regional settings of the common locales from a small table (the formats of the Unicode CLDR, as
// the desktop program's Qt shows them), so that the command line needs no locale library to start.
// "pl_PL", "pl_PL.UTF-8", "pl-PL" and "pl" name the same; "C", "POSIX" and an unknown name are "C".
class TableLocale final : public Locale {
 public:
  explicit TableLocale(std::string_view name);
  // The environment's: LC_ALL, then LC_NUMERIC (numbers) or LC_TIME (dates and times), then LANG.
  static TableLocale FromEnvironment();
  // Every locale the table holds, by name: what is compared with Qt's.
  static std::vector<std::string> Names();

  std::string DecimalSeparator() const override { return decimal_; }
  std::string ShortDate(const CivilTime& t) const override;
  std::string LongTime(const CivilTime& t) const override;
  // The table's name of the locale ("pl_PL", "C").
  const std::string& Name() const { return name_; }

 private:
  TableLocale(std::string_view numbers, std::string_view times);

  std::string name_;
  std::string decimal_;
  std::string_view datePattern_;
  std::string_view timePattern_;
};

}  // namespace velutron
