#include <gtest/gtest.h>

#include <random>

#include "support/FuzzReplay.h"

namespace velutron::test {
namespace {

// Random answers to every operation: mostly single bytes, sometimes bursts, silences and a vanishing
// port, so that each run goes a little way past the probe.
TEST(LinkAnswersFuzz, TheCorpusAndRandomAnswersToEveryOperationKeepEveryRule) {
  EXPECT_GE(ReplayCorpus("link_answers"), 32u);
  std::mt19937 rng(20090605);
  auto pick = [&rng](uint32_t n) { return static_cast<uint8_t>(rng() % n); };
  for (int n = 0; n < 1500; ++n) {
    std::vector<uint8_t> bytes{pick(256), pick(256), 1, 0, 0};
    for (int step = 0, steps = pick(20); step < steps; ++step) {
      switch (pick(8)) {
        case 0:
          bytes.push_back(0x00);
          break;
        case 1:
          bytes.insert(bytes.end(), {static_cast<uint8_t>(0x80 | pick(3)), pick(255), 0});
          for (int i = bytes[bytes.size() - 2]; i > 0; --i) bytes.push_back(pick(256));
          break;
        case 2:
          bytes.push_back(static_cast<uint8_t>(0xC0 | pick(64)));
          break;
        default:
          bytes.insert(bytes.end(),
                       {static_cast<uint8_t>(0x40 | pick(64)), pick(4) == 0 ? uint8_t{62} : pick(256)});
          for (int i = bytes[bytes.size() - 2] & 3; i > 0; --i) bytes.push_back(pick(256));
      }
    }
    Feed(bytes);
  }
}

}  // namespace
}  // namespace velutron::test
