#include <gtest/gtest.h>

#include <random>

#include "support/FuzzReplay.h"

namespace velutron::test {
namespace {

TEST(ConfigFileFuzz, TheCorpusAndEveryShortOrDamagedRecordAreReadSafely) {
  EXPECT_GE(ReplayCorpus("config_file"), 6u);
  std::mt19937 rng(20090605);
  for (int n = 0; n < 500; ++n) {
    std::vector<uint8_t> bytes(rng() % 12);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : rng() % 3);
    Feed(bytes);
  }
}

}  // namespace
}  // namespace velutron::test
