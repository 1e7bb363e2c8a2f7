#pragma once

// Checks that the rounds make per entry, each cheaper than the library call
// or comparison it stands for and giving the same answer.

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace aikorvane::kept {

// Json::Value::isNumeric(), one library call cheaper: an integer or a real.
inline bool IsNumber(const Json::Value& value) {
  switch (value.type()) {
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
      return true;
    default:
      return false;
  }
}

// Not null and convertible to a real (Json::Value::isConvertibleTo): a
// number or a boolean. Text, arrays and objects have no float form.
inline bool HasFloatForm(const Json::Value& value) {
  return IsNumber(value) || value.type() == Json::booleanValue;
}

// Whether a and b, both n bytes long (n from one word to two), are the same
// but where a mask byte is 0: their first and last words are compared, each
// under its mask. The short ids and keys of the tables need no memcmp call.
template <typename Word>
inline bool SameWords(const char* a, const char* b, std::size_t n, Word head_mask = ~Word{0},
                      Word tail_mask = ~Word{0}) {
  Word a0, a1, b0, b1;
  std::memcpy(&a0, a, sizeof(Word));
  std::memcpy(&b0, b, sizeof(Word));
  std::memcpy(&a1, a + n - sizeof(Word), sizeof(Word));
  std::memcpy(&b1, b + n - sizeof(Word), sizeof(Word));
  return (((a0 ^ b0) & head_mask) | ((a1 ^ b1) & tail_mask)) == 0;
}

// a == b, ids and keys of 4 to 16 bytes as two words.
inline bool SameText(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  if (n >= 8 && n <= 16) return SameWords<uint64_t>(a.data(), b.data(), n);
  if (n >= 4 && n < 8) return SameWords<uint32_t>(a.data(), b.data(), n);
  return n == 0 || std::memcmp(a.data(), b.data(), n) == 0;
}

}  // namespace aikorvane::kept
