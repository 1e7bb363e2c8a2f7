// The generic half of the settings: operating mode, the threshold profile
// search under ./ini/ with real files, the tables each mode fills from a
// profile and from "thresholdSetting", the failures that reach the caller, and
// the framework's own settings whose result is returned.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"
#include "support/test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing_support::CoutCapture;
using testing_support::ParseJson;
using testing_support::ScratchDir;

Json::Value WithMode(int b_mode, const std::string& extra = "") {
  return ParseJson("{\"appSetting\":{\"b_mode\":" + std::to_string(b_mode) + "}" +
                   (extra.empty() ? "" : "," + extra) + "}");
}

// The eight profile candidates in search order.
std::vector<std::string> Candidates(const std::string& id, const std::string& carrier,
                                    const std::string& model = "aikorvane") {
  const std::string top = "./ini/", sub = "./ini/" + carrier + "/";
  return {top + id + ".yaml", top + id + ".ini", top + model + ".yaml", top + model + ".ini",
          sub + id + ".yaml", sub + id + ".ini", sub + model + ".yaml", sub + model + ".ini"};
}

// "test ini/yaml:" lines for the first count candidates.
std::vector<std::string> TestLines(const std::vector<std::string>& candidates, size_t count) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < count; ++i) lines.push_back("test ini/yaml:" + candidates[i]);
  return lines;
}

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A profile with both sections, usable in every mode.
constexpr const char* kBothSections =
    "[AI]\n"
    "电压 = 110610040010,电池电压\n"
    "[ALARM]\n"
    "电压_high = 007001,upper\n";

class DeviceSettings : public ::testing::Test {
 protected:
  DeviceSettings() { device_.data_id_ = 7; }

  bool Init(const Json::Value& settings) {
    CoutCapture capture;
    const bool result = device_.InitSetting(settings);
    lines_ = capture.Lines();
    return result;
  }
  // Runs a call that must fail; returns the error's text.
  std::string InitFails(const Json::Value& settings) {
    CoutCapture capture;
    std::string what;
    try {
      device_.InitSetting(settings);
      ADD_FAILURE() << "InitSetting did not throw";
    } catch (const std::exception& error) {
      what = error.what();
    }
    lines_ = capture.Lines();
    return what;
  }
  // Makes path an existing name that cannot be opened for reading: a UNIX
  // socket (open() refuses it even for root, while access() sees it).
  void MakeSocket(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
    ::close(fd);
  }

  ScratchDir scratch_;
  AIKorvane device_;
  std::vector<std::string> lines_;
};

// ---- profile search --------------------------------------------------------

TEST_F(DeviceSettings, NoProfileLogsEveryCandidateAndNotFound) {
  EXPECT_TRUE(Init(ParseJson("{}")));
  EXPECT_EQ(lines_,
            Concat({TestLines(Candidates("7", "unicom"), 8),
                    {"data_id:7 model:aikorvane b ini not found", "parse ini/yaml filename:"}}));
}

TEST_F(DeviceSettings, EachCandidateIsFoundInItsTurn) {
  const auto candidates = Candidates("7", "unicom");
  for (size_t i = 0; i < candidates.size(); ++i) {
    ScratchDir fresh;
    fresh.Write(candidates[i], "; nothing here\n");
    AIKorvane device;
    device.data_id_ = 7;
    CoutCapture capture;
    ASSERT_TRUE(device.InitSetting(WithMode(4)));
    EXPECT_EQ(capture.Lines(), Concat({{"InitSetting 7 b_mode_:4"},
                                       TestLines(candidates, i + 1),
                                       {"parse ini/yaml filename:" + candidates[i], "AI 7"}}))
        << candidates[i];
  }
}

TEST_F(DeviceSettings, EarlierCandidateWinsAndLaterOnesAreNeverTested) {
  const auto candidates = Candidates("7", "unicom");
  for (size_t i = 0; i < candidates.size(); ++i) {
    for (size_t j = i + 1; j < candidates.size(); ++j) {
      ScratchDir fresh;
      fresh.Write(candidates[i], "");
      // A later candidate that would fail if it were read.
      fresh.Write(candidates[j], "[broken\n");
      AIKorvane device;
      device.data_id_ = 7;
      CoutCapture capture;
      ASSERT_TRUE(device.InitSetting(WithMode(0))) << i << " " << j;
      const auto lines = capture.Lines();
      EXPECT_THAT(lines, ::testing::Contains("parse ini/yaml filename:" + candidates[i]));
      EXPECT_THAT(lines, ::testing::Not(::testing::Contains("test ini/yaml:" + candidates[j])));
    }
  }
}

TEST_F(DeviceSettings, YamlWinsAndLoadsNothing) {
  scratch_.Write("ini/7.yaml", "AI:\n  [ unreadable: ini\n");
  scratch_.Write("ini/7.ini", kBothSections);
  EXPECT_TRUE(Init(ParseJson("{}")));
  EXPECT_EQ(lines_, Concat({TestLines(Candidates("7", "unicom"), 1),
                            {"parse ini/yaml filename:./ini/7.yaml", "AI 7"}}));
  EXPECT_THAT(device_.ai_signals_, IsEmpty());
  EXPECT_THAT(device_.alarm_rules_, IsEmpty());
}

