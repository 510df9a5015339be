// The fuzzer's properties over seeded random inputs, so they run with g++ alone as well.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "Properties.h"

TEST(Randomized, HexAndComposedTextsKeepTheirShape) {
  std::mt19937 random(20261208);
  std::vector<uint8_t> input;
  for (int round = 0; round < 20000; ++round) {
    input.resize(random() % 400);
    for (uint8_t& b : input) b = static_cast<uint8_t>(random());
    std::string failure = CheckProperties(input.data(), input.size());
    ASSERT_EQ(failure, "") << "round " << round;
  }
}
