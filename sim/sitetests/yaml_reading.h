#pragma once

// Reading the YAML of test files: every value with the line it stands on,
// malformed input thrown as Malformed (caught once, where the file is read),
// merge keys applied and alias expansion bounded.

#include <json/value.h>
#include <yaml-cpp/yaml.h>

#include <functional>
#include <initializer_list>
#include <string>

namespace sim::cli {

struct Malformed {
  int line;
  std::string message;
};

[[noreturn]] void Throw(int line, std::string message);

// The 1-based line of node, or fallback for a node without one.
int LineOf(const YAML::Node& node, int fallback);

// Starts the count of values a file expands to through its aliases; past
// 200,000 every reader below throws (a "billion laughs" file).
void ResetExpansion();
void CountNode(const YAML::Node& node, int line);

// Walks a mapping in file order, merge keys ("<<") applied: every key once,
// and (when allowed is not empty) only the keys allowed.
void ForEachKey(const YAML::Node& map, int line, const std::string& what,
                std::initializer_list<const char*> allowed,
                const std::function<void(const std::string&, int, const YAML::Node&)>& visit);

std::string Text(const YAML::Node& node, int line, const std::string& what);
long long Integer(const YAML::Node& node, int line, const std::string& what, long long low,
                  long long high);
double Number(const YAML::Node& node, int line, const std::string& what);

// A YAML value as the JSON the device would get: plain scalars that read as
// numbers, booleans or null become those, quoted ones stay text.
Json::Value ToJson(const YAML::Node& node, int line);

// Whether the 0-based line of text has a tab in its leading blanks.
bool TabInIndentation(const std::string& text, int line);

}  // namespace sim::cli