TEST_F(DeviceSettings, YamlListsWhatEarlierCallsLoaded) {
  scratch_.Write("ini/7.ini", kBothSections);
  ASSERT_TRUE(Init(ParseJson("{}")));
  scratch_.Write("ini/7.yaml", "");
  ASSERT_TRUE(Init(ParseJson("{}")));
  EXPECT_THAT(lines_,
              ElementsAre("test ini/yaml:./ini/7.yaml", "parse ini/yaml filename:./ini/7.yaml",
                          "AI 7", "first:电压 second:110610040010 name:电池电压"));
}

TEST_F(DeviceSettings, UnopenableCandidateFailsAndSearchStops) {
  MakeSocket("ini/7.ini");
  scratch_.Write("ini/aikorvane.ini", kBothSections);
  for (int mode : {1, 2}) {
    const std::string what = InitFails(WithMode(mode, "\"hostSetting\":{\"aiGain\":3}"));
    EXPECT_THAT(what, HasSubstr("cannot open file"));
    EXPECT_THAT(what, HasSubstr("./ini/7.ini"));
    EXPECT_EQ(lines_, Concat({{"InitSetting 7 b_mode_:" + std::to_string(mode)},
                              TestLines(Candidates("7", mode == 2 ? "telecom" : "unicom"), 2),
                              {"parse ini/yaml filename:./ini/7.ini"}}));
    EXPECT_THAT(device_.ai_signals_, IsEmpty());
    EXPECT_EQ(device_.ai_gain_, 1) << "the framework's settings are never reached";
  }
}

TEST_F(DeviceSettings, UnreadableCandidateFailsWithTheReadersMessage) {
  // A directory exists and opens, but cannot be read: the reader says so.
  std::filesystem::create_directories("ini/7.ini");
  scratch_.Write("ini/aikorvane.ini", kBothSections);
  const std::string what = InitFails(ParseJson("{}"));
  EXPECT_THAT(what, HasSubstr("./ini/7.ini"));
  EXPECT_THAT(what, HasSubstr("read error"));
  EXPECT_EQ(lines_.back(), "parse ini/yaml filename:./ini/7.ini");
  EXPECT_EQ(lines_.size(), 3u);
}

TEST_F(DeviceSettings, SymbolicLinksAreFollowed) {
  // A dangling link does not exist; a link to a profile does.
  std::filesystem::create_directories("ini/unicom");
  std::filesystem::create_symlink("nowhere.ini", "ini/7.ini");
  scratch_.Write("profiles/real.ini", "[AI]\na=123456789,A\n[ALARM]\nx=1\n");
  std::filesystem::create_symlink("../../profiles/real.ini", "ini/unicom/7.ini");
  ASSERT_TRUE(Init(WithMode(1)));
  EXPECT_THAT(lines_, ::testing::Contains("parse ini/yaml filename:./ini/unicom/7.ini"));
  EXPECT_EQ(device_.ai_signals_.at("a").second, "A");
}

TEST_F(DeviceSettings, ProfileIsClosedAfterReading) {
  scratch_.Write("ini/7.ini", kBothSections);
  const auto open_files = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  const auto before = open_files();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Init(WithMode(1)));
  EXPECT_EQ(open_files(), before);
}

TEST_F(DeviceSettings, CarrierFolderFollowsTheMode) {
  const struct {
    int b_mode;
    const char* carrier;
  } cases[] = {{1, "unicom"}, {2, "telecom"}, {3, "mobile"},  {5, "unicom"},
               {0, "unicom"}, {4, "unicom"},  {-1, "unicom"}, {6, "unicom"}};
  for (const auto& c : cases) {
    ScratchDir fresh;
    // Decoys in the other carriers' folders.
    for (const char* other : {"unicom", "telecom", "mobile"}) {
      if (std::string(other) != c.carrier)
        fresh.Write(std::string("ini/") + other + "/7.ini", "[x");
    }
    fresh.Write(std::string("ini/") + c.carrier + "/aikorvane.ini", kBothSections);
    AIKorvane device;
    device.data_id_ = 7;
    CoutCapture capture;
    ASSERT_TRUE(device.InitSetting(WithMode(c.b_mode))) << c.b_mode;
    const auto candidates = Candidates("7", c.carrier);
    EXPECT_THAT(capture.Lines(),
                ::testing::IsSupersetOf(Concat({TestLines(candidates, 8),
                                                {"parse ini/yaml filename:./ini/" +
                                                 std::string(c.carrier) + "/aikorvane.ini"}})))
        << c.b_mode;
  }
}

TEST_F(DeviceSettings, DeviceIdZeroAndLargestId) {
  for (unsigned int id : {0u, 4294967295u}) {
    ScratchDir fresh;
    const std::string stem = std::to_string(id);
    fresh.Write("ini/unicom/" + stem + ".ini", kBothSections);
    AIKorvane device;
    device.data_id_ = id;
    CoutCapture capture;
    ASSERT_TRUE(device.InitSetting(WithMode(1)));
    EXPECT_EQ(capture.Lines(),
              Concat({{"InitSetting " + stem + " b_mode_:1"},
                      TestLines(Candidates(stem, "unicom"), 6),
                      {"parse ini/yaml filename:./ini/unicom/" + stem + ".ini", "AI " + stem,
                       "first:电压 second:110610040010 name:电池电压"}}));
    EXPECT_EQ(device.data_.data_id, id);
  }
}

