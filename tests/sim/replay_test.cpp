// Runs the built aikorvane-sim as a user would, on the bundled scenarios and
// on traces and settings made for each case, and reads its event log back.

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::ScratchDir;

struct SimRun {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<Json::Value> events;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::vector<Json::Value> ParseLines(const std::string& text) {
  std::vector<Json::Value> events;
  std::istringstream lines(text);
  Json::CharReaderBuilder builder;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] != '{') continue;
    Json::Value event;
    std::string error;
    std::istringstream in(line);
    EXPECT_TRUE(Json::parseFromStream(builder, in, &event, &error)) << line << ": " << error;
    events.push_back(event);
  }
  return events;
}

// Runs the simulator in the current directory with the event log in
// events.jsonl (unless the arguments send it elsewhere).
SimRun Sim(const std::string& arguments, const std::string& environment = "",
           bool log_to_file = true) {
  SimRun run;
  const std::string command =
      environment + " " AIKORVANE_SIM_EMULATOR " " + Quote(AIKORVANE_SIM_PATH) + " " +
      (log_to_file ? "--events events.jsonl " : "") + arguments + " >stdout.txt 2>stderr.txt";
  std::remove("events.jsonl");
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFile("stdout.txt");
  run.err = ReadFile("stderr.txt");
  if (log_to_file) run.events = ParseLines(ReadFile("events.jsonl"));
  // Under the sanitizers the subprocess reports its own faults here.
  EXPECT_THAT(run.err, Not(HasSubstr("Sanitizer"))) << arguments;
  EXPECT_THAT(run.err, Not(HasSubstr("runtime error:"))) << arguments;
  return run;
}

std::vector<Json::Value> Select(const std::vector<Json::Value>& events, const std::string& kind) {
  std::vector<Json::Value> selected;
  for (const Json::Value& event : events) {
    if (event["event"].asString() == kind) selected.push_back(event);
  }
  return selected;
}

// Rounds in which an alarm's condition went from false to true ("raised")
// or back ("cleared"), as "raised 110610050010@30".
std::vector<std::string> AlarmChanges(const std::vector<Json::Value>& events) {
  std::map<std::string, bool> state;
  std::vector<std::string> changes;
  for (const Json::Value& event : Select(events, "CheckThresholdBool")) {
    const std::string id = event["texts"][1].asString();
    const bool condition = event["condition"].asBool();
    if (condition != state[id]) {
      changes.push_back((condition ? "raised " : "cleared ") + id + "@" +
                        std::to_string(event["round"].asInt()));
      state[id] = condition;
    }
  }
  return changes;
}

