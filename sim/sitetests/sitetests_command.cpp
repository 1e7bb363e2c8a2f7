#include "sim/sitetests/sitetests_command.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>

#include "sim/check/findings.h"
#include "sim/framework/sim_framework.h"
#include "sim/host/device_run.h"
#include "sim/host/session.h"
#include "sim/report/text.h"
#include "sim/sitetests/spec_file.h"
#include "sim/sitetests/spec_run.h"

namespace sim::cli {
namespace {

struct TestOptions {
  std::vector<std::string> files;
  std::string plugin;
  std::string junit;
  bool verbose = false;
  bool strict = false;
  std::string run;  // ECMAScript pattern the names of the tests to run contain
};

// What check says of the file's settings, in its working directory: the
// warnings and errors, said once per file (the device is configured once
// more for it, without rounds). Empty when the device cannot be inspected.
std::vector<Finding> SettingsFindings(Host& host, const TestFile& file) {
  std::string error;
  DevicePtr device = host.NewDevice(file.data_id, file.settings, nullptr, error);
  if (!device) return {};
  ConfiguredSite site;
  site.settings = file.settings;
  site.workdir = file.workdir;
  {
    StdoutCapture capture;
    try {
      site.accepted = device->InitSetting(file.settings);
      site.refusal = site.accepted ? "" : sim::LastSettingsError(*device);
    } catch (const std::exception& thrown) {
      site.refusal = thrown.what();
    }
    // The framework keeps a complaint exactly when its own step refused.
    site.threw = !site.accepted && sim::LastSettingsError(*device).empty();
    std::istringstream lines(capture.Text());
    for (std::string line; std::getline(lines, line);) site.diagnostics.push_back(line);
  }
  std::string why;
  if (!ReadDeviceState(*device, site.state, why)) return {};
  std::vector<Finding> shown;
  for (Finding& finding : FindingsOf(site)) {
    if (finding.severity != Severity::kNote) shown.push_back(std::move(finding));
  }
  return shown;
}

constexpr const char* kStrictFailure = "the settings have warnings (--strict)";

struct FileResult {
  std::string display;
  std::string malformed;        // FILE:LINE: message
  std::string strict_warnings;  // with --strict: the settings' warnings, which fail the file
  std::vector<TestResult> tests;
};

std::string Indented(const std::string& text, const std::string& indent) {
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) out += indent + line + "\n";
  return out;
}

// repaired tells whether a text had bytes that are no UTF-8 (shown as U+FFFD).
std::string JUnit(const std::vector<FileResult>& files, bool verbose, bool& repaired) {
  // A file that --strict fails on its settings' warnings gets a failed
  // "settings" test case, so that a CI reading the XML fails as the exit status does.
  auto test_count = [](const FileResult& file) {
    return (file.malformed.empty() ? file.tests.size() : 1) + !file.strict_warnings.empty();
  };
  size_t tests = 0, failures = 0, errors = 0;
  for (const FileResult& file : files) {
    tests += test_count(file);
    errors += !file.malformed.empty();
    failures += !file.strict_warnings.empty();
    for (const TestResult& test : file.tests) failures += !test.failures.empty();
  }
  repaired = false;
  auto escaped = [&repaired](const std::string& text) {
    repaired = repaired || !IsValidUtf8(text);
    return XmlEscaped(text);
  };
  std::ostringstream xml;
  xml << std::fixed << std::setprecision(3);
  xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<testsuites name=\"aikorvane-sim test\" tests=\"" << tests << "\" failures=\"" << failures
      << "\" errors=\"" << errors << "\">\n";
  for (const FileResult& file : files) {
    size_t failed = !file.strict_warnings.empty();
    double seconds = 0;
    for (const TestResult& test : file.tests) {
      failed += !test.failures.empty();
      seconds += test.seconds;
    }
    xml << "  <testsuite name=\"" << escaped(file.display) << "\" tests=\"" << test_count(file)
        << "\" failures=\"" << failed << "\" errors=\"" << !file.malformed.empty() << "\" time=\""
        << seconds << "\">\n";
    if (!file.malformed.empty()) {
      xml << "    <testcase name=\"load\" classname=\"" << escaped(file.display) << "\">\n"
          << "      <error message=\"" << escaped(file.malformed) << "\"/>\n    </testcase>\n";
    }
    if (!file.strict_warnings.empty()) {
      xml << "    <testcase name=\"settings\" classname=\"" << escaped(file.display) << "\">\n"
          << "      <failure message=\"" << kStrictFailure << "\">" << escaped(file.strict_warnings)
          << "</failure>\n    </testcase>\n";
    }
    for (const TestResult& test : file.tests) {
      xml << "    <testcase name=\"" << escaped(test.name) << "\" classname=\""
          << escaped(file.display) << "\" time=\"" << test.seconds << "\"";
      if (test.failures.empty()) {
        xml << "/>\n";
        continue;
      }
      std::string text;
      for (const std::string& block : test.failures) text += block;
      xml << ">\n      <failure message=\"" << test.failures.size() << " expectation"
          << (test.failures.size() == 1 ? "" : "s") << " failed\">" << escaped(text)
          << "</failure>\n";
      if (verbose) xml << "      <system-out>" << escaped(test.diagnostics) << "</system-out>\n";
      xml << "    </testcase>\n";
    }
    xml << "  </testsuite>\n";
  }
  xml << "</testsuites>\n";
  return xml.str();
}

// A test file: its settings' warnings, then its tests, printed as one block.
// `display` is the name the user gave; relative paths are read from `start`.
FileResult RunFile(Host& host, ReportInbox& inbox, const TestOptions& options,
                   const std::optional<std::regex>& selected, const std::string& display,
                   const fs::path& start) {
  FileResult result;
  result.display = display;
  std::cout << "Unit Testing: " << display << std::endl;
  TestFile file;
  if (!LoadTestFile(Absolute(display, start), display, file, result.malformed)) {
    std::cout << "  FAILED:\n    " << result.malformed << "\n" << std::endl;
    return result;
  }
  // Profiles are read from ./ini/ of the device's working directory.
  if (chdir(file.workdir.c_str()) != 0) {
    result.malformed =
        display + ": cannot work in " + file.workdir.string() + ": " + std::strerror(errno);
    std::cout << "  FAILED:\n    " << result.malformed << "\n" << std::endl;
    return result;
  }
  std::string warnings;
  for (const Finding& finding : SettingsFindings(host, file)) {
    warnings += std::string("settings ") + SeverityName(finding.severity) + ' ' +
                finding.code->name + ' ' + finding.place + ": " + finding.message + '\n';
  }
  std::cout << Indented(warnings, "  ");
  for (const SiteTest& test : file.tests) {
    if (selected && !std::regex_search(test.name, *selected)) continue;
    result.tests.push_back(RunSiteTest(host, inbox, file, test));
  }
  std::string report;
  for (const TestResult& test : result.tests) {
    for (const std::string& block : test.failures) report += block;
    if (options.verbose && !test.failures.empty()) {
      report += "    test: " + test.name + ", diagnostic lines of the plug-in:\n" +
                Indented(test.diagnostics, "        ");
    }
  }
  if (options.strict && !warnings.empty()) {
    result.strict_warnings = warnings;
    report += std::string("    ") + kStrictFailure + "\n";
  }
  std::cout << (report.empty() ? "  SUCCESS\n" : "  FAILED:\n" + report) << std::endl;
  return result;
}

bool Failed(const FileResult& result) {
  return !result.strict_warnings.empty() ||
         std::any_of(result.tests.begin(), result.tests.end(),
                     [](const TestResult& test) { return !test.failures.empty(); });
}

int RunTests(const TestOptions& options) {
  const fs::path start = fs::current_path();
  UseUtcUnlessZoneSet();
  // The inbox outlives the host's receiver, which hands it the requests.
  ReportInbox inbox;
  Host host;
  std::string error = host.Load(options.plugin, start);
  if (!error.empty()) return Fail(error);
  error = host.StartReceiver(inbox);
  if (!error.empty()) return Fail(error);

  std::optional<std::regex> selected;
  if (!options.run.empty()) {
    try {
      selected.emplace(options.run);
    } catch (const std::regex_error& failure) {
      return Fail("--run " + options.run + " is no regular expression: " + failure.what(), 2);
    }
  }
  std::vector<FileResult> results;
  bool malformed = false, failed = false;
  for (const std::string& name : options.files) {
    results.push_back(RunFile(host, inbox, options, selected, name, start));
    malformed = malformed || !results.back().malformed.empty();
    failed = failed || Failed(results.back());
  }
  sim::SetVirtualTime(std::nullopt);
  if (!options.junit.empty()) {
    const fs::path junit = Absolute(options.junit, start);
    std::ofstream out(junit, std::ios::binary | std::ios::trunc);
    bool repaired = false;
    out << JUnit(results, options.verbose, repaired);
    out.close();
    if (!out) return Fail("cannot write the JUnit report " + junit.string());
    if (repaired)
      std::cerr << "aikorvane-sim: " << junit.string() << ": " << kReplacedNote << std::endl;
  }
  return malformed ? 2 : failed ? 1 : 0;
}

}  // namespace

