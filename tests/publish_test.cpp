// Published values: "电压" and "更新时间" in value_, refreshed once per second
// of round time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "round_support.h"
#include "support/test_support.h"

namespace {

using round_support::kRoundTime;
using round_support::Probe;
using round_support::VirtualClock;
using testing_support::CoutCapture;

boost::posix_time::ptime At(int seconds) {
  return boost::posix_time::ptime(boost::gregorian::date(2026, 1, 1),
                                  boost::posix_time::seconds(seconds));
}

// Values the mode 5 check handed to the host, one per round.
std::vector<std::string> CheckedValues(const sim::RecordingSink& sink) {
  std::vector<std::string> values;
  for (const Json::Value& event : sink.Events("CheckThresholdBool")) {
    values.push_back(event["texts"][2].asString());
  }
  return values;
}

TEST(GenJsonData, FirstCallAlwaysPublishes) {
  AIKorvane device;
  ASSERT_TRUE(device.published_time_.is_not_a_date_time());
  device.update_time_ = At(0);
  device.data_.voltage = 12.25f;
  device.GenJsonData();
  EXPECT_EQ(device.value_["电压"].asDouble(), 12.25);
  EXPECT_EQ(device.value_["更新时间"].asString(), "0-0-0 0:0:0");
  EXPECT_EQ(device.published_time_, At(0));
}

TEST(GenJsonData, FirstRoundAlwaysPublishes) {
  VirtualClock clock(kRoundTime);
  Probe probe;
  probe.device->b_mode_ = 5;
  probe.device->data_.voltage = 53.5f;
  CoutCapture quiet;
  probe.device->RoundDone();
  const Json::Value& value = probe.device->value_;
  ASSERT_TRUE(value.isObject());
  EXPECT_EQ(value.size(), 2u);
  EXPECT_EQ(value["电压"].asDouble(), 53.5);
  EXPECT_EQ(value["更新时间"].asString(), "2026-12-7 9:5:3");
  EXPECT_EQ(probe.device->published_time_, probe.device->update_time_);
}

// The record's time fields print as plain numbers without padding; the bytes
// are numbers, not characters.
TEST(GenJsonData, TimeTextWithoutPadding) {
  const struct {
    uint16_t year;
    uint8_t month, day, hour, minute, second;
    const char* text;
  } cases[] = {
      {2026, 12, 7, 9, 5, 3, "2026-12-7 9:5:3"},
      {2024, 3, 5, 7, 4, 9, "2024-3-5 7:4:9"},
      {1999, 10, 31, 23, 59, 59, "1999-10-31 23:59:59"},
      {2000, 1, 1, 0, 0, 0, "2000-1-1 0:0:0"},
      {65535, 255, 65, 48, 10, 13, "65535-255-65 48:10:13"},
  };
  AIKorvane device;
  int second = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    device.update_time_ = At(++second);
    device.data_.year = c.year;
    device.data_.month = c.month;
    device.data_.day = c.day;
    device.data_.hour = c.hour;
    device.data_.minute = c.minute;
    device.data_.second = c.second;
    device.GenJsonData();
    EXPECT_EQ(device.value_["更新时间"].asString(), c.text);
    EXPECT_TRUE(device.value_["更新时间"].isString());
  }
}

// The voltage is published as a JSON real holding the single-precision value
// widened to double.
TEST(GenJsonData, VoltageIsTheWidenedFloat) {
  const struct {
    float voltage;
    double published;
  } cases[] = {
      {53.5f, 53.5}, {53.6f, 53.599998474121094}, {48.0f, 48.0}, {-0.1f, -0.10000000149011612},
      {0.0f, 0.0},
  };
  AIKorvane device;
  int second = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.published);
    device.update_time_ = At(++second);
    device.data_.voltage = c.voltage;
    device.GenJsonData();
    const Json::Value& published = device.value_["电压"];
    EXPECT_EQ(published.type(), Json::realValue);
    EXPECT_EQ(published.asDouble(), c.published);
  }
}

TEST(GenJsonData, OtherMembersStayAndLockIsReleased) {
  AIKorvane device;
  device.value_["其他"] = "x";
  device.value_["电压"] = "old";
  device.update_time_ = At(1);
  device.data_.voltage = 1.5f;
  device.GenJsonData();
  EXPECT_EQ(device.value_.size(), 3u);
  EXPECT_EQ(device.value_["其他"].asString(), "x");
  EXPECT_EQ(device.value_["电压"].asDouble(), 1.5);
  ASSERT_TRUE(device.value_mutex_.try_lock());
  device.value_mutex_.unlock();
}

// Two rounds within one second publish once: the second round's checks see
// the first round's value, until a round in a later second.
TEST(GenJsonData, OneSecondPublishesOnce) {
  VirtualClock clock(kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  device.b_mode_ = 5;
  device.up_thresholds_ = {{"电压", {"900001001", 100.0f, 90.0f, false, 1}}};
  CoutCapture quiet;

  device.data_.voltage = 50.0f;
  device.RoundDone();
  device.data_.voltage = 60.0f;
  device.RoundDone();
  EXPECT_EQ(device.value_["电压"].asDouble(), 50.0);
  EXPECT_EQ(device.value_["更新时间"].asString(), "2026-12-7 9:5:3");
  // The record of the second round carries the new voltage all the same.
  const auto sent = probe.sink->Events("SendSP");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1]["bytes"].asString(), round_support::RecordHex(0, 60.0f));

  clock.Set(kRoundTime + 1);
  device.RoundDone();
  EXPECT_EQ(device.value_["电压"].asDouble(), 60.0);
  EXPECT_EQ(device.value_["更新时间"].asString(), "2026-12-7 9:5:4");
  EXPECT_EQ(CheckedValues(*probe.sink), (std::vector<std::string>{"50", "50", "60"}));
}

// A restored record publishes its cached voltage with the time of the load.
TEST(GenJsonData, CacheLoadPublishesCachedVoltageAtLoadTime) {
  VirtualClock clock(kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  device.b_mode_ = 1;
  AIKorvane_Data_t cached{};
  cached.data_id = 7;
  cached.voltage = 53.6f;
  cached.year = 2020;
  cached.month = 1;
  cached.day = 2;
  cached.hour = 3;
  cached.minute = 4;
  cached.second = 5;
  CoutCapture quiet;
  ASSERT_TRUE(device.LoadFromCache(reinterpret_cast<const unsigned char*>(&cached), 15));
  EXPECT_EQ(device.value_["电压"].asDouble(), 53.599998474121094);
  EXPECT_EQ(device.value_["更新时间"].asString(), "2026-12-7 9:5:3");
}

}  // namespace
