// aikorvane-sim check, run as a user would: every finding code has a fixture
// site under fixtures/check/<code>/ that must yield it and a near miss under
// fixtures/check/<code>.near-miss/ that must not, the documentation lists
// exactly these codes, and the exit status follows the sites.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/writer.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_run.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::ParseJson;
using testing_support::ScratchDir;

const fs::path kFixtures = fs::path(AIKORVANE_SOURCE_TESTS) / "fixtures" / "check";

using testing_support::ReadFile;
using testing_support::SimRun;

SimRun Sim(const std::string& arguments) { return testing_support::RunSim(arguments); }

std::string Site(const std::string& code) { return "'" + (kFixtures / code).string() + "'"; }

// "<code>.near-miss" and "<code>.near-miss.<variant>" hold settings just on
// the safe side of the code's rule.
bool NearMiss(const std::string& fixture) {
  const auto dot = fixture.find('.');
  return dot != std::string::npos && fixture.compare(dot, 10, ".near-miss") == 0 &&
         (fixture.size() == dot + 10 || fixture[dot + 10] == '.');
}

std::vector<std::string> ListedCodes() {
  const SimRun run = Sim("check --list-codes");
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::string> codes;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);)
    codes.push_back(line.substr(0, line.find(' ')));
  return codes;
}

// Code -> severity column of the table of codes in docs/configuration.md;
// each row opens with the anchor that --list-codes names.
std::map<std::string, std::string> DocumentedCodes(
    std::map<std::string, std::string>* anchors = nullptr) {
  const std::string docs = ReadFile(fs::path(AIKORVANE_SOURCE_DOCS) / "configuration.md");
  std::map<std::string, std::string> codes;
  const std::regex row(R"re(\n\| <a id="([a-z-]+)"></a>`([a-z-]+)` \| ([^|]+) \|)re");
  for (std::sregex_iterator it(docs.begin(), docs.end(), row), end; it != end; ++it) {
    codes[(*it)[2]] = (*it)[3];
    if (anchors != nullptr) (*anchors)[(*it)[2]] = (*it)[1];
  }
  return codes;
}

// The registry as check --list-codes prints it: code, severity, then the
// summary ending in "(configuration.md#ANCHOR)".
TEST(Check, ListedCodesAreTheDocumentedOnes) {
  ScratchDir scratch;
  const SimRun run = Sim("check --list-codes");
  ASSERT_EQ(run.status, 0) << run.err;
  std::map<std::string, std::string> anchors;
  const auto documented = DocumentedCodes(&anchors);
  const std::regex line(R"(([a-z-]+) +([a-z/]+) +.+ \(configuration\.md#([a-z-]+)\))");
  std::set<std::string> listed;
  std::istringstream lines(run.out);
  for (std::string text; std::getline(lines, text);) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, line)) << text;
    const std::string code = match[1];
    listed.insert(code);
    ASSERT_TRUE(documented.count(code)) << code;
    // "warning/note" in the list, "warning / note" or "note (...) / warning (...)" in the docs.
    std::istringstream severities(match[2].str());
    for (std::string severity; std::getline(severities, severity, '/');) {
      EXPECT_THAT(documented.at(code), HasSubstr(severity)) << code;
    }
    EXPECT_EQ(match[3].str(), anchors.at(code));
  }
  EXPECT_EQ(listed.size(), documented.size());
}

