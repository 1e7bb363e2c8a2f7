#include "sim/cli/test_file.h"

#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <regex>
#include <set>
#include <sstream>

#include "sim/cli/csv_trace.h"
#include "sim/cli/replay.h"
#include "sim/cli/series.h"
#include "sim/cli/text.h"

namespace sim::cli {
namespace {

namespace fs = std::filesystem;

struct Malformed {
  int line;
  std::string message;
};

[[noreturn]] void Throw(int line, std::string message) {
  throw Malformed{line, std::move(message)};
}

int LineOf(const YAML::Node& node, int fallback) {
  const YAML::Mark mark = node.Mark();
  return mark.line >= 0 && node.Type() != YAML::NodeType::Null ? mark.line + 1 : fallback;
}

std::string List(std::initializer_list<const char*> names) {
  std::string text;
  for (const char* name : names) text += (text.empty() ? "" : ", ") + std::string(name);
  return text;
}

// Nodes a test file may expand to: aliases share their anchor's node, so a
// small file can name a huge tree ("billion laughs"); past this it is refused.
constexpr long long kMaxExpandedNodes = 200000;
thread_local long long g_expanded_nodes = 0;

void CountNode(const YAML::Node& node, int line) {
  if (++g_expanded_nodes > kMaxExpandedNodes) {
    Throw(LineOf(node, line), "the file expands to more than " + std::to_string(kMaxExpandedNodes) +
                                  " values through its aliases");
  }
}

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
    const int key_line = LineOf(it->first, line);
    CountNode(it->second, key_line);
    if (!it->first.IsScalar()) Throw(key_line, "a key of " + what + " must be a plain text");
    if (it->first.Scalar() != "<<" || it->first.Tag() == "!") {
      own.push_back({it->first.Scalar(), key_line, it->second});
      continue;
    }
    std::vector<YAML::Node> sources;
    if (it->second.IsSequence()) {
      for (const YAML::Node& source : it->second) sources.push_back(source);
    } else {
      sources.push_back(it->second);
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

const std::regex& NumberPattern() {
  static const std::regex pattern(R"([-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?)");
  return pattern;
}

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

Point ReadPoint(const YAML::Node& node, int line) {
  Point point;
  point.text = Text(node, line, "at");
  const int at_line = LineOf(node, line);
  if (!point.text.empty() && point.text.find_first_not_of("0123456789") == std::string::npos) {
    point.round = static_cast<int>(Integer(node, line, "at (a round)", 1, INT_MAX));
  } else {
    long long seconds = 0;
    std::string error;
    if (!ParseDuration(point.text, seconds, error)) {
      Throw(at_line, "at must be a round number or a duration since start: " + error);
    }
    point.seconds = seconds;
  }
  return point;
}

Expectation ReadExpectation(const YAML::Node& node, int line) {
  Expectation expectation;
  expectation.line = line;
  bool has_at = false;
  ForEachKey(node, line, "an expect item", {"at", "alarms", "voltage", "published"},
             [&](const std::string& key, int key_line, const YAML::Node& value) {
               if (key == "at") {
                 expectation.at = ReadPoint(value, key_line);
                 has_at = true;
               } else if (key == "alarms") {
                 if (!value.IsSequence()) {
                   Throw(LineOf(value, key_line),
                         "alarms must be a list of alarm ids ([] for none)");
                 }
                 std::vector<std::string> ids;
                 std::set<std::string> seen;
                 for (const YAML::Node& id : value) {
                   const std::string text = Text(id, key_line, "an alarm id");
                   if (!seen.insert(text).second) {
                     Throw(LineOf(id, key_line), "alarm " + Quoted(text) + " listed twice");
                   }
                   ids.push_back(text);
                 }
                 expectation.alarms = ids;
               } else if (key == "voltage") {
                 expectation.voltage = Number(value, key_line, "voltage");
               } else {
                 expectation.published = ToJson(value, key_line);
                 if (!expectation.published.isObject() || expectation.published.empty()) {
                   Throw(LineOf(value, key_line),
                         "published must map names of published values to what they hold");
                 }
               }
             });
  if (!has_at) Throw(line, "an expect item needs at: (a round number or a duration)");
  if (!expectation.alarms && !expectation.voltage && expectation.published.isNull()) {
    Throw(line, "an expect item needs alarms, voltage or published");
  }
  return expectation;
}

std::vector<ExpectedReport> ReadReports(const YAML::Node& node, int line, bool discharge) {
  const std::string what = discharge ? "discharge_reports" : "ao_reports";
  if (!node.IsSequence()) Throw(LineOf(node, line), what + " must be a list ([] for none)");
  std::vector<ExpectedReport> reports;
  for (const YAML::Node& item : node) {
    ExpectedReport report;
    report.line = LineOf(item, line);
    const auto visit = [&](const std::string& key, int key_line, const YAML::Node& value) {
      if (key == "round") {
        report.round = static_cast<int>(Integer(value, key_line, "round", 1, INT_MAX));
      } else if (key == "signal") {
        report.signal = Text(value, key_line, "signal");
      } else if (key == "value") {
        report.value = Number(value, key_line, "value");
      } else {
        report.fields.emplace_back(key, Text(value, key_line, key));
      }
    };
    if (discharge) {
      ForEachKey(item, report.line, "a discharge report", {}, visit);
    } else {
      ForEachKey(item, report.line, "a change-based report", {"signal", "value", "round"}, visit);
    }
    reports.push_back(std::move(report));
  }
  return reports;
}

// Where rounds of a series fall, for points that can be checked before running.
void CheckSeriesPoints(const SiteTest& test, long long interval) {
  std::vector<long long> offsets;  // seconds since start of each round
  for (size_t step = 0; step < test.series.size(); ++step) {
    if (test.series[step]) offsets.push_back(static_cast<long long>(step) * interval);
  }
  for (const Expectation& expectation : test.expect) {
    if (expectation.at.round && static_cast<size_t>(*expectation.at.round) > offsets.size()) {
      Throw(expectation.line, "at " + expectation.at.text + ": the series runs only " +
                                  std::to_string(offsets.size()) +
                                  (offsets.size() == 1 ? " round" : " rounds"));
    }
    if (expectation.at.seconds && (offsets.empty() || offsets.front() > *expectation.at.seconds)) {
      Throw(expectation.line, "at " + expectation.at.text + ": no round of the series is so early");
    }
  }
}

SiteTest ReadTest(const YAML::Node& node, int line, size_t index, const fs::path& folder,
                  int default_channel) {
  SiteTest test;
  test.line = line;
  test.name = "test " + std::to_string(index + 1);
  test.channel = default_channel;
  int inputs = 0;
  ForEachKey(
      node, line, "a test",
      {"name", "channel", "series", "trace", "csv", "expect", "discharge_reports", "ao_reports"},
      [&](const std::string& key, int key_line, const YAML::Node& value) {
        if (key == "name") {
          test.name = Text(value, key_line, "name");
        } else if (key == "channel") {
          test.channel = static_cast<int>(Integer(value, key_line, "channel", 1, kMaxChannel));
        } else if (key == "series" || key == "trace" || key == "csv") {
          if (++inputs > 1) Throw(key_line, "a test takes one of series, trace and csv");
          const std::string text = Text(value, key_line, key);
          if (key == "series") {
            std::string error;
            if (!ParseSeries(text, test.series, error)) Throw(LineOf(value, key_line), error);
            for (const auto& reading : test.series) {
              // A channel reads single-precision floats.
              if (reading && std::fabs(*reading) > 3.4e38) {
                Throw(LineOf(value, key_line),
                      "series reading " + std::to_string(*reading) + " does not fit a float");
              }
            }
            return;
          }
          test.input = key == "trace" ? SiteTest::Input::kTrace : SiteTest::Input::kCsv;
          test.path_text = text;
          test.path = (folder / text).lexically_normal();
          std::error_code ignored;
          if (!fs::is_regular_file(test.path, ignored)) {
            Throw(LineOf(value, key_line), "no " + key + " file " + test.path.string());
          }
        } else if (key == "expect") {
          if (!value.IsSequence()) Throw(LineOf(value, key_line), "expect must be a list");
          for (const YAML::Node& item : value) {
            test.expect.push_back(ReadExpectation(item, LineOf(item, key_line)));
          }
        } else if (key == "discharge_reports") {
          test.discharge_reports = ReadReports(value, key_line, true);
        } else {
          test.ao_reports = ReadReports(value, key_line, false);
        }
      });
  if (inputs == 0) Throw(line, "a test needs series, trace or csv");
  if (test.expect.empty() && !test.discharge_reports && !test.ao_reports) {
    Throw(line, "a test needs expect, discharge_reports or ao_reports");
  }
  return test;
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

}  // namespace

bool LoadTestFile(const fs::path& path, const std::string& display, TestFile& file,
                  std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = display + ": cannot read: " + std::strerror(errno);
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  const fs::path folder = path.parent_path();
  g_expanded_nodes = 0;
  try {
    YAML::Node root;
    try {
      root = YAML::Load(content.str());
    } catch (const YAML::ParserException& failure) {
      Throw(failure.mark.line + 1, TabInIndentation(content.str(), failure.mark.line)
                                       ? "a tab in the indentation (YAML indents with spaces)"
                                       : failure.msg);
    }
    if (!root.IsMap()) Throw(LineOf(root, 1), "a test file is a mapping with settings and tests");
    file.workdir = folder;
    long long nanos = 0;
    std::string why;
    ParseTimeText("2026-01-01 00:00:00", file.start, nanos, why);
    std::optional<YAML::Node> tests;
    int tests_line = 1;
    bool has_settings = false, has_workdir = false;
    ForEachKey(
        root, 1, "the test file", {"settings", "workdir", "data_id", "start", "interval", "tests"},
        [&](const std::string& key, int key_line, const YAML::Node& value) {
          if (key == "settings") {
            has_settings = true;
            if (value.IsMap()) {
              file.settings = ToJson(value, key_line);
              return;
            }
            // A site folder, as check takes it: its settings.json, and the
            // folder as working directory unless workdir says otherwise.
            fs::path settings = (folder / Text(value, key_line, "settings")).lexically_normal();
            std::error_code ignored;
            if (fs::is_directory(settings, ignored)) {
              if (!has_workdir) file.workdir = settings;
              settings /= "settings.json";
            }
            std::string why;
            if (!ReadSettingsFile(settings.string(), file.settings, why)) {
              Throw(LineOf(value, key_line), why);
            }
          } else if (key == "workdir") {
            has_workdir = true;
            file.workdir = (folder / Text(value, key_line, "workdir")).lexically_normal();
            std::error_code ignored;
            if (!fs::is_directory(file.workdir, ignored)) {
              Throw(LineOf(value, key_line), "no folder " + file.workdir.string());
            }
          } else if (key == "data_id") {
            file.data_id =
                static_cast<unsigned int>(Integer(value, key_line, "data_id", 0, 4294967295LL));
          } else if (key == "start") {
            long long nanos = 0;
            std::string why;
            if (!ParseTimeText(Text(value, key_line, "start"), file.start, nanos, why)) {
              Throw(LineOf(value, key_line), "start: " + why);
            }
          } else if (key == "interval") {
            std::string why;
            const std::string text = Text(value, key_line, "interval");
            if (!ParseDuration(text, file.interval, why) || file.interval <= 0) {
              Throw(LineOf(value, key_line),
                    "interval must be a duration above 0 (e.g. 1s, 1m): " + Quoted(text));
            }
          } else {
            tests = value;
            tests_line = key_line;
          }
        });
    if (!has_settings) Throw(1, "settings: missing (a JSON file or an inline mapping)");
    if (!file.settings.isObject()) Throw(1, "settings must be an object");
    if (!tests || !tests->IsSequence() || tests->size() == 0) {
      Throw(tests_line, "tests: needs a list of one or more tests");
    }
    const int channel = DefaultChannel(file.settings);
    for (const YAML::Node& item : *tests) {
      const int line = LineOf(item, tests_line);
      file.tests.push_back(ReadTest(item, line, file.tests.size(), folder, channel));
      if (file.tests.back().input == SiteTest::Input::kSeries) {
        CheckSeriesPoints(file.tests.back(), file.interval);
      }
    }
  } catch (const Malformed& failure) {
    error = display + ":" + std::to_string(failure.line) + ": " + failure.message;
    return false;
  } catch (const YAML::Exception& failure) {
    error = display + ":" + std::to_string(failure.mark.line + 1) + ": " + failure.msg;
    return false;
  }
  return true;
}

}  // namespace sim::cli
