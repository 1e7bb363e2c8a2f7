#pragma once

// A site test file: settings, a virtual start time and tests, each feeding
// readings to a new device and stating the alarms, values and reports
// expected. Loading checks everything that can be checked before a device
// runs; the reasons name the file and line.

#include <json/value.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim::cli {

// A point of a test: after round N, or at the last round at or before a
// duration since the test's start.
struct Point {
  std::optional<int> round;
  std::optional<long long> seconds;
  std::string text;  // as written
};

struct Expectation {
  int line = 0;
  Point at;
  std::optional<std::vector<std::string>> alarms;
  std::optional<double> voltage;
  Json::Value published;  // an object of expected members, or null
};

// An expected report; fields not given are not compared.
struct ExpectedReport {
  int line = 0;
  std::vector<std::pair<std::string, std::string>> fields;  // discharge: form fields as text
  std::optional<std::string> signal;                        // change-based reports
  std::optional<double> value;
  std::optional<int> round;
};

struct SiteTest {
  int line = 0;
  std::string name;
  int channel = 0;  // 0: the device's ai_index_ once its settings are applied
  enum class Input { kSeries, kTrace, kCsv } input = Input::kSeries;
  std::vector<std::optional<double>> series;
  std::filesystem::path path;  // trace or CSV file
  std::string path_text;       // as written
  std::vector<Expectation> expect;
  std::optional<std::vector<ExpectedReport>> discharge_reports;
  std::optional<std::vector<ExpectedReport>> ao_reports;
};

struct TestFile {
  Json::Value settings;
  std::filesystem::path workdir;
  unsigned int data_id = 1;
  std::time_t start = 0;
  long long interval = 1;
  std::vector<SiteTest> tests;
};

// Reads the file at path (absolute); display names it in messages. False
// with "DISPLAY:LINE: message" (or "DISPLAY: message") when it is malformed.
bool LoadTestFile(const std::filesystem::path& path, const std::string& display, TestFile& file,
                  std::string& error);

}  // namespace sim::cli