TEST(Check, EveryFixtureYieldsItsCodeWithTheDocumentedSeverity) {
  ScratchDir scratch;
  std::string sites;
  std::set<std::string> fixtures;
  for (const auto& entry : fs::directory_iterator(kFixtures)) {
    if (NearMiss(entry.path().filename().string())) continue;
    fixtures.insert(entry.path().filename().string());
    sites += " " + Site(entry.path().filename().string());
  }
  const SimRun run = Sim("check --format json" + sites);
  EXPECT_EQ(run.status, 1) << run.err;  // the refused fixtures
  const Json::Value document = ParseJson(run.out);
  const auto documented = DocumentedCodes();
  ASSERT_EQ(document["sites"].size(), fixtures.size());
  int refused = 0;
  for (const Json::Value& site : document["sites"]) {
    std::set<std::string> codes;
    bool error = false;
    for (const Json::Value& finding : site["findings"]) {
      codes.insert(finding["code"].asString());
      error = error || finding["severity"].asString() == "error";
      ASSERT_TRUE(documented.count(finding["code"].asString())) << finding;
      EXPECT_THAT(documented.at(finding["code"].asString()),
                  HasSubstr(finding["severity"].asString()))
          << finding;
      EXPECT_FALSE(finding["place"].asString().empty()) << finding;
    }
    refused += site["accepted"].asBool() ? 0 : 1;
    EXPECT_EQ(site["accepted"].asBool(), !error) << site;
    // A fixture is named by its code, with ".variant" where a code has several.
    std::string fixture = fs::path(site["site"].asString()).filename().string();
    fixture = fixture.substr(0, fixture.find('.'));
    if (fixture == "clean") {
      EXPECT_TRUE(codes.empty()) << site;
    } else {
      EXPECT_TRUE(codes.count(fixture)) << site;
    }
  }
  EXPECT_EQ(document["summary"]["sites"].asInt(), static_cast<int>(fixtures.size()));
  EXPECT_EQ(document["summary"]["refused"].asInt(), refused);
}

// A false positive would go unseen beside the fixtures that raise a code:
// each code's near miss must not raise it, and, being sound settings, no
// other warning either (notes may say what the site leaves out).
TEST(Check, NearMissesRaiseNotTheirCode) {
  ScratchDir scratch;
  const std::vector<std::string> codes = ListedCodes();
  ASSERT_GE(codes.size(), 31u);
  std::set<std::string> without(codes.begin(), codes.end());
  std::string sites;
  int count = 0;
  for (const auto& entry : fs::directory_iterator(kFixtures)) {
    const std::string fixture = entry.path().filename().string();
    if (!NearMiss(fixture)) continue;
    const std::string code = fixture.substr(0, fixture.find('.'));
    EXPECT_TRUE(std::count(codes.begin(), codes.end(), code)) << fixture << ": no such code";
    without.erase(code);
    sites += " " + Site(fixture);
    ++count;
  }
  EXPECT_TRUE(without.empty()) << "codes without a near miss: " << testing::PrintToString(without);

  const SimRun run = Sim("check --format json" + sites);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const Json::Value document = ParseJson(run.out);
  ASSERT_EQ(static_cast<int>(document["sites"].size()), count);
  for (const Json::Value& site : document["sites"]) {
    const std::string fixture = fs::path(site["site"].asString()).filename().string();
    const std::string code = fixture.substr(0, fixture.find('.'));
    EXPECT_TRUE(site["accepted"].asBool()) << site;
    for (const Json::Value& finding : site["findings"]) {
      EXPECT_NE(finding["code"].asString(), code) << fixture << ": " << finding;
      EXPECT_EQ(finding["severity"].asString(), "note") << fixture << ": " << finding;
    }
  }
}

TEST(Check, EveryDocumentedCodeHasAFixture) {
  const auto documented = DocumentedCodes();
  EXPECT_GE(documented.size(), 31u);
  for (const auto& [code, severity] : documented) {
    EXPECT_TRUE(fs::is_directory(kFixtures / code)) << code;
  }
}

