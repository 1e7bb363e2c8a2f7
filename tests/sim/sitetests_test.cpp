// Runs `aikorvane-sim test` and `aikorvane-sim --csv` as a user would: the
// bundled examples' test files, expectations that must fail, malformed test
// files and recorded CSV data.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_run.h"
#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::ScratchDir;

const std::string kExamples = AIKORVANE_EXAMPLES;

using testing_support::ReadFile;
using testing_support::SimRun;

SimRun Sim(const std::string& arguments) { return testing_support::RunSim(arguments); }

TEST(SimTestCommand, EveryBundledExamplePassesItsTestFile) {
  ScratchDir scratch;
  std::string files;
  for (const char* name : {"default", "unicom", "mobile", "limits"}) {
    files += " '" + kExamples + "/" + name + "/test.yaml'";
  }
  const SimRun run = Sim("test --junit report.xml" + files);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  for (const char* name : {"default", "unicom", "mobile", "limits"}) {
    EXPECT_THAT(run.out,
                HasSubstr("Unit Testing: " + kExamples + "/" + name + "/test.yaml\n  SUCCESS\n"));
  }
  // The plug-in's diagnostic lines stay out of the output.
  EXPECT_THAT(run.out, Not(HasSubstr("AIKorvane::")));
  const std::string junit = ReadFile("report.xml");
  EXPECT_THAT(junit, HasSubstr("tests=\"5\" failures=\"0\" errors=\"0\""));
  EXPECT_THAT(junit, HasSubstr("<testcase name=\"limits with hysteresis\""));
}

// Settings with a warning: the file passes, and --strict fails it in the
// output, the exit status and the JUnit XML alike.
TEST(SimTestCommand, StrictFailsAFileOnItsSettingsWarningsInJUnitToo) {
  ScratchDir scratch;
  const std::string site =
      std::string(AIKORVANE_SOURCE_TESTS) + "/fixtures/check/discharge-end-below-start";
  scratch.Write("t.yaml", "settings: " + site + "/settings.json\nworkdir: " + site +
                              "\ninterval: 1m\ntests:\n  - name: case\n    series: 54\n"
                              "    discharge_reports: []\n");
  for (const bool strict : {false, true}) {
    const SimRun run =
        Sim(std::string("test --junit r.xml") + (strict ? " --strict" : "") + " t.yaml");
    EXPECT_THAT(run.out, HasSubstr("  settings warning discharge-end-below-start "));
    const std::string junit = ReadFile("r.xml");
    if (!strict) {
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_THAT(junit, HasSubstr("<testsuites name=\"aikorvane-sim test\" tests=\"1\" "
                                   "failures=\"0\""));
      continue;
    }
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_THAT(run.out, HasSubstr("  FAILED:\n    the settings have warnings (--strict)\n"));
    EXPECT_THAT(junit, HasSubstr("tests=\"2\" failures=\"1\" errors=\"0\""));
    EXPECT_THAT(junit, HasSubstr("<testcase name=\"settings\" classname=\"t.yaml\">\n"
                                 "      <failure message=\"the settings have warnings "
                                 "(--strict)\">settings warning discharge-end-below-start "));
  }
}

// One expectation of a device made from an example's settings, right and
// wrong: "@" in the test stands for the value.
struct Expectation {
  const char* example;
  const char* test;
  const char* right;
  const char* wrong;
  const char* block;  // what the failure shows
};

class WrongExpectation : public ::testing::TestWithParam<Expectation> {};

