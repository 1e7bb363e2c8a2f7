// Fuzz target: the device's rounds against the plain round of the tests, with
// random tables, published values changed between rounds, second settings
// calls, clock jumps and time zones with odd offsets. Any difference in the
// host calls, the lines written or the state left behind is a finding.

#include "fuzz/fuzz_support.h"
#include "fuzz/round_diff.h"

const char* const fuzz::kTargetName = "round_diff";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::DiffResult result = fuzz::RunRoundDiff(data, size);
  if (!result.difference.empty()) fuzz::Fail("the rounds differ at " + result.difference);
  return 0;
}
