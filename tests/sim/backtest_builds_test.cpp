// Two builds of the plug-in in one backtest: each side runs its own, the
// sites tell them apart with their first differences, the same build on
// both sides changes nothing, and shards of other builds do not merge.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/reader.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/sim_run.h"
#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::ReadFile;
using testing_support::RunSim;
using testing_support::SimRun;

const std::string kFleet = std::string(AIKORVANE_EXAMPLES) + "/fleet";
const std::string kSites = kFleet + "/north " + kFleet + "/east " + kFleet + "/west ";
const std::string kReal = AIKORVANE_PLUGIN_PATH;
const std::string kShifted = AIKORVANE_SHIFTED_PLUGIN;

Json::Value Document(const std::string& text) {
  Json::Value document;
  std::istringstream in(text);
  std::string error;
  EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &document, &error)) << error;
  return document;
}

Json::Value Backtest(const std::string& arguments) {
  const SimRun run = RunSim("backtest --format json " + arguments);
  EXPECT_EQ(run.status, 0) << arguments << "\n" << run.err;
  return Document(run.out);
}

// The other build starts its reports at 48 V: the sites must change as a
// settings change to 48 V changes them, site by site, at the same times.
TEST(Builds, ToldApartSiteBySite) {
  testing_support::ScratchDir scratch;
  scratch.Write("to-48.json", R"({"appSetting": {"discharge_v": 48.0}})");
  const Json::Value builds =
      Backtest("--baseline-plugin " + kReal + " --candidate-plugin " + kShifted + " " + kSites);
  const Json::Value patched = Backtest("--candidate-patch to-48.json " + kSites);
  ASSERT_EQ(builds["sites"].size(), 3u);
  EXPECT_GT(builds["summary"]["sites_changed"].asInt(), 0);
  for (Json::ArrayIndex i = 0; i < builds["sites"].size(); ++i) {
    const Json::Value& site = builds["sites"][i];
    EXPECT_EQ(site["changes"], patched["sites"][i]["changes"]) << site["site"].asString();
    EXPECT_EQ(site["rounds"], patched["sites"][i]["rounds"]) << site["site"].asString();
    // Said once per site, of the side whose build has no layout record.
    ASSERT_EQ(site["state_unread"].size(), 1u) << site["site"].asString();
    EXPECT_THAT(site["state_unread"][0].asString(), HasSubstr("candidate: "));
    // That build's state is not read, so its candidate is not checked.
    EXPECT_FALSE(site.isMember("check")) << site["site"].asString();
  }
  EXPECT_EQ(builds["summary"]["discharge_reports"], patched["summary"]["discharge_reports"]);
  const Json::Value& sides = builds["run"]["plugins"];
  EXPECT_EQ(sides["baseline"]["path"], kReal);
  EXPECT_EQ(sides["candidate"]["path"], kShifted);
  EXPECT_EQ(sides["baseline"]["build_id"].asString().size(), 40u);
  EXPECT_NE(sides["baseline"]["build_id"], sides["candidate"]["build_id"]);
  EXPECT_TRUE(sides["baseline"]["version"].isString());
  EXPECT_TRUE(sides["candidate"]["version"].isNull());
  EXPECT_TRUE(sides["baseline"]["state_read"].asBool());
  EXPECT_FALSE(sides["candidate"]["state_read"].asBool());
}

TEST(Builds, ReportsNameBothBuildsAndTheUnreadStateOnce) {
  testing_support::ScratchDir scratch;
  const std::string both = "--baseline-plugin " + kReal + " --candidate-plugin " + kShifted + " ";
  const SimRun text = RunSim("backtest " + both + kSites);
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_THAT(text.out, HasSubstr("plug-ins: baseline " + kReal + " ("));
  EXPECT_THAT(text.out, HasSubstr(", candidate " + kShifted + " (no version reported, build id "));
  const std::string unread = "candidate plug-in " + kShifted + ": built without";
  const size_t at = text.out.find(unread);
  ASSERT_NE(at, std::string::npos) << text.out;
  EXPECT_EQ(text.out.find(unread, at + 1), std::string::npos) << text.out;
  EXPECT_THAT(text.out, HasSubstr("east: discharge reports 8 -> 6 (first differences: "));

  for (const char* format : {"--format markdown", "--html page.html"}) {
    const SimRun run = RunSim("backtest " + both + format + " " + kSites);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string out =
        std::string(format) == "--html page.html" ? ReadFile("page.html") : run.out;
    EXPECT_THAT(out, HasSubstr(kShifted)) << format;
    EXPECT_THAT(out, HasSubstr("no version reported")) << format;
    EXPECT_THAT(out, HasSubstr("built without")) << format;
  }
}

