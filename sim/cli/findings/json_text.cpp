// The settings file as text: what the host's JSON reader cannot read, keys it
// reads twice, and what it accepts that strict JSON tools refuse.

#include <json/reader.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "sim/cli/findings/families.h"

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

// Walks text that the reader has accepted (so well formed but for comments
// and trailing commas), up to the end of its root value.
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

// The value at path in the parsed settings, or nullptr.
const Json::Value* At(const Json::Value& root, const std::vector<std::string>& path) {
  const Json::Value* value = &root;
  for (const std::string& part : path) {
    if (value->isObject() && value->isMember(part)) {
      value = &(*value)[part];
    } else if (value->isArray() && !part.empty() &&
               part.find_first_not_of("0123456789") == std::string::npos &&
               std::stoul(part) < value->size()) {
      value = &(*value)[static_cast<Json::ArrayIndex>(std::stoul(part))];
    } else {
      return nullptr;
    }
  }
  return value;
}

std::string Shown(const Json::Value& value) {
  if (value.isObject()) return "an object";
  if (value.isArray()) return "an array";
  if (value.isString()) return Quoted(value.asString());
  return value.asString();
}

// Whether the JSON library's reader, with one of its settings changed from
// the host's, refuses the text.
bool RefusedWith(const std::string& text, const char* setting, bool value) {
  Json::CharReaderBuilder builder;
  builder[setting] = value;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value ignored;
  std::string errors;
  return !reader->parse(text.data(), text.data() + text.size(), &ignored, &errors);
}

}  // namespace

// The library's own reader decides whether there is a duplicate key, a
// comment or a trailing comma; the scan only finds where.
void JsonText(Context& c) {
  const std::string& text = c.site.settings_text;
  const bool duplicates = RefusedWith(text, "rejectDupKeys", true);
  const bool lenient =
      RefusedWith(text, "allowComments", false) || RefusedWith(text, "allowTrailingCommas", false);
  if (!duplicates && !lenient) return;
  Scan scan = ScanText(text);
  if (!duplicates) scan.duplicates.clear();
  if (!lenient) scan.first_lenient = std::string::npos;
  for (const Duplicate& duplicate : scan.duplicates) {
    // Inside an object that a later key of the same name replaced, nothing
    // reaches the device: that outer key is the finding.
    const Json::Value* object = At(c.site.settings, duplicate.path);
    if (object == nullptr ||
        static_cast<std::size_t>(object->getOffsetStart()) != duplicate.object_start)
      continue;
    const Json::Value* kept = At(*object, {duplicate.key});
    if (kept == nullptr) continue;
    std::vector<std::string> lines;
    for (const std::size_t offset : duplicate.offsets) {
      lines.push_back(std::to_string(c.LineOf(offset)));
    }
    std::vector<std::string> path = duplicate.path;
    path.push_back(duplicate.key);
    std::string place;
    for (const std::string& part : path) place += Pointer({part});
    c.AddAtOffset(CodeId::kDuplicateKey, duplicate.offsets.front(), place,
                  Quoted(duplicate.key) + " is given " + std::to_string(lines.size()) +
                      " times in one object (lines " + List(lines) +
                      "): the JSON reader keeps only the last, so the device is handed " +
                      Shown(*kept) + " (line " + lines.back() + "); remove the others");
  }
  if (scan.first_lenient == std::string::npos) return;
  std::vector<std::string> what;
  if (scan.comments > 0) {
    what.push_back(std::to_string(scan.comments) + (scan.comments == 1 ? " comment" : " comments"));
  }
  if (scan.trailing_commas > 0) {
    what.push_back(std::to_string(scan.trailing_commas) +
                   (scan.trailing_commas == 1 ? " trailing comma" : " trailing commas"));
  }
  c.AddAtOffset(CodeId::kJsonLenient, scan.first_lenient, c.site.settings_file,
                "the file has " + List(what) +
                    " (the first here): the host's JSON reader accepts them, strict JSON tools "
                    "(jq, python -m json.tool) refuse the file; remove them if such a tool "
                    "reads it");
}

}  // namespace sim::cli::findings

namespace sim::cli {

Finding SettingsFileFinding(const std::string& file, const std::string& reader_error, bool opened) {
  if (!opened) {
    return {&CodeOf(CodeId::kSettingsUnreadable),
            Severity::kError,
            file,
            "cannot read the settings: " + reader_error +
                "; give a settings file, or a folder holding settings.json",
            file,
            0,
            0};
  }
  // The JSON reader's first error: "* Line L, Column C\n  Syntax error: ...".
  int line = 0;
  int column = 0;
  std::string what = reader_error;
  if (std::sscanf(reader_error.c_str(), "* Line %d, Column %d", &line, &column) == 2) {
    const auto newline = reader_error.find('\n');
    what = newline == std::string::npos ? std::string() : reader_error.substr(newline + 1);
    const auto next = what.find("\n*");
    if (next != std::string::npos) what.resize(next);
  }
  const auto begin = what.find_first_not_of(" \n");
  what = begin == std::string::npos ? std::string() : what.substr(begin);
  while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
  for (char& c : what) {
    if (c == '\n') c = ' ';
  }
  return {&CodeOf(CodeId::kJsonSyntax),
          Severity::kError,
          file,
          what + ": the host cannot read these settings, so the device gets none; fix the JSON",
          file,
          line,
          column};
}

}  // namespace sim::cli