TEST_F(DeviceSettings, ModelNamesTheProfile) {
  device_.model_ = "other";
  scratch_.Write("ini/aikorvane.ini", "[x");
  scratch_.Write("ini/other.ini", "");
  EXPECT_TRUE(Init(WithMode(2)));
  EXPECT_THAT(lines_, ::testing::Contains("parse ini/yaml filename:./ini/other.ini"));
}

// ---- profile tables by mode ------------------------------------------------

constexpr const char* kRichProfile =
    "; a comment\n"
    "# another comment\n"
    "outside = ignored\n"
    "[AI]\n"
    "  电压   =   110610040010 , 电池电压  \n"
    "bare=123456789\n"
    "three=a,b,c\n"
    "empty=\n"
    "eq = x=y,z\n"
    "Upper=ID000000X,name\n"
    "[OTHER]\n"
    "key=value\n"
    "[ALARM]\n"
    "电压_high = 007001,upper\n"
    "电压_low=007002,lower,extra\n"
    "plain=007003\n"
    "[ ai ]\n"
    "ignored=1\n";

TEST_F(DeviceSettings, ModeOneSplitsAtTheFirstComma) {
  scratch_.Write("ini/7.ini", kRichProfile);
  ASSERT_TRUE(Init(WithMode(1)));
  using Signal = std::pair<std::string, std::string>;
  EXPECT_EQ(device_.ai_signals_, (AiSignalTable{
                                     {"电压", Signal("110610040010 ", " 电池电压")},
                                     {"bare", Signal("123456789", "123456789")},
                                     {"three", Signal("a", "b,c")},
                                     {"empty", Signal("", "")},
                                     {"eq", Signal("x=y", "z")},
                                     {"Upper", Signal("ID000000X", "name")},
                                 }));
  EXPECT_EQ(device_.alarm_rules_, (TextTable{
                                      {"电压_high", "007001"},
                                      {"电压_low", "007002"},
                                      {"plain", "007003"},
                                  }));
  // The listing is in byte order of the keys.
  EXPECT_EQ(std::vector<std::string>(lines_.end() - 7, lines_.end()),
            (std::vector<std::string>{
                "AI 7",
                "first:Upper second:ID000000X name:name",
                "first:bare second:123456789 name:123456789",
                "first:empty second: name:",
                "first:eq second:x=y name:z",
                "first:three second:a name:b,c",
                "first:电压 second:110610040010  name: 电池电压",
            }));
}

TEST_F(DeviceSettings, ModeThreeKeepsWholeAlarmValuesOnly) {
  scratch_.Write("ini/mobile/7.ini", kRichProfile);
  ASSERT_TRUE(Init(WithMode(3)));
  EXPECT_THAT(device_.ai_signals_, IsEmpty());
  EXPECT_EQ(device_.alarm_rules_, (TextTable{
                                      {"电压_high", "007001,upper"},
                                      {"电压_low", "007002,lower,extra"},
                                      {"plain", "007003"},
                                  }));
  EXPECT_THAT(lines_, ::testing::Contains("AI 7"));
  EXPECT_THAT(lines_, ::testing::Not(::testing::Contains(HasSubstr("first:"))));
}

TEST_F(DeviceSettings, OtherModesParseButTakeNothing) {
  for (int mode : {0, 2, 4, 5, -3}) {
    ScratchDir fresh;
    fresh.Write(std::string("ini/") + (mode == 2 ? "telecom" : "unicom") + "/aikorvane.ini",
                kRichProfile);
    AIKorvane device;
    device.data_id_ = 7;
    CoutCapture capture;
    ASSERT_TRUE(device.InitSetting(WithMode(mode))) << mode;
    EXPECT_THAT(device.ai_signals_, IsEmpty()) << mode;
    EXPECT_THAT(device.alarm_rules_, IsEmpty()) << mode;
  }
}

TEST_F(DeviceSettings, ModeThreeWithoutAiSectionIsFine) {
  scratch_.Write("ini/7.ini", "[ALARM]\nk=1,upper\n");
  EXPECT_TRUE(Init(WithMode(3)));
  EXPECT_EQ(device_.alarm_rules_.at("k"), "1,upper");
}

TEST_F(DeviceSettings, SecondModeOneCallAddsAndOverwritesButKeeps) {
  scratch_.Write("ini/7.ini", "[AI]\na=100000001,A\nb=100000002,B\n[ALARM]\nx_1=1,upper\n");
  ASSERT_TRUE(Init(WithMode(1)));
  scratch_.Write("ini/7.ini", "[AI]\nb=200000002,B2\nc=200000003,C\n[ALARM]\ny_1=2,lower\n");
  ASSERT_TRUE(Init(WithMode(1)));
  using Signal = std::pair<std::string, std::string>;
  EXPECT_EQ(device_.ai_signals_, (AiSignalTable{{"a", Signal("100000001", "A")},
                                                {"b", Signal("200000002", "B2")},
                                                {"c", Signal("200000003", "C")}}));
  EXPECT_EQ(device_.alarm_rules_, (TextTable{{"x_1", "1"}, {"y_1", "2"}}));
  EXPECT_EQ(std::vector<std::string>(lines_.end() - 4, lines_.end()),
            (std::vector<std::string>{"AI 7", "first:a second:100000001 name:A",
                                      "first:b second:200000002 name:B2",
                                      "first:c second:200000003 name:C"}));
}

// ---- profile errors --------------------------------------------------------

