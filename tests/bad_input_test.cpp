// Bad input that the device must ride out without an error reaching the host:
// settings that are no JSON object, signal table entries that cannot be
// checked, and readings or cached voltages that are no finite number.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/osk_controller.h"
#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"
#include "support/test_support.h"

namespace {

using testing_support::CoutCapture;
using testing_support::ScratchDir;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_.Init(std::weak_ptr<OSKController>(), 5, Json::Value());
    sim::SetSink(device_, sink_);
    sim::SetVirtualTime(1767225600);
  }
  void TearDown() override { sim::SetVirtualTime(std::nullopt); }

  ScratchDir scratch_;
  AIKorvane device_;
  std::shared_ptr<sim::RecordingSink> sink_ = std::make_shared<sim::RecordingSink>();
};

TEST_F(BadInputTest, SettingsThatAreNoObjectChangeNothing) {
  Json::Value array(Json::arrayValue);
  array.append(Json::Value(Json::objectValue));
  array[0]["appSetting"]["b_mode"] = 2;
  const Json::Value kinds[] = {array, Json::Value("appSetting"), Json::Value(3), Json::Value(true)};
  for (const int mode : {1, 3, 5}) {
    for (const Json::Value& settings : kinds) {
      SCOPED_TRACE(std::to_string(mode) + " " + settings.toStyledString());
      device_.b_mode_ = mode;
      device_.max_ = 60.0f;
      CoutCapture capture;
      EXPECT_NO_THROW(EXPECT_TRUE(device_.InitSetting(settings)));
      EXPECT_EQ(device_.b_mode_, mode);
      EXPECT_EQ(device_.max_, 60.0f);
      EXPECT_EQ(device_.data_.data_id, 5u);
    }
  }
}

TEST_F(BadInputTest, ModeOneSkipsShortIdsAndMembersWithoutANumber) {
  device_.b_mode_ = 1;
  device_.ai_signals_["电压"] = {"4611274", "short id"};
  device_.ai_signals_["更新时间"] = {"461127400002", "text member"};
  device_.ai_signals_["缺"] = {"461127400003", "absent member"};
  {
    CoutCapture capture;
    device_.process(5000);
    EXPECT_THAT(capture.Lines(), ::testing::Contains("RoundDone skips signal 电压: id 4611274 is "
                                                     "shorter than 9 characters"));
  }
  std::vector<std::string> checked;
  for (const Json::Value& event : sink_->Events("CheckThreshold")) {
    checked.push_back(event["id"].asString());
  }
  // Only the device's own checks: no per-signal check for any of the three.
  EXPECT_THAT(checked, ::testing::ElementsAre("value", "461627401001"));
  EXPECT_EQ(sink_->Events("SendSP").size(), 1u);
  EXPECT_EQ(sink_->Events("SaveDeviceHistory").size(), 1u);
}

struct NonFinite {
  const char* name;
  float reading;
};

class NonFiniteReadingTest : public BadInputTest,
                             public ::testing::WithParamInterface<NonFinite> {};

// A reading that is no finite number goes into the record as it is; every
// mode still completes the round and no comparison with it raises an alarm
// that a number would not.
TEST_P(NonFiniteReadingTest, RoundsCompleteInEveryMode) {
  for (const int mode : {1, 2, 3, 5}) {
    SCOPED_TRACE(mode);
    sink_->Clear();
    device_.b_mode_ = mode;
    device_.ai_mode_ = 2;  // the reading is used unchanged
    device_.alarm_levels_["110610050010"] = 1;
    device_.alarm_values_["110610050010"] = 45.0f;
    device_.up_thresholds_["电压"] = ThresholdEntry("990001001", 55.0f, 53.0f, false, 1);
    sim::SetAiReading(device_, 1, GetParam().reading);
    float value = 0.0f;
    {
      CoutCapture quiet;
      value = device_.process(20001);
    }
    EXPECT_EQ(std::memcmp(&value, &device_.data_.voltage, sizeof value), 0);
    EXPECT_EQ(std::isnan(value), std::isnan(GetParam().reading));
    EXPECT_EQ(sink_->Events("SendSP").size(), 1u);
    EXPECT_EQ(sink_->Events("SaveDeviceHistory").size(), 1u);
    EXPECT_TRUE(device_.rule_values_.empty());
    if (std::isnan(GetParam().reading)) {
      for (const Json::Value& event : sink_->Events("CheckThresholdBool")) {
        EXPECT_FALSE(event["condition"].asBool()) << event.toStyledString();
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Readings, NonFiniteReadingTest,
                         ::testing::Values(NonFinite{"NaN", kNaN}, NonFinite{"PlusInf", kInf},
                                           NonFinite{"MinusInf", -kInf}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