TEST_P(WrongExpectation, FailsWithWhatDiffered) {
  ScratchDir scratch;
  const Expectation& c = GetParam();
  const std::string folder = kExamples + "/" + c.example;
  for (const char* value : {c.right, c.wrong}) {
    std::string test = c.test;
    test.replace(test.find('@'), 1, value);
    scratch.Write("t.yaml", "settings: " + folder + "/settings.json\nworkdir: " + folder +
                                "\ninterval: 1m\ntests:\n  - name: case\n" + test + "\n");
    const SimRun run = Sim("test -v t.yaml");
    if (value == c.right) {
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_THAT(run.out, HasSubstr("  SUCCESS"));
      continue;
    }
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Unit Testing: t.yaml\n  FAILED:\n    test: case, "));
    EXPECT_THAT(run.out, HasSubstr(c.block));
    // -v shows the failed test's diagnostic lines.
    EXPECT_THAT(run.out, HasSubstr("case, diagnostic lines of the plug-in:\n"));
    EXPECT_THAT(run.out, HasSubstr("\n        AIKorvane::process("));
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachKind, WrongExpectation,
    ::testing::Values(
        Expectation{"default",
                    "    channel: 3\n    series: 14.7 13.2\n    expect:\n"
                    "      - {at: 2, alarms: [@]}",
                    "110410050010, 110610050010, 110610060010, 110410060010", "110610050010",
                    "round 2 (2026-01-01 00:01:00), alarms:\n"
                    "        extra: [110410050010, 110410060010, 110610060010]\n"},
        Expectation{"default", "    series: 14.7 _ 13.2\n    expect:\n      - {at: 2m, voltage: @}",
                    "46", "46.1",
                    "round 2 (2026-01-01 00:02:00), the last at or before start + 2m, voltage:\n"
                    "        exp: 46.1\n        got: 46\n"},
        Expectation{"limits",
                    "    series: 5.36\n    expect:\n      - {at: 1, published: {电压: @}}", "53.6",
                    "53.5", "published:\n        电压: exp 53.5, got 53.5999985\n"},
        Expectation{"default",
                    "    series: 14.7 13.8 13.6\n    discharge_reports:\n"
                    "      - {Play: \"1\", His_DCV: \"@\"}\n      - {Play: \"1\", round: 3}",
                    "49", "48.5",
                    "discharge_reports: report 1 differs\n"
                    "        exp: {Play: 1, His_DCV: 48.5}\n"
                    "        got: {Play: 1, Device_ID: 1, SPID_1: 130610010010, "
                    "SPNames: 001#48V蓄电池组电压, His_DCV: 49, round: 2}\n"},
        Expectation{
            "unicom",
            "    series: 4.45\n    ao_reports:\n"
            "      - {signal: \"461127400001\", value: @, round: 1}",
            "53.4", "53.5",
            "ao_reports: report 1 differs\n        exp: {signal: 461127400001, value: 53.5, "
            "round: 1}\n        got: {signal: 461127400001, value: 53.4, round: 1}\n"}));

// Test files that cannot be run: FILE:LINE: message and exit status 2.
TEST(SimTestCommand, MalformedFilesNameFileAndLine) {
  ScratchDir scratch;
  const std::string head =
      "settings: " + kExamples + "/default/settings.json\nworkdir: " + kExamples + "/default\n";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {head + "tests:\n  - series: 14.7\n    expect:\n      - {at: 1, voltage: [1}\n",
       "t.yaml:6: illegal flow end"},
      {head + "tests:\n  - series: 14.7\n    expct: []\n",
       "t.yaml:5: unknown key \"expct\" in a test (expected name, channel"},
      {head + "tests:\n  - series: 14.7\n    expect:\n      - {at: 1, alarms: [a, b, a]}\n",
       "t.yaml:6: alarm \"a\" listed twice"},
      {head + "tests:\n  - series: 14.7-0.05 13\n    expect: [{at: 1, voltage: 1}]\n",
       "t.yaml:4: bad series value \"14.7-0.05\""},
      {head + "tests:\n  - series: 14.7 _\n    expect: [{at: 2, voltage: 1}]\n",
       "t.yaml:5: at 2: the series runs only 1 round"},
      {head + "tests:\n  - csv: missing.csv\n    expect: [{at: 1, voltage: 1}]\n",
       "t.yaml:4: no csv file"},
      {"settings: nothing.json\ntests: []\n", "t.yaml:1: cannot read settings"},
      {head + "interval: 1\ntests:\n  - series: 1\n    ao_reports: []\n",
       "t.yaml:3: interval must be a duration above 0"},
      {head + "tests:\n  - series: 1\n    ao_reports: []\n    series: 2\n",
       "t.yaml:6: key \"series\" given twice"},
  };
  for (const auto& c : cases) {
    scratch.Write("t.yaml", c.text);
    const SimRun run = Sim("test t.yaml");
    EXPECT_EQ(run.status, 2) << c.text << run.out;
    EXPECT_THAT(run.out, HasSubstr("Unit Testing: t.yaml\n  FAILED:\n    " + c.message)) << c.text;
  }
  // Inline settings the framework refuses: the file is sound, the test fails.
  scratch.Write("t.yaml",
                "settings: {appSetting: {b_mode: 3}, hostSetting: {alarms: {\"007001\": {level: "
                "high}}}}\ntests:\n  - {name: refused, series: \"1\", ao_reports: []}\n");
  const SimRun run = Sim("test t.yaml");
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_THAT(run.out, HasSubstr("    test: refused, settings not accepted: "
                                 "hostSetting.alarms.007001.level must be an integer\n\n"));
}

