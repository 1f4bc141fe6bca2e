#include "platform/Win32Locale.h"

#include <windows.h>

#include "platform/Utf16.h"

namespace velutron {
namespace {

SYSTEMTIME ToSystemTime(const CivilTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  return st;
}

// The calls return the length with the terminating zero, or 0 on failure.
std::string Taken(const wchar_t* buffer, int length) {
  return length > 0 ? Utf8FromUtf16(std::wstring_view(buffer, static_cast<size_t>(length - 1)))
                    : std::string();
}

}  // namespace

std::wstring WindowsLocaleName(std::string_view name) {
  name = name.substr(0, name.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return LOCALE_NAME_INVARIANT;
  std::wstring windows = Utf16FromUtf8(name);
  for (wchar_t& c : windows) {
    if (c == L'_') c = L'-';
  }
  return IsValidLocaleName(windows.c_str()) ? windows : LOCALE_NAME_INVARIANT;
}

Win32Locale::Win32Locale(std::string_view name) : userDefault_(false), name_(WindowsLocaleName(name)) {}

std::string Win32Locale::DecimalSeparator() const {
  wchar_t buffer[16];
  return Taken(buffer, GetLocaleInfoEx(Name(), LOCALE_SDECIMAL, buffer, 16));
}

std::string Win32Locale::ShortDate(const CivilTime& t) const {
  const SYSTEMTIME st = ToSystemTime(t);
  wchar_t buffer[128];
  return Taken(buffer, GetDateFormatEx(Name(), DATE_SHORTDATE, &st, nullptr, buffer, 128, nullptr));
}

std::string Win32Locale::LongTime(const CivilTime& t) const {
  // The default time format is the long one: hours, minutes and seconds, no time zone.
  const SYSTEMTIME st = ToSystemTime(t);
  wchar_t buffer[128];
  return Taken(buffer, GetTimeFormatEx(Name(), 0, &st, nullptr, buffer, 128));
}

}  // namespace velutron