TEST_F(DeviceSettings, ReaderErrorsReachTheCaller) {
  const struct {
    const char* content;
    const char* message;
  } cases[] = {
      {"[AI]\na=1\n[ALARM\n", "./ini/7.ini(3): unmatched '['"},
      {"[AI]\na=1\n[AI]\nb=2\n", "./ini/7.ini(3): duplicate section name"},
      {"[AI]\na=1\nnovalue\n", "./ini/7.ini(3): '=' character not found in line"},
      {"[AI]\n=5\n", "./ini/7.ini(2): key expected"},
      {"[AI]\na=1\na=2\n", "./ini/7.ini(3): duplicate key name"},
  };
  for (int mode : {1, 2, 3, 5}) {
    for (const auto& c : cases) {
      ScratchDir fresh;
      fresh.Write("ini/7.ini", c.content);
      AIKorvane device;
      device.data_id_ = 7;
      CoutCapture capture;
      try {
        device.InitSetting(
            WithMode(mode,
                     "\"thresholdSetting\":{\"r\":{\"ID\":\"1\",\"SignalName\":\"s\","
                     "\"UpValue\":1,\"UpReconverValue\":1,\"UpAlarmLevel\":1}}"));
        ADD_FAILURE() << "no error for mode " << mode << ": " << c.content;
      } catch (const std::exception& error) {
        EXPECT_THAT(error.what(), HasSubstr(c.message)) << mode;
      }
      EXPECT_EQ(capture.Lines().back(), "parse ini/yaml filename:./ini/7.ini") << mode;
      EXPECT_THAT(device.up_thresholds_, IsEmpty()) << "nothing after the failing step runs";
    }
  }
}

TEST_F(DeviceSettings, MissingSectionIsNoSuchNode) {
  const struct {
    int mode;
    const char* content;
    const char* missing;
  } cases[] = {
      {1, "[AI]\na=100000001,A\n", "No such node (ALARM)"},
      {1, "[ALARM]\nx=1\n", "No such node (AI)"},
      {1, "[AI]\n[ALARM]\nx=1\n", "No such node (AI)"},
      {1, "[ai]\na=1\n[ALARM]\nx=1\n", "No such node (AI)"},
      {1, "", "No such node (AI)"},
      {3, "[AI]\na=1\n", "No such node (ALARM)"},
      {3, "[alarm]\nx=1\n", "No such node (ALARM)"},
  };
  for (const auto& c : cases) {
    ScratchDir fresh;
    fresh.Write(std::string("ini/") + (c.mode == 3 ? "mobile" : "unicom") + "/7.ini", c.content);
    AIKorvane device;
    device.data_id_ = 7;
    CoutCapture capture;
    try {
      device.InitSetting(
          WithMode(c.mode, "\"thresholdSetting\":{},\"hostSetting\":{\"aiGain\":2}"));
      ADD_FAILURE() << "no error for " << c.content;
    } catch (const std::exception& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.missing)) << c.content;
    }
    const auto lines = capture.Lines();
    EXPECT_THAT(lines, ::testing::Not(::testing::Contains("AI 7"))) << c.content;
    EXPECT_THAT(lines, ::testing::Not(::testing::Contains("here 1"))) << c.content;
    EXPECT_EQ(device.ai_gain_, 1) << c.content;
  }
}

TEST_F(DeviceSettings, EntriesStoredBeforeAFailureStay) {
  scratch_.Write("ini/7.ini", "[AI]\na=100000001,A\nb=100000002,B\n");
  device_.alarm_rules_["old"] = "kept";
  InitFails(WithMode(1));
  EXPECT_EQ(device_.ai_signals_.size(), 2u);
  EXPECT_EQ(device_.ai_signals_.at("b").second, "B");
  EXPECT_EQ(device_.alarm_rules_, (TextTable{{"old", "kept"}}));
}

// ---- operating mode --------------------------------------------------------

TEST_F(DeviceSettings, OperatingModeIsAtoiOfTheTextForm) {
  const struct {
    const char* settings;
    int expected;
    bool logged;
  } cases[] = {
      {"{\"appSetting\":{\"b_mode\":3}}", 3, true},
      {"{\"appSetting\":{\"b_mode\":\"3\"}}", 3, true},
      {"{\"appSetting\":{\"b_mode\":\"abc\"}}", 0, true},
      {"{\"appSetting\":{\"b_mode\":\"\"}}", 0, true},
      {"{\"appSetting\":{\"b_mode\":true}}", 0, true},
      {"{\"appSetting\":{\"b_mode\":\" 5x\"}}", 5, true},
      {"{\"appSetting\":{\"b_mode\":2.7}}", 2, true},
      {"{\"appSetting\":{\"b_mode\":-1}}", -1, true},
      {"{\"appSetting\":{\"b_mode\":null}}", 2, false},
      {"{\"appSetting\":{\"other\":1}}", 2, false},
      {"{\"appSetting\":[{\"b_mode\":3}]}", 2, false},
      {"{\"appSetting\":\"b_mode\"}", 2, false},
      {"{\"appSetting\":null}", 2, false},
      {"{\"b_mode\":3}", 2, false},
      {"{}", 2, false},
  };
  for (const auto& c : cases) {
    AIKorvane device;
    device.data_id_ = 7;
    device.b_mode_ = 2;
    CoutCapture capture;
    EXPECT_TRUE(device.InitSetting(ParseJson(c.settings))) << c.settings;
    EXPECT_EQ(device.b_mode_, c.expected) << c.settings;
    const auto lines = capture.Lines();
    ASSERT_FALSE(lines.empty());
    if (c.logged) {
      EXPECT_EQ(lines.front(), "InitSetting 7 b_mode_:" + std::to_string(c.expected));
    } else {
      EXPECT_EQ(lines.front().rfind("test ini/yaml:", 0), 0u) << c.settings;
    }
  }
}

