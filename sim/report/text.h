#pragma once

// The small text helpers every part of the simulator's output shares.

#include <json/value.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sim::cli {

// text in double quotes, as messages name a value.
std::string Quoted(std::string_view text);

// What a text with bytes that are no UTF-8 shows in their place.
inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
// What an output says when it showed such bytes as U+FFFD.
inline constexpr std::string_view kReplacedNote = "bytes that are no UTF-8 are shown as U+FFFD";

// Whether text is UTF-8 throughout: no overlong form, no surrogate, nothing
// above U+10FFFF, no sequence cut short.
bool IsValidUtf8(std::string_view text);

// text with each stretch of bytes that cannot begin or continue a sequence
// as one U+FFFD (a sequence cut short is one stretch, as Python's "replace"
// decoding counts them); valid text comes back byte for byte.
std::string ValidUtf8(std::string_view text);

// Whether every string in value, member names too, is valid UTF-8.
bool HoldsValidUtf8(const Json::Value& value);

// Makes every string in value, member names too, valid UTF-8 in place; the
// number of strings that had to change.
std::size_t RepairUtf8(Json::Value& value);

// value as JSON text that is valid UTF-8 whatever bytes its strings hold
// (non-ASCII characters written as they are, not as \u escapes); repaired,
// when given, counts the strings that had to change.
std::string JsonText(const Json::Value& value, const std::string& indentation,
                     std::size_t* repaired = nullptr);

// text for XML or SVG character data and attribute values: valid UTF-8, &, <, > and
// the double quote as entities, and the characters XML 1.0 has no
// place for (the control characters but tab, line feed and carriage return,
// and U+FFFE, U+FFFF) as "?".
std::string XmlEscaped(std::string_view text);

// A number as a stream writes it by default: at most 6 significant digits.
std::string ShortNumber(double value);

// text without blanks (spaces, tabs, line ends) at either end.
std::string_view Trimmed(std::string_view text);

// The items one after the other with separator between them.
template <typename Items>
std::string Joined(const Items& items, std::string_view separator) {
  std::string text;
  bool first = true;
  for (const auto& item : items) {
    if (!first) text += separator;
    text += item;
    first = false;
  }
  return text;
}

// The name of names closest to key by edit distance, when it is close enough
// to be a likely typing slip (at most a third of its length); empty otherwise.
std::string Nearest(std::string_view key, const std::vector<std::string>& names);

}  // namespace sim::cli
