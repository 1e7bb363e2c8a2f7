// The battery voltage checks of each operating mode: which framework calls a
// round's check makes, with which ids, names, descriptions and conditions.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/value.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"
#include "support/test_support.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing_support::CoutCapture;
using testing_support::ScratchDir;

// One CheckThresholdBool call as the framework saw it.
struct BoolCall {
  int level;
  std::string alarm_id;
  std::string signal_id;
  std::string name;
  std::string text;
  bool condition;
  int flags;
  bool operator==(const BoolCall& other) const {
    return level == other.level && alarm_id == other.alarm_id && signal_id == other.signal_id &&
           name == other.name && text == other.text && condition == other.condition &&
           flags == other.flags;
  }
  friend std::ostream& operator<<(std::ostream& out, const BoolCall& call) {
    return out << "{" << call.level << ", " << call.alarm_id << ", " << call.signal_id << ", "
               << call.name << ", " << call.text << ", " << call.condition << ", " << call.flags
               << "}";
  }
};

// The mode-2 rows: id, name, and whether a voltage above the threshold alarms.
struct Row {
  const char* id;
  const char* name;
  bool high;
};

const Row kMode2Rows[] = {
    {"110610040010", "001#48V蓄电池电压过高", true},
    {"110610050010", "001#48V蓄电池电压过低", false},
    {"110610060010", "001#48V蓄电池电压超低", false},
    {"110410040010", "001#UPS蓄电池组电压过高", true},
    {"110410050010", "001#UPS蓄电池组电压过低", false},
    {"110410060010", "001#UPS蓄电池组电压超低", false},
};

class AlarmRowsTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::SetSink(device_, sink_); }

  // Runs the check at voltage v, keeping its diagnostic lines.
  void Check(int mode, float v) {
    device_.b_mode_ = mode;
    device_.data_.voltage = v;
    sink_->Clear();
    CoutCapture capture;
    device_.RunCheckThreshold();
    lines_ = capture.Lines();
  }

  void Alarm(const std::string& id, int level, float threshold) {
    device_.alarm_levels_[id] = level;
    device_.alarm_values_[id] = threshold;
  }

  std::vector<BoolCall> BoolCalls() const {
    std::vector<BoolCall> calls;
    for (const Json::Value& event : sink_->Events("CheckThresholdBool")) {
      const Json::Value& texts = event["texts"];
      calls.push_back(BoolCall{event["level"].asInt(), texts[0].asString(), texts[1].asString(),
                               texts[2].asString(), texts[3].asString(),
                               event["condition"].asBool(), event["flags"].asInt()});
    }
    return calls;
  }

  // Every event's name in order.
  std::vector<std::string> EventNames() const {
    std::vector<std::string> names;
    for (const Json::Value& event : sink_->Events()) names.push_back(event["event"].asString());
    return names;
  }

  AIKorvane device_;
  std::shared_ptr<sim::RecordingSink> sink_ = std::make_shared<sim::RecordingSink>();
  std::vector<std::string> lines_;
};

Json::Value ThresholdEvent(const std::string& id, const std::string& name, double value) {
  Json::Value event(Json::objectValue);
  event["event"] = "CheckThreshold";
  event["id"] = id;
  event["name"] = name;
  event["value"] = value;
  event["flag"] = 1;
  return event;
}

TEST_F(AlarmRowsTest, Mode2ChecksSixRowsInOrderAfterGenericCheck) {
  for (int i = 0; i < 6; ++i) Alarm(kMode2Rows[i].id, i + 1, 50.0f);

  Check(2, 53.5f);

  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:53.5"));
  const std::vector<Json::Value> events = sink_->Events();
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[0], ThresholdEvent("value", "电压", 53.5));
  EXPECT_THAT(BoolCalls(),
              ElementsAre(BoolCall{1, "110610040010", "110610040010", "001#48V蓄电池电压过高",
                                   "001#48V蓄电池电压过高 当前值：53.5", true, 1},
                          BoolCall{2, "110610050010", "110610050010", "001#48V蓄电池电压过低",
                                   "001#48V蓄电池电压过低 当前值：53.5", false, 1},
                          BoolCall{3, "110610060010", "110610060010", "001#48V蓄电池电压超低",
                                   "001#48V蓄电池电压超低 当前值：53.5", false, 1},
                          BoolCall{4, "110410040010", "110410040010", "001#UPS蓄电池组电压过高",
                                   "001#UPS蓄电池组电压过高 当前值：53.5", true, 1},
                          BoolCall{5, "110410050010", "110410050010", "001#UPS蓄电池组电压过低",
                                   "001#UPS蓄电池组电压过低 当前值：53.5", false, 1},
                          BoolCall{6, "110410060010", "110410060010", "001#UPS蓄电池组电压超低",
                                   "001#UPS蓄电池组电压超低 当前值：53.5", false, 1}));
}