TEST_F(DeviceSettings, OperatingModeWithoutTextFormThrows) {
  for (const char* bad : {"[3]", "{\"v\":3}"}) {
    device_.b_mode_ = 2;
    const std::string what =
        InitFails(ParseJson(std::string("{\"appSetting\":{\"b_mode\":") + bad + "}}"));
    EXPECT_FALSE(what.empty());
    EXPECT_EQ(device_.b_mode_, 2);
    EXPECT_THAT(lines_, IsEmpty());
  }
}

TEST_F(DeviceSettings, TextModeSelectsModeZeroAndLoadsNothing) {
  scratch_.Write("ini/unicom/aikorvane.ini", kBothSections);
  ASSERT_TRUE(Init(ParseJson("{\"appSetting\":{\"b_mode\":\"telecom\"}}")));
  EXPECT_EQ(device_.b_mode_, 0);
  EXPECT_THAT(lines_, ::testing::Contains("parse ini/yaml filename:./ini/unicom/aikorvane.ini"));
  EXPECT_THAT(device_.ai_signals_, IsEmpty());
  EXPECT_THAT(device_.alarm_rules_, IsEmpty());
}

// ---- mode 3 alarm records ----------------------------------------------------

TEST_F(DeviceSettings, ModeThreeRecordsAndTheirLines) {
  ASSERT_TRUE(Init(ParseJson(R"({"appSetting":{"b_mode":3},"thresholdSetting":{
      "007001":{"SignalName":"电池电压高","NMAlarmID":"0418001","ID":7001,"SignalNumber":1},
      "007002":{"SignalName":"x","ID":2,"SignalNumber":"3"},
      "007003":{},
      "007004":{"NMAlarmID":null,"ID":true,"SignalNumber":1.5,"SignalName":12},
      "junk":5}})")));
  EXPECT_EQ(lines_,
            Concat({{"InitSetting 7 b_mode_:3"},
                    TestLines(Candidates("7", "mobile"), 8),
                    {"data_id:7 model:aikorvane b ini not found",
                     "parse ini/yaml filename:", "here 1", "here 2", "here 007001",
                     "mobile:007001:0418001;7001;1; level:0 value:0", "here 007002",
                     "7 NMAlarmID is missing", "mobile:007002:;2;3; level:0 value:0", "here 007003",
                     "7 NMAlarmID is missing", "7 ID is missing", "7 SignalNumber is missing",
                     "mobile:007003:;;; level:0 value:0", "here 007004", "7 NMAlarmID is missing",
                     "mobile:007004:;true;1.5; level:0 value:0", "here junk"}}));
  EXPECT_EQ(device_.alarm_signal_names_,
            (TextTable{{"007001", "电池电压高"}, {"007002", "x"}, {"007004", "12"}}));
  EXPECT_EQ(device_.alarm_report_prefix_, (TextTable{{"007001", "0418001;7001;1;"},
                                                     {"007002", ";2;3;"},
                                                     {"007003", ";;;"},
                                                     {"007004", ";true;1.5;"}}));
  // The log line reads the host's maps with the inserting lookup.
  EXPECT_EQ(device_.alarm_levels_.size(), 4u);
  EXPECT_EQ(device_.alarm_levels_.count("junk"), 0u);
  EXPECT_EQ(device_.alarm_values_.at("007003"), 0.0f);
}

TEST_F(DeviceSettings, ModeThreeLineShowsTheHostsLevelFromTheEarlierCall) {
  const Json::Value settings = ParseJson(R"({"appSetting":{"b_mode":3},
      "thresholdSetting":{"007001":{"SignalName":"n","NMAlarmID":"a","ID":"b","SignalNumber":"c"}},
      "hostSetting":{"alarms":{"007001":{"level":2,"value":53.5}}}})");
  ASSERT_TRUE(Init(settings));
  // The host's own settings are read last: the first call still saw nothing.
  EXPECT_THAT(lines_, ::testing::Contains("mobile:007001:a;b;c; level:0 value:0"));
  EXPECT_EQ(device_.alarm_levels_.at("007001"), 2);
  ASSERT_TRUE(Init(settings));
  EXPECT_THAT(lines_, ::testing::Contains("mobile:007001:a;b;c; level:2 value:53.5"));
}

TEST_F(DeviceSettings, ModeThreeThresholdSettingThatIsNoObjectIsAbsent) {
  for (const char* value : {"", ",\"thresholdSetting\":null", ",\"thresholdSetting\":[{\"ID\":1}]",
                            ",\"thresholdSetting\":5", ",\"thresholdSetting\":\"007001\"",
                            ",\"thresholdSetting\":true"}) {
    device_.alarm_signal_names_ = {{"old", "kept"}};
    ASSERT_TRUE(Init(ParseJson(std::string("{\"appSetting\":{\"b_mode\":3}") + value + "}")));
    EXPECT_EQ(lines_.back(), "here 1") << value;
    EXPECT_EQ(device_.alarm_signal_names_, (TextTable{{"old", "kept"}})) << value;
    EXPECT_THAT(device_.alarm_report_prefix_, IsEmpty()) << value;
  }
}

