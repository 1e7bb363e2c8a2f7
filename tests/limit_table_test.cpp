// Limit tables with hysteresis: the flag sequences, the messages and their
// number format, and what the host receives per entry.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "round_support.h"

namespace {

using round_support::Canon;
using round_support::Probe;

struct Step {
  bool active;
  std::string message;
  bool operator==(const Step& other) const {
    return active == other.active && message == other.message;
  }
};

std::ostream& operator<<(std::ostream& out, const Step& step) {
  return out << (step.active ? "active" : "inactive") << " \"" << step.message << "\"";
}

// Feeds the values one check at a time through a one-entry table and returns
// what the host received each time.
std::vector<Step> Feed(bool is_upper, float threshold, float recovery,
                       const std::vector<double>& values) {
  Probe probe;
  AIKorvane& device = *probe.device;
  ThresholdTable table = {{"电压", {"900001001", threshold, recovery, false, 2}}};
  for (double value : values) {
    device.value_["电压"] = value;
    device.CheckSignalThresholdMap(table, is_upper);
  }
  std::vector<Step> steps;
  for (const Json::Value& event : probe.sink->Events("CheckThresholdBool")) {
    steps.push_back({event["condition"].asBool(), event["texts"][3].asString()});
  }
  EXPECT_EQ(steps.size(), values.size());
  if (!steps.empty()) {
    EXPECT_EQ(std::get<3>(table["电压"]), steps.back().active);
  }
  return steps;
}

const std::string kUp = "高于阈值:";
const std::string kLow = "低于阈值:";

TEST(LimitTable, UpperHysteresis) {
  EXPECT_EQ(Feed(true, 50.0f, 45.0f, {49, 50, 47, 45, 44}),
            (std::vector<Step>{{false, ""},
                               {true, "当前值50" + kUp + "50"},
                               {true, "当前值47" + kUp + "50"},
                               {false, ""},
                               {false, ""}}));
}

TEST(LimitTable, LowerHysteresis) {
  EXPECT_EQ(Feed(false, 42.0f, 44.0f, {43, 42, 43.5, 44}),
            (std::vector<Step>{{false, ""},
                               {true, "当前值42" + kLow + "42"},
                               {true, "当前值43.5" + kLow + "42"},
                               {false, ""}}));
}

// A recovery value on the far side of the threshold makes a steady value
// alternate from round to round.
TEST(LimitTable, RecoveryBeyondThresholdAlternates) {
  const std::vector<Step> upper = {
      {true, "当前值52" + kUp + "50"}, {false, ""}, {true, "当前值52" + kUp + "50"}, {false, ""}};
  EXPECT_EQ(Feed(true, 50.0f, 55.0f, {52, 52, 52, 52}), upper);
  const std::vector<Step> lower = {
      {true, "当前值41" + kLow + "42"}, {false, ""}, {true, "当前值41" + kLow + "42"}, {false, ""}};
  EXPECT_EQ(Feed(false, 42.0f, 40.0f, {41, 41, 41, 41}), lower);
}

// Numbers print as lexical_cast writes a float: nine significant digits,
// inf and nan with their sign.
TEST(LimitTable, MessageNumberFormat) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(Feed(true, 50.0f, 45.0f, {53.2}),
            (std::vector<Step>{{true, "当前值53.2000008" + kUp + "50"}}));
  EXPECT_EQ(Feed(true, 50.5f, 45.0f, {57}), (std::vector<Step>{{true, "当前值57" + kUp + "50.5"}}));
  EXPECT_EQ(Feed(true, 50.0f, 45.0f, {inf}), (std::vector<Step>{{true, "当前值inf" + kUp + "50"}}));
  EXPECT_EQ(Feed(false, 42.0f, 44.0f, {-inf}),
            (std::vector<Step>{{true, "当前值-inf" + kLow + "42"}}));
  EXPECT_EQ(Feed(true, -std::numeric_limits<float>::infinity(), 0.0f, {1}),
            (std::vector<Step>{{true, "当前值1" + kUp + "-inf"}}));
  // NaN compares false: it raises nothing and clears nothing.
  EXPECT_EQ(Feed(true, 50.0f, 45.0f, {nan, 51, nan, std::copysign(nan, -1.0), 40}),
            (std::vector<Step>{{false, ""},
                               {true, "当前值51" + kUp + "50"},
                               {true, "当前值nan" + kUp + "50"},
                               {true, "当前值-nan" + kUp + "50"},
                               {false, ""}}));
  EXPECT_EQ(Feed(false, 42.0f, 44.0f, {nan, 41, nan, 45}),
            (std::vector<Step>{{false, ""},
                               {true, "当前值41" + kLow + "42"},
                               {true, "当前值nan" + kLow + "42"},
                               {false, ""}}));
}

