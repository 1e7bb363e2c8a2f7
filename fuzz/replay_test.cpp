// Replays a fuzz target's seed corpus and the inputs of its past findings as
// part of the normal test suite, on any compiler.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

std::vector<std::filesystem::path> InputsIn(const std::string& folder) {
  // The build names the source folder: __FILE__ may be relative under a
  // compiler cache.
  const std::filesystem::path dir =
      std::filesystem::path(AIKORVANE_FUZZ_DIR) / folder / fuzz::kTargetName;
  std::vector<std::filesystem::path> inputs;
  if (std::filesystem::is_directory(dir)) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

void Replay(const std::vector<std::filesystem::path>& inputs) {
  for (const auto& path : inputs) {
    SCOPED_TRACE(path.string());
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A finding aborts the process; an exception that escapes fails here.
    EXPECT_NO_THROW(
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  }
}

TEST(FuzzReplay, SeedCorpus) {
  const auto inputs = InputsIn("corpus");
  ASSERT_FALSE(inputs.empty()) << "the seed corpus of " << fuzz::kTargetName << " is missing";
  Replay(inputs);
}

TEST(FuzzReplay, Regressions) {
  const auto inputs = InputsIn("regressions");
  if (inputs.empty()) GTEST_SKIP() << "no finding kept for " << fuzz::kTargetName;
  Replay(inputs);
}

}  // namespace