TEST_F(AlarmRowsTest, DescriptionBytesUseAsciiSpaceAndFullWidthColon) {
  Alarm("110610040010", 1, 50.0f);
  Check(2, 53.5f);
  ASSERT_EQ(BoolCalls().size(), 1u);
  // "001#48V" 电 池 ... 高 ' ' 当 前 值 U+FF1A "53.5"
  EXPECT_EQ(BoolCalls()[0].text,
            "001#48V\xE8\x93\x84\xE7\x94\xB5\xE6\xB1\xA0\xE7\x94\xB5\xE5\x8E\x8B\xE8\xBF\x87"
            "\xE9\xAB\x98 \xE5\xBD\x93\xE5\x89\x8D\xE5\x80\xBC\xEF\xBC\x9A"
            "53.5");
}

// Each row against a voltage below, equal to and above its threshold.
class Mode2RowTest : public AlarmRowsTest, public ::testing::WithParamInterface<Row> {};

TEST_P(Mode2RowTest, StrictComparisonWithThreshold) {
  const Row& row = GetParam();
  Alarm(row.id, 2, 47.5f);
  struct {
    float voltage;
    bool high_alarm;
    bool low_alarm;
  } const cases[] = {
      {47.25f, false, true},
      {47.5f, false, false},  // equality is never an alarm
      {47.75f, true, false},
      {std::nextafter(47.5f, 0.0f), false, true},
      {std::nextafter(47.5f, 100.0f), true, false},
      {std::numeric_limits<float>::quiet_NaN(), false, false},
  };
  for (const auto& c : cases) {
    Check(2, c.voltage);
    const std::vector<BoolCall> calls = BoolCalls();
    ASSERT_EQ(calls.size(), 1u) << c.voltage;
    EXPECT_EQ(calls[0].alarm_id, row.id);
    EXPECT_EQ(calls[0].name, row.name);
    EXPECT_EQ(calls[0].condition, row.high ? c.high_alarm : c.low_alarm) << c.voltage;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, Mode2RowTest, ::testing::ValuesIn(kMode2Rows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string("Id") + info.param.id;
                         });

TEST_F(AlarmRowsTest, LevelZeroOrMissingSkipsRowWithoutCall) {
  Alarm("110610040010", 0, 40.0f);  // would alarm at 53.5
  Alarm("110610050010", 2, 60.0f);
  Alarm("110410040010", 0, 40.0f);
  Alarm("110410060010", 3, 60.0f);
  // 110610060010 and 110410050010 have no level at all.

  Check(2, 53.5f);

  const std::vector<BoolCall> calls = BoolCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].alarm_id, "110610050010");
  EXPECT_EQ(calls[1].alarm_id, "110410060010");
  // Both true: 53.5 is below 60 on these low rows.
  EXPECT_TRUE(calls[0].condition);
  EXPECT_TRUE(calls[1].condition);
  // A missing level is read as 0 and kept in the host's table.
  EXPECT_EQ(device_.alarm_levels_.count("110610060010"), 1u);
  EXPECT_EQ(device_.alarm_levels_.at("110610060010"), 0);
  // A skipped row does not look at its threshold.
  EXPECT_EQ(device_.alarm_values_.count("110610060010"), 0u);
}

TEST_F(AlarmRowsTest, Mode2WithEveryLevelZeroMakesNoRowCall) {
  for (const Row& row : kMode2Rows) Alarm(row.id, 0, 50.0f);
  Check(2, 53.5f);
  EXPECT_THAT(EventNames(), ElementsAre("CheckThreshold"));
}

TEST_F(AlarmRowsTest, MissingThresholdIsComparedWithZero) {
  for (const Row& row : kMode2Rows) device_.alarm_levels_[row.id] = 1;

  Check(2, 12.5f);
  std::vector<BoolCall> calls = BoolCalls();
  ASSERT_EQ(calls.size(), 6u);
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].condition, kMode2Rows[i].high) << kMode2Rows[i].id;
    EXPECT_EQ(device_.alarm_values_.at(kMode2Rows[i].id), 0.0f);
  }

  Check(2, 0.0f);  // equal to the implied 0: nothing
  for (const BoolCall& call : BoolCalls()) EXPECT_FALSE(call.condition) << call.alarm_id;

  Check(2, -1.0f);  // below it: the low rows
  calls = BoolCalls();
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].condition, !kMode2Rows[i].high) << kMode2Rows[i].id;
  }
}