TEST(Check, ExitStatusTextOutputAndSyntaxPlace) {
  ScratchDir scratch;
  SimRun run = Sim("check " + Site("clean"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "1 site: 1 clean, 0 with warnings, 0 refused\n");
  run = Sim("check " + Site("clean") + " " + Site("discharge-end-below-start"));
  EXPECT_EQ(run.status, 0);
  // FILE:LINE:COL of the member, the pointer, then the message.
  EXPECT_THAT(run.out,
              HasSubstr("discharge-end-below-start/settings.json:1:70: warning "
                        "discharge-end-below-start /appSetting/discharge_v_end:\n    the "));
  EXPECT_THAT(run.out, HasSubstr("2 sites: 1 clean, 1 with warnings, 0 refused\n"));
  EXPECT_EQ(Sim("check --strict " + Site("discharge-end-below-start")).status, 1);
  EXPECT_EQ(Sim("check --strict " + Site("clean")).status, 0);

  // A broken site is reported with its file, line and column; the next is still checked.
  run = Sim("check --format json " + Site("json-syntax") + " " + Site("clean"));
  EXPECT_EQ(run.status, 1);
  const Json::Value document = ParseJson(run.out);
  const Json::Value& syntax = document["sites"][0]["findings"][0];
  EXPECT_EQ(syntax["file"].asString(), (kFixtures / "json-syntax" / "settings.json").string());
  EXPECT_EQ(syntax["line"].asInt(), 4);
  EXPECT_EQ(syntax["column"].asInt(), 5);
  EXPECT_TRUE(document["sites"][1]["accepted"].asBool());
  EXPECT_EQ(document["summary"]["clean"].asInt(), 1);

  // Settings that are no object: the device takes them as one without
  // members, and check and replay both say so and go on.
  run = Sim("check " + Site("no-app-setting.top-level-array"));
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("warning no-app-setting /appSetting:\n    the settings are no "
                                 "JSON object"));
  scratch.Write("one.trace", "ai 1 48\n20001\n");
  run = Sim("--no-receiver --settings " + Site("no-app-setting.top-level-array/settings.json") +
            " one.trace");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("are no JSON object: the device reads none of its keys"));

  // --min-severity leaves out what is below it; the summary counts everything.
  run = Sim("check --min-severity warning " + Site("discharge-off") + " " + Site("unknown-key"));
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, Not(HasSubstr(" note ")));
  EXPECT_THAT(run.out, HasSubstr("warning unknown-key"));
  EXPECT_THAT(run.out, HasSubstr("2 sites: 1 clean, 1 with warnings, 0 refused\n"));
  // Text lines stay readable: long messages wrap onto indented lines.
  run = Sim("check " + Site("profile-missing"));
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("    ", 0) == 0) {
      EXPECT_LE(line.size(), 100u) << line;
    }
  }

  // A .yaml where the mode takes nothing from a profile loses nothing: a note,
  // which --strict lets pass.
  run = Sim("check --strict " + Site("profile-yaml-not-read.mode-5"));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_THAT(run.out, HasSubstr(": note profile-yaml-not-read "));
  EXPECT_EQ(Sim("check --strict " + Site("profile-yaml-not-read")).status, 1);

  // A plain file with --workdir finds its profiles there.
  run = Sim("check --workdir " + Site("ai-id-too-short") + " " +
            Site("ai-id-too-short/settings.json"));
  EXPECT_THAT(run.out, HasSubstr("/ai-id-too-short/ini/unicom/aikorvane.ini:2:1: warning "
                                 "ai-id-too-short ./ini/unicom/aikorvane.ini [AI] "));

  for (const std::string& usage :
       {std::string("check"), std::string("check --format xml x"),
        std::string("check --data-id -1 x"), "check --workdir /nonexistent " + Site("clean")}) {
    EXPECT_EQ(Sim(usage).status, 2) << usage;
  }
}

