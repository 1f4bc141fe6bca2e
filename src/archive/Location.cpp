#include "archive/Location.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>
#include <vector>

namespace velutron::archive {

namespace {

constexpr std::string_view kHidden = "***";
constexpr auto npos = std::string_view::npos;

bool IsUrl(std::string_view s) { return s.starts_with("postgresql://") || s.starts_with("postgres://"); }

bool Space(std::string_view s, size_t at) {
  return at < s.size() && std::isspace(static_cast<unsigned char>(s[at])) != 0;
}

// A key and where its value lies, [from, to).
struct Setting {
  std::string_view key;
  size_t from = 0, to = 0;
};

// The settings of a "key=value" string as libpq reads them: blanks around '=', a value in single quotes
// with backslash escapes, or up to the next blank.
std::vector<Setting> KeyValueSettings(std::string_view s) {
  std::vector<Setting> settings;
  size_t i = 0;
  for (;;) {
    while (Space(s, i)) ++i;
    if (i >= s.size()) break;
    const size_t key = i;
    while (i < s.size() && s[i] != '=' && !Space(s, i)) ++i;
    Setting setting{s.substr(key, i - key)};
    while (Space(s, i)) ++i;
    if (i >= s.size() || s[i] != '=') break;
    ++i;
    while (Space(s, i)) ++i;
    setting.from = i;
    const bool quoted = i < s.size() && s[i] == '\'';
    if (quoted) ++i;
    while (i < s.size() && (quoted ? s[i] != '\'' : !Space(s, i))) i += s[i] == '\\' ? 2 : 1;
    if (quoted && i < s.size()) ++i;
    setting.to = std::min(i, s.size());
    i = setting.to;
    settings.push_back(setting);
  }
  return settings;
}

// Where a URL's parameters begin (past its '?'), as libpq finds them: after the user information, which
// ends at an '@' met before any '/'.
size_t UrlQuery(std::string_view url) {
  const size_t start = url.find("://") + 3;
  const size_t mark = url.find_first_of("@/", start);
  const size_t q = url.find('?', mark != npos && url[mark] == '@' ? mark + 1 : start);
  return q == npos ? npos : q + 1;
}

std::vector<Setting> UrlSettings(std::string_view url) {
  std::vector<Setting> settings;
  const size_t query = UrlQuery(url);
  for (size_t at = query; at != npos && at <= url.size();) {
    const size_t end = std::min(url.find('&', at), url.size());
    const std::string_view piece = url.substr(at, end - at);
    const size_t eq = piece.find('=');
    settings.push_back({piece.substr(0, eq), eq == npos ? end : at + eq + 1, end});
    at = end + 1;
  }
  return settings;
}

// Where the location's passwords are written. In a URL the user information is taken to end at its last
// '@' (a password with '@' or '/' not percent-encoded), and any parameter "password=" counts wherever it
// stands: a URL libpq would read otherwise hides more rather than show a password.
std::vector<std::pair<size_t, size_t>> Passwords(std::string_view location) {
  std::vector<std::pair<size_t, size_t>> spans;
  if (IsUrl(location)) {
    const size_t start = location.find("://") + 3;
    const size_t at = location.rfind('@');
    const size_t colon = location.find(':', start);
    size_t user_end = start;
    if (at != npos && at >= start && colon < at) {
      spans.emplace_back(colon + 1, at);
      user_end = at;
    }
    constexpr std::string_view kKey = "password=";
    for (size_t i = location.find_first_of("?&", user_end); i != npos;
         i = location.find_first_of("?&", i + 1)) {
      if (location.substr(i + 1).starts_with(kKey)) {
        const size_t from = i + 1 + kKey.size();
        spans.emplace_back(from, std::min(location.find('&', from), location.size()));
        i = spans.back().second - 1;
      }
    }
  } else {
    for (const Setting& s : KeyValueSettings(location)) {
      if (s.key == "password") spans.emplace_back(s.from, s.to);
    }
  }
  return spans;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void ReplaceAll(std::string& text, const std::string& what) {
  if (what.empty()) return;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += kHidden.size())
    text.replace(at, what.size(), kHidden);
}

}  // namespace

std::string MaskedLocation(const std::string& location) {
  std::string masked = location;
  const auto spans = Passwords(location);
  for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
    if (it->second > it->first) masked.replace(it->first, it->second - it->first, kHidden);
  }
  return masked;
}

std::string WithoutPasswords(std::string text, const std::string& location) {
  for (const auto& [from, to] : Passwords(location)) {
    const std::string written = location.substr(from, to - from);
    ReplaceAll(text, written);
    if (IsUrl(location)) ReplaceAll(text, PercentDecoded(written));
  }
  return text;
}

std::string WithTimeouts(const std::string& conninfo) {
  static constexpr std::pair<std::string_view, std::string_view> kDefaults[] = {
      {"connect_timeout", "10"}, {"tcp_user_timeout", "10000"}};
  const bool url = IsUrl(conninfo);
  const std::vector<Setting> settings = url ? UrlSettings(conninfo) : KeyValueSettings(conninfo);
  std::string out = conninfo;
  for (const auto& [key, value] : kDefaults) {
    if (std::any_of(settings.begin(), settings.end(), [key](const Setting& s) { return s.key == key; }))
      continue;
    if (url) {
      if (UrlQuery(out) == npos) {
        out += '?';
      } else if (!out.ends_with('?') && !out.ends_with('&')) {
        out += '&';
      }
    } else if (!out.empty() && !Space(out, out.size() - 1)) {
      out += ' ';
    }
    out += std::string(key) + "=" + std::string(value);
  }
  return out;
}

}  // namespace velutron::archive
