#pragma once

// A test that links a fuzz entry point replays its committed corpus (and whatever inputs the test
// generates) on every run, under the sanitizers of the test build. The entry aborts on any broken rule.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace velutron::test {

inline int Feed(const std::vector<uint8_t>& bytes) {
  return LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

// Feeds every file of fuzz/corpus/<target>; returns how many there were.
inline size_t ReplayCorpus(std::string_view target) {
  size_t count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(VELUTRON_FUZZ_CORPUS) / target)) {
    std::ifstream in(entry.path(), std::ios::binary);
    Feed(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    ++count;
  }
  return count;
}

}  // namespace velutron::test
