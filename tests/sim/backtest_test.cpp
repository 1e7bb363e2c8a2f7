// The backtest: its merge patch, shares and counts on their own, then the
// command on the bundled fleet and on sites made to fail.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/backtest/fleet.h"
#include "sim/backtest/merge_patch.h"
#include "sim/backtest/tally.h"
#include "sim/report/analysis.h"
#include "support/sim_run.h"
#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using testing_support::ParseJson;
using testing_support::RunSim;
using testing_support::SimRun;
namespace fs = std::filesystem;

const std::string kFleet = std::string(AIKORVANE_EXAMPLES) + "/fleet";
const std::string kFixtures = std::string(AIKORVANE_SOURCE_TESTS) + "/fixtures/backtest";

// The examples of RFC 7386, appendix A.
TEST(MergePatch, RfcExamples) {
  const struct {
    const char *target, *patch, *result;
  } cases[] = {
      {R"({"a":"b"})", R"({"a":"c"})", R"({"a":"c"})"},
      {R"({"a":"b"})", R"({"b":"c"})", R"({"a":"b","b":"c"})"},
      {R"({"a":"b"})", R"({"a":null})", R"({})"},
      {R"({"a":"b","b":"c"})", R"({"a":null})", R"({"b":"c"})"},
      {R"({"a":["b"]})", R"({"a":"c"})", R"({"a":"c"})"},
      {R"({"a":"c"})", R"({"a":["b"]})", R"({"a":["b"]})"},
      {R"({"a":{"b":"c"}})", R"({"a":{"b":"d","c":null}})", R"({"a":{"b":"d"}})"},
      {R"({"a":[{"b":"c"}]})", R"({"a":[1]})", R"({"a":[1]})"},
      {R"(["a","b"])", R"(["c","d"])", R"(["c","d"])"},
      {R"({"a":"b"})", R"(["c"])", R"(["c"])"},
      {R"({"a":"foo"})", "null", "null"},
      {R"({"a":"foo"})", R"("bar")", R"("bar")"},
      {R"({"e":null})", R"({"a":1})", R"({"e":null,"a":1})"},
      {R"([1,2])", R"({"a":"b","c":null})", R"({"a":"b"})"},
      {R"({})", R"({"a":{"bb":{"ccc":null}}})", R"({"a":{"bb":{}}})"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sim::cli::ApplyMergePatch(ParseJson(c.target), ParseJson(c.patch)),
              ParseJson(c.result))
        << c.target << " + " << c.patch;
  }
}

TEST(Shards, EverySiteInExactlyOneShard) {
  std::vector<sim::cli::SiteFolder> sites;
  for (const char* name : {"a", "b", "c", "d", "e"}) sites.push_back({name, name});
  for (int count = 1; count <= 6; ++count) {
    std::string seen;
    for (int index = 1; index <= count; ++index) {
      for (const auto& site : sim::cli::ShardOf(sites, {index, count})) seen += site.name;
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, "abcde") << count << " shards";
  }
  sim::cli::Shard shard;
  std::string error;
  EXPECT_TRUE(sim::cli::ParseShard("2/3", shard, error));
  EXPECT_EQ(shard.index, 2);
  for (const char* bad : {"0/3", "4/3", "3", "a/b", "1/0", "-1/2", "1/2/3", ""}) {
    EXPECT_FALSE(sim::cli::ParseShard(bad, shard, error)) << bad;
  }
}

