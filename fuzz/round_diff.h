#pragma once

// Drives the device and the plain round of the tests side by side with the
// same random tables, profiles, published values, settings calls, clock jumps
// and time zones, and compares what they do.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

struct DiffResult {
  int rounds = 0;
  // Empty when both made the same host calls with the same arguments, wrote
  // the same bytes and left the same published values and report settings.
  std::string difference;
};

DiffResult RunRoundDiff(const uint8_t* data, size_t size);

}  // namespace fuzz