bool Contains(const std::vector<std::string>& changes, const std::string& prefix) {
  for (const std::string& change : changes) {
    if (change.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

// Every event inside a round carries its number, and numbers only grow.
void ExpectRoundsInOrder(const std::vector<Json::Value>& events) {
  int last = 0;
  for (const Json::Value& event : events) {
    const std::string kind = event["event"].asString();
    if (kind == "round") {
      EXPECT_EQ(event["round"].asInt(), last + 1);
      last = event["round"].asInt();
    } else if (kind == "SendSP" || kind == "CheckThresholdBool" || kind == "http" ||
               kind == "result" || kind == "published") {
      EXPECT_EQ(event["round"].asInt(), last) << kind;
    }
  }
}

struct ScenarioCase {
  const char* folder;
  std::vector<std::string> alarm_changes;  // prefixes that must appear, e.g. "raised 007001"
  std::function<void(const SimRun&)> check;
};

class BundledScenario : public ::testing::TestWithParam<ScenarioCase> {};

TEST_P(BundledScenario, RunsAndShowsItsKeyEvents) {
  ScratchDir scratch;
  const ScenarioCase& scenario = GetParam();
  const std::string folder = std::string(AIKORVANE_EXAMPLES) + "/" + scenario.folder;
  const SimRun run = Sim(Quote(folder));
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(run.events.front()["event"].asString(), "InitSetting");
  EXPECT_TRUE(run.events.front()["result"].asBool());
  EXPECT_TRUE(Select(run.events, "error").empty());
  ExpectRoundsInOrder(run.events);
  const std::vector<std::string> changes = AlarmChanges(run.events);
  for (const std::string& expected : scenario.alarm_changes) {
    EXPECT_TRUE(Contains(changes, expected)) << expected << " missing";
  }
  // Each record sent carries the value process returned for its round.
  std::map<int, double> results;
  for (const Json::Value& event : Select(run.events, "result")) {
    results[event["round"].asInt()] = event["value"].asDouble();
  }
  for (const Json::Value& event : Select(run.events, "SendSP")) {
    EXPECT_EQ(event["code"].asInt(), 5032);
    EXPECT_EQ(event["length"].asInt(), 15);
    const auto result = results.find(event["round"].asInt());
    if (result != results.end()) {
      EXPECT_EQ(event["record"]["voltage"].asDouble(), result->second);
    }
  }
  EXPECT_THAT(run.out, HasSubstr("== aikorvane-sim summary"));
  EXPECT_THAT(run.out, HasSubstr("errors: 0"));
  scenario.check(run);
}

void CheckDefault(const SimRun& run) {
  const auto reports = Select(run.events, "http");
  ASSERT_GE(reports.size(), 3u);
  for (const Json::Value& report : reports) {
    EXPECT_EQ(report["method"].asString(), "POST");
    EXPECT_EQ(report["path"].asString(), "/welcome/discharge/");
    EXPECT_EQ(report["status"].asInt(), 200);
    EXPECT_EQ(report["headers"]["Content-Type"].asString(), "application/x-www-form-urlencoded");
    EXPECT_THAT(report["body"].asString(),
                HasSubstr("&Device_ID=1&SPID_1=130610010010&SPNames=001#48V蓄电池组电压&His_DCV="));
  }
  // Start at the discharge voltage, progress reports, and the end report.
  EXPECT_EQ(reports.front()["body"].asString().rfind("Play=1&", 0), 0u);
  EXPECT_THAT(reports.front()["body"].asString(), HasSubstr("His_DCV=49"));
  EXPECT_EQ(reports.back()["body"].asString().rfind("Play=0&", 0), 0u);
  int progress = 0;
  for (size_t i = 1; i + 1 < reports.size(); ++i) {
    progress += reports[i]["body"].asString().rfind("Play=1&", 0) == 0;
  }
  EXPECT_EQ(progress, static_cast<int>(reports.size()) - 2);
  EXPECT_GE(progress, 1);
  // The six battery rows, each checked every round with flag word 1.
  std::set<std::string> ids;
  for (const Json::Value& event : Select(run.events, "CheckThresholdBool")) {
    ids.insert(event["texts"][0].asString());
    EXPECT_EQ(event["flags"].asInt(), 1);
  }
  EXPECT_EQ(ids.size(), 6u);
  EXPECT_TRUE(Select(run.events, "published").empty()) << "b_mode 2 publishes nothing";
  EXPECT_THAT(run.out, HasSubstr("Play=0 His_DCV="));
  // The virtual clock: the first record is stamped 2024-06-01 08:00:00.
  EXPECT_EQ(Select(run.events, "SendSP").front()["bytes"].asString().substr(16), "E8070601080000");
}

void CheckUnicom(const SimRun& run) {
  const auto reports = Select(run.events, "CheckAOReport");
  ASSERT_GE(reports.size(), 3u);
  for (const Json::Value& report : reports) {
    EXPECT_EQ(report["signal"].asString(), "461127400001");
  }
  bool rewritten = false;
  for (const Json::Value& event : Select(run.events, "CheckThreshold")) {
    rewritten |= event["id"].asString() == "461627401001";
  }
  EXPECT_TRUE(rewritten);
  const auto caches = Select(run.events, "LoadFromCache");
  ASSERT_EQ(caches.size(), 2u);
  EXPECT_TRUE(caches[0]["result"].asBool());
  EXPECT_FALSE(caches[1]["result"].asBool());
  // The refused record runs no round: nothing is sent under its number.
  for (const Json::Value& event : Select(run.events, "SendSP")) {
    EXPECT_NE(event["round"], caches[1]["round"]);
  }
  // The restored record keeps its voltage and takes the time of the load.
  const Json::Value first = Select(run.events, "SendSP").front()["record"];
  EXPECT_EQ(first["voltage"].asDouble(), 52.0);
  EXPECT_EQ(first["minute"].asInt(), 0);
  const auto published = Select(run.events, "published");
  ASSERT_FALSE(published.empty());
  EXPECT_EQ(published.front()["values"]["电压"].asDouble(), 52.0);
  EXPECT_EQ(published.front()["values"]["更新时间"].asString(), "2024-6-1 8:0:0");
  EXPECT_THAT(run.out, HasSubstr("1 cache record refused"));
}

void CheckMobile(const SimRun& run) {
  std::map<std::string, int> flags;
  for (const Json::Value& event : Select(run.events, "CheckThresholdBool")) {
    flags[event["texts"][0].asString()] = event["flags"].asInt();
  }
  EXPECT_EQ(flags["007001"], 65535);
  EXPECT_EQ(flags["007002"], 65535);
  EXPECT_EQ(flags["007003"], 1);
  EXPECT_EQ(flags["007004"], 1);
  // The settings line of the trace reconfigures the device mid-way.
  const auto settings = Select(run.events, "InitSetting");
  ASSERT_EQ(settings.size(), 2u);
  EXPECT_EQ(settings[1]["file"].asString(), "settings-tight.json");
  EXPECT_TRUE(settings[1]["result"].asBool());
  EXPECT_FALSE(Select(run.events, "published").empty());
}

void CheckLimits(const SimRun& run) {
  // Hysteresis: the first upper limit stays raised at 56 V (under its limit
  // 56.4 V, over its recovery value 55.8 V) and clears only at 55.7 V.
  std::vector<bool> upper;
  for (const Json::Value& event : Select(run.events, "CheckThresholdBool")) {
    if (event["texts"][1].asString() == "130610010001")
      upper.push_back(event["condition"].asBool());
    if (event["condition"].asBool() && event["texts"][1].asString() == "130610010001") {
      EXPECT_THAT(event["texts"][3].asString(), HasSubstr("高于阈值:56.4000015"));
    }
  }
  ASSERT_GE(upper.size(), 4u);
  EXPECT_EQ(std::vector<bool>(upper.begin(), upper.begin() + 4),
            (std::vector<bool>{false, true, true, false}));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BundledScenario,
    ::testing::Values(
        ScenarioCase{"default",
                     {"raised 110610050010", "cleared 110610050010", "raised 110610060010",
                      "cleared 110610060010", "raised 110410040010", "cleared 110410040010"},
                     CheckDefault},
        ScenarioCase{"unicom", {}, CheckUnicom},
        ScenarioCase{"mobile",
                     {"raised 007001", "cleared 007001", "raised 007002", "cleared 007002",
                      "raised 007003", "cleared 007003", "raised 007004", "cleared 007004"},
                     CheckMobile},
        ScenarioCase{"limits",
                     {"raised 130610010001", "cleared 130610010001", "raised 130610010003",
                      "cleared 130610010003", "raised 130610010004", "cleared 130610010004"},
                     CheckLimits}),
    [](const auto& info) { return std::string(info.param.folder); });

TEST(SimCli, BareCommandReplaysTheDefaultScenario) {
  ScratchDir scratch;
  const SimRun run = Sim("--data-id 12");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto reports = Select(run.events, "http");
  ASSERT_FALSE(reports.empty());
  EXPECT_THAT(reports[0]["body"].asString(), HasSubstr("&Device_ID=12&"));
  EXPECT_EQ(Select(run.events, "SendSP")[0]["record"]["data_id"].asUInt(), 12u);
  EXPECT_THAT(run.out, HasSubstr("discharge reports received: "));
}

constexpr const char* kPublishingSettings =
    R"({"appSetting": {"b_mode": 5, "min": 0, "max": 100}})";

struct BadLine {
  const char* line;
  const char* message;
};

class BadTraceLine : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadTraceLine, StopsWithFileAndLineAndKeepsWhatRan) {
  ScratchDir scratch;
  scratch.Write("settings.json", kPublishingSettings);
  scratch.Write("t.trace",
                std::string("# comment\n\nsample 5000\n") + GetParam().line + "\n5000\n");
  const SimRun run = Sim("--settings settings.json --no-receiver t.trace");
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.err.rfind("aikorvane-sim: t.trace:4: ", 0), 0u) << run.err;
  EXPECT_THAT(run.err, HasSubstr(GetParam().message));
  // The round before the bad line is in the log; the one after never ran.
  EXPECT_EQ(Select(run.events, "SendSP").size(), 1u);
  const auto errors = Select(run.events, "error");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0]["line"].asInt(), 4);
  EXPECT_THAT(errors[0]["message"].asString(), HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadTraceLine,
    ::testing::Values(BadLine{"sample 32768", "does not fit a signed 16-bit number"},
                      BadLine{"-32769", "sample -32769 does not fit a signed 16-bit number"},
                      BadLine{"sample", "expected: sample N"},
                      BadLine{"sample 12.5", "sample is no integer"},
                      BadLine{"frobnicate 3", "unknown directive: frobnicate"},
                      BadLine{"ai x 1.5", "channel is no integer"},
                      BadLine{"ai 3 high", "reading is no number"},
                      BadLine{"cache 0A1", "not an even number of hexadecimal digits"},
                      BadLine{"cache 0G", "not an even number of hexadecimal digits"},
                      BadLine{"clock 2024-02-30 10:00:00", "no valid local time"},
                      BadLine{"clock 2024-02-03", "expected: clock YYYY-MM-DD HH:MM:SS"},
                      BadLine{"advance 60", "advance needs a clock line before it"},
                      BadLine{"sleep -1", "sleep needs a number of seconds"},
                      BadLine{"ramp 0 1 2 3", "ramp channel must be 1 to 12767"},
                      BadLine{"ramp 12768 1 2 3", "ramp channel must be 1 to 12767"},
                      BadLine{"ramp 3 1 2 0", "ramp needs 1 to 1000000 rounds"},
                      BadLine{"settings missing.json", "cannot read settings"}));

