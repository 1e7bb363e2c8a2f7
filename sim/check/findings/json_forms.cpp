#include "sim/check/findings/json_forms.h"

#include <cstdio>

namespace sim::cli::findings {
namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

std::size_t Digits(const std::string& text, std::size_t pos) {
  while (pos < text.size() && Digit(text[pos])) ++pos;
  return pos;
}

}  // namespace

std::size_t NumberEnd(const std::string& text, std::size_t pos) {
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) ++pos;
  pos = Digits(text, pos);
  if (pos < text.size() && text[pos] == '.') pos = Digits(text, pos + 1);
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) ++pos;
    pos = Digits(text, pos);
  }
  return pos;
}

bool StrictNumber(const std::string& token) {
  std::size_t pos = token.empty() || token[0] != '-' ? 0 : 1;
  const std::size_t integral = pos;
  pos = Digits(token, pos);
  if (pos == integral || (token[integral] == '0' && pos - integral > 1)) return false;
  if (pos < token.size() && token[pos] == '.') {
    const std::size_t fraction = pos + 1;
    pos = Digits(token, fraction);
    if (pos == fraction) return false;
  }
  if (pos < token.size() && (token[pos] == 'e' || token[pos] == 'E')) {
    ++pos;
    if (pos < token.size() && (token[pos] == '-' || token[pos] == '+')) ++pos;
    const std::size_t exponent = pos;
    pos = Digits(token, exponent);
    if (pos == exponent) return false;
  }
  return pos == token.size();
}

std::size_t FirstBadUtf8(const std::string& text, std::size_t begin, std::size_t end) {
  std::size_t pos = begin;
  while (pos < end) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    unsigned low = 0x80, high = 0xBF;  // the range of the byte after the lead
    if (lead < 0x80) {
      ++pos;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
      if (lead == 0xED) high = 0x9F;  // U+D800..U+DFFF encoded
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong below U+10000
      if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
      return pos;
    }
    if (pos + length > end) return pos;
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[pos + i]);
      if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return pos;
    }
    pos += length;
  }
  return std::string::npos;
}

std::string ControlName(unsigned char c) {
  switch (c) {
    case '\t':
      return "a tab (write \\t)";
    case '\n':
      return "a line break (write \\n)";
    case '\r':
      return "a carriage return (write \\r)";
    default:
      break;
  }
  char escape[8];
  std::snprintf(escape, sizeof escape, "%04X", c);
  return std::string("the control character U+") + escape + " (write \\u" + escape + ")";
}

}  // namespace sim::cli::findings