// The same build on both sides, by one path or by two, is no change; with a
// patch it gives what the patch alone gives.
TEST(Builds, SameBuildChangesNothing) {
  testing_support::ScratchDir scratch;
  std::filesystem::copy_file(kReal, "copy.so");
  const std::string copy = std::filesystem::absolute("copy.so").string();
  for (const std::string& baseline : {kReal, copy}) {
    const Json::Value same =
        Backtest("--baseline-plugin " + baseline + " --candidate-plugin " + kReal + " " + kSites);
    EXPECT_EQ(same["summary"]["sites_changed"].asInt(), 0) << baseline;
    for (const Json::Value& site : same["sites"]) {
      EXPECT_EQ(site["changes"].size(), 0u) << baseline << " " << site["site"].asString();
      EXPECT_FALSE(site.isMember("state_unread")) << site["site"].asString();
    }
    const SimRun text = RunSim("backtest --baseline-plugin " + baseline + " " + kSites);
    EXPECT_THAT(text.out, Not(HasSubstr("built without")));
  }
  const std::string patch = "--candidate-patch " + kFleet + "/candidate-patch.json ";
  const Json::Value alone = Backtest(patch + kSites);
  const Json::Value copied = Backtest(patch + "--baseline-plugin " + copy + " " + kSites);
  EXPECT_EQ(copied["sites"], alone["sites"]);
  EXPECT_EQ(copied["summary"], alone["summary"]);
  // The shifted build against itself is no change either.
  const Json::Value shifted =
      Backtest("--baseline-plugin " + kShifted + " --candidate-plugin " + kShifted + " " + kSites);
  EXPECT_EQ(shifted["summary"]["sites_changed"].asInt(), 0);
}

// The older build as baseline: the candidate's state is read, so its
// settings are checked; only the baseline's is said to be unread.
TEST(Builds, UnreadBaselineLeavesTheCandidatesCheck) {
  testing_support::ScratchDir scratch;
  const Json::Value run = Backtest("--candidate-patch " + kFleet + "/candidate-patch.json " +
                                   "--baseline-plugin " + kShifted + " " + kSites);
  for (const Json::Value& site : run["sites"]) {
    ASSERT_EQ(site["state_unread"].size(), 1u) << site["site"].asString();
    EXPECT_THAT(site["state_unread"][0].asString(), HasSubstr("baseline: "));
    EXPECT_TRUE(site["check"].isObject()) << site["site"].asString();
  }
  EXPECT_TRUE(run["run"]["plugins"]["candidate"]["state_read"].asBool());
}

// A build that cannot be used is a usage error naming it, before any site runs.
TEST(Builds, UnusableBuildsRefused) {
  testing_support::ScratchDir scratch;
  scratch.Write("not-elf.so", "not a library\n");
  const std::string patch = "--candidate-patch " + kFleet + "/candidate-patch.json ";
  const struct {
    std::string options, refusal;
  } refused[] = {
      {"--baseline-plugin missing.so", "missing.so"},
      {"--candidate-plugin missing.so", "missing.so"},
      {"--baseline-plugin not-elf.so", "cannot load plug-in"},
      {"--candidate-plugin " + kFleet + "/candidate-patch.json", "cannot load plug-in"},
  };
  for (const auto& c : refused) {
    const SimRun run = RunSim("backtest " + patch + c.options + " " + kSites);
    EXPECT_EQ(run.status, 2) << c.options;
    EXPECT_THAT(run.err, HasSubstr(c.refusal)) << c.options;
    EXPECT_EQ(run.out, "") << c.options;
  }
}

// A build is part of the run: shards of other builds are refused, shards of
// one build kept at other paths merge.
TEST(Builds, MergeTakesOnlyShardsOfTheSameBuilds) {
  testing_support::ScratchDir scratch;
  std::filesystem::copy_file(kReal, "copy.so");
  const auto shard = [&](const std::string& file, const std::string& arguments) {
    const SimRun run = RunSim("backtest --format json --candidate-patch " + kFleet +
                              "/candidate-patch.json " + arguments + " " + kSites);
    std::ofstream(file) << run.out;
    ASSERT_EQ(run.status, 0) << run.err;
  };
  shard("s1.json", "--shard 1/2");
  shard("s2-copy.json", "--shard 2/2 --baseline-plugin copy.so --candidate-plugin copy.so");
  shard("s2-shifted.json", "--shard 2/2 --candidate-plugin " + kShifted);
  const SimRun merged = RunSim("backtest --format json --merge s1.json s2-copy.json");
  EXPECT_EQ(merged.status, 0) << merged.err;
  const SimRun refused = RunSim("backtest --merge s1.json s2-shifted.json");
  EXPECT_EQ(refused.status, 2);
  EXPECT_THAT(refused.err, HasSubstr("(their \"plugins\" differs)"));
}

}  // namespace
