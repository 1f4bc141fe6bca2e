#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace velutron {

// A whole file the test or the program under test wrote, or nullopt when it is not there.
inline std::optional<std::vector<uint8_t>> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace velutron