// Rounds of two sides as (time, baseline condition, candidate condition) of
// one alarm: what changed, and the first rounds in which the sides differ.
TEST(Changes, KindsAndFirstDifferences) {
  const struct {
    std::time_t time;
    bool b, c;
  } rounds[] = {{100, false, false}, {160, true, false}, {220, true, true},
                {280, false, false}, {340, true, false}, {400, true, false}};
  sim::cli::Analyser baseline, candidate;
  sim::cli::RoundComparer comparer;
  int round = 0;
  for (const auto& r : rounds) {
    sim::cli::RoundMarks b, c;
    baseline.BeginRound(++round, r.time, true);
    candidate.BeginRound(round, r.time, true);
    baseline.AlarmChecked({"A", "low", r.b});
    candidate.AlarmChecked({"A", "low", r.c});
    if (r.b && (round == 2 || round == 5)) b.raised.push_back("A");
    if (r.c && round == 3) c.raised.push_back("A");
    if (round == 2) b.discharge = "1 ";
    comparer.Compare(r.time, b, c);
  }
  const auto changes = sim::cli::Changes(baseline.Result(), candidate.Result(), comparer);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].kind, "alarm_raises");
  EXPECT_EQ(changes[0].baseline, 2);
  EXPECT_EQ(changes[0].candidate, 1);
  EXPECT_EQ(changes[0].first_differences, (std::vector<std::time_t>{160, 220, 340}));
  EXPECT_EQ(changes[1].kind, "discharge_reports");
  EXPECT_EQ(changes[1].first_differences, (std::vector<std::time_t>{160}));
}

Json::Value Document(const SimRun& run) {
  Json::Value document;
  Json::CharReaderBuilder builder;
  std::string error;
  std::istringstream in(run.out);
  EXPECT_TRUE(Json::parseFromStream(builder, in, &document, &error)) << error << run.err;
  return document;
}

const Json::Value& SiteOf(const Json::Value& document, const std::string& name) {
  for (const Json::Value& site : document["sites"]) {
    if (site["site"].asString() == name) return site;
  }
  ADD_FAILURE() << "no site " << name;
  return Json::Value::nullSingleton();
}

std::vector<std::string> Kinds(const Json::Value& site) {
  std::vector<std::string> kinds;
  for (const Json::Value& change : site["changes"]) {
    kinds.push_back(change["kind"].asString() + " " + change["alarm"].asString());
  }
  return kinds;
}

class Backtest : public ::testing::Test {
 protected:
  testing_support::ScratchDir scratch_;
  const std::string fleet_ = kFleet + "/north " + kFleet + "/east " + kFleet + "/west ";
  const std::string patch_ = "--candidate-patch " + kFleet + "/candidate-patch.json ";
};

