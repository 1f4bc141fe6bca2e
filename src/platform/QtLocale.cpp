#include "platform/QtLocale.h"

#include <QDate>
#include <QTime>

namespace velutron {

std::string QtLocale::DecimalSeparator() const { return locale_.decimalPoint().toStdString(); }

std::string QtLocale::ShortDate(const CivilTime& t) const {
  return locale_.toString(QDate(t.year, t.month, t.day), QLocale::ShortFormat).toStdString();
}

std::string QtLocale::LongTime(const CivilTime& t) const {
  // Qt's long format adds the time zone; the regional "long time" is hours, minutes and seconds.
  // Spanish puts the zone in brackets ("H:mm:ss (t)"), which go with it.
  QString format = locale_.timeFormat(QLocale::LongFormat);
  format.remove(QLatin1Char('t'));
  format.remove(QStringLiteral("()"));
  return locale_.toString(QTime(t.hour, t.minute, t.second), format.trimmed()).toStdString();
}

}  // namespace velutron
