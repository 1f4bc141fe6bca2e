#include "platform/TableLocale.h"

#include <array>
#include <cstdlib>

namespace velutron {

namespace {

struct Entry {
  std::string_view name;
  std::string_view decimal;
  std::string_view date;  // Qt's pattern letters: d dd M MM MMM yy yyyy
  std::string_view time;  // h hh H HH mm ss AP
};

// The first entry of a language is the one its bare name ("pl", "de") stands for.
constexpr std::array kEntries = {
    Entry{"C", ".", "d MMM yyyy", "HH:mm:ss"},     Entry{"pl_PL", ",", "d.MM.yyyy", "HH:mm:ss"},
    Entry{"en_US", ".", "M/d/yy", "h:mm:ss AP"},   Entry{"en_GB", ".", "dd/MM/yyyy", "HH:mm:ss"},
    Entry{"en_AU", ".", "d/M/yy", "h:mm:ss AP"},   Entry{"de_DE", ",", "dd.MM.yy", "HH:mm:ss"},
    Entry{"de_AT", ",", "dd.MM.yy", "HH:mm:ss"},   Entry{"de_CH", ".", "dd.MM.yy", "HH:mm:ss"},
    Entry{"cs_CZ", ",", "dd.MM.yy", "H:mm:ss"},    Entry{"sk_SK", ",", "d. M. yyyy", "H:mm:ss"},
    Entry{"uk_UA", ",", "dd.MM.yy", "HH:mm:ss"},   Entry{"ru_RU", ",", "dd.MM.yyyy", "HH:mm:ss"},
    Entry{"lt_LT", ",", "yyyy-MM-dd", "HH:mm:ss"}, Entry{"hu_HU", ",", "yyyy. MM. dd.", "H:mm:ss"},
    Entry{"fr_FR", ",", "dd/MM/yyyy", "HH:mm:ss"}, Entry{"it_IT", ",", "dd/MM/yy", "HH:mm:ss"},
    Entry{"es_ES", ",", "d/M/yy", "H:mm:ss"},      Entry{"pt_PT", ",", "dd/MM/yy", "HH:mm:ss"},
    Entry{"pt_BR", ",", "dd/MM/yyyy", "HH:mm:ss"}, Entry{"nl_NL", ",", "dd-MM-yyyy", "HH:mm:ss"},
    Entry{"sv_SE", ",", "yyyy-MM-dd", "HH:mm:ss"}, Entry{"da_DK", ",", "dd.MM.yyyy", "HH.mm.ss"},
    Entry{"nb_NO", ",", "dd.MM.yyyy", "HH:mm:ss"}, Entry{"fi_FI", ",", "d.M.yyyy", "H.mm.ss"},
    Entry{"ro_RO", ",", "dd.MM.yyyy", "HH:mm:ss"},
};

const Entry& Find(std::string_view name) {
  // "pl_PL.UTF-8@euro" and "pl-PL" are "pl_PL".
  name = name.substr(0, name.find_first_of(".@"));
  const std::string_view language = name.substr(0, name.find_first_of("_-"));
  const std::string_view territory =
      language.size() < name.size() ? name.substr(language.size() + 1) : std::string_view();
  const Entry* sameLanguage = nullptr;
  for (const Entry& e : kEntries) {
    const std::string_view eLanguage = e.name.substr(0, e.name.find('_'));
    if (eLanguage != language) continue;
    if (e.name.size() == eLanguage.size() || e.name.substr(eLanguage.size() + 1) == territory) return e;
    if (!sameLanguage) sameLanguage = &e;
  }
  return sameLanguage ? *sameLanguage : kEntries.front();
}

std::string_view Environment(const char* category) {
  for (const char* name : {"LC_ALL", category, "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "C";
}

std::string Two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

// Qt's pattern letters, as far as the table uses them.
std::string Format(std::string_view pattern, const CivilTime& t) {
  static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    const int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    switch (c) {
      case 'd':
        out += run >= 2 ? Two(t.day) : std::to_string(t.day);
        break;
      case 'M':
        out += run >= 3   ? std::string(kMonths[static_cast<size_t>(t.month - 1) % 12])
               : run == 2 ? Two(t.month)
                          : std::to_string(t.month);
        break;
      case 'y':
        out += run >= 4 ? std::to_string(t.year) : Two(t.year % 100);
        break;
      case 'H':
        out += run >= 2 ? Two(t.hour) : std::to_string(t.hour);
        break;
      case 'h':
        out += run >= 2 ? Two(hour12) : std::to_string(hour12);
        break;
      case 'm':
        out += Two(t.minute);
        break;
      case 's':
        out += Two(t.second);
        break;
      case 'A':
        if (i + 1 < pattern.size() && pattern[i + 1] == 'P') run = 2;
        out += t.hour < 12 ? "AM" : "PM";
        break;
      default:
        out.append(run, c);
        break;
    }
    i += run;
  }
  return out;
}

}  // namespace

TableLocale::TableLocale(std::string_view name) : TableLocale(name, name) {}

TableLocale::TableLocale(std::string_view numbers, std::string_view times) {
  const Entry& n = Find(numbers);
  const Entry& t = Find(times);
  name_ = std::string(t.name);
  decimal_ = std::string(n.decimal);
  datePattern_ = t.date;
  timePattern_ = t.time;
}

TableLocale TableLocale::FromEnvironment() {
  return TableLocale(Environment("LC_NUMERIC"), Environment("LC_TIME"));
}

std::vector<std::string> TableLocale::Names() {
  std::vector<std::string> names;
  for (const Entry& e : kEntries) names.emplace_back(e.name);
  return names;
}

std::string TableLocale::ShortDate(const CivilTime& t) const { return Format(datePattern_, t); }

std::string TableLocale::LongTime(const CivilTime& t) const { return Format(timePattern_, t); }

}  // namespace velutron
