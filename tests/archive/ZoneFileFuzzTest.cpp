#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "archive/TimeZone.h"
#include "support/FuzzReplay.h"
#include "support/TestFiles.h"

namespace velutron::test {
namespace {

// The fuzz entry aborts on an offset out of bounds; under the sanitizers any out-of-bounds read fails here.
TEST(ZoneFileFuzz, SeedsAndMutatedZoneFilesAreReadSafely) {
  EXPECT_GE(ReplayCorpus("zone_file"), 8u);
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(VELUTRON_FUZZ_CORPUS) / "zone_file")) {
    seeds.push_back(ReadWholeFile(entry.path()).value());
    EXPECT_NE(archive::ParseZoneFile(seeds.back()), nullptr) << entry.path();
  }
  std::mt19937 rng(20261208);
  auto below = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  for (int n = 0; n < 1500; ++n) {
    std::vector<uint8_t> bytes = seeds[below(seeds.size())];
    switch (below(3)) {
      case 0:  // flip bits, the counts of the headers among them
        for (size_t k = 0, count = 1 + below(3); k < count; ++k) {
          const size_t at = below(4) == 0 ? 20 + below(24) : below(bytes.size());
          bytes[at] ^= static_cast<uint8_t>(1 << below(8));
        }
        break;
      case 1:  // cut short
        bytes.resize(below(bytes.size() + 1));
        break;
      default:  // a character of the footer's rule changed
        bytes[bytes.size() - 1 - below(std::min<size_t>(bytes.size(), 40))] =
            static_cast<uint8_t>("0123456789,./:+-<>JM\n"[below(21)]);
    }
    EXPECT_EQ(Feed(bytes), 0);
  }
}

}  // namespace
}  // namespace velutron::test