// Where the text of the settings says one thing and the reader hands the
// device another: each case's duplicate-key and json-* findings, as
// "code pointer line" joined by "; ".
TEST(Check, SettingsTextFindingsAreWhereTheReaderActs) {
  ScratchDir scratch;
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      // Inside an object that a later one of the same name replaces, nothing
      // reaches the device: only the outer key is said.
      {"{\"appSetting\": {\"b_mode\": 2, \"b_mode\": 3},\n \"appSetting\": {\"b_mode\": 2}}",
       "duplicate-key /appSetting 1"},
      // Keys compare as the reader decodes them.
      {"{\"appSetting\": {\"b_mode\": 2,\n \"b_m\\u006fde\": 2}}",
       "duplicate-key /appSetting/b_mode 1"},
      {"{\"appSetting\": {\"b_mode\": 2},\n \"thresholdSetting\": [{\"a\": 1}, {\"a\": 1, \"a\": "
       "2}]}",
       "duplicate-key /thresholdSetting/1/a 2"},
      // Comment markers and commas inside strings are text.
      {"{\"appSetting\": {\"b_mode\": 2, \"url\": \"http://x/*, }\"}}", ""},
      {"{\"appSetting\": {\"b_mode\": 2}\n /* north hall */ }", "json-lenient  2"},
      {"{\"appSetting\": {\"b_mode\": [2,]}}", "json-lenient  1"},
      // What follows the first value the device never sees; comments there
      // it skips.
      {"{\"appSetting\": {\"b_mode\": 2}}\n\n{\"appSetting\": {\"b_mode\": 3}}",
       "json-content-after-value  3"},
      {"{\"appSetting\": {\"b_mode\": 2}}\n// the north hall\n", "json-lenient  2"},
      {"{\"appSetting\": {\"b_mode\": 2,\n \"discharge_v\": +47.5}}",
       "json-number /appSetting/discharge_v 2"},
      {"{\"appSetting\": {\"b_mode\": 2, \"x1\": \"a\tb\"}}",
       "json-control-character /appSetting/x1 1"},
      {"{\"appSetting\": {\"b_mode\": 2, \"x1\": \"\\uDC00\"}}", "json-surrogate /appSetting/x1 1"},
      {"{\"appSetting\": {\"b_mode\": 2, \"x1\": \"\xB5\xE7\"}}", "json-encoding /appSetting/x1 1"},
      // Past a byte order mark, keys are still found and their lines right.
      {"\xEF\xBB\xBF{\"appSetting\": {\"b_mode\": 2,\n\"b_mode\": 2}}",
       "duplicate-key /appSetting/b_mode 1"},
      // What the reader refuses is no leniency: the file is not read.
      {"{\"appSetting\": {\"b_mode\": 0x2}}", "json-syntax  1"},
      {"{\"appSetting\": {\"discharge_v\": .5}}", "json-syntax  1"},
      {"{\"appSetting\": {\"discharge_v\": NaN}}", "json-syntax  1"},
      {"{\"appSetting\": {\"discharge_v\": 1e400}}", "json-syntax  1"},
      {"{'appSetting': {}}", "json-syntax  1"},
      {"{\"appSetting\": {\"x1\": \"\\q\"}}", "json-syntax  1"},
      {"{\"appSetting\": {\"x1\": \"\\uD800\"}}", "json-syntax  1"},
  };
  std::string sites;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    scratch.Write("site-" + std::to_string(i) + "/settings.json", cases[i].text);
    sites += " site-" + std::to_string(i);
  }
  const SimRun run = Sim("check --format json" + sites);
  const Json::Value document = ParseJson(run.out);
  ASSERT_EQ(document["sites"].size(), std::size(cases)) << run.out;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::string seen;
    for (const Json::Value& finding : document["sites"][static_cast<int>(i)]["findings"]) {
      const std::string code = finding["code"].asString();
      if (code != "duplicate-key" && code.rfind("json-", 0) != 0) continue;
      const std::string place = finding["place"].asString();
      if (!seen.empty()) seen += "; ";
      seen += code + " " + (place.rfind('/', 0) == 0 ? place : "") + " " +
              std::to_string(finding["line"].asInt());
    }
    EXPECT_EQ(seen, cases[i].expected) << cases[i].text;
  }
  // Bytes that are no UTF-8 never make the document invalid.
  scratch.Write("bytes/settings.json", "{\"appSetting\": {\"b_mode\": 2, \"\xff\xfe\": 1}}");
  const SimRun bytes = Sim("check --format json bytes");
  EXPECT_THAT(bytes.out, HasSubstr("\"place\":\"/appSetting/\xEF\xBF\xBD\xEF\xBF\xBD\""));
  EXPECT_EQ(bytes.out.find('\xff'), std::string::npos);
  // The messages say what the reader hands the device instead.
  const std::pair<const char*, const char*> said[] = {
      {"{\"appSetting\": {\"b_mode\": 2, \"discharge_v\": +047.50}}", "takes it as 47.5,"},
      {"{\"appSetting\": {\"b_mode\": 2, \"discharge_v\": -}}", "takes it as 0,"},
      {"{\"appSetting\": {\"x1\": \"\\uD800\\u0041\"}}", "joins the two into U+10041,"},
      {"{\"appSetting\": {\"x1\": \"\\uDFFF\"}}", "three bytes that are no UTF-8"},
      {"{\"appSetting\": {}}\n\n  {}", "which ends on line 1:"},
  };
  for (const auto& [text, message] : said) {
    scratch.Write("said/settings.json", text);
    const SimRun run = Sim("check --format json said");
    const Json::Value document = ParseJson(run.out);
    std::string messages;
    for (const Json::Value& finding : document["sites"][0]["findings"]) {
      if (finding["code"].asString().rfind("json-", 0) == 0)
        messages += finding["message"].asString();
    }
    EXPECT_THAT(messages, HasSubstr(message)) << text;
  }
}