TEST(SimCli, SamplesAtTheEdgesOfSixteenBitsAreTaken) {
  ScratchDir scratch;
  scratch.Write("settings.json", kPublishingSettings);
  scratch.Write("t.trace", "sample -32768\n32767  # a comment after a sample\n");
  const SimRun run = Sim("--settings settings.json --no-receiver t.trace");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto rounds = Select(run.events, "round");
  ASSERT_EQ(rounds.size(), 2u);
  EXPECT_EQ(rounds[0]["sample"].asInt(), -32768);
  EXPECT_EQ(rounds[1]["sample"].asInt(), 32767);
}

TEST(SimCli, VirtualClockGivesExactRecordTimes) {
  ScratchDir scratch;
  scratch.Write("settings.json", kPublishingSettings);
  scratch.Write("t.trace",
                "clock 2024-03-05 07:04:09\nsample 5000\nsample 5000\nadvance 3661\nsample 5000\n"
                "clock 2026-12-31 23:59:59\nadvance 1\n5000\n");
  std::vector<std::string> logs;
  for (const char* environment : {"env -u TZ", "env -u TZ", "TZ=Asia/Shanghai"}) {
    const SimRun run = Sim("--settings settings.json --no-receiver t.trace", environment);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto sent = Select(run.events, "SendSP");
    ASSERT_EQ(sent.size(), 4u);
    // Year 2024 little-endian, then month, day, hour, minute, second: the
    // clock line is local time in whatever zone is in force.
    EXPECT_EQ(sent[0]["bytes"].asString().substr(16), "E8070305070409");
    EXPECT_EQ(sent[1]["bytes"].asString().substr(16), "E8070305070409");
    EXPECT_EQ(sent[2]["bytes"].asString().substr(16), "E807030508050A");
    EXPECT_EQ(sent[3]["bytes"].asString().substr(16), "EB070101000000");
    const auto published = Select(run.events, "published");
    ASSERT_EQ(published.size(), 4u);
    EXPECT_EQ(published[0]["values"]["更新时间"].asString(), "2024-3-5 7:4:9");
    EXPECT_EQ(published[3]["values"]["更新时间"].asString(), "2027-1-1 0:0:0");
    logs.push_back(ReadFile("events.jsonl"));
  }
  EXPECT_EQ(logs[0], logs[1]) << "a replay on the virtual clock is deterministic";
  EXPECT_EQ(logs[0], logs[2]);
}

