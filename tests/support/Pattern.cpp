#include "support/Pattern.h"

#include <regex>

namespace velutron::test {

bool FullMatch(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

std::vector<std::vector<std::string>> FindAll(const std::string& text, const std::string& pattern) {
  const std::regex expression(pattern);
  std::vector<std::vector<std::string>> matches;
  for (std::sregex_iterator i(text.begin(), text.end(), expression), end; i != end; ++i) {
    std::vector<std::string>& groups = matches.emplace_back();
    for (const auto& group : *i) groups.push_back(group.str());
  }
  return matches;
}

std::string ReplaceAll(const std::string& text, const std::string& pattern, const std::string& with) {
  return std::regex_replace(text, std::regex(pattern), with);
}

}  // namespace velutron::test
