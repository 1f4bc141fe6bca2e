// The regional settings of a Windows build without Qt, from the Windows API.

#include <gtest/gtest.h>

#include "platform/Win32Locale.h"

namespace velutron {
namespace {

TEST(Win32Locale, CommandLineNamesMapToWindowsLocales) {
  for (const auto& [name, windows] : std::vector<std::pair<std::string, std::wstring>>{
           {"pl_PL", L"pl-PL"},
           {"pl_PL.UTF-8", L"pl-PL"},
           {"de_DE@euro", L"de-DE"},
           {"en-US", L"en-US"},
           {"C", L""},
           {"POSIX", L""},
           {"xx_YY", L""},
       }) {
    EXPECT_EQ(WindowsLocaleName(name), windows) << name;
  }
}

TEST(Win32Locale, ALocaleGivesItsDecimalSeparatorShortDateAndLongTime) {
  const CivilTime t{2009, 6, 5, 14, 5, 30};
  const Win32Locale polish("pl_PL");
  EXPECT_EQ(polish.DecimalSeparator(), ",");
  // Windows versions differ on a leading zero of the day.
  EXPECT_TRUE(polish.ShortDate(t) == "5.06.2009" || polish.ShortDate(t) == "05.06.2009")
      << polish.ShortDate(t);
  EXPECT_EQ(polish.LongTime(t), "14:05:30");

  const Win32Locale american("en_US");
  EXPECT_EQ(american.DecimalSeparator(), ".");
  EXPECT_EQ(american.ShortDate(t), "6/5/2009");
  EXPECT_EQ(american.LongTime(t), "2:05:30 PM");

  const Win32Locale invariant("C");
  EXPECT_EQ(invariant.DecimalSeparator(), ".");
  EXPECT_EQ(invariant.ShortDate(t), "06/05/2009");
  EXPECT_EQ(invariant.LongTime(t), "14:05:30");
}

}  // namespace
}  // namespace velutron