void AddTestCommand(CLI::App& app, Action& action) {
  auto options = std::make_shared<TestOptions>();
  CLI::App* command = app.add_subcommand(
      "test",
      "Run site test files: each test feeds readings (a series, a trace or a CSV file of "
      "recorded data) to a new device made from the file's settings, one round per reading on "
      "the virtual clock, and compares the alarms raised, the voltage, the published values, "
      "the discharge reports and the change-based reports with what the file expects. Prints "
      "\"Unit Testing: FILE\" and \"  SUCCESS\" or \"  FAILED:\" with one block per failed "
      "expectation. Exit status 0 when all pass, 1 when any fails, 2 when a test file is "
      "malformed (FILE:LINE: message). The format is described in docs/test-files.md.");
  command->add_option("FILE", options->files, "YAML test files to run, in this order")->required();
  command
      ->add_option("--plugin", options->plugin,
                   "plug-in to load (default: beside this binary, then the installed one)")
      ->type_name("PATH");
  command
      ->add_option("--junit", options->junit,
                   "also write the results as JUnit XML to this file: one testsuite per "
                   "test file, one testcase per test")
      ->type_name("FILE");
  command->add_flag("--strict", options->strict,
                    "fail a file whose settings have warnings of the check command (they are "
                    "printed once per file either way)");
  command
      ->add_option("--run", options->run,
                   "run only the tests whose name contains a match of this regular "
                   "expression (ECMAScript syntax)")
      ->type_name("REGEX");
  command->add_flag("-v,--verbose", options->verbose,
                    "show the plug-in's diagnostic lines of every failed test (kept out of the "
                    "output otherwise)");
  command->callback([&action, options] { action = [options] { return RunTests(*options); }; });
}

}  // namespace sim::cli