TEST_F(DeviceSettings, ModeThreeSecondCallOverwritesAndKeeps) {
  ASSERT_TRUE(Init(ParseJson(R"({"appSetting":{"b_mode":3},"thresholdSetting":{
      "a":{"SignalName":"A","NMAlarmID":1,"ID":2,"SignalNumber":3},
      "b":{"SignalName":"B","NMAlarmID":1,"ID":2,"SignalNumber":3}}})")));
  ASSERT_TRUE(Init(ParseJson(R"({"appSetting":{"b_mode":3},"thresholdSetting":{
      "b":{"NMAlarmID":9}}})")));
  EXPECT_EQ(device_.alarm_signal_names_, (TextTable{{"a", "A"}, {"b", "B"}}));
  EXPECT_EQ(device_.alarm_report_prefix_, (TextTable{{"a", "1;2;3;"}, {"b", "9;;;"}}));
}

TEST_F(DeviceSettings, ModeThreeValueWithoutTextFormStopsTheCall) {
  const std::string what = InitFails(ParseJson(R"({"appSetting":{"b_mode":3},"thresholdSetting":{
      "a":{"SignalName":"A","NMAlarmID":1,"ID":2,"SignalNumber":3},
      "b":{"SignalName":"B","NMAlarmID":[1],"ID":2,"SignalNumber":3},
      "c":{"SignalName":"C","NMAlarmID":1,"ID":2,"SignalNumber":3}},
      "hostSetting":{"aiGain":2}})"));
  EXPECT_FALSE(what.empty());
  EXPECT_EQ(device_.alarm_signal_names_, (TextTable{{"a", "A"}, {"b", "B"}}));
  EXPECT_EQ(device_.alarm_report_prefix_, (TextTable{{"a", "1;2;3;"}}));
  EXPECT_EQ(lines_.back(), "here b");
  EXPECT_EQ(device_.ai_gain_, 1);
}

TEST_F(DeviceSettings, RecordsAreReadOnlyInTheirModes) {
  const std::string records = R"("thresholdSetting":{"r":{"ID":"1","SignalName":"s",
      "NMAlarmID":1,"SignalNumber":1,"UpValue":1,"UpReconverValue":1,"UpAlarmLevel":1}})";
  for (int mode : {0, 1, 2, 4}) {
    AIKorvane device;
    CoutCapture capture;
    ASSERT_TRUE(device.InitSetting(WithMode(mode, records)));
    EXPECT_THAT(device.alarm_signal_names_, IsEmpty()) << mode;
    EXPECT_THAT(device.alarm_report_prefix_, IsEmpty()) << mode;
    EXPECT_THAT(device.up_thresholds_, IsEmpty()) << mode;
    EXPECT_THAT(capture.Lines(), ::testing::Not(::testing::Contains("here 1"))) << mode;
  }
}

// ---- mode 5 limit records ----------------------------------------------------

ThresholdEntry Entry(const std::string& id, float limit, float recovery, int level) {
  return ThresholdEntry(id, limit, recovery, false, level);
}

TEST_F(DeviceSettings, ModeFiveLoadsFourFamilies) {
  ASSERT_TRUE(Init(ParseJson(R"({"appSetting":{"b_mode":5},"thresholdSetting":{"x":{
      "ID":"100","SignalName":"电压",
      "UpValue":56,"UpReconverValue":55,"UpAlarmLevel":2,
      "Up2Value":58,"Up2ReconverValue":57,"Up2AlarmLevel":3,
      "LowValue":44,"LowReconverValue":45,"LowAlarmLevel":2,
      "Low2Value":42,"Low2ReconverValue":43,"Low2AlarmLevel":3}}})")));
  EXPECT_EQ(device_.up_thresholds_, (ThresholdTable{{"电压", Entry("100001", 56, 55, 2)}}));
  EXPECT_EQ(device_.up2_thresholds_, (ThresholdTable{{"电压", Entry("100002", 58, 57, 3)}}));
  EXPECT_EQ(device_.low_thresholds_, (ThresholdTable{{"电压", Entry("100003", 44, 45, 2)}}));
  EXPECT_EQ(device_.low2_thresholds_, (ThresholdTable{{"电压", Entry("100004", 42, 43, 3)}}));
  // Mode 5 adds no line of its own after the search.
  EXPECT_EQ(lines_.back(), "parse ini/yaml filename:");
}

TEST_F(DeviceSettings, ModeFiveLaterRecordReplacesFamilyByFamily) {
  ASSERT_TRUE(Init(ParseJson(R"({"appSetting":{"b_mode":5},"thresholdSetting":{
      "a":{"ID":"100","SignalName":"v",
           "UpValue":56,"UpReconverValue":55,"UpAlarmLevel":2,
           "Up2Value":58,"Up2ReconverValue":57,"Up2AlarmLevel":3,
           "LowValue":44,"LowReconverValue":45,"LowAlarmLevel":2,
           "Low2Value":42,"Low2ReconverValue":43,"Low2AlarmLevel":3},
      "b":{"ID":"200","SignalName":"v","LowValue":40,"LowReconverValue":41,"LowAlarmLevel":1,
           "UpValue":1,"UpReconverValue":1}}})")));
  EXPECT_EQ(device_.up_thresholds_.at("v"), Entry("100001", 56, 55, 2));
  EXPECT_EQ(device_.up2_thresholds_.at("v"), Entry("100002", 58, 57, 3));
  EXPECT_EQ(device_.low_thresholds_.at("v"), Entry("200003", 40, 41, 1));
  EXPECT_EQ(device_.low2_thresholds_.at("v"), Entry("100004", 42, 43, 3));
}

