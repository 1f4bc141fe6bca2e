#pragma once

#include <string>

#include "platform/Clock.h"

namespace velutron {

// The regional settings numbers, dates and times are shown in. Strings are UTF-8.
class Locale {
 public:
  virtual ~Locale() = default;
  virtual std::string DecimalSeparator() const = 0;
  virtual std::string ShortDate(const CivilTime& t) const = 0;
  // Long time format: with seconds, without a time zone.
  virtual std::string LongTime(const CivilTime& t) const = 0;
};

// A locale with fixed formats, for tests and as the "C" fallback: dd.MM.yyyy (or the given order),
// HH:mm:ss, and the given decimal separator.
class FixedLocale final : public Locale {
 public:
  explicit FixedLocale(std::string decimalSeparator = ",", std::string dateSeparator = "-")
      : decimal_(std::move(decimalSeparator)), dateSeparator_(std::move(dateSeparator)) {}
  std::string DecimalSeparator() const override { return decimal_; }
  std::string ShortDate(const CivilTime& t) const override;
  std::string LongTime(const CivilTime& t) const override;

 private:
  std::string decimal_;
  std::string dateSeparator_;
};

}  // namespace velutron
