// The command line's regional settings: the same formats the desktop program's Qt shows.

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/TableLocale.h"

namespace velutron {
namespace {

TEST(TableLocale, NamedLocalesGiveTheirDecimalSeparatorShortDateAndLongTime) {
  struct Case {
    std::string name;
    std::string decimal;
    std::string date;       // 2009-06-05
    std::string morning;    // 04:05:30
    std::string afternoon;  // 16:05:30
  };
  const std::vector<Case> cases = {
      {"pl_PL", ",", "5.06.2009", "04:05:30", "16:05:30"},
      {"pl_PL.UTF-8", ",", "5.06.2009", "04:05:30", "16:05:30"},
      {"pl-PL", ",", "5.06.2009", "04:05:30", "16:05:30"},
      {"pl", ",", "5.06.2009", "04:05:30", "16:05:30"},
      {"en_US", ".", "6/5/09", "4:05:30 AM", "4:05:30 PM"},
      {"en_GB", ".", "05/06/2009", "04:05:30", "16:05:30"},
      {"de_DE", ",", "05.06.09", "04:05:30", "16:05:30"},
      {"de_LU", ",", "05.06.09", "04:05:30", "16:05:30"},  // an unlisted territory: the language's first
      {"hu_HU", ",", "2009. 06. 05.", "4:05:30", "16:05:30"},
      {"C", ".", "5 Jun 2009", "04:05:30", "16:05:30"},
      {"POSIX", ".", "5 Jun 2009", "04:05:30", "16:05:30"},
      {"xx_YY", ".", "5 Jun 2009", "04:05:30", "16:05:30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TableLocale locale(c.name);
    EXPECT_EQ(locale.DecimalSeparator(), c.decimal);
    EXPECT_EQ(locale.ShortDate({2009, 6, 5, 4, 5, 30}), c.date);
    EXPECT_EQ(locale.LongTime({2009, 6, 5, 4, 5, 30}), c.morning);
    EXPECT_EQ(locale.LongTime({2009, 6, 5, 16, 5, 30}), c.afternoon);
  }
}

TEST(TableLocale, TheEnvironmentNamesNumbersAndTimesSeparately) {
  setenv("LC_ALL", "", 1);
  setenv("LC_NUMERIC", "en_US.UTF-8", 1);
  setenv("LC_TIME", "", 1);
  setenv("LANG", "pl_PL.UTF-8", 1);
  const TableLocale mixed = TableLocale::FromEnvironment();
  EXPECT_EQ(mixed.DecimalSeparator(), ".");
  EXPECT_EQ(mixed.ShortDate({2009, 6, 5, 4, 5, 30}), "5.06.2009");
  setenv("LC_ALL", "pl_PL.UTF-8", 1);
  EXPECT_EQ(TableLocale::FromEnvironment().DecimalSeparator(), ",");
  for (const char* name : {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG"}) unsetenv(name);
  EXPECT_EQ(TableLocale::FromEnvironment().Name(), "C");
}

}  // namespace
}  // namespace velutron