TEST(SimTestCommand, RecordedCsvDataReplaysOnItsOwnTimes) {
  ScratchDir scratch;
  // Four time forms (2026-06-01 08:00:00 UTC on), a channel column, an
  // ignored column, a blank line and a quoted field.
  const std::string good =
      "time,value,channel,note\n"
      "2026-06-01T08:00:00Z,14.7,3,float\n"
      "2026-06-01T16:01:00+08:00,13.2,3,\"discharge, deep\"\n"
      "\n"
      "2026-06-01 08:02:00,14.7,3,\n"
      "1780300980,15.4,3,x\n";
  scratch.Write("day.csv", good);
  SimRun run = Sim("--csv day.csv");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("rounds: 4\n"));
  EXPECT_THAT(run.out, HasSubstr("round 2: raised  110610060010"));
  EXPECT_THAT(run.out, HasSubstr("round 4: raised  110410040010"));

  // The same data in a test file; durations count from the first row.
  scratch.Write("t.yaml", "settings: " + kExamples +
                              "/default/settings.json\nworkdir: " + kExamples +
                              "/default\ntests:\n  - csv: day.csv\n    expect:\n"
                              "      - {at: 1m30s, voltage: 46}\n      - {at: 3, voltage: 53.5}\n");
  run = Sim("test t.yaml");
  EXPECT_EQ(run.status, 0) << run.out;

  // A bad row stops the replay; the rows before it have run.
  for (const auto& [row, message] :
       {std::pair<std::string, std::string>{"2026-06-01T07:59:59Z,14.7,3,x",
                                            "day.csv:7: time 2026-06-01T07:59:59Z is before"},
        {"2026-06-01T09:00:00Z,high,3,x", "day.csv:7: unreadable value \"high\""},
        {"2026-06-01T09:00,14.7,0,x", "day.csv:7: channel must be 1 to 12767"},
        {"yesterday,14.7,3,x", "day.csv:7: unreadable time \"yesterday\""},
        {"2026-06-01T09:00:00Z,14.7", "day.csv:7: fewer fields than the header has columns"}}) {
    scratch.Write("day.csv", good + row + "\n2026-06-02T00:00:00Z,14.7,3,x\n");
    run = Sim("--csv day.csv --events events.jsonl");
    EXPECT_EQ(run.status, 1) << row;
    EXPECT_THAT(run.err, HasSubstr("aikorvane-sim: " + message)) << row;
    EXPECT_THAT(run.out, HasSubstr("rounds: 4\n")) << row;
    EXPECT_THAT(ReadFile("events.jsonl"), HasSubstr("\"file\":\"day.csv\",\"line\":7"));
  }
}

// The test files of fixtures/test-command, each with its NAME.expected: the
// exit status, further arguments, and lines the output must hold exactly.
TEST(SimTestCommand, FixtureFilesGiveTheirExpectedOutput) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(AIKORVANE_SOURCE_TESTS) / "fixtures" / "test-command";
  int cases = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".yaml") continue;
    ++cases;
    std::istringstream expected(ReadFile(fs::path(entry.path()).replace_extension(".expected")));
    std::string line, arguments;
    int status = -1;
    std::vector<std::string> wanted;
    while (std::getline(expected, line)) {
      if (line.rfind("exit ", 0) == 0 && status < 0) {
        status = std::stoi(line.substr(5));
      } else if (line.rfind("args: ", 0) == 0) {
        arguments = line.substr(6);
      } else if (!line.empty()) {
        wanted.push_back(line + "\n");
      }
    }
    const std::string name = entry.path().filename().string();
    ScratchDir scratch;
    const SimRun run = Sim("test " + arguments + " '" + entry.path().string() + "'");
    EXPECT_EQ(run.status, status) << name << "\n" << run.out << run.err;
    for (const std::string& text : wanted) EXPECT_THAT(run.out, HasSubstr(text)) << name;
  }
  EXPECT_GE(cases, 4);
}

}  // namespace
