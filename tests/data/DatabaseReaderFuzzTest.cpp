#include <gtest/gtest.h>

#include <random>

#include "DumpBuilder.h"
#include "support/FuzzReplay.h"

namespace velutron::test {
namespace {

TEST(DatabaseReaderFuzz, TheCommittedCorpusIsReadSafely) { EXPECT_GE(ReplayCorpus("database_reader"), 4u); }

// The fuzz entry aborts on any inconsistency; under the sanitizers any out-of-bounds read fails here.
TEST(DatabaseReaderFuzz, RandomAndMutatedFilesAreReadSafely) {
  std::mt19937 rng(20090605);
  auto below = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };

  for (int n = 0; n < 1000; ++n) {
    std::vector<uint8_t> bytes(below(300));
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    if (bytes.size() > 2 && below(2) == 0) bytes[0] = 0xFF, bytes[1] = static_cast<uint8_t>(0xFE + below(2));
    EXPECT_EQ(Feed(bytes), 0);
  }

  std::vector<std::vector<uint8_t>> seeds;
  for (uint8_t channelByte : {0x01, 0x82, 0x8A, 0x03}) {
    DumpBuilder dump;
    dump.channelByte = channelByte;
    dump.threshold = 20;
    for (int j = 0; j < 4; ++j) dump.Record({static_cast<uint16_t>(1200 - 40 * j), 1150, 0, 4003, 1100});
    seeds.push_back(dump.File());
    seeds.push_back(ToOlderLayout(dump.File()));
  }
  for (int n = 0; n < 4000; ++n) {
    auto bytes = seeds[below(seeds.size())];
    switch (below(4)) {
      case 0:  // flip bytes
        for (size_t k = 0, count = 1 + below(4); k < count; ++k) bytes[below(bytes.size())] ^= 1 << below(8);
        break;
      case 1:  // cut short
        bytes.resize(below(bytes.size()));
        break;
      case 2:  // a different record count or channel byte
        bytes[below(2) == 0 ? 2 : 6] = static_cast<uint8_t>(rng());
        break;
      default:  // extra bytes at the end
        bytes.insert(bytes.end(), below(40), static_cast<uint8_t>(rng()));
    }
    EXPECT_EQ(Feed(bytes), 0);
  }
  for (const auto& seed : seeds) EXPECT_EQ(Feed(seed), 0);
}

}  // namespace
}  // namespace velutron::test