// A key or text typed with a tab, a line break or another control character
// is shown escaped: each text line is a finding's head or its continuation.
TEST(Check, TextLinesStayWholeWhateverTheKeysHold) {
  ScratchDir scratch;
  scratch.Write(
      "site/settings.json",
      "{\"appSetting\": {\"b_mode\": 2, \"x\n1\": 1, \"t\tab\": \"a\rb\", \"c\x01\": 1}}");
  const SimRun run = Sim("check site");
  EXPECT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  int heads = 0;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.find_first_of("\t\r\x01"), std::string::npos) << line;
    if (line.rfind("site", 0) == 0) ++heads;
    EXPECT_TRUE(line.rfind("site", 0) == 0 || line.rfind("    ", 0) == 0 ||
                line.rfind("1 site:", 0) == 0)
        << line;
  }
  EXPECT_THAT(run.out, HasSubstr("unknown-key /appSetting/x\\n1: the device does not read "
                                 "\"x\\n1\""));
  EXPECT_THAT(run.out, HasSubstr("/appSetting/c\\u0001"));
  EXPECT_GE(heads, 4);
}

// The findings describe the device: replaying a few rounds through the
// fixture's settings shows what the finding says will happen.
TEST(Check, FindingsSayWhatTheDeviceDoes) {
  ScratchDir scratch;
  const struct {
    const char* fixture;
    const char* trace;  // rounds a minute apart on channel 1
    const char* event;  // "http": Play of each report; else CheckThresholdBool of id
    const char* id;
    const char* expected;
  } cases[] = {
      // Between the end (47) and the start (49): start and end on alternate rounds.
      {"discharge-end-below-start", "48 48 48 48", "http", "", "1010"},
      // A step of 0: a progress report every round of the discharge.
      {"discharge-step-not-positive", "47 47 47", "http", "", "111"},
      // Value 52 between the upper limit 50 and its recovery 55: raised and cleared in turn.
      {"limit-recovery-wrong-side", "5.2 5.2 5.2 5.2", "CheckThresholdBool", "130610010001",
       "1010"},
      // Threshold 0 of a too-high row: raised at 1 V.
      {"alarm-threshold-zero", "1", "CheckThresholdBool", "110610040010", "1"},
      // The later "discharge_v" (45) counts: no start at 47, a start at 44.
      {"duplicate-key", "47 44", "http", "", "1"},
      // Level -1 still checks the low row (below 47): raised at 46.
      {"alarm-level-negative", "46", "CheckThresholdBool", "110610050010", "1"},
      // "battery" (upper 50), not "alpha" (upper 60) that follows it in the file.
      {"limit-record-duplicate-signal", "5.5", "CheckThresholdBool", "130610010001", "1"},
  };
  for (const auto& c : cases) {
    std::string trace = "clock 2024-06-01 08:00:00\n";
    std::istringstream readings(c.trace);
    for (std::string reading; readings >> reading;) {
      trace += "ai 1 " + reading + "\n20001\nadvance 60\n";
    }
    scratch.Write("t.trace", trace);
    const SimRun run = Sim("--events events.jsonl --settings " + Site(c.fixture) +
                           "/settings.json --workdir " + Site(c.fixture) + " t.trace");
    ASSERT_EQ(run.status, 0) << c.fixture << run.err;
    std::string seen;
    std::istringstream events(ReadFile("events.jsonl"));
    for (std::string line; std::getline(events, line);) {
      const Json::Value event = ParseJson(line);
      if (event["event"].asString() != c.event) continue;
      if (std::string(c.event) == "http") {
        seen += event["body"].asString().substr(5, 1);  // after "Play="
      } else if (event["texts"][0].asString() == c.id || event["texts"][1].asString() == c.id) {
        seen += event["condition"].asBool() ? "1" : "0";
      }
    }
    EXPECT_EQ(seen, c.expected) << c.fixture;
  }
}