TEST_F(Backtest, BundledFleet) {
  const SimRun run = RunSim("backtest --format json " + patch_ + fleet_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const Json::Value document = Document(run);
  ASSERT_EQ(document["sites"].size(), 3u);
  EXPECT_EQ(document["sites"][0]["site"], "east");  // by name
  // The deep discharge no longer raises the low and very-low alarms.
  const Json::Value& north = SiteOf(document, "north");
  EXPECT_EQ(north["rounds"], 3 * 1440);
  EXPECT_EQ(north["from"], "2026-11-02T00:00:00+00:00");
  EXPECT_THAT(Kinds(north), ::testing::IsSupersetOf({"alarm_only_baseline 110610050010",
                                                     "alarm_only_baseline 110610060010"}));
  // The flapping alarm is gone.
  const Json::Value& west = SiteOf(document, "west");
  EXPECT_GT(west["baseline"]["alarms"]["110610050010"]["raised"].asInt(), 5);
  EXPECT_THAT(Kinds(west), ::testing::Contains("alarm_only_baseline 110610050010"));
  // A lower start voltage: fewer discharge reports of the shallow discharges.
  const Json::Value& east = SiteOf(document, "east");
  EXPECT_GT(east["baseline"]["discharge_reports"].asInt(),
            east["candidate"]["discharge_reports"].asInt());
  EXPECT_EQ(document["summary"]["sites_changed"], 3);

  const SimRun text = RunSim("backtest " + patch_ + fleet_);
  EXPECT_EQ(text.status, 0);
  EXPECT_THAT(
      text.out,
      HasSubstr("north: 110610050010 001#48V蓄电池电压过低: raised 1 -> 0, no longer raised"));
  EXPECT_THAT(text.out, HasSubstr("fleet: 3 sites, 3 changed, 0 failed, 12960 rounds"));
}

// Shards merged give the document of the whole run, byte for byte, and so
// does one thread.
TEST_F(Backtest, ShardsMergedAndThreadsGiveTheWholeRun) {
  // The two delayed sites fall into different shards: the fleet's median is
  // of both sites' delays, not of the shards' medians.
  const std::string json = "backtest --format json " + patch_ + fleet_ + kFixtures + "/delays " +
                           kFixtures + "/delays-close ";
  const SimRun whole = RunSim(json);
  ASSERT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(
      Document(whole)["summary"]["alarms_delayed"]["110610050010"]["delayed"]["median_seconds"],
      (2054 + 197) / 2.0);
  const SimRun one = RunSim(json + "--jobs 1");
  EXPECT_EQ(one.out, whole.out) << one.err;
  std::string shards;
  for (const char* shard : {"1/2", "2/2"}) {
    const std::string file = std::string("shard-") + shard[0] + ".json";
    const SimRun run = RunSim(json + "--shard " + shard);
    ASSERT_EQ(run.status, 0) << run.err;
    std::ofstream(file) << run.out;
    shards += " " + file;
  }
  EXPECT_EQ(RunSim("backtest --format json --merge" + shards).out, whole.out);
  // GNU parallel, as docs/backtest.md runs the shards.
  if (std::system("parallel --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no GNU parallel";
  const std::string command = "parallel --will-cite '" AIKORVANE_SIM_EMULATOR " " AIKORVANE_SIM_PATH
                              " " +
                              json + "--shard {}/3 > p{}.json' ::: 1 2 3";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(RunSim("backtest --format json --merge p1.json p2.json p3.json").out, whole.out);
}

// Rows of the delays fixture (the current loop's mA, 5 V per mA above 4 mA):
//   16:00:00 53.50 V, 16:01:43 46.75 V, 16:20:00 46.75 V, 16:35:57 45.75 V,
//   16:50:00 53.50 V, 17:10:00 45.75 V, 17:20:00 53.50 V, 17:20:30 45.75 V,
//   17:21:00 53.50 V.
// The low alarm 110610050010 holds below 47.0 V (baseline) or 46.0 V
// (candidate). Baseline: raised 16:01:43, 17:10:00, 17:20:30, cleared
// 16:50:00, 17:20:00, 17:21:00: 2897 + 600 + 30 = 3527 s raised. Candidate:
// raised 16:35:57, 17:10:00, 17:20:30: 843 + 600 + 30 = 1473 s. The first
// raises lie 34m14s (2054 s) apart; only those rounds differ. The raise at
// 17:20:30, 30 s after a clear, is flapping on both sides. The very low alarm
// (46.5 V baseline, 45.5 V candidate) is no longer raised at all.
// delays-close is the same with the 45.75 V row at 16:05:00 and no row at
// 16:20:00 or 16:35:57: a delay of 197 s.
TEST_F(Backtest, DelaysOfHandWorkedFirstRaises) {
  const std::string sites = kFixtures + "/delays " + kFixtures + "/delays-close";
  const SimRun run = RunSim("backtest --format json " + patch_ + sites);
  ASSERT_EQ(run.status, 0) << run.err;
  const Json::Value document = Document(run);
  const Json::Value& delays = SiteOf(document, "delays");
  ASSERT_EQ(Kinds(delays), (std::vector<std::string>{"alarm_delay 110610050010",
                                                     "alarm_only_baseline 110610060010"}));
  const Json::Value& low = delays["changes"][0];
  EXPECT_EQ(low["first_raised"], ParseJson(R"({"baseline": "2026-03-27T16:01:43+00:00",
                                               "candidate": "2026-03-27T16:35:57+00:00"})"));
  EXPECT_EQ(low["delay_seconds"], 2054);
  EXPECT_EQ(low["baseline"], 3);
  EXPECT_EQ(low["candidate"], 3);
  EXPECT_EQ(low["first_differences"].size(), 2u);
  // A side that never raises the alarm has no first raise to compare.
  EXPECT_FALSE(delays["changes"][1].isMember("delay_seconds"));
  EXPECT_FALSE(delays["changes"][1].isMember("first_raised"));
  const Json::Value& b = delays["baseline"]["alarms"]["110610050010"];
  const Json::Value& c = delays["candidate"]["alarms"]["110610050010"];
  EXPECT_EQ(b["seconds_raised"], 3527);
  EXPECT_EQ(c["seconds_raised"], 1473);
  EXPECT_EQ(b["flapping"], 1);
  EXPECT_EQ(c["flapping"], 1);
  EXPECT_EQ(SiteOf(document, "delays-close")["changes"][0]["delay_seconds"], 197);
  EXPECT_EQ(document["summary"]["alarms_delayed"]["110610050010"]["delayed"],
            ParseJson(R"({"sites": 2, "largest_seconds": 2054, "median_seconds": 1125.5})"));
  EXPECT_FALSE(document["summary"]["alarms_delayed"].isMember("110610060010"));

  const SimRun text = RunSim("backtest " + patch_ + sites);
  EXPECT_THAT(text.out, HasSubstr("delays: 110610050010 001#48V蓄电池电压过低: raised 3 -> 3, "
                                  "first raised 2026-03-27 16:01:43 -> 16:35:57 (+34m14s), "
                                  "time raised 58m47s -> 24m33s, flapping 1 -> 1 ("));
  EXPECT_THAT(text.out, HasSubstr("110610060010 001#48V蓄电池电压超低: raised 3 -> 0, no longer "
                                  "raised, time raised 24m33s -> 0s, flapping 1 -> 0 ("));
  EXPECT_THAT(text.out, HasSubstr("  110610050010 001#48V蓄电池电压过低: raised 6 -> 6, raised "
                                  "later at 2 sites, by up to +34m14s, median +18m45s\n"));

  // The page's fleet row reads the same summary: two sites, the largest and the median delay.
  const SimRun html = RunSim("backtest --html delays.html " + patch_ + sites);
  ASSERT_EQ(html.status, 0) << html.err;
  EXPECT_THAT(testing_support::ReadFile("delays.html"),
              HasSubstr("<td class=\"n\">2</td><td class=\"n\">+34m14s</td><td "
                        "class=\"n\">+18m45s</td>"));
}

// The Markdown of two delayed sites and one whose alarm is gone, against the
// file it must give.
TEST_F(Backtest, MarkdownForAChangeRequest) {
  const std::string expected = testing_support::ReadFile(kFixtures + "/delays.md");
  const std::string arguments = "--candidate-patch " + kFixtures + "/delays-patch.json " +
                                kFixtures + "/delays " + kFixtures + "/delays-close " + kFleet +
                                "/west ";
  const SimRun run = RunSim("backtest --format markdown " + arguments);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, expected);
}

// Each bad site is an error of its own with its file and line; the others
// still run and the exit status is 1.
TEST_F(Backtest, BadSitesDoNotStopTheOthers) {
  const SimRun run =
      RunSim("backtest --format json " + patch_ + kFleet + "/east " + kFixtures + "/no-history " +
             kFixtures + "/empty-csv " + kFixtures + "/overlap " + kFixtures + "/gap");
  EXPECT_EQ(run.status, 1) << run.err;
  const Json::Value document = Document(run);
  EXPECT_THAT(SiteOf(document, "no-history")["error"].asString(), HasSubstr("no history folder"));
  EXPECT_THAT(SiteOf(document, "empty-csv")["error"].asString(),
              HasSubstr("history/2026-11-02.csv: no rows"));
  EXPECT_THAT(SiteOf(document, "overlap")["error"].asString(),
              HasSubstr("overlap/history/b.csv:2: time is before the end of a.csv"));
  EXPECT_FALSE(SiteOf(document, "east").isMember("error"));
  // Files in time order, whatever their names; the gap counts as time raised.
  const Json::Value& gap = SiteOf(document, "gap");
  EXPECT_FALSE(gap.isMember("error")) << gap["error"].asString();
  EXPECT_EQ(gap["from"], "2026-11-01T00:00:00+00:00");
  EXPECT_EQ(gap["baseline"]["alarms"]["110610050010"]["seconds_raised"], 2 * 86400);
  EXPECT_EQ(document["summary"]["sites_failed"], 3);
}

// A row that cannot be read fails its site at FILE:LINE; with --bad-rows
// skip it is no round and the site's result counts it. nan and inf are
// readings, not bad rows.
TEST_F(Backtest, BadRowsFailTheSiteOrAreSkippedAndCounted) {
  const std::string site = kFixtures + "/bad-rows";
  SimRun run = RunSim("backtest --format json " + patch_ + site);
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(SiteOf(Document(run), "bad-rows")["error"].asString(),
              HasSubstr("bad-rows/history/a.csv:2: unreadable value \"53.5V\""));

  run = RunSim("backtest --format json --bad-rows skip " + patch_ + site);
  EXPECT_EQ(run.status, 0) << run.err;
  const Json::Value skipped = SiteOf(Document(run), "bad-rows");
  EXPECT_FALSE(skipped.isMember("error")) << skipped["error"].asString();
  EXPECT_EQ(skipped["rounds"], 5);
  EXPECT_EQ(skipped["from"], "2026-11-03T00:01:00+00:00");
  EXPECT_EQ(skipped["skipped_rows"], 4);
  std::vector<std::string> where;
  for (const Json::Value& place : skipped["skipped_first"]) {
    const std::string text = place.asString();
    where.push_back(text.substr(text.find("history/")));
  }
  EXPECT_EQ(where, (std::vector<std::string>{"history/a.csv:2", "history/a.csv:4",
                                             "history/a.csv:5", "history/b.csv:4"}));
  run = RunSim("backtest --bad-rows skip " + patch_ + site);
  EXPECT_THAT(run.out, HasSubstr("bad-rows: 4 bad rows skipped, first at "));
  EXPECT_EQ(RunSim("backtest --bad-rows drop " + patch_ + site).status, 2);
}

// A logger writing local time, one file an hour: the file of the repeated
// autumn hour follows the one of its first pass.
TEST_F(Backtest, HourlyFilesAcrossTheAutumnChangeAreOneHistory) {
  setenv("TZ", "Europe/Berlin", 1);
  const SimRun run = RunSim("backtest --format json " + patch_ + kFixtures + "/autumn-hourly");
  unsetenv("TZ");
  EXPECT_EQ(run.status, 0) << run.err;
  const Json::Value site = SiteOf(Document(run), "autumn-hourly");
  EXPECT_FALSE(site.isMember("error")) << site["error"].asString();
  EXPECT_EQ(site["rounds"], 8);
  EXPECT_EQ(site["from"], "2026-10-25T01:50:00+02:00");
  EXPECT_EQ(site["to"], "2026-10-25T03:10:00+01:00");
}

TEST_F(Backtest, RefusedSettingsAndUsageErrors) {
  SimRun run = RunSim("backtest --format json --candidate-patch " + kFixtures + "/refused.json " +
                      kFleet + "/east");
  EXPECT_EQ(run.status, 1);
  const Json::Value refused = Document(run);
  const Json::Value& east = SiteOf(refused, "east");
  EXPECT_EQ(east["candidate"]["accepted"], false);
  EXPECT_THAT(east["error"].asString(), HasSubstr("the candidate settings are refused"));

  const struct {
    std::string arguments, message;
  } usage[] = {
      {"--candidate-patch " + kFixtures + "/not-json.json " + kFleet + "/east", "not JSON"},
      {"--candidate-patch " + kFixtures + "/array.json " + kFleet + "/east", "JSON object"},
      {"--candidate " + kFixtures + "/nowhere " + kFleet + "/east", "not a folder"},
      {kFleet + "/east", "--candidate"},
      {patch_ + kFleet + "/east " + kFixtures + "/../../../examples/fleet/east", "two sites"},
      {patch_ + "--shard 3/2 " + kFleet + "/east", "K/N"},
  };
  for (const auto& c : usage) {
    run = RunSim("backtest " + c.arguments);
    EXPECT_EQ(run.status, 2) << c.arguments;
    EXPECT_THAT(run.err, HasSubstr(c.message)) << c.arguments;
  }
  // A candidate folder without the site's folder is an error of that site.
  run = RunSim("backtest --candidate " + kFixtures + " " + kFleet + "/east");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.out, HasSubstr("east: error: "));
  EXPECT_THAT(run.out, HasSubstr("has no folder for this site"));
}

// Every entry of history/ is read or named: ".csv" in any case is read,
// anything else is named in the site's result, and an entry named *.csv
// that holds no readable rows is an error of the site.
TEST_F(Backtest, EveryHistoryEntryReadOrNamed) {
  fs::copy(kFixtures + "/entries", "entries", fs::copy_options::recursive);
  // Made here: a FIFO and links that lead nowhere have no place in a checkout.
  ASSERT_EQ(mkfifo("entries/history/pipe", 0600), 0);
  fs::create_symlink("nowhere.txt", "entries/history/gone");
  fs::create_symlink("loop", "entries/history/loop");
  const SimRun run = RunSim("backtest --format json " + patch_ + "entries");
  EXPECT_EQ(run.status, 0) << run.err;
  const Json::Value document = Document(run);
  const Json::Value& site = SiteOf(document, "entries");
  EXPECT_FALSE(site.isMember("error")) << site["error"].asString();
  EXPECT_EQ(site["from"], "2026-11-01T00:00:00+00:00");  // from 2026-11-01.CSV
  EXPECT_EQ(site["rounds"], 4);
  EXPECT_EQ(site["skipped"], ParseJson(R"([
    "history/gone: a link that leads nowhere",
    "history/loop: a link loop",
    "history/notes.txt: not a .csv file",
    "history/old: a folder",
    "history/pipe: a FIFO"])"));
  EXPECT_THAT(RunSim("backtest " + patch_ + "entries").out,
              HasSubstr("entries: skipped history/notes.txt: not a .csv file\n"));

  const struct {
    const char* name;
    void (*make)(const fs::path&);
    const char* error;
  } unreadable[] = {
      {"folder", [](const fs::path& p) { fs::create_directory(p); }, "a folder"},
      {"fifo", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, "a FIFO"},
      {"dangling", [](const fs::path& p) { fs::create_symlink("gone.csv", p); },
       "a link that leads nowhere"},
      {"loop", [](const fs::path& p) { fs::create_symlink(p.filename(), p); }, "a link loop"},
  };
  for (const auto& c : unreadable) {
    fs::copy(kFixtures + "/gap", c.name, fs::copy_options::recursive);
    c.make(fs::path(c.name) / "history" / "x.csv");
    const SimRun bad = RunSim("backtest --format json " + patch_ + c.name);
    EXPECT_EQ(bad.status, 1) << c.name << bad.err;
    EXPECT_THAT(SiteOf(Document(bad), c.name)["error"].asString(),
                HasSubstr(std::string(c.name) + "/history/x.csv: cannot be read: " + c.error));
  }
}

// A site that fails part-way keeps its figures in its own result, marked
// partial, and adds nothing to the fleet's.
TEST_F(Backtest, FailedSiteOutOfTheFleetTotals) {
  const SimRun alone = RunSim("backtest --format json " + patch_ + kFleet + "/east");
  ASSERT_EQ(alone.status, 0) << alone.err;
  const SimRun run =
      RunSim("backtest --format json " + patch_ + kFleet + "/east " + kFixtures + "/breaks");
  EXPECT_EQ(run.status, 1) << run.err;
  const Json::Value document = Document(run);
  const Json::Value& breaks = SiteOf(document, "breaks");
  EXPECT_THAT(breaks["error"].asString(), HasSubstr("breaks/history/2026-11-02.csv:5: "));
  EXPECT_EQ(breaks["partial"], true);
  EXPECT_EQ(breaks["rounds"], 3);
  EXPECT_FALSE(breaks["changes"].empty());  // it changed before it broke
  Json::Value summary = Document(alone)["summary"];
  summary["sites"] = 2;
  summary["sites_failed"] = 1;
  EXPECT_EQ(document["summary"], summary);
  EXPECT_FALSE(SiteOf(document, "east").isMember("partial"));
  // Failed before its first round: no figures, nothing partial.
  const Json::Value none =
      Document(RunSim("backtest --format json " + patch_ + kFixtures + "/no-history"));
  EXPECT_FALSE(SiteOf(none, "no-history").isMember("partial"));
  EXPECT_THAT(RunSim("backtest " + patch_ + kFixtures + "/breaks").out,
              HasSubstr("breaks (partial): 110610050010 "));
}

// The patch's members are matched against what the device and the host
// read; text after the patch is refused; every member read runs.
TEST_F(Backtest, PatchMembersAreRead) {
  const std::string unknown = kFixtures + "/unknown-members.json";
  const struct {
    std::string patch;
    int status;
    std::vector<std::string> said;
  } cases[] = {
      {unknown,
       2,
       {unknown + ":3:33: /appSetting/dischrge_v: the device does not read \"dischrge_v\"; did "
                  "you mean \"discharge_v\"?",
        unknown + ":2:18: /appSettings: neither the device nor the host reads \"appSettings\"; "
                  "did you mean \"appSetting\"?",
        unknown + ":5:14: /hostSetting/alarm: the host does not read \"alarm\"; did you mean "
                  "\"alarms\"?",
        "--allow-unknown-keys"}},
      {kFixtures + "/trailing.json",
       2,
       {kFixtures + "/trailing.json:4:1: not JSON: Extra non-whitespace after JSON value."}},
      {kFixtures + "/every-member-read.json", 0, {}},
  };
  for (const auto& c : cases) {
    const SimRun run = RunSim("backtest --candidate-patch " + c.patch + " " + kFleet + "/east");
    EXPECT_EQ(run.status, c.status) << c.patch << run.err;
    for (const std::string& said : c.said) EXPECT_THAT(run.err, HasSubstr(said)) << c.patch;
    if (c.said.empty()) {
      EXPECT_EQ(run.err, "");
    }
  }
  const SimRun allowed = RunSim("backtest --format json --allow-unknown-keys --candidate-patch " +
                                unknown + " " + kFleet + "/east");
  EXPECT_EQ(allowed.status, 0) << allowed.err;
  EXPECT_EQ(SiteOf(Document(allowed), "east")["check"]["warnings"], 3);
}

// The candidate of each site goes through the check: its findings are in
// the site's result, and --strict fails the site on a warning.
TEST_F(Backtest, CandidateChecked) {
  const std::string misread = "--candidate-patch " + kFixtures + "/misread-value.json ";
  const std::string folder = "--candidate " + kFixtures + "/candidates ";
  const struct {
    std::string arguments;
    int status;
    std::string file;  // where the finding is placed
  } cases[] = {
      {misread, 0, kFleet + "/east/settings.json patched by " + kFixtures + "/misread-value.json"},
      {misread + "--strict ", 1, ""},
      {folder, 0, kFixtures + "/candidates/east/settings.json:8:20"},
      {folder + "--strict ", 1, ""},
      {patch_ + "--strict ", 0, ""},  // the bundled patch has nothing to find
  };
  for (const auto& c : cases) {
    const SimRun run = RunSim("backtest --format json " + c.arguments + kFleet + "/east");
    EXPECT_EQ(run.status, c.status) << c.arguments << run.err;
    const Json::Value document = Document(run);
    const Json::Value& east = SiteOf(document, "east");
    const bool found = c.arguments.find(patch_) == std::string::npos;
    EXPECT_EQ(east["check"]["warnings"], found ? 1 : 0) << c.arguments;
    EXPECT_EQ(east.isMember("error"), c.status == 1) << c.arguments;
    EXPECT_EQ(document["summary"]["sites_failed"], c.status) << c.arguments;
    if (c.file.empty()) continue;
    EXPECT_EQ(east["check"]["findings"][0]["code"], "not-a-number") << c.arguments;
    const SimRun text = RunSim("backtest --html east.html " + c.arguments + kFleet + "/east");
    EXPECT_THAT(testing_support::ReadFile("east.html"),
                HasSubstr("warning not-a-number /appSetting/discharge_v: &quot;48x&quot;"));
    EXPECT_THAT(text.out, HasSubstr("east: candidate: " + c.file +
                                    ": warning not-a-number /appSetting/discharge_v: \"48x\""))
        << c.arguments;
  }
}

}  // namespace
