#pragma once

// A walk over settings text that the JSON reader has accepted: where keys
// repeat within one object, and where the text departs from strict JSON.

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

// What the reader takes and strict JSON refuses, besides comments and
// trailing commas.
enum class Form { kContentAfterValue, kNumber, kControlCharacter, kSurrogate, kNotUtf8 };

struct Irregular {
  Form form;
  std::size_t offset;
  std::vector<std::string> path;  // of the value or key it stands in
  std::string text;               // the number or escape as written, the character
};

struct Scan {
  std::vector<Duplicate> duplicates;
  std::vector<Irregular> irregulars;  // in file order, each kind once a string
  std::size_t comments = 0, trailing_commas = 0;
  std::size_t first_lenient = std::string::npos;
  std::size_t root_end = 0;  // past the root value
};

// Walks text that the reader has accepted, past a byte order mark, to the
// end of its root value and on over the comments that follow it.
Scan ScanText(const std::string& text);

}  // namespace sim::cli::findings