TEST_F(AlarmRowsTest, SameComparisonRaisesAndClearsEveryRound) {
  Alarm("110610050010", 1, 47.0f);
  std::vector<bool> conditions;
  for (float v : {46.0f, 46.0f, 47.0f, 46.5f, 48.0f}) {
    Check(2, v);
    ASSERT_EQ(BoolCalls().size(), 1u);
    conditions.push_back(BoolCalls()[0].condition);
  }
  EXPECT_THAT(conditions, ElementsAre(true, true, false, true, false));
}

TEST_F(AlarmRowsTest, LevelsAndThresholdsFromHostSettings) {
  ScratchDir scratch;  // no profile files here
  Json::Value settings;
  settings["appSetting"]["b_mode"] = 2;
  settings["hostSetting"]["alarms"]["110610050010"]["level"] = 2;
  settings["hostSetting"]["alarms"]["110610050010"]["value"] = 47;
  settings["hostSetting"]["alarms"]["110410040010"]["level"] = 4;
  settings["hostSetting"]["alarms"]["110410040010"]["value"] = 46;
  {
    CoutCapture quiet;
    ASSERT_TRUE(device_.InitSetting(settings)) << sim::LastSettingsError(device_);
  }

  Check(device_.b_mode_, 46.5f);

  EXPECT_THAT(BoolCalls(),
              ElementsAre(BoolCall{2, "110610050010", "110610050010", "001#48V蓄电池电压过低",
                                   "001#48V蓄电池电压过低 当前值：46.5", true, 1},
                          BoolCall{4, "110410040010", "110410040010", "001#UPS蓄电池组电压过高",
                                   "001#UPS蓄电池组电压过高 当前值：46.5", true, 1}));
}

TEST_F(AlarmRowsTest, Mode3RowsTakeNamesAndPrefixesFromConfiguration) {
  Alarm("007001", 2, 55.0f);
  Alarm("007002", 3, 44.0f);
  device_.alarm_signal_names_["007001"] = "蓄电池组电压过高";
  device_.alarm_signal_names_["007002"] = "蓄电池组电压过低";
  device_.alarm_report_prefix_["007001"] = "0406001;007001;1;";
  device_.alarm_report_prefix_["007002"] = "0406002;007002;1;";

  Check(3, 56.25f);
  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:56.25"));
  EXPECT_EQ(sink_->Events()[0], ThresholdEvent("value", "电压", 56.25));
  EXPECT_THAT(BoolCalls(), ElementsAre(BoolCall{2, "007001", "007001", "蓄电池组电压过高",
                                                "0406001;007001;1;56.25", true, 65535},
                                       BoolCall{3, "007002", "007002", "蓄电池组电压过低",
                                                "0406002;007002;1;56.25", false, 65535}));

  Check(3, 43.5f);
  EXPECT_THAT(BoolCalls(), ElementsAre(BoolCall{2, "007001", "007001", "蓄电池组电压过高",
                                                "0406001;007001;1;43.5", false, 65535},
                                       BoolCall{3, "007002", "007002", "蓄电池组电压过低",
                                                "0406002;007002;1;43.5", true, 65535}));

  for (float v : {55.0f, 44.0f}) {  // equal to either threshold: no alarm
    Check(3, v);
    for (const BoolCall& call : BoolCalls()) EXPECT_FALSE(call.condition) << call.alarm_id << v;
  }
}

TEST_F(AlarmRowsTest, Mode3MissingNameAndPrefixAreEmpty) {
  Alarm("007001", 1, 50.0f);
  Alarm("007002", 1, 50.0f);
  device_.alarm_signal_names_["007002"] = "低";  // name without prefix

  Check(3, 48.0f);

  EXPECT_THAT(BoolCalls(), ElementsAre(BoolCall{1, "007001", "007001", "", "48", false, 65535},
                                       BoolCall{1, "007002", "007002", "低", "48", true, 65535}));
  EXPECT_EQ(device_.alarm_signal_names_.count("007001"), 1u);
  EXPECT_EQ(device_.alarm_report_prefix_.count("007002"), 1u);
}

TEST_F(AlarmRowsTest, Mode3LevelZeroSkipsAndModeTwoRowsAreIgnored) {
  Alarm("007001", 0, 50.0f);
  Alarm("007002", 5, 50.0f);
  for (const Row& row : kMode2Rows) Alarm(row.id, 1, 50.0f);

  Check(3, 48.0f);

  const std::vector<BoolCall> calls = BoolCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].alarm_id, "007002");
  EXPECT_EQ(calls[0].level, 5);
}

