// The device's rounds against the plain round over a fixed set of random
// runs: tables, published values changed between rounds, second settings
// calls, clock jumps and time zones with odd offsets, in every mode.

#include "fuzz/round_diff.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "fuzz/fuzz_support.h"

const char* const fuzz::kTargetName = "round_diff";

namespace {

TEST(RoundDiff, DeviceRoundsAsThePlainRound) {
  int rounds = 0;
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(100 + random() % 900);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    const fuzz::DiffResult result = fuzz::RunRoundDiff(bytes.data(), bytes.size());
    ASSERT_EQ(result.difference, "") << "seed " << seed;
    rounds += result.rounds;
  }
  RecordProperty("rounds", rounds);
  // The runs must be mostly rounds, not set-up alone.
  EXPECT_GT(rounds, 300 * 20);
}

}  // namespace