// The device's lines: kept out of the output by default, the same bytes
// with -v, in --device-log and between the events of --events -.
TEST(SimCli, DeviceLinesAreQuietUnlessAskedFor) {
  ScratchDir scratch;
  scratch.Write("settings.json", kPublishingSettings);
  scratch.Write("t.trace", "5000\n6000\n");
  const std::string replay = "--settings settings.json --no-receiver t.trace";
  const SimRun quiet = Sim(replay + " --plot p.svg", "", false);
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_THAT(quiet.out, Not(HasSubstr("AIKorvane::")));
  EXPECT_THAT(quiet.out, HasSubstr("plot: p.svg\n"));
  EXPECT_THAT(quiet.out, HasSubstr(" kept out of the output (-v shows them)\n"));
  const SimRun logged = Sim(replay + " --device-log device.log", "", false);
  const std::string lines = ReadFile("device.log");
  EXPECT_THAT(lines, HasSubstr("AIKorvane::process(5000 is_current_mode_:0\n"));
  EXPECT_THAT(logged.out, Not(HasSubstr("AIKorvane::")));
  const SimRun verbose = Sim("-v " + replay, "", false);
  EXPECT_EQ(verbose.out.substr(0, lines.size()), lines);
  const SimRun events = Sim("--events - " + replay, "", false);
  std::string between;
  std::istringstream out(events.out);
  for (std::string line; std::getline(out, line);) {
    if (line.empty() || line[0] != '{') between += line + "\n";
  }
  EXPECT_EQ(between, lines);
  // Output paths are checked before anything runs.
  const SimRun folder = Sim(replay + " --device-log .", "", false);
  EXPECT_EQ(folder.status, 2);
  EXPECT_THAT(folder.err, HasSubstr("cannot write the device log .: it is a folder"));
  const SimRun json = Sim(replay + " --summary-format json", "", false);
  Json::Value summary;
  std::istringstream document(json.out);
  std::string error;
  ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), document, &summary, &error))
      << json.out;
  EXPECT_EQ(summary["rounds"].asInt(), 2);
}

