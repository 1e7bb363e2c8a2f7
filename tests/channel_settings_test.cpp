// The device's own "appSetting" keys: how each value is parsed into its
// member, the calibration segments computed from the points, the record's
// data id and what a second call keeps.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/reader.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"
#include "support/test_support.h"

namespace {

using ::testing::HasSubstr;
using testing_support::CoutCapture;
using testing_support::ParseJson;
using testing_support::ScratchDir;

Json::Value App(const std::string& members) {
  return ParseJson("{\"appSetting\":{" + members + "}}");
}

// Runs InitSetting in an empty scratch directory (no profile to find) and
// keeps the device's output.
class ChannelSettings : public ::testing::Test {
 protected:
  bool Init(const Json::Value& settings) {
    CoutCapture capture;
    const bool result = device_.InitSetting(settings);
    lines_ = capture.Lines();
    return result;
  }
  // Lines other than the generic settings reading's own.
  std::vector<std::string> OwnLines() const {
    std::vector<std::string> own;
    for (const auto& line : lines_) {
      if (line.rfind("AIKorvane::", 0) == 0) own.push_back(line);
    }
    return own;
  }

  ScratchDir scratch_;
  AIKorvane device_;
  std::vector<std::string> lines_;
};

// ---- integer keys (atoi) -------------------------------------------------

struct IntKey {
  const char* key;
  int AIKorvane::*member;
};

const IntKey kIntKeys[] = {
    {"real_value", &AIKorvane::real_value_},
    {"ai_index", &AIKorvane::ai_index_},
    {"mode", &AIKorvane::ai_mode_},
};

struct TextCase {
  const char* json;  // the value as JSON text
  int expected;
};

const TextCase kAtoiCases[] = {
    {"12", 12},       {"\"12\"", 12}, {"-3", -3},      {"\"-3\"", -3},
    {"\" 7abc\"", 7}, {"\"+4\"", 4},  {"\"abc\"", 0},  {"\"\"", 0},
    {"true", 0},      {"false", 0},   {"3.9", 3},      {"\"3.9\"", 3},
    {"\"2e3\"", 2},   {"0", 0},       {"\"0x1F\"", 0}, {"1e2", 100},
};

TEST_F(ChannelSettings, IntegerKeysTakeTheLeadingInteger) {
  for (const auto& key : kIntKeys) {
    for (const auto& c : kAtoiCases) {
      AIKorvane fresh;
      fresh.*key.member = 55;
      CoutCapture quiet;
      fresh.InitSetting(App(std::string("\"") + key.key + "\":" + c.json));
      EXPECT_EQ(fresh.*key.member, c.expected) << key.key << " = " << c.json;
    }
  }
}

TEST_F(ChannelSettings, AbsentOrNullIntegerKeysLeaveTheMember) {
  for (const auto& key : kIntKeys) {
    const std::string members_list[] = {"", "\"other\":1", std::string("\"") + key.key + "\":null"};
    for (const std::string& members : members_list) {
      AIKorvane fresh;
      fresh.*key.member = 55;
      CoutCapture quiet;
      fresh.InitSetting(App(members));
      EXPECT_EQ(fresh.*key.member, 55) << key.key << " with {" << members << "}";
    }
  }
}

TEST_F(ChannelSettings, CurrentModeIsSetByAnyNonZeroInteger) {
  const struct {
    const char* json;
    bool expected;
  } cases[] = {
      {"\"1\"", true},  {"\"2\"", true}, {"1", true},        {"-1", true},
      {"\"0\"", false}, {"0", false},    {"\"abc\"", false}, {"true", false},
      {"0.5", false},   {"\"\"", false}, {"\" 3 \"", true},
  };
  for (const bool before : {false, true}) {
    for (const auto& c : cases) {
      AIKorvane fresh;
      fresh.is_current_mode_ = before;
      CoutCapture quiet;
      fresh.InitSetting(App(std::string("\"current_mode\":") + c.json));
      EXPECT_EQ(fresh.is_current_mode_, c.expected) << c.json << " over " << before;
    }
  }
  AIKorvane kept;
  kept.is_current_mode_ = true;
  CoutCapture quiet;
  kept.InitSetting(App("\"current_mode\":null"));
  EXPECT_TRUE(kept.is_current_mode_);
}

TEST_F(ChannelSettings, MaxVoltsZeroOrNoNumberBecomesFive) {
  const TextCase cases[] = {
      {"\"0\"", 5}, {"0", 5},       {"\"abc\"", 5}, {"\"\"", 5}, {"true", 5},
      {"12", 12},   {"\"10\"", 10}, {"\"-2\"", -2}, {"2.5", 2},  {"0.9", 5},
  };
  for (const auto& c : cases) {
    AIKorvane fresh;
    fresh.max_v_ = 7;
    CoutCapture quiet;
    fresh.InitSetting(App(std::string("\"max_v\":") + c.json));
    EXPECT_EQ(fresh.max_v_, c.expected) << c.json;
  }
  EXPECT_TRUE(Init(App("\"min\":1")));
  EXPECT_EQ(device_.max_v_, 5) << "absent on a new device";
  Init(App("\"max_v\":12"));
  Init(App("\"max_v\":null"));
  EXPECT_EQ(device_.max_v_, 12) << "null keeps the earlier value";
}

// ---- float keys (sscanf "%f") ----------------------------------------------

struct FloatKey {
  const char* key;
  float AIKorvane::*member;
};

const FloatKey kFloatKeys[] = {
    {"min", &AIKorvane::min_},
    {"max", &AIKorvane::max_},
    {"discharge_v_end", &AIKorvane::discharge_v_end_},
    {"discharge_v_diff", &AIKorvane::discharge_v_diff_},
    {"y1", &AIKorvane::y1_},
    {"x1", &AIKorvane::x1_},
    {"y2", &AIKorvane::y2_},
    {"x2", &AIKorvane::x2_},
    {"y3", &AIKorvane::y3_},
    {"x3", &AIKorvane::x3_},
    {"y4", &AIKorvane::y4_},
    {"x4", &AIKorvane::x4_},
};

struct FloatCase {
  const char* json;
  bool parses;
  float expected;  // when parses
};

const FloatCase kScanfCases[] = {
    {"47.5", true, 47.5f},     {"\"47.5\"", true, 47.5f},
    {"-1.25", true, -1.25f},   {"\"  -1.25xyz\"", true, -1.25f},
    {"\"1e2\"", true, 100.0f}, {"3", true, 3.0f},
    {"0.1", true, 0.1f},       {"\"0.1\"", true, 0.1f},
    {"\".5\"", true, 0.5f},    {"\"abc\"", false, 0},
    {"\"\"", false, 0},        {"\"   \"", false, 0},
    {"true", false, 0},        {"false", false, 0},
    {"null", false, 0},
};

TEST_F(ChannelSettings, FloatKeysParseOrKeepTheirValue) {
  for (const auto& key : kFloatKeys) {
    for (const auto& c : kScanfCases) {
      AIKorvane fresh;
      fresh.*key.member = 9.5f;
      CoutCapture quiet;
      fresh.InitSetting(App(std::string("\"") + key.key + "\":" + c.json));
      EXPECT_EQ(fresh.*key.member, c.parses ? c.expected : 9.5f) << key.key << " = " << c.json;
    }
  }
}

TEST_F(ChannelSettings, NumberAndStringGiveTheSameMembers) {
  const char* keys[] = {"current_mode",
                        "real_value",
                        "ai_index",
                        "min",
                        "max",
                        "discharge_v",
                        "discharge_v_end",
                        "discharge_v_diff",
                        "max_v",
                        "y1",
                        "x1",
                        "y2",
                        "x2",
                        "y3",
                        "x3",
                        "y4",
                        "x4",
                        "mode"};
  const char* numbers[] = {"1",  "1",   "4",  "10",  "60", "47.5", "46.25", "0.05", "10",
                           "11", "1.5", "22", "2.5", "33", "3.5",  "44",    "4.5",  "1"};
  std::string as_numbers, as_strings;
  for (size_t i = 0; i < std::size(keys); ++i) {
    const std::string sep = i == 0 ? "" : ",";
    as_numbers += sep + "\"" + keys[i] + "\":" + numbers[i];
    as_strings += sep + "\"" + keys[i] + "\":\"" + numbers[i] + "\"";
  }
  AIKorvane a, b;
  {
    CoutCapture quiet;
    a.InitSetting(App(as_numbers));
    b.InitSetting(App(as_strings));
  }
  EXPECT_TRUE(a.is_current_mode_);
  EXPECT_EQ(a.is_current_mode_, b.is_current_mode_);
  EXPECT_EQ(a.real_value_, b.real_value_);
  EXPECT_EQ(a.ai_index_, 4);
  EXPECT_EQ(a.ai_index_, b.ai_index_);
  EXPECT_EQ(a.ai_mode_, b.ai_mode_);
  EXPECT_EQ(a.max_v_, 10);
  EXPECT_EQ(a.max_v_, b.max_v_);
  for (const auto& key : kFloatKeys) EXPECT_EQ(a.*key.member, b.*key.member) << key.key;
  EXPECT_EQ(a.discharge_v_, 47.5f);
  EXPECT_EQ(a.discharge_v_, b.discharge_v_);
  for (float AIKorvane::*segment :
       {&AIKorvane::slope1_, &AIKorvane::intercept1_, &AIKorvane::slope2_, &AIKorvane::intercept2_,
        &AIKorvane::slope3_, &AIKorvane::intercept3_}) {
    EXPECT_EQ(a.*segment, b.*segment);
  }
  EXPECT_FLOAT_EQ(a.slope2_, 11.0f);
}

// ---- discharge voltages ------------------------------------------------------

TEST_F(ChannelSettings, DischargeStartAlsoSetsTheEnd) {
  const struct {
    const char* members;
    float start;
    float end;
  } cases[] = {
      {"\"discharge_v\":47.5", 47.5f, 47.5f},
      {"\"discharge_v\":\"47.5\"", 47.5f, 47.5f},
      {"\"discharge_v\":47.5,\"discharge_v_end\":46", 47.5f, 46.0f},
      {"\"discharge_v_end\":46,\"discharge_v\":47.5", 47.5f, 46.0f},
      {"\"discharge_v\":47.5,\"discharge_v_end\":\"abc\"", 47.5f, 47.5f},
      {"\"discharge_v\":47.5,\"discharge_v_end\":null", 47.5f, 47.5f},
      // A start that is no number keeps the old start, and the end follows it.
      {"\"discharge_v\":\"abc\"", 40.0f, 40.0f},
      {"\"discharge_v_end\":44", 40.0f, 44.0f},
      {"", 40.0f, 30.0f},
  };
  for (const auto& c : cases) {
    AIKorvane fresh;
    fresh.discharge_v_ = 40;
    fresh.discharge_v_end_ = 30;
    CoutCapture quiet;
    fresh.InitSetting(App(c.members));
    EXPECT_EQ(fresh.discharge_v_, c.start) << c.members;
    EXPECT_EQ(fresh.discharge_v_end_, c.end) << c.members;
  }
}

// ---- calibration segments ------------------------------------------------

struct SegmentCase {
  const char* name;
  const char* points;  // appSetting members
  float segments[6];   // slope1, intercept1, slope2, intercept2, slope3, intercept3
};

TEST_F(ChannelSettings, SegmentsFromQualifyingPoints) {
  const SegmentCase cases[] = {
      {"tens",
       "\"x1\":1,\"y1\":10,\"x2\":2,\"y2\":20,\"x3\":3,\"y3\":30,\"x4\":4,\"y4\":40",
       {10, 0, 10, 0, 10, 0}},
      {"three lines",
       "\"x1\":1,\"y1\":2,\"x2\":3,\"y2\":8,\"x3\":5,\"y3\":10,\"x4\":9,\"y4\":30",
       {3, -1, 1, 5, 5, -15}},
      {"negative points",
       "\"x1\":-1,\"y1\":-10,\"x2\":-2,\"y2\":-20,\"x3\":-3,\"y3\":-30,\"x4\":-4,\"y4\":-40",
       {10, 0, 10, 0, 10, 0}},
      {"descending x",
       "\"x1\":4,\"y1\":8,\"x2\":2,\"y2\":4,\"x3\":1,\"y3\":3,\"x4\":-1,\"y4\":1",
       {2, 0, 1, 2, 1, 2}},
      {"first point at zero leaves segment 1",
       "\"x1\":0,\"y1\":0,\"x2\":2,\"y2\":20,\"x3\":3,\"y3\":30,\"x4\":4,\"y4\":40",
       {1, 0, 10, 0, 10, 0}},
      {"y at zero leaves its segments",
       "\"x1\":1,\"y1\":10,\"x2\":2,\"y2\":0,\"x3\":3,\"y3\":30,\"x4\":4,\"y4\":40",
       {1, 0, 1, 0, 10, 0}},
      {"tiny magnitudes count as unset",
       "\"x1\":0.0009,\"y1\":10,\"x2\":2,\"y2\":20,\"x3\":3,\"y3\":-0.0005,\"x4\":4,\"y4\":40",
       {1, 0, 1, 0, 1, 0}},
      // 0.001 parsed as a float is 0.00100000005, just above the double 0.001.
      {"0.001 in single precision qualifies",
       "\"x1\":0.001,\"y1\":0.002,\"x2\":1.001,\"y2\":2.002,\"x3\":0,\"x4\":0",
       {2, 0, 1, 0, 1, 0}},
      {"only the last pair set", "\"x3\":3,\"y3\":30,\"x4\":5,\"y4\":10", {1, 0, 1, 0, -10, 60}},
      {"no points", "\"min\":1", {1, 0, 1, 0, 1, 0}},
  };
  for (const auto& c : cases) {
    AIKorvane fresh;
    CoutCapture quiet;
    fresh.InitSetting(App(c.points));
    const float got[6] = {fresh.slope1_,     fresh.intercept1_, fresh.slope2_,
                          fresh.intercept2_, fresh.slope3_,     fresh.intercept3_};
    for (int i = 0; i < 6; ++i) {
      EXPECT_NEAR(got[i], c.segments[i], 1e-5f) << c.name << " field " << i;
    }
  }
}

TEST_F(ChannelSettings, SegmentArithmeticIsSinglePrecisionWithTheTwoPointIntercept) {
  Init(App("\"x1\":0.1,\"y1\":0.3,\"x2\":0.7,\"y2\":1.1"));
  const float x1 = 0.1f, y1 = 0.3f, x2 = 0.7f, y2 = 1.1f;
  EXPECT_EQ(device_.slope1_, (y1 - y2) / (x1 - x2));
  EXPECT_EQ(device_.intercept1_, (y1 * x2 - y2 * x1) / (x2 - x1));
}

TEST_F(ChannelSettings, EqualXSegmentIsRefusedWithOneLine) {
  // Segments 2 and 3 first get lines from distinct points.
  Init(App("\"x1\":1,\"y1\":10,\"x2\":2,\"y2\":20,\"x3\":3,\"y3\":30,\"x4\":4,\"y4\":40"));
  // Now points 2 and 3 share x = 2: segment 2 keeps slope 10 / intercept 0.
  Init(App("\"x3\":2,\"y3\":25"));
  EXPECT_FLOAT_EQ(device_.slope2_, 10);
  EXPECT_FLOAT_EQ(device_.intercept2_, 0);
  EXPECT_TRUE(std::isfinite(device_.slope2_));
  // Segment 3 (2,25)..(4,40) is still computed.
  EXPECT_FLOAT_EQ(device_.slope3_, 7.5f);
  EXPECT_FLOAT_EQ(device_.intercept3_, 10);
  EXPECT_THAT(OwnLines(), ::testing::ElementsAre(
                              "AIKorvane::InitSetting calibration segment 2 refused: both points "
                              "have x 2"));
}

TEST_F(ChannelSettings, EqualXOnANewDeviceKeepsTheIdentity) {
  Init(App("\"x1\":1.5,\"y1\":10,\"x2\":1.5,\"y2\":20,\"x3\":-7,\"y3\":30,\"x4\":-7,\"y4\":40"));
  EXPECT_EQ(device_.slope1_, 1);
  EXPECT_EQ(device_.intercept1_, 0);
  EXPECT_EQ(device_.slope3_, 1);
  EXPECT_EQ(device_.intercept3_, 0);
  EXPECT_TRUE(std::isfinite(device_.slope2_));
  EXPECT_TRUE(std::isfinite(device_.intercept2_));
  EXPECT_THAT(OwnLines(),
              ::testing::ElementsAre(
                  "AIKorvane::InitSetting calibration segment 1 refused: both points have x 1.5",
                  "AIKorvane::InitSetting calibration segment 3 refused: both points have x -7"));
}

TEST_F(ChannelSettings, DistinctPointsLogNothing) {
  Init(
      App("\"x1\":1,\"y1\":10,\"x2\":2,\"y2\":20,\"x3\":3,\"y3\":30,\"x4\":4,\"y4\":40,"
          "\"min\":1,\"max\":2,\"mode\":1"));
  EXPECT_TRUE(OwnLines().empty());
}

// ---- values without a text form ------------------------------------------

TEST_F(ChannelSettings, ArrayOrObjectValueThrowsAndEarlierKeysStay) {
  for (const char* bad : {"[1]", "{\"v\":1}"}) {
    AIKorvane fresh;
    fresh.data_id_ = 77;
    fresh.discharge_v_ = 40;
    const Json::Value settings =
        ParseJson(std::string("{\"appSetting\":{\"current_mode\":1,\"ai_index\":3,\"min\":2,"
                              "\"max\":") +
                  bad +
                  ",\"discharge_v\":47,\"mode\":1,\"b_mode\":3},"
                  "\"hostSetting\":{\"aiGain\":2}}");
    CoutCapture capture;
    EXPECT_THROW(fresh.InitSetting(settings), Json::Exception) << bad;
    // Read before the failing key.
    EXPECT_TRUE(fresh.is_current_mode_);
    EXPECT_EQ(fresh.ai_index_, 3);
    EXPECT_EQ(fresh.min_, 2);
    // Not read: the failing key, the keys after it and the rest of the call.
    EXPECT_EQ(fresh.max_, 0);
    EXPECT_EQ(fresh.discharge_v_, 40);
    EXPECT_EQ(fresh.ai_mode_, 0);
    EXPECT_EQ(fresh.data_.data_id, 0u);
    EXPECT_EQ(fresh.b_mode_, 1);
    EXPECT_EQ(fresh.ai_gain_, 1);
    EXPECT_TRUE(capture.Lines().empty());
  }
}

// ---- record id, "appSetting" shapes and repeated calls -------------------

TEST_F(ChannelSettings, RecordCarriesTheDataIdWithOrWithoutSettings) {
  const char* settings[] = {
      "{}",
      "null",
      "{\"appSetting\":null}",
      "{\"appSetting\":5}",
      "{\"appSetting\":\"text\"}",
      "{\"appSetting\":[1,2]}",
      "{\"appSetting\":{\"min\":1}}",
  };
  unsigned int id = 4000000000u;
  for (const char* text : settings) {
    AIKorvane fresh;
    fresh.data_id_ = ++id;
    CoutCapture quiet;
    EXPECT_TRUE(fresh.InitSetting(ParseJson(text))) << text;
    EXPECT_EQ(fresh.data_.data_id, fresh.DataId()) << text;
    EXPECT_EQ(fresh.data_.data_id, id) << text;
  }
}

TEST_F(ChannelSettings, AppSettingThatIsNoObjectChangesNothing) {
  device_.min_ = 3;
  device_.ai_index_ = 2;
  for (const char* text : {"{\"appSetting\":[{\"min\":9}]}", "{\"appSetting\":\"min\"}",
                           "{\"appSetting\":7}", "{\"min\":9,\"ai_index\":5}"}) {
    Init(ParseJson(text));
    EXPECT_EQ(device_.min_, 3) << text;
    EXPECT_EQ(device_.ai_index_, 2) << text;
    EXPECT_EQ(device_.max_v_, 5) << text;
  }
}

TEST_F(ChannelSettings, ResultIsTheFrameworks) {
  EXPECT_TRUE(Init(App("\"min\":1")));
  EXPECT_FALSE(Init(ParseJson("{\"appSetting\":{\"min\":2},\"hostSetting\":{\"aiGain\":\"x\"}}")));
  EXPECT_THAT(sim::LastSettingsError(device_), HasSubstr("aiGain"));
  EXPECT_EQ(device_.min_, 2) << "own keys are read before the framework refuses";
}

TEST_F(ChannelSettings, SecondCallKeepsWhatItDoesNotName) {
  Init(
      App("\"current_mode\":1,\"real_value\":1,\"ai_index\":4,\"min\":1,\"max\":9,"
          "\"discharge_v\":47,\"discharge_v_end\":46,\"discharge_v_diff\":0.5,\"max_v\":10,"
          "\"x1\":1,\"y1\":10,\"x2\":2,\"y2\":20,\"x3\":3,\"y3\":30,\"x4\":4,\"y4\":40,"
          "\"mode\":2"));
  // The second call names only max and unsets point 1: segment 1 keeps its
  // earlier line, and nothing else moves.
  Init(App("\"max\":12,\"x1\":0"));
  EXPECT_TRUE(device_.is_current_mode_);
  EXPECT_EQ(device_.real_value_, 1);
  EXPECT_EQ(device_.ai_index_, 4);
  EXPECT_EQ(device_.min_, 1);
  EXPECT_EQ(device_.max_, 12);
  EXPECT_EQ(device_.discharge_v_, 47);
  EXPECT_EQ(device_.discharge_v_end_, 46);
  EXPECT_EQ(device_.discharge_v_diff_, 0.5f);
  EXPECT_EQ(device_.max_v_, 10);
  EXPECT_EQ(device_.ai_mode_, 2);
  EXPECT_EQ(device_.x1_, 0);
  EXPECT_EQ(device_.y1_, 10);
  EXPECT_FLOAT_EQ(device_.slope1_, 10);
  EXPECT_FLOAT_EQ(device_.slope2_, 10);
  EXPECT_FLOAT_EQ(device_.slope3_, 10);
  // Without "appSetting" at all, everything stays.
  Init(ParseJson("{}"));
  EXPECT_EQ(device_.max_, 12);
  EXPECT_FLOAT_EQ(device_.slope1_, 10);
}

}  // namespace
