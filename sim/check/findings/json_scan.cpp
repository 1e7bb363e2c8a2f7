#include "sim/check/findings/json_scan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>

#include "sim/check/findings/json_forms.h"

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

void AppendUtf8(std::string& out, unsigned code) {
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

bool Within(unsigned code, unsigned low, unsigned high) { return code >= low && code <= high; }

// Reads a string starting at its opening quote, decoding the escapes as the
// JSON reader does; pos ends past the closing quote. What strict JSON would
// refuse in it goes to scan under path.
std::string ReadString(const std::string& text, std::size_t& pos, Scan& scan,
                       const std::vector<std::string>& path) {
  const std::size_t open = pos;
  bool control = false;
  std::string out;
  for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
    if (static_cast<unsigned char>(text[pos]) < 0x20 && !control) {
      control = true;
      scan.irregulars.push_back({Form::kControlCharacter, pos, path, text.substr(pos, 1)});
    }
    if (text[pos] != '\\' || pos + 1 >= text.size()) {
      out += text[pos];
      continue;
    }
    const std::size_t escape = pos;
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
    bool paired = true;
    if (Within(code, 0xD800, 0xDBFF) && pos + 6 < text.size() && text[pos + 1] == '\\' &&
        text[pos + 2] == 'u') {
      // The reader joins whatever escape follows a high surrogate to it.
      unsigned low = 0;
      std::sscanf(text.c_str() + pos + 3, "%4x", &low);
      paired = Within(low, 0xDC00, 0xDFFF);
      code = 0x10000 + ((code & 0x3FF) << 10) + (low & 0x3FF);
      pos += 6;
    } else if (Within(code, 0xDC00, 0xDFFF)) {
      paired = false;
    }
    if (!paired) {
      scan.irregulars.push_back(
          {Form::kSurrogate, escape, path, text.substr(escape, pos + 1 - escape)});
    }
    AppendUtf8(out, code);
  }
  const std::size_t bad = FirstBadUtf8(text, open + 1, std::min(pos, text.size()));
  if (bad != std::string::npos) scan.irregulars.push_back({Form::kNotUtf8, bad, path, {}});
  ++pos;
  return out;
}

bool Blank(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

// Past a comment at pos, counted in scan; false (pos unmoved) where none starts.
bool SkipComment(const std::string& text, std::size_t& pos, Scan& scan) {
  if (text[pos] != '/' || pos + 1 >= text.size() || (text[pos + 1] != '/' && text[pos + 1] != '*'))
    return false;
  ++scan.comments;
  scan.first_lenient = std::min(scan.first_lenient, pos);
  const bool line = text[pos + 1] == '/';
  const std::size_t end = text.find(line ? "\n" : "*/", pos + 2);
  pos = end == std::string::npos ? text.size() : end + (line ? 1 : 2);
  return true;
}

// A value that holds no other: a string, a number or a literal.
void ReadScalar(const std::string& text, std::size_t& pos, Scan& scan,
                const std::vector<std::string>& path) {
  const char ch = text[pos];
  if (ch == '"') {
    ReadString(text, pos, scan, path);
  } else if (ch == '-' || ch == '+' || (ch >= '0' && ch <= '9')) {
    const std::size_t start = pos;
    pos = NumberEnd(text, pos);
    const std::string token = text.substr(start, pos - start);
    if (!StrictNumber(token)) scan.irregulars.push_back({Form::kNumber, start, path, token});
  } else {
    while (pos < text.size() && std::isalpha(static_cast<unsigned char>(text[pos]))) ++pos;
  }
}

// A key of object at pos: where it stands, and under it what it holds.
void ReadKey(const std::string& text, std::size_t& pos, Scan& scan, Container& object) {
  const std::size_t at = pos;
  const std::size_t seen = scan.irregulars.size();
  object.member = ReadString(text, pos, scan, object.path);
  for (std::size_t i = seen; i < scan.irregulars.size(); ++i) {
    scan.irregulars[i].path.push_back(object.member);
  }
  auto& offsets = object.keys[object.member];
  if (offsets.empty()) object.order.push_back(object.member);
  offsets.push_back(at);
  object.key_next = false;
}

void Close(Container& done, Scan& scan) {
  for (const std::string& key : done.order) {
    const auto& offsets = done.keys[key];
    if (offsets.size() > 1) scan.duplicates.push_back({done.start, done.path, key, offsets});
  }
}

// After the root value the reader reads on only over comments.
void AfterRoot(const std::string& text, std::size_t pos, Scan& scan) {
  scan.root_end = pos;
  while (pos < text.size()) {
    if (Blank(text[pos])) {
      ++pos;
    } else if (!SkipComment(text, pos, scan)) {
      scan.irregulars.push_back({Form::kContentAfterValue, pos, {}, {}});
      return;
    }
  }
}

}  // namespace

Scan ScanText(const std::string& text) {
  Scan scan;
  std::vector<Container> stack;
  // The reader skips a byte order mark.
  std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  std::size_t comma = std::string::npos;  // a comma with nothing significant after it yet
  auto value_starts = [&]() -> std::vector<std::string> {
    if (stack.empty()) return {};
    Container& parent = stack.back();
    std::vector<std::string> path = parent.path;
    path.push_back(parent.object ? parent.member : std::to_string(parent.index++));
    return path;
  };
  while (pos < text.size()) {
    const char ch = text[pos];
    if (Blank(ch)) {
      ++pos;
      continue;
    }
    if (SkipComment(text, pos, scan)) continue;
    if ((ch == '}' || ch == ']') && comma != std::string::npos) {
      ++scan.trailing_commas;
      scan.first_lenient = std::min(scan.first_lenient, comma);
    }
    comma = ch == ',' ? pos : std::string::npos;
    if (ch == '{' || ch == '[') {
      Container container;
      container.object = ch == '{';
      container.start = pos++;
      container.path = value_starts();
      container.key_next = container.object;
      stack.push_back(std::move(container));
    } else if (ch == '}' || ch == ']') {
      Close(stack.back(), scan);
      stack.pop_back();
      ++pos;
      if (stack.empty()) break;
    } else if (ch == ',') {
      if (!stack.empty()) stack.back().key_next = stack.back().object;
      ++pos;
    } else if (ch == ':') {
      ++pos;
    } else if (ch == '"' && !stack.empty() && stack.back().key_next) {
      ReadKey(text, pos, scan, stack.back());
    } else {
      ReadScalar(text, pos, scan, value_starts());
      if (stack.empty()) break;
    }
  }
  AfterRoot(text, pos, scan);
  return scan;
}

}  // namespace sim::cli::findings
