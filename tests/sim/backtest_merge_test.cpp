// What makes a backtest's run, recorded in its documents, and the merge
// that takes only every shard of one run, each once.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/reader.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/backtest/run_record.h"
#include "sim/host/bounded_read.h"
#include "support/sim_run.h"
#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using testing_support::ReadFile;
using testing_support::RunSim;
using testing_support::SimRun;
namespace fs = std::filesystem;

const std::string kFleet = std::string(AIKORVANE_EXAMPLES) + "/fleet";
const std::string kFixtures = std::string(AIKORVANE_SOURCE_TESTS) + "/fixtures/backtest";
const std::string kSites = kFleet + "/north " + kFleet + "/east " + kFleet + "/west ";
const std::string kPatch = "--candidate-patch " + kFleet + "/candidate-patch.json ";

Json::Value Document(const std::string& text) {
  Json::Value document;
  std::istringstream in(text);
  std::string error;
  EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &document, &error)) << error;
  return document;
}

// Runs the backtest into FILE; its status.
int Shard(const std::string& file, const std::string& arguments) {
  const SimRun run = RunSim("backtest --format json " + arguments);
  std::ofstream(file) << run.out;
  return run.status;
}

TEST(RunRecord, Hashes) {
  // FIPS 180-2's example.
  EXPECT_EQ(sim::cli::Sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  testing_support::ScratchDir scratch;
  scratch.Write("c/a/settings.json", "{}");
  std::string first, second, error;
  ASSERT_TRUE(sim::cli::FolderHash("c", first, error)) << error;
  scratch.Write("c/a/ini/x.ini", "");  // a new file, even empty, is another candidate
  ASSERT_TRUE(sim::cli::FolderHash("c", second, error)) << error;
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind("sha256:", 0), 0u);

  // The plug-in's build id as binutils reads it.
  const std::string plugin = AIKORVANE_PLUGIN_PATH;
  const std::string command = "readelf -n '" + plugin + "' 2>/dev/null >notes.txt";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "no readelf";
  const std::string id = sim::cli::BuildId(plugin, error);
  ASSERT_FALSE(id.empty()) << error;
  EXPECT_THAT(ReadFile("notes.txt"), HasSubstr("Build ID: " + id + "\n"));
  EXPECT_EQ(sim::cli::BuildId(kFleet + "/candidate-patch.json", error), "");
  EXPECT_FALSE(error.empty());
}

TEST(Merge, RecordsTheRun) {
  testing_support::ScratchDir scratch;
  ASSERT_EQ(Shard("whole.json", kPatch + kSites), 0);
  const Json::Value run = Document(ReadFile("whole.json"))["run"];
  EXPECT_EQ(run["shard"], "1/1");
  EXPECT_EQ(run["tz"], "UTC");
  EXPECT_EQ(run["bad_rows"], "fail");
  EXPECT_EQ(run["sites"], Document(R"(["east", "north", "west"])"));
  EXPECT_EQ(run["plugins"]["baseline"]["build_id"].asString().size(), 40u);
  EXPECT_EQ(run["plugins"]["candidate"], run["plugins"]["baseline"]);
  // The same patch written otherwise is the same candidate.
  ASSERT_EQ(Shard("again.json",
                  "--candidate-patch " + kFixtures + "/candidate-patch-reformatted.json " + kSites),
            0);
  EXPECT_EQ(Document(ReadFile("again.json"))["run"], run);
  // A shard records the whole fleet's names, not its share's.
  ASSERT_EQ(Shard("s2.json", kPatch + "--shard 2/3 " + kSites), 0);
  const Json::Value shard = Document(ReadFile("s2.json"));
  EXPECT_EQ(shard["run"]["sites"], run["sites"]);
  EXPECT_EQ(shard["run"]["shard"], "2/3");
  EXPECT_EQ(shard["sites"].size(), 1u);
}

// The merge of every shard writes the report a whole run writes; anything
// but every shard of one run, each once, is refused naming the files.
TEST(Merge, OnlyEveryShardOfOneRun) {
  testing_support::ScratchDir scratch;
  const SimRun whole = RunSim("backtest --format json --html whole.html " + kPatch + kSites);
  ASSERT_EQ(whole.status, 0) << whole.err;
  for (const char* k : {"1", "2", "3"}) {
    ASSERT_EQ(Shard(std::string("s") + k + ".json", kPatch + "--shard " + k + "/3 " + kSites), 0);
  }
  const SimRun merged =
      RunSim("backtest --format json --merge s1.json s2.json s3.json --html m.html");
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.out, whole.out);
  EXPECT_EQ(ReadFile("m.html"), ReadFile("whole.html"));
  EXPECT_THAT(ReadFile("m.html"), HasSubstr("<svg"));

  ASSERT_EQ(setenv("TZ", "Europe/Paris", 1), 0);
  ASSERT_EQ(Shard("other-tz.json", kPatch + "--shard 3/3 " + kSites), 0);
  ASSERT_EQ(unsetenv("TZ"), 0);
  ASSERT_EQ(Shard("other-patch.json", "--candidate-patch " + kFixtures +
                                          "/every-member-read.json --shard 3/3 " + kSites),
            0);
  ASSERT_EQ(Shard("of-two.json", kPatch + "--shard 2/2 " + kSites), 0);
  ASSERT_EQ(Shard("fewer-sites.json", kPatch + "--shard 3/3 " + kFleet + "/north"), 0);
  Json::Value cut = Document(ReadFile("s1.json"));
  cut["sites"].resize(0);
  std::ofstream("cut.json") << cut.toStyledString();
  // Past the bound of a shard's document: refused from its size, unread.
  std::ofstream("huge.json").close();
  std::filesystem::resize_file("huge.json", sim::cli::kMaxShardDocumentBytes + 1);
  const std::string old = kFixtures + "/shard-without-run.json";
  const struct {
    std::string files, refusal;
  } refused[] = {
      {"s1.json s2.json", "shard 3/3 is missing (given: s1.json s2.json)"},
      {"s1.json s2.json s2.json s3.json", "s2.json and s2.json are both shard 2/3"},
      {"s1.json s2.json other-tz.json",
       "s1.json and other-tz.json are documents of different runs (their \"tz\" differs)"},
      {"s1.json s2.json other-patch.json", "(their \"candidate\" differs)"},
      {"s1.json s2.json fewer-sites.json", "(their \"sites\" differs)"},
      {"s1.json of-two.json s3.json", "s1.json and of-two.json are shards of different counts"},
      {"of-two.json s1.json", "of-two.json and s1.json are shards of different counts"},
      {old, old + ": no record of its run"},
      {"s1.json huge.json s3.json", "huge.json: cannot be read: larger than 1024 MiB"},
      {"cut.json s2.json s3.json",
       "the shards hold 2 sites, their run 3 (a document cut short?): cut.json s2.json s3.json"},
  };
  for (const auto& c : refused) {
    const SimRun run = RunSim("backtest --merge " + c.files);
    EXPECT_EQ(run.status, 2) << c.files;
    EXPECT_THAT(run.err, HasSubstr(c.refusal)) << c.files;
    EXPECT_EQ(run.out, "") << c.files;
  }
}

}  // namespace
