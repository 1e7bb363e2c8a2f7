#pragma once

// A walk over settings text that the JSON reader has accepted: where keys
// repeat within one object, and where comments and trailing commas stand.

#include <cstddef>
#include <string>
#include <vector>

namespace sim::cli::findings {

struct Duplicate {
  std::size_t object_start;
  std::vector<std::string> path;
  std::string key;
  std::vector<std::size_t> offsets;
};

struct Scan {
  std::vector<Duplicate> duplicates;
  std::size_t comments = 0, trailing_commas = 0;
  std::size_t first_lenient = std::string::npos;
};

// Walks text that the reader has accepted (so well formed but for comments
// and trailing commas), up to the end of its root value.
Scan ScanText(const std::string& text);

}  // namespace sim::cli::findings