TEST(SimCli, EventsOnStdoutMoveTheSummaryToStderr) {
  ScratchDir scratch;
  scratch.Write("settings.json", kPublishingSettings);
  scratch.Write("t.trace", "5000\n6000\n");
  const SimRun run =
      Sim("--events - --settings settings.json --no-receiver --repeat 2 t.trace", "", false);
  ASSERT_EQ(run.status, 0) << run.err;
  const auto events = ParseLines(run.out);
  EXPECT_EQ(Select(events, "round").size(), 4u) << "--repeat 2 replays the trace twice";
  EXPECT_EQ(Select(events, "round").back()["round"].asInt(), 4);
  // The device's own diagnostics stay on stdout, untouched.
  EXPECT_THAT(run.out, HasSubstr("AIKorvane::process(5000 is_current_mode_:0\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("aikorvane-sim summary")));
  EXPECT_THAT(run.err, HasSubstr("rounds: 4"));
}

TEST(SimCli, SettingsThatThrowStopAtStartButNotInsideATrace) {
  ScratchDir scratch;
  // "min" as an array has no text form: the device's settings reading throws.
  scratch.Write("throws.json", R"({"appSetting": {"b_mode": 5, "min": [1]}})");
  scratch.Write("settings.json", kPublishingSettings);
  scratch.Write("t.trace", "5000\nsettings throws.json\n6000\n");

  SimRun run = Sim("--settings throws.json --no-receiver t.trace");
  EXPECT_NE(run.status, 0);
  ASSERT_EQ(Select(run.events, "error").size(), 1u);
  EXPECT_EQ(Select(run.events, "error")[0]["where"].asString(), "InitSetting");
  EXPECT_TRUE(Select(run.events, "round").empty());
  EXPECT_THAT(run.err, HasSubstr("not accepted"));

  run = Sim("--settings settings.json --no-receiver t.trace");
  EXPECT_NE(run.status, 0) << "the error is still reported in the exit status";
  EXPECT_EQ(Select(run.events, "round").size(), 2u) << "the replay went on";
  ASSERT_EQ(Select(run.events, "error").size(), 1u);
  EXPECT_EQ(Select(run.events, "error")[0]["where"].asString(), "InitSetting");
  EXPECT_EQ(Select(run.events, "error")[0]["line"].asInt(), 2);
  EXPECT_THAT(run.err, HasSubstr("t.trace:2: settings throws.json not applied"));
}

TEST(SimCli, CheckSaysWhetherSettingsAndProfileAreAccepted) {
  ScratchDir scratch;
  const std::string unicom = std::string(AIKORVANE_EXAMPLES) + "/unicom";
  SimRun run =
      Sim("--check --settings " + Quote(unicom + "/settings.json") + " --workdir " + Quote(unicom));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("settings accepted"));
  EXPECT_TRUE(Select(run.events, "round").empty());

  // A profile that breaks the INI syntax: the reader's error reaches the user.
  scratch.Write("site/ini/unicom/aikorvane.ini", "[AI]\nno equals sign here\n");
  run = Sim("--check --settings " + Quote(unicom + "/settings.json") + " --workdir site");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.out, HasSubstr("settings refused"));
  EXPECT_THAT(run.out, HasSubstr("'=' character not found in line"));

  // Host settings the framework refuses.
  scratch.Write("bad-host.json", R"({"hostSetting": {"alarms": {"007001": {"level": "high"}}}})");
  run = Sim("--check --settings bad-host.json");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.out, HasSubstr("hostSetting.alarms.007001.level must be an integer"));
  ASSERT_EQ(Select(run.events, "InitSetting").size(), 1u);
  EXPECT_FALSE(Select(run.events, "InitSetting")[0]["result"].asBool());

  // The scenario folder names the site as the replay takes it; what only a
  // replay does, or a trace where a site is wanted, is a usage error.
  run = Sim("--check " + Quote(unicom));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("settings accepted: " + unicom + "/settings.json"));
  scratch.Write("t.trace", "5000\n");
  for (const char* arguments : {"--check t.trace", "--check --plot p.svg", "--check --csv t.csv"}) {
    EXPECT_EQ(Sim(arguments).status, 2) << arguments;
  }
}