// The host call: level, key, alarm id, value text, message, flag, 1 -- not the
// order the other callers use.
TEST(LimitTable, HostCallArgumentOrder) {
  Probe probe;
  AIKorvane& device = *probe.device;
  device.value_["电压"] = static_cast<double>(53.2f);
  ThresholdTable table = {{"电压", {"007201001", 50.0f, 45.0f, false, 0}}};
  device.CheckSignalThresholdMap(table, true);
  const auto calls = probe.sink->Events("CheckThresholdBool");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(Canon(calls[0]), Canon(R"({"event":"CheckThresholdBool","level":0,"texts":["电压",)"
                                   R"("007201001","53.2000008","当前值53.2000008高于阈值:50"],)"
                                   R"("condition":true,"flags":1})"));
}

// Entries without a numeric member are passed over: no call, no added member,
// and the flag stays as it was. Integers count as numbers.
TEST(LimitTable, NonNumericMembersAreSkipped) {
  Probe probe;
  AIKorvane& device = *probe.device;
  device.value_["更新时间"] = "2026-12-7 9:5:3";
  device.value_["flag"] = true;
  device.value_["null"] = Json::Value();
  device.value_["list"] = Json::Value(Json::arrayValue);
  device.value_["count"] = 57;
  device.value_["big"] = Json::UInt64(60);
  ThresholdTable table = {
      {"absent", {"1", 1.0f, 0.0f, true, 1}},   {"big", {"2", 50.0f, 45.0f, false, 1}},
      {"count", {"3", 50.0f, 45.0f, false, 1}}, {"flag", {"4", 0.0f, 0.0f, true, 1}},
      {"list", {"5", 0.0f, 0.0f, true, 1}},     {"null", {"6", 0.0f, 0.0f, true, 1}},
      {"更新时间", {"7", 0.0f, 0.0f, true, 1}},
  };
  for (int round = 0; round < 2; ++round) device.CheckSignalThresholdMap(table, true);

  std::vector<std::string> ids;
  for (const Json::Value& event : probe.sink->Events("CheckThresholdBool")) {
    ids.push_back(event["texts"][1].asString() + "=" + event["texts"][2].asString());
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"2=60", "3=57", "2=60", "3=57"}));
  EXPECT_FALSE(device.value_.isMember("absent"));
  for (const char* skipped : {"absent", "flag", "list", "null", "更新时间"}) {
    EXPECT_TRUE(std::get<3>(table[skipped])) << skipped;
  }
}

// One call per numeric entry per check, in key order, whatever the flag.
TEST(LimitTable, EveryNumericEntryIsReportedInKeyOrder) {
  Probe probe;
  AIKorvane& device = *probe.device;
  device.value_["a"] = 10.0;
  device.value_["b"] = 20.0;
  device.value_["c"] = 30.0;
  ThresholdTable table = {{"c", {"id-c", 25.0f, 20.0f, false, 3}},
                          {"a", {"id-a", 5.0f, 1.0f, false, 1}},
                          {"b", {"id-b", 50.0f, 40.0f, false, 2}}};
  device.CheckSignalThresholdMap(table, true);
  std::vector<std::string> calls;
  for (const Json::Value& event : probe.sink->Events("CheckThresholdBool")) {
    calls.push_back(event["texts"][0].asString() + ":" + std::to_string(event["level"].asInt()) +
                    ":" + (event["condition"].asBool() ? "on" : "off"));
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"a:1:on", "b:2:off", "c:3:on"}));
}

}  // namespace
