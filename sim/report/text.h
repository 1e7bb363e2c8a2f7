#pragma once

// The small text helpers every part of the simulator's output shares.

#include <string>
#include <string_view>
#include <vector>

namespace sim::cli {

// text in double quotes, as messages name a value.
std::string Quoted(std::string_view text);

// text for XML or SVG character data and attribute values: the five special
// characters as entities, and the control characters XML 1.0 has no place
// for (all but tab, line feed and carriage return) as "?".
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