// A folder without settings of its own whose folders hold them is a fleet:
// each site below it is checked as if named, and only one level down.
TEST(Check, FolderOfSitesIsCheckedSiteBySite) {
  ScratchDir scratch;
  scratch.Write("fleet/b/settings.json",
                ReadFile((kFixtures / "discharge-end-below-start/settings.json").string()));
  scratch.Write("fleet/a/settings.json", ReadFile((kFixtures / "clean/settings.json").string()));
  scratch.Write("fleet/a/ini/telecom/aikorvane.ini",
                ReadFile((kFixtures / "clean/ini/telecom/aikorvane.ini").string()));
  scratch.Write("fleet/notes/README.md", "no site\n");
  scratch.Write("fleet/region/x/settings.json", "{}");
  scratch.Write("fleet/list.json", "{}");
  fs::create_directories("fleet/c");
  fs::create_symlink("settings.json", "fleet/c/settings.json");  // unreadable, still a site
  fs::create_directories("empty");

  SimRun run = Sim("check --format json fleet/ empty");
  EXPECT_EQ(run.status, 1) << run.err;
  Json::Value document = ParseJson(run.out);
  std::string seen;
  for (const Json::Value& site : document["sites"]) {
    seen += site["site"].asString() + (site["accepted"].asBool() ? "" : " refused");
    for (const Json::Value& finding : site["findings"]) {
      seen += " " + finding["code"].asString() + "@" + finding["file"].asString();
    }
    seen += "; ";
  }
  EXPECT_EQ(seen,
            "fleet/a; "
            "fleet/b discharge-end-below-start@fleet/b/settings.json profile-missing@; "
            "fleet/c refused settings-unreadable@fleet/c/settings.json; "
            "empty refused settings-unreadable@empty/settings.json; ");
  EXPECT_EQ(document["summary"]["sites"].asInt(), 4);

  // The README's own example, and the bundled fleet alone.
  run = Sim("check --strict '" AIKORVANE_EXAMPLES "'/*/");
  EXPECT_EQ(run.status, 0) << run.out;
  run = Sim("check --strict '" AIKORVANE_EXAMPLES "/fleet/'");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_THAT(run.out, HasSubstr("3 sites: 3 clean, 0 with warnings, 0 refused\n"));
}

TEST(Check, PluginOfAnotherBuildIsRefusedForInspection) {
  ScratchDir scratch;
  // The same plug-in with its layout record changed, as another build's would be.
  std::string bytes = ReadFile(AIKORVANE_PLUGIN_PATH);
  const std::string tag("AIKLAY1\0", 8);
  int patched = 0;
  for (auto at = bytes.find(tag); at != std::string::npos; at = bytes.find(tag, at + 1)) {
    bytes[at + tag.size()] ^= 0x08;  // sizeof(AIKorvane)
    ++patched;
  }
  ASSERT_GT(patched, 0);
  std::ofstream(scratch.path() / "other.so", std::ios::binary) << bytes;

  SimRun run = Sim("check --plugin other.so " + Site("clean"));
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("was not built from the sources of this aikorvane-sim"));
  EXPECT_TRUE(run.out.empty());
  // A replay does not need the device's state: it goes on and says what its
  // event log leaves out.
  run =
      Sim("--plugin other.so --no-receiver --events events.jsonl '" AIKORVANE_EXAMPLES "/unicom'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("its published values are not shown"));
}

}  // namespace