TEST_F(DeviceSettings, ModeFivePassesOverIncompleteRecords) {
  const std::string families =
      R"("UpValue":1,"UpReconverValue":1,"UpAlarmLevel":1,"Up2Value":1,"Up2ReconverValue":1,)"
      R"("Up2AlarmLevel":1,"LowValue":1,"LowReconverValue":1,"LowAlarmLevel":1,)"
      R"("Low2Value":1,"Low2ReconverValue":1,"Low2AlarmLevel":1)";
  ASSERT_TRUE(Init(ParseJson(
      R"({"appSetting":{"b_mode":5},"thresholdSetting":{)"
      R"("a":{"ID":"","SignalName":"a",)" +
      families + "}," + R"("b":{"ID":"1",)" + families + "}," +
      R"("c":{"ID":"1","SignalName":"",)" + families + "}," +
      R"("d":{"ID":null,"SignalName":"d",)" + families + "}," + R"("e":{"SignalName":"e",)" +
      families + "}," + R"("f":{"ID":"1","SignalName":null,)" + families + "}," +
      R"("g":5,"h":[1],"i":"text",)" + R"("ok":{"ID":"9","SignalName":"ok",)" + families + "}}}")));
  for (const ThresholdTable* table : {&device_.up_thresholds_, &device_.up2_thresholds_,
                                      &device_.low_thresholds_, &device_.low2_thresholds_}) {
    ASSERT_EQ(table->size(), 1u);
    EXPECT_EQ(table->begin()->first, "ok");
  }
  EXPECT_EQ(lines_.back(), "parse ini/yaml filename:");
}

TEST_F(DeviceSettings, ModeFiveIncompleteFamiliesAreSkippedAlone) {
  ASSERT_TRUE(Init(ParseJson(R"({"appSetting":{"b_mode":5},"thresholdSetting":{"r":{
      "ID":"5","SignalName":"s",
      "UpValue":"","UpReconverValue":55,"UpAlarmLevel":2,
      "Up2Value":58,"Up2ReconverValue":57,"Up2AlarmLevel":3,
      "LowValue":44,"LowReconverValue":45,"LowAlarmLevel":2,
      "Low2Value":42,"Low2ReconverValue":43,"Low2AlarmLevel":3}}})")));
  EXPECT_THAT(device_.up_thresholds_, IsEmpty());
  EXPECT_EQ(device_.up2_thresholds_.size(), 1u);
  EXPECT_EQ(device_.low_thresholds_.size(), 1u);
  EXPECT_EQ(device_.low2_thresholds_.size(), 1u);

  const struct {
    const char* family;
    bool loads;
  } cases[] = {
      {R"("UpValue":1,"UpReconverValue":1,"UpAlarmLevel":1)", true},
      {R"("UpValue":1,"UpReconverValue":1)", false},
      {R"("UpValue":1,"UpAlarmLevel":1)", false},
      {R"("UpReconverValue":1,"UpAlarmLevel":1)", false},
      {R"("UpValue":1,"UpReconverValue":null,"UpAlarmLevel":1)", false},
      {R"("UpValue":1,"UpReconverValue":1,"UpAlarmLevel":"")", false},
      {R"("UpValue":1,"UpReconverValue":"","UpAlarmLevel":1)", false},
      // Null is tested for all three before any text form is taken.
      {R"("UpValue":[1],"UpReconverValue":null,"UpAlarmLevel":1)", false},
      {R"("UpValue":1,"UpReconverValue":1,"UpAlarmLevel":1,"Up2Value":{"a":1})", true},
  };
  for (const auto& c : cases) {
    AIKorvane device;
    CoutCapture capture;
    ASSERT_TRUE(device.InitSetting(ParseJson(
        std::string(
            R"({"appSetting":{"b_mode":5},"thresholdSetting":{"r":{"ID":"5","SignalName":"s",)") +
        c.family + "}}}")))
        << c.family;
    EXPECT_EQ(device.up_thresholds_.size(), c.loads ? 1u : 0u) << c.family;
  }
}

TEST_F(DeviceSettings, ModeFiveNumbersAndStringsGiveTheSameEntry) {
  ASSERT_TRUE(Init(ParseJson(R"({"appSetting":{"b_mode":5},"thresholdSetting":{
      "n":{"ID":42,"SignalName":"N","UpValue":56.5,"UpReconverValue":0.1,"UpAlarmLevel":2,
           "LowValue":-3,"LowReconverValue":1e2,"LowAlarmLevel":4},
      "s":{"ID":"42","SignalName":"S","UpValue":"56.5","UpReconverValue":"0.1",
           "UpAlarmLevel":"2","LowValue":"-3","LowReconverValue":"100","LowAlarmLevel":"4"}}})")));
  EXPECT_EQ(device_.up_thresholds_.at("N"), device_.up_thresholds_.at("S"));
  EXPECT_EQ(device_.low_thresholds_.at("N"), device_.low_thresholds_.at("S"));
  EXPECT_EQ(device_.up_thresholds_.at("N"), Entry("42001", 56.5f, 0.1f, 2));
  EXPECT_EQ(device_.low_thresholds_.at("S"), Entry("42003", -3, 100, 4));
}

