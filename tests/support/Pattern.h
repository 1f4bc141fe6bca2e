#pragma once

// Regular expressions for the tests, instantiated in one file: <regex> costs seconds of compile time in
// every file that uses it, more under the sanitizers.

#include <string>
#include <vector>

namespace velutron::test {

bool FullMatch(const std::string& text, const std::string& pattern);
// Every match in order, each as its groups (the whole match first).
std::vector<std::vector<std::string>> FindAll(const std::string& text, const std::string& pattern);
std::string ReplaceAll(const std::string& text, const std::string& pattern, const std::string& with);

}  // namespace velutron::test
