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

// Whether `report` holds `signal`'s characters but for the 4th and the 9th,
// which the reported id of an [AI] signal overwrites: whether it was made
// from this signal id. Ids of up to 16 bytes are compared as two words.
inline bool KeepsRestOf(const std::string& report, const std::string& signal) {
  const std::size_t n = signal.size();
  if (report.size() != n || n < 9) return false;
  if (n > 16) {
    return std::memcmp(report.data(), signal.data(), 3) == 0 &&
           std::memcmp(report.data() + 4, signal.data() + 4, 4) == 0 &&
           std::memcmp(report.data() + 9, signal.data() + 9, n - 9) == 0;
  }
  // The first word holds the 4th character, the last one the 9th, and the
  // 4th as well when the id is short.
  unsigned char head[8], tail[8];
  std::memset(head, 0xff, sizeof head);
  std::memset(tail, 0xff, sizeof tail);
  head[3] = 0;
  tail[16 - n] = 0;
  if (n <= 11) tail[11 - n] = 0;
  uint64_t head_mask, tail_mask;
  std::memcpy(&head_mask, head, sizeof head_mask);
  std::memcpy(&tail_mask, tail, sizeof tail_mask);
  return SameWords<uint64_t>(report.data(), signal.data(), n, head_mask, tail_mask);
}

}  // namespace aikorvane::kept
