// aikorvane-sim check, run as a user would: every finding code has a fixture
// site under fixtures/check/<code>/ that must yield it, the documentation
// lists exactly these codes, and the exit status follows the sites.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/writer.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/sim_run.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing_support::ParseJson;
using testing_support::ScratchDir;

const fs::path kFixtures = fs::path(AIKORVANE_SOURCE_TESTS) / "fixtures" / "check";

using testing_support::ReadFile;
using testing_support::SimRun;

SimRun Sim(const std::string& arguments) { return testing_support::RunSim(arguments); }

std::string Site(const std::string& code) { return "'" + (kFixtures / code).string() + "'"; }

// Code -> severity column of the table of codes in docs/configuration.md.
std::map<std::string, std::string> DocumentedCodes() {
  const std::string docs = ReadFile(fs::path(AIKORVANE_SOURCE_DOCS) / "configuration.md");
  std::map<std::string, std::string> codes;
  const std::regex row(R"(\n\| `([a-z-]+)` \| ([^|]+) \|)");
  for (std::sregex_iterator it(docs.begin(), docs.end(), row), end; it != end; ++it) {
    codes[(*it)[1]] = (*it)[2];
  }
  return codes;
}

TEST(Check, EveryFixtureYieldsItsCodeWithTheDocumentedSeverity) {
  ScratchDir scratch;
  std::string sites;
  std::set<std::string> fixtures;
  for (const auto& entry : fs::directory_iterator(kFixtures)) {
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
    const std::string fixture = fs::path(site["site"].asString()).filename().string();
    if (fixture == "clean") {
      EXPECT_TRUE(codes.empty()) << site;
    } else {
      EXPECT_TRUE(codes.count(fixture)) << site;
    }
  }
  EXPECT_EQ(document["summary"]["sites"].asInt(), static_cast<int>(fixtures.size()));
  EXPECT_EQ(document["summary"]["refused"].asInt(), refused);
}

TEST(Check, EveryDocumentedCodeHasAFixture) {
  const auto documented = DocumentedCodes();
  EXPECT_GE(documented.size(), 21u);
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
  EXPECT_THAT(run.out, HasSubstr("discharge-end-below-start: warning discharge-end-below-start "
                                 "/appSetting/discharge_v_end: "));
  EXPECT_THAT(run.out, HasSubstr("2 sites: 1 clean, 1 with warnings, 0 refused\n"));
  EXPECT_EQ(Sim("check --strict " + Site("discharge-end-below-start")).status, 1);
  EXPECT_EQ(Sim("check --strict " + Site("clean")).status, 0);

  // A broken site is reported with its line and column; the next is still checked.
  run = Sim("check --format json " + Site("json-syntax") + " " + Site("clean"));
  EXPECT_EQ(run.status, 1);
  const Json::Value document = ParseJson(run.out);
  EXPECT_EQ(document["sites"][0]["findings"][0]["place"].asString(), "line 4, column 5");
  EXPECT_TRUE(document["sites"][1]["accepted"].asBool());
  EXPECT_EQ(document["summary"]["clean"].asInt(), 1);

  // A plain file with --workdir finds its profiles there.
  run = Sim("check --workdir " + Site("ai-id-too-short") + " " +
            Site("ai-id-too-short/settings.json"));
  EXPECT_THAT(run.out, HasSubstr("warning ai-id-too-short ./ini/unicom/aikorvane.ini [AI] "));

  for (const std::string& usage :
       {std::string("check"), std::string("check --format xml x"),
        std::string("check --data-id -1 x"), "check --workdir /nonexistent " + Site("clean")}) {
    EXPECT_EQ(Sim(usage).status, 2) << usage;
  }
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
  run = Sim("--plugin other.so --no-receiver --events events.jsonl '" AIKORVANE_EXAMPLES
            "/unicom'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("its published values are not shown"));
}

}  // namespace
