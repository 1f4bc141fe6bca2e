// The command line's table of regional settings against Qt's locale data, which the windows print: every
// entry must give the same separator, dates and times.

#include <gtest/gtest.h>

#include <QLocale>

#include "platform/QtLocale.h"
#include "platform/TableLocale.h"

namespace velutron {
namespace {

TEST(TableLocaleQt, EveryEntryPrintsAsQtPrintsIt) {
  // One- and two-digit days, months and hours, morning and afternoon, midnight and noon.
  const CivilTime times[] = {
      {2009, 6, 5, 4, 5, 30}, {2026, 12, 25, 16, 45, 9}, {2030, 1, 31, 0, 0, 0}, {2031, 10, 1, 12, 59, 59}};
  const std::vector<std::string> names = TableLocale::Names();
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const TableLocale table(name);
    const QtLocale qt(QLocale(QString::fromStdString(name)));
    EXPECT_EQ(table.DecimalSeparator(), qt.DecimalSeparator());
    for (const CivilTime& t : times) {
      EXPECT_EQ(table.ShortDate(t), qt.ShortDate(t));
      EXPECT_EQ(table.LongTime(t), qt.LongTime(t));
    }
  }
}

}  // namespace
}  // namespace velutron