TEST_F(AlarmRowsTest, Mode3FromThresholdRecordsAndHostAlarms) {
  ScratchDir scratch;
  Json::Value settings;
  settings["appSetting"]["b_mode"] = 3;
  Json::Value& record = settings["thresholdSetting"]["007001"];
  record["SignalName"] = "蓄电池组电压过高";
  record["NMAlarmID"] = "0406001";
  record["ID"] = "007001";
  record["SignalNumber"] = 1;
  settings["hostSetting"]["alarms"]["007001"]["level"] = 2;
  settings["hostSetting"]["alarms"]["007001"]["value"] = 55;
  settings["hostSetting"]["alarms"]["007002"]["level"] = 3;
  settings["hostSetting"]["alarms"]["007002"]["value"] = 44;
  {
    CoutCapture quiet;
    ASSERT_TRUE(device_.InitSetting(settings)) << sim::LastSettingsError(device_);
  }

  Check(device_.b_mode_, 56.0f);

  EXPECT_THAT(BoolCalls(), ElementsAre(BoolCall{2, "007001", "007001", "蓄电池组电压过高",
                                                "0406001;007001;1;56", true, 65535},
                                       BoolCall{3, "007002", "007002", "", "56", false, 65535}));
}

TEST_F(AlarmRowsTest, Mode1ChecksTotalVoltageAndFeedsChangeReport) {
  OSKVDevice::BAOSetting report;
  report.change_enabled = true;
  report.change_value = 0.5f;
  report.last_report_time = 0;
  report.last_report_value = 0.0f;
  device_.ao_report_settings_["461627401001"] = report;
  for (const Row& row : kMode2Rows) Alarm(row.id, 1, 50.0f);
  Alarm("007001", 1, 50.0f);

  Check(1, 47.5f);

  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:47.5"));
  const std::vector<Json::Value> events = sink_->Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], ThresholdEvent("value", "电压", 47.5));
  EXPECT_EQ(events[1], ThresholdEvent("461627401001", "蓄电池组总电压", 47.5));
  EXPECT_EQ(events[2]["event"], "CheckAOReport");
  EXPECT_EQ(events[2]["signal"], "461127400001");
  EXPECT_EQ(events[2]["value"], 47.5);
  // The report setting was taken over from the fallback id.
  ASSERT_EQ(device_.ao_report_settings_.count("461127400001"), 1u);
  EXPECT_EQ(device_.ao_report_settings_.at("461127400001").last_report_value, 47.5f);

  Check(1, 47.75f);  // within the band of the signal's own setting now
  EXPECT_THAT(EventNames(), ElementsAre("CheckThreshold", "CheckThreshold"));
}

TEST_F(AlarmRowsTest, Mode1WithoutReportSettingOnlyChecks) {
  Check(1, 47.5f);
  EXPECT_THAT(EventNames(), ElementsAre("CheckThreshold", "CheckThreshold"));
  EXPECT_THAT(BoolCalls(), IsEmpty());
}

class OtherModeTest : public AlarmRowsTest, public ::testing::WithParamInterface<int> {};

TEST_P(OtherModeTest, OnlyLogLineAndGenericCheck) {
  for (const Row& row : kMode2Rows) Alarm(row.id, 1, 50.0f);
  Alarm("007001", 1, 50.0f);
  Alarm("007002", 1, 50.0f);
  device_.ao_report_settings_["461627401001"].change_enabled = true;
  device_.discharge_v_ = 48.0f;  // a discharge report would name itself in a line

  Check(GetParam(), 47.125f);

  EXPECT_THAT(lines_, ElementsAre("AIKorvane::RunCheckThreshold value:47.125"));
  const std::vector<Json::Value> events = sink_->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], ThresholdEvent("value", "电压", 47.125));
  EXPECT_EQ(device_.discharge_state_, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, OtherModeTest, ::testing::Values(0, 4, 5, -1, 6, 100));

TEST_F(AlarmRowsTest, LogLineUsesDefaultFloatFormat) {
  const std::pair<float, const char*> cases[] = {
      {48.0f, "48"}, {47.123456f, "47.1235"}, {0.00005f, "5e-05"}, {-3.5f, "-3.5"}};
  for (const auto& [v, text] : cases) {
    Check(5, v);
    EXPECT_THAT(lines_, ElementsAre(std::string("AIKorvane::RunCheckThreshold value:") + text));
  }
}

}  // namespace