TEST_F(DeviceSettings, ModeFiveParsesWithAtofAndAtoi) {
  ASSERT_TRUE(Init(ParseJson(R"({"appSetting":{"b_mode":5},"thresholdSetting":{
      "r":{"ID":"7","SignalName":"s","UpValue":"56.5V","UpReconverValue":"abc","UpAlarmLevel":"2.9",
           "LowValue":true,"LowReconverValue":" 4","LowAlarmLevel":"x"}}})")));
  EXPECT_EQ(device_.up_thresholds_.at("s"), Entry("7001", 56.5f, 0, 2));
  EXPECT_EQ(device_.low_thresholds_.at("s"), Entry("7003", 0, 4, 0));
}

TEST_F(DeviceSettings, ModeFiveSecondCallStartsFromEmptyTables) {
  const Json::Value settings = ParseJson(R"({"appSetting":{"b_mode":5},"thresholdSetting":{
      "r":{"ID":"7","SignalName":"s","UpValue":5,"UpReconverValue":4,"UpAlarmLevel":1},
      "q":{"ID":"8","SignalName":"q","LowValue":5,"LowReconverValue":4,"LowAlarmLevel":1}}})");
  ASSERT_TRUE(Init(settings));
  std::get<3>(device_.up_thresholds_.at("s")) = true;
  // Same records again: the alarm state goes with the old entry.
  ASSERT_TRUE(Init(settings));
  EXPECT_FALSE(std::get<3>(device_.up_thresholds_.at("s")));
  ASSERT_TRUE(Init(ParseJson(R"({"appSetting":{"b_mode":5},"thresholdSetting":{
      "r":{"ID":"7","SignalName":"t","Up2Value":5,"Up2ReconverValue":4,"Up2AlarmLevel":1}}})")));
  EXPECT_THAT(device_.up_thresholds_, IsEmpty());
  EXPECT_THAT(device_.low_thresholds_, IsEmpty());
  EXPECT_EQ(device_.up2_thresholds_.size(), 1u);
  for (const char* rest : {"", ",\"thresholdSetting\":null", ",\"thresholdSetting\":[1]",
                           ",\"thresholdSetting\":\"r\""}) {
    ASSERT_TRUE(Init(settings));
    ASSERT_TRUE(Init(ParseJson(std::string("{\"appSetting\":{\"b_mode\":5}") + rest + "}")))
        << rest;
    EXPECT_THAT(device_.up_thresholds_, IsEmpty()) << rest;
    EXPECT_THAT(device_.up2_thresholds_, IsEmpty()) << rest;
    EXPECT_THAT(device_.low_thresholds_, IsEmpty()) << rest;
    EXPECT_THAT(device_.low2_thresholds_, IsEmpty()) << rest;
  }
}

TEST_F(DeviceSettings, ModeFiveValueWithoutTextFormStopsTheCall) {
  for (const char* bad :
       {R"("ID":[1],"SignalName":"b")", R"("ID":"2","SignalName":{"n":1})",
        R"("ID":"2","SignalName":"b","UpValue":[1],"UpReconverValue":1,"UpAlarmLevel":1)"}) {
    AIKorvane device;
    CoutCapture capture;
    EXPECT_THROW(
        device.InitSetting(ParseJson(
            std::string(
                R"({"appSetting":{"b_mode":5},"hostSetting":{"aiGain":2},"thresholdSetting":{)"
                R"("a":{"ID":"1","SignalName":"a","LowValue":1,"LowReconverValue":2,"LowAlarmLevel":3},)"
                R"("b":{)") +
            bad +
            R"(},"c":{"ID":"3","SignalName":"c","LowValue":1,"LowReconverValue":2,"LowAlarmLevel":3}}})")),
        Json::Exception)
        << bad;
    EXPECT_EQ(device.low_thresholds_.size(), 1u) << bad;
    EXPECT_EQ(device.low_thresholds_.count("a"), 1u) << bad;
    EXPECT_EQ(device.ai_gain_, 1) << bad;
  }
}

// ---- the framework's result ------------------------------------------------

TEST_F(DeviceSettings, FrameworkSettingsComeLastAndGiveTheResult) {
  ASSERT_TRUE(Init(ParseJson(R"({"hostSetting":{"aiGain":2,"aiOffset":-1}})")));
  EXPECT_EQ(device_.ai_gain_, 2);
  EXPECT_EQ(device_.ai_offset_, -1);
  EXPECT_TRUE(sim::LastSettingsError(device_).empty());

  // A bad host key: the device's own tables are loaded, the result is false.
  EXPECT_FALSE(Init(ParseJson(R"({"appSetting":{"b_mode":5},"hostSetting":{"aiGain":"x"},
      "thresholdSetting":{"r":{"ID":"7","SignalName":"s","UpValue":5,"UpReconverValue":4,
      "UpAlarmLevel":1}}})")));
  EXPECT_THAT(sim::LastSettingsError(device_), HasSubstr("aiGain"));
  EXPECT_EQ(device_.up_thresholds_.size(), 1u);
  EXPECT_EQ(device_.b_mode_, 5);

  EXPECT_FALSE(Init(ParseJson(R"({"hostSetting":[1]})")));
  EXPECT_TRUE(Init(ParseJson(R"({"hostSetting":{}})")));
}

}  // namespace
