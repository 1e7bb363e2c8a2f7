#pragma once

// Lexemes of settings text that the host's JSON reader takes and strict JSON
// refuses: how to tell them and how to name them.

#include <cstddef>
#include <string>

namespace sim::cli::findings {

// Past the number starting at pos, read as the host's reader reads one: a
// sign, digits, a point and digits, an exponent, each part optional.
std::size_t NumberEnd(const std::string& text, std::size_t pos);
// Whether strict JSON takes token as a number: no "+", no leading zero, digits
// on both sides of the point.
bool StrictNumber(const std::string& token);
// The first byte in [begin, end) where text stops being UTF-8 (overlong forms,
// encoded surrogates and code points past U+10FFFF included), or npos.
std::size_t FirstBadUtf8(const std::string& text, std::size_t begin, std::size_t end);
// A control character by name and by the escape strict JSON wants for it.
std::string ControlName(unsigned char c);

}  // namespace sim::cli::findings
