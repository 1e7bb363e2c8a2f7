#include "sim/sitetests/yaml_reading.h"

#include <cerrno>
#include <cstdlib>
#include <regex>
#include <set>

#include "sim/report/text.h"

namespace sim::cli {

namespace {

constexpr long long kMaxExpandedNodes = 200000;
thread_local long long g_expanded_nodes = 0;

}  // namespace

void ResetExpansion() { g_expanded_nodes = 0; }

[[noreturn]] void Throw(int line, std::string message) {
  throw Malformed{line, std::move(message)};
}

int LineOf(const YAML::Node& node, int fallback) {
  const YAML::Mark mark = node.Mark();
  return mark.line >= 0 && node.Type() != YAML::NodeType::Null ? mark.line + 1 : fallback;
}

namespace {

std::string List(std::initializer_list<const char*> names) {
  std::string text;
  for (const char* name : names) text += (text.empty() ? "" : ", ") + std::string(name);
  return text;
}

}  // namespace

void CountNode(const YAML::Node& node, int line) {
  if (++g_expanded_nodes > kMaxExpandedNodes) {
    Throw(LineOf(node, line), "the file expands to more than " + std::to_string(kMaxExpandedNodes) +
                                  " values through its aliases");
  }
}

namespace {

struct Entry {
  std::string key;
  int line;
  YAML::Node value;
};

// The entries of a mapping in file order, with merge keys ("<<: *base" or
// "<<: [*a, *b]") replaced by the entries of the mappings they name that the
// mapping does not set itself (the first named mapping wins among them).
std::vector<Entry> Entries(const YAML::Node& map, int line, const std::string& what) {
  if (!map.IsMap()) Throw(LineOf(map, line), what + " must be a mapping");
  std::vector<Entry> own, merged;
  for (auto it = map.begin(); it != map.end(); ++it) {
    // Copies: the iterator's pair is a temporary of each access.
    const YAML::Node key = it->first;
    const YAML::Node value = it->second;
    const int key_line = LineOf(key, line);
    CountNode(value, key_line);
    if (!key.IsScalar()) Throw(key_line, "a key of " + what + " must be a plain text");
    if (key.Scalar() != "<<" || key.Tag() == "!") {
      own.push_back({key.Scalar(), key_line, value});
      continue;
    }
    std::vector<YAML::Node> sources;
    if (value.IsSequence()) {
      for (const YAML::Node& source : value) sources.push_back(source);
    } else {
      sources.push_back(value);
    }
    for (const YAML::Node& source : sources) {
      if (!source.IsMap()) Throw(LineOf(source, key_line), "a merge key (<<) names a mapping");
      for (Entry& entry : Entries(source, key_line, what)) merged.push_back(std::move(entry));
    }
  }
  std::set<std::string> keys;
  for (const Entry& entry : own) keys.insert(entry.key);
  for (Entry& entry : merged) {
    if (keys.insert(entry.key).second) own.push_back(std::move(entry));
  }
  return own;
}

}  // namespace

// Walks a mapping in file order: every key once, and (when allowed is not
// empty) only the keys allowed.
void ForEachKey(const YAML::Node& map, int line, const std::string& what,
                std::initializer_list<const char*> allowed,
                const std::function<void(const std::string&, int, const YAML::Node&)>& visit) {
  std::set<std::string> seen;
  for (const Entry& entry : Entries(map, line, what)) {
    const std::string& key = entry.key;
    if (!seen.insert(key).second) Throw(entry.line, "key " + Quoted(key) + " given twice");
    if (allowed.size() > 0) {
      bool known = false;
      for (const char* name : allowed) known = known || key == name;
      if (!known) {
        Throw(entry.line,
              "unknown key " + Quoted(key) + " in " + what + " (expected " + List(allowed) + ")");
      }
    }
    visit(key, entry.line, entry.value);
  }
}

std::string Text(const YAML::Node& node, int line, const std::string& what) {
  if (!node.IsScalar()) Throw(LineOf(node, line), what + " needs a single value");
  return node.Scalar();
}

long long Integer(const YAML::Node& node, int line, const std::string& what, long long low,
                  long long high) {
  const std::string text = Text(node, line, what);
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
    Throw(LineOf(node, line), what + " must be a whole number from " + std::to_string(low) +
                                  " to " + std::to_string(high) + ": " + Quoted(text));
  }
  return value;
}

namespace {

const std::regex& NumberPattern() {
  static const std::regex pattern(R"([-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?)");
  return pattern;
}

}  // namespace

double Number(const YAML::Node& node, int line, const std::string& what) {
  const std::string text = Text(node, line, what);
  if (!std::regex_match(text, NumberPattern())) {
    Throw(LineOf(node, line), what + " must be a number: " + Quoted(text));
  }
  return std::strtod(text.c_str(), nullptr);
}

// A YAML value as the JSON the device would get: plain scalars that read as
// numbers, booleans or null become those, quoted ones stay text.
Json::Value ToJson(const YAML::Node& node, int line) {
  switch (node.Type()) {
    case YAML::NodeType::Null:
    case YAML::NodeType::Undefined:
      return Json::Value();
    case YAML::NodeType::Scalar: {
      const std::string& text = node.Scalar();
      if (node.Tag() != "?") return Json::Value(text);
      if (text == "true" || text == "True" || text == "TRUE") return Json::Value(true);
      if (text == "false" || text == "False" || text == "FALSE") return Json::Value(false);
      if (text == "~" || text == "null" || text == "Null" || text == "NULL") return Json::Value();
      if (std::regex_match(text, NumberPattern())) {
        if (text.find_first_of(".eE") == std::string::npos) {
          errno = 0;
          const long long integer = std::strtoll(text.c_str(), nullptr, 10);
          if (errno == 0) return Json::Value(static_cast<Json::Int64>(integer));
        }
        return Json::Value(std::strtod(text.c_str(), nullptr));
      }
      return Json::Value(text);
    }
    case YAML::NodeType::Sequence: {
      Json::Value array(Json::arrayValue);
      for (const YAML::Node& item : node) {
        CountNode(item, line);
        array.append(ToJson(item, LineOf(item, line)));
      }
      return array;
    }
    case YAML::NodeType::Map: {
      Json::Value object(Json::objectValue);
      ForEachKey(node, line, "a mapping", {},
                 [&](const std::string& key, int key_line, const YAML::Node& value) {
                   object[key] = ToJson(value, key_line);
                 });
      return object;
    }
  }
  return Json::Value();
}

// Whether the 0-based line of text has a tab in its leading blanks.
bool TabInIndentation(const std::string& text, int line) {
  size_t start = 0;
  for (int i = 0; i < line && start != std::string::npos; ++i) {
    start = text.find('\n', start);
    if (start != std::string::npos) ++start;
  }
  if (start == std::string::npos) return false;
  for (size_t i = start; i < text.size() && (text[i] == ' ' || text[i] == '\t'); ++i) {
    if (text[i] == '\t') return true;
  }
  return false;
}

}  // namespace sim::cli
