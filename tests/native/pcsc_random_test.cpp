// The reader library's fuzz properties over seeded random inputs, so they run with g++ alone too.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "PcscProperties.h"

TEST(PcscRandomized, ParsersAndFramesKeepTheirShape) {
  std::mt19937 random(20261208);
  std::vector<uint8_t> input;
  for (int round = 0; round < 50000; ++round) {
    input.resize(random() % 300);
    for (uint8_t& b : input)
      b = static_cast<uint8_t>(random());
    // Valid-looking starts now and then, so the checks after a successful parse run too.
    if (input.size() > 3 && round % 4 == 0) {
      input[1] = static_cast<uint8_t>(input.size() - 1);
      input[2] = static_cast<uint8_t>(random() % 2 ? 0x01 : 0x07);
      // Half of them with a read reply's status flags 00 00, which random bytes would seldom give.
      if (input.size() > 12 && round % 8 == 0)
        input[11] = input[12] = 0;
    }
    ASSERT_EQ(CheckPcscProperties(input.data(), input.size()), "") << "round " << round;
  }
}
