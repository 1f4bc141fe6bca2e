#pragma once

#include <string>
#include <string_view>

namespace velutron {

// The texts of the operations that save a file under a name the user types.
namespace text {
inline constexpr std::string_view kCaptionFileName = "Nazwa pliku:";
inline constexpr std::string_view kBadFileName = "Popraw nazwę pliku lub sprawdź dysk !!!";
inline constexpr std::string_view kFileWriteFailed = "Błąd wejścia/wyjścia przy zapisie pliku:\r";
}  // namespace text

// A proposed file name built from the regional short date: characters that cannot stand in a file
// name (a "/" would even make it a path) become "-".
inline std::string FileNameSafe(std::string name) {
  for (char& c : name) {
    if (std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) c = '-';
  }
  return name;
}

}  // namespace velutron
