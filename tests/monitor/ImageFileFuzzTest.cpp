#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "monitor/MemoryImage.h"
#include "support/FuzzReplay.h"
#include "support/TestFiles.h"

namespace velutron::test {
namespace {

// The fuzz entry aborts on any inconsistency; under the sanitizers any out-of-bounds read fails here.
TEST(ImageFileFuzz, SeedsRandomAndMutatedFilesAreCheckedSafely) {
  std::vector<std::vector<uint8_t>> seeds;
  EXPECT_GE(ReplayCorpus("image_file"), 5u);
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(VELUTRON_FUZZ_CORPUS) / "image_file")) {
    seeds.push_back(ReadWholeFile(entry.path()).value());
  }

  std::mt19937 rng(20090605);
  auto below = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  for (int n = 0; n < 2000; ++n) {
    std::vector<uint8_t> bytes = seeds[below(seeds.size())];
    switch (below(4)) {
      case 0:  // flip bits
        for (size_t k = 0, count = 1 + below(3); k < count; ++k) bytes[below(bytes.size())] ^= 1 << below(8);
        break;
      case 1:  // cut short
        bytes.resize(below(bytes.size() + 1));
        break;
      case 2:  // extra bytes
        bytes.insert(bytes.end(), 1 + below(3), static_cast<uint8_t>(rng()));
        break;
      default:  // random bytes of a size near an image's
        bytes.assign(kImageFileSize - 3 + below(7), 0);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    }
    EXPECT_EQ(Feed(bytes), 0);
  }
}

}  // namespace
}  // namespace velutron::test
