#pragma once

#include <QLocale>

#include "platform/Locale.h"

namespace velutron {

// The regional settings from Qt's locale data: the environment's by default, or a named one.
class QtLocale final : public Locale {
 public:
  QtLocale() = default;
  explicit QtLocale(const QLocale& locale) : locale_(locale) {}
  std::string DecimalSeparator() const override;
  std::string ShortDate(const CivilTime& t) const override;
  std::string LongTime(const CivilTime& t) const override;

 private:
  QLocale locale_;
};

}  // namespace velutron
