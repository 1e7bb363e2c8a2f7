#include "sim/sitetests/spec_file.h"

#include <yaml-cpp/yaml.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <regex>
#include <set>
#include <sstream>

#include "sim/host/bounded_read.h"
#include "sim/replay/csv_trace.h"
#include "sim/replay/replay.h"
#include "sim/report/text.h"
#include "sim/sitetests/series.h"
#include "sim/sitetests/yaml_reading.h"

namespace sim::cli {
namespace {

namespace fs = std::filesystem;

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

SiteTest ReadTest(const YAML::Node& node, int line, size_t index, const fs::path& folder) {
  SiteTest test;
  test.line = line;
  test.name = "test " + std::to_string(index + 1);
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
              // nan and inf are readings of a broken sensor, as a float holds them.
              if (reading && std::isfinite(*reading) && std::fabs(*reading) > 3.4e38) {
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

}  // namespace

bool LoadTestFile(const fs::path& path, const std::string& display, TestFile& file,
                  std::string& error) {
  std::string content, why;
  if (!ReadBoundedFile(path.string(), content, why)) {
    error = display + ": cannot read: " + why;
    return false;
  }
  const fs::path folder = path.parent_path();
  ResetExpansion();
  try {
    YAML::Node root;
    try {
      root = YAML::Load(content);
    } catch (const YAML::ParserException& failure) {
      Throw(failure.mark.line + 1, TabInIndentation(content, failure.mark.line)
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
    for (const YAML::Node& item : *tests) {
      const int line = LineOf(item, tests_line);
      file.tests.push_back(ReadTest(item, line, file.tests.size(), folder));
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