std::string LibraryOf(const void* symbol) {
  Dl_info info{};
  return dladdr(symbol, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

TEST(SimCli, UnusablePluginOrSettingsGiveOneClearLine) {
  ScratchDir scratch;
  scratch.Write("broken.json", "{\"appSetting\": ");
  scratch.Write("t.trace", "5000\n");
  const std::string no_entry = LibraryOf(dlsym(RTLD_DEFAULT, "curl_easy_init"));
  ASSERT_FALSE(no_entry.empty());
  const struct {
    std::string arguments;
    std::string message;
  } cases[] = {
      {"--plugin /nonexistent/aikorvane.so t.trace", "cannot load plug-in /nonexistent/"},
      {"--plugin " + Quote(no_entry) + " t.trace", "has no get_providers entry"},
      {"--settings missing.json t.trace", "cannot read settings"},
      {"--settings broken.json t.trace", "cannot read settings"},
      {"--plugin " + Quote(AIKORVANE_PLUGIN_PATH) + " --workdir missing-dir t.trace",
       "cannot work in"},
  };
  for (const auto& c : cases) {
    const SimRun run = Sim(c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_THAT(run.err, HasSubstr(c.message)) << c.arguments;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

TEST(SimCli, PlotDrawsVoltageThresholdsAlarmsAndReports) {
  ScratchDir scratch;
  const SimRun run = Sim("--plot plot.svg");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string svg = ReadFile("plot.svg");
  EXPECT_EQ(svg.rfind("<svg ", 0), 0u);
  EXPECT_THAT(svg, HasSubstr("class=\"voltage\""));
  EXPECT_THAT(svg, HasSubstr("class=\"threshold\""));
  EXPECT_THAT(svg, HasSubstr("class=\"alarm\""));
  EXPECT_THAT(svg, HasSubstr("discharge start 49"));
  EXPECT_THAT(svg, HasSubstr("Play=0"));
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

TEST(SimCli, HelpAndVersion) {
  ScratchDir scratch;
  SimRun run = Sim("--version", "", false);
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("aikorvane-sim "));
  run = Sim("--help", "", false);
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--plugin", "--settings", "--data-id", "--workdir", "--events",
                             "--no-receiver", "--repeat", "--plot", "--check"}) {
    EXPECT_THAT(run.out, HasSubstr(option));
  }
  for (const char* usage : {"--repeat 0", "--data-id -1", "--frobnicate", "a.trace b.trace"}) {
    run = Sim(usage, "", false);
    EXPECT_EQ(run.status, 2) << usage;
  }
  // Settings but no trace: nothing to replay.
  scratch.Write("settings.json", kPublishingSettings);
  run = Sim("--settings settings.json", "", false);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("nothing to replay"));
}

// Lines and JSON or YAML files just past 16 MiB are refused naming the file
// (and the line) instead of read whole; a line of 16 MiB with its newline
// is still read.
TEST(SimCli, InputsPastSixteenMebibytesAreRefusedNamingFileAndLine) {
  ScratchDir scratch;
  const std::string example = std::string(AIKORVANE_EXAMPLES) + "/default";
  const size_t bound = size_t{16} << 20;
  const std::string row = "2026-01-05 00:00:00,14.7";
  const std::string too_long(bound, 'x');  // with its newline one byte too many
  scratch.Write("first.csv", too_long);    // a first line without a newline
  scratch.Write("comment.csv", "#" + too_long + "\ntime,value\n" + row + "\n");
  scratch.Write("value.csv", "time,value\n" + row + too_long + "\n");
  scratch.Write("fits.csv", "time,value\n" + row + std::string(bound - 1 - row.size(), ' ') + "\n");
  scratch.Write("long.trace", "#" + too_long + "\n");
  scratch.Write("fits.trace", "#" + std::string(bound - 2, 'x') + "\n");
  scratch.Write("big.json", "{}" + std::string(bound - 1, ' '));
  scratch.Write("big.yaml", "tests: []\n#" + std::string(bound, ' ') + "\n");
  // A profile past the bound is never handed to the device, which reads it whole.
  scratch.Write("site/settings.json", ReadFile(example + "/settings.json"));
  scratch.Write("site/ini/telecom/aikorvane.ini", "");
  std::filesystem::resize_file("site/ini/telecom/aikorvane.ini", bound + 1);
  const std::string settings = " --settings " + Quote(example + "/settings.json");
  const struct {
    std::string arguments;
    int status;
    std::string message;
  } cases[] = {
      {"--csv first.csv", 1, "first.csv:1: line longer than 16 MiB"},
      {"--csv comment.csv", 1, "comment.csv:1: line longer than 16 MiB"},
      {"--csv value.csv", 1, "value.csv:2: line longer than 16 MiB"},
      {"--csv fits.csv", 0, "rounds: 1"},
      {"long.trace" + settings, 1, "long.trace:1: line longer than 16 MiB"},
      {"fits.trace" + settings, 0, "rounds: 0"},
      {"--csv fits.csv --settings big.json", 1, "big.json: larger than 16 MiB (16777217 bytes)"},
      {"check big.json", 1,
       "big.json: error settings-unreadable: cannot read the settings: larger than 16 MiB"},
      {"check site", 1, "site/ini/telecom/aikorvane.ini: error settings-unreadable:"},
      {"backtest --candidate-patch big.json " +
           Quote(std::string(AIKORVANE_EXAMPLES) + "/fleet/east"),
       2, "big.json: cannot be read: larger than 16 MiB"},
      {"test big.yaml", 2, "big.yaml: cannot read: larger than 16 MiB"},
  };
  for (const auto& c : cases) {
    const SimRun run = Sim(c.arguments, "", false);
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.err;
    EXPECT_THAT(run.out + run.err, HasSubstr(c.message)) << c.arguments;
  }
}

// The replays of fixtures/replay, each with its NAME.expected: the exit
// status, the environment, and lines standard output and error must hold.
TEST(SimCli, FixtureReplaysGiveTheirExpectedMessages) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(AIKORVANE_SOURCE_TESTS) / "fixtures" / "replay";
  const std::string example = std::string(AIKORVANE_EXAMPLES) + "/default";
  int cases = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string kind = entry.path().extension().string();
    if (kind != ".csv" && kind != ".trace") continue;
    ++cases;
    std::istringstream expected(ReadFile(fs::path(entry.path()).replace_extension(".expected")));
    std::string line, environment, arguments;
    int status = -1;
    std::vector<std::string> wanted;
    while (std::getline(expected, line)) {
      if (line.rfind("exit ", 0) == 0 && status < 0) {
        status = std::stoi(line.substr(5));
      } else if (line.rfind("env: ", 0) == 0) {
        environment = line.substr(5);
      } else if (line.rfind("args: ", 0) == 0) {
        arguments = " " + line.substr(6);
      } else if (!line.empty()) {
        wanted.push_back(line);
      }
    }
    const std::string file = Quote(entry.path().string());
    ScratchDir scratch;
    const SimRun run =
        Sim((kind == ".csv" ? "--csv " + file
                            : file + " --settings " + Quote(example + "/settings.json") +
                                  " --workdir " + Quote(example)) +
                arguments,
            environment, false);
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(run.status, status) << name << "\n" << run.out << run.err;
    for (const std::string& text : wanted) {
      EXPECT_THAT(run.out + run.err, HasSubstr(text)) << name;
    }
  }
  EXPECT_GE(cases, 18);
}

}  // namespace
