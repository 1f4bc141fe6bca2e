#pragma once

#ifdef _WIN32

#include <string>
#include <string_view>

#include "platform/Locale.h"

namespace velutron {

// The regional settings from the Windows API: the user's own, or a named locale's.
class Win32Locale final : public Locale {
 public:
  // The user's settings, with the changes made in the control panel.
  Win32Locale() = default;
  // A locale by name as the command line gives it (see WindowsLocaleName).
  explicit Win32Locale(std::string_view name);

  std::string DecimalSeparator() const override;
  std::string ShortDate(const CivilTime& t) const override;
  std::string LongTime(const CivilTime& t) const override;

 private:
  const wchar_t* Name() const { return userDefault_ ? nullptr : name_.c_str(); }

  bool userDefault_ = true;
  std::wstring name_;
};

// The Windows name of a POSIX-style locale name: "pl_PL", "pl_PL.UTF-8" and "pl-PL" are "pl-PL"; "C",
// "POSIX" and a name Windows does not know are the invariant locale ("").
std::wstring WindowsLocaleName(std::string_view name);

}  // namespace velutron

#endif
