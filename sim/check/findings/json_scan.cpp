#include "sim/check/findings/json_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace sim::cli::findings {
namespace {

struct Container {
  bool object = false;
  std::size_t start = 0;                                 // offset of its opening bracket
  std::vector<std::string> path;                         // member names and indices down to it
  std::map<std::string, std::vector<std::size_t>> keys;  // key -> offsets, in file order
  std::vector<std::string> order;                        // keys in order of first appearance
  bool key_next = false;                                 // an object expects a key next
  std::string member;                                    // the member or index the next value is
  std::size_t index = 0;
};

// Reads a string starting at its opening quote, decoding the escapes as the
// JSON reader does; pos ends past the closing quote.
std::string ReadString(const std::string& text, std::size_t& pos) {
  std::string out;
  for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
    if (text[pos] != '\\' || pos + 1 >= text.size()) {
      out += text[pos];
      continue;
    }
    const char escaped = text[++pos];
    const char* const kFrom = "\"\\/bfnrt";
    const char* const kTo = "\"\\/\b\f\n\r\t";
    const char* found = std::strchr(kFrom, escaped);
    if (escaped != 'u' && found != nullptr && escaped != '\0') {
      out += kTo[found - kFrom];
      continue;
    }
    unsigned code = 0;
    if (pos + 4 < text.size()) std::sscanf(text.c_str() + pos + 1, "%4x", &code);
    pos += 4;
    if (code >= 0xD800 && code < 0xDC00 && pos + 6 < text.size() && text[pos + 1] == '\\' &&
        text[pos + 2] == 'u') {
      unsigned low = 0;
      std::sscanf(text.c_str() + pos + 3, "%4x", &low);
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      pos += 6;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  ++pos;
  return out;
}

}  // namespace

Scan ScanText(const std::string& text) {
  Scan scan;
  std::vector<Container> stack;
  std::size_t pos = 0;
  std::size_t comma = std::string::npos;  // a comma with nothing significant after it yet
  auto lenient = [&](std::size_t at) { scan.first_lenient = std::min(scan.first_lenient, at); };
  auto value_starts = [&]() -> std::vector<std::string> {
    if (stack.empty()) return {};
    Container& parent = stack.back();
    std::vector<std::string> path = parent.path;
    path.push_back(parent.object ? parent.member : std::to_string(parent.index++));
    return path;
  };
  while (pos < text.size()) {
    const char ch = text[pos];
    if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r') {
      ++pos;
      continue;
    }
    if (ch == '/' && pos + 1 < text.size() && (text[pos + 1] == '/' || text[pos + 1] == '*')) {
      ++scan.comments;
      lenient(pos);
      const bool line = text[pos + 1] == '/';
      const std::size_t end = text.find(line ? "\n" : "*/", pos + 2);
      pos = end == std::string::npos ? text.size() : end + (line ? 1 : 2);
      continue;
    }
    if ((ch == '}' || ch == ']') && comma != std::string::npos) {
      ++scan.trailing_commas;
      lenient(comma);
    }
    comma = ch == ',' ? pos : std::string::npos;
    if (ch == '{' || ch == '[') {
      Container container;
      container.object = ch == '{';
      container.start = pos;
      container.path = value_starts();
      container.key_next = container.object;
      stack.push_back(std::move(container));
      ++pos;
    } else if (ch == '}' || ch == ']') {
      Container& done = stack.back();
      for (const std::string& key : done.order) {
        const auto& offsets = done.keys[key];
        if (offsets.size() > 1) scan.duplicates.push_back({done.start, done.path, key, offsets});
      }
      stack.pop_back();
      ++pos;
      if (stack.empty()) break;
    } else if (ch == ',') {
      if (!stack.empty()) stack.back().key_next = stack.back().object;
      ++pos;
    } else if (ch == ':') {
      ++pos;
    } else if (ch == '"' && !stack.empty() && stack.back().key_next) {
      Container& object = stack.back();
      const std::size_t at = pos;
      object.member = ReadString(text, pos);
      auto& offsets = object.keys[object.member];
      if (offsets.empty()) object.order.push_back(object.member);
      offsets.push_back(at);
      object.key_next = false;
    } else {
      value_starts();
      if (ch == '"') {
        ReadString(text, pos);
      } else {
        while (pos < text.size() && std::strchr(",:]} \t\r\n/", text[pos]) == nullptr) ++pos;
      }
      if (stack.empty()) break;
    }
  }
  return scan;
}

}  // namespace sim::cli::findings
