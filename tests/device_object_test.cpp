// The device object as the host first sees it: member defaults, the record's
// byte layout, the interface operations the device inherits, the factory
// entry and the host's time packing.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/provider.h"
#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"
#include "support/test_support.h"

extern "C" std::vector<std::shared_ptr<Provider>> get_providers();

namespace {

using testing_support::CoutCapture;

std::string RecordHex(const AIKorvane& device) {
  return sim::Hex(reinterpret_cast<const unsigned char*>(&device.data_), sizeof device.data_);
}

// ---- member defaults -----------------------------------------------------

TEST(DeviceDefaults, NewDeviceIdentifiesAsAikorvaneWithZeroRecord) {
  AIKorvane device;
  EXPECT_EQ(device.model_, "aikorvane");
  EXPECT_EQ(device.DeviceType(), "aikorvane");
  EXPECT_EQ(sizeof device.data_, 15u);
  EXPECT_EQ(RecordHex(device), std::string(30, '0'));
  EXPECT_EQ(device.b_mode_, 1);
  EXPECT_FLOAT_EQ(device.ai_gain_, 1.0f);
  EXPECT_FLOAT_EQ(device.ai_offset_, 0.0f);
}

struct FloatDefault {
  const char* name;
  float AIKorvane::*member;
  float expected;
};

TEST(DeviceDefaults, FloatMembers) {
  const FloatDefault cases[] = {
      {"min_", &AIKorvane::min_, 0.0f},
      {"max_", &AIKorvane::max_, 0.0f},
      {"y1_", &AIKorvane::y1_, 0.0f},
      {"x1_", &AIKorvane::x1_, 0.0f},
      {"y2_", &AIKorvane::y2_, 0.0f},
      {"x2_", &AIKorvane::x2_, 0.0f},
      {"y3_", &AIKorvane::y3_, 0.0f},
      {"x3_", &AIKorvane::x3_, 0.0f},
      {"y4_", &AIKorvane::y4_, 0.0f},
      {"x4_", &AIKorvane::x4_, 0.0f},
      {"slope1_", &AIKorvane::slope1_, 1.0f},
      {"intercept1_", &AIKorvane::intercept1_, 0.0f},
      {"slope2_", &AIKorvane::slope2_, 1.0f},
      {"intercept2_", &AIKorvane::intercept2_, 0.0f},
      {"slope3_", &AIKorvane::slope3_, 1.0f},
      {"intercept3_", &AIKorvane::intercept3_, 0.0f},
      {"discharge_v_", &AIKorvane::discharge_v_, 0.0f},
      {"discharge_v_end_", &AIKorvane::discharge_v_end_, 0.0f},
      // Exactly the single-precision value nearest to 0.02, not a double.
      {"discharge_v_diff_", &AIKorvane::discharge_v_diff_, 0.02f},
      {"discharge_last_v_", &AIKorvane::discharge_last_v_, 0.0f},
  };
  AIKorvane device;
  for (const auto& c : cases) {
    EXPECT_EQ(device.*c.member, c.expected) << c.name;
  }
}

TEST(DeviceDefaults, IntegerMembersAndTables) {
  AIKorvane device;
  EXPECT_FALSE(device.is_current_mode_);
  EXPECT_EQ(device.ai_index_, 0);
  EXPECT_EQ(device.ai_mode_, 0);
  EXPECT_EQ(device.discharge_state_, 0);
  EXPECT_EQ(device.max_v_, 5);
  EXPECT_EQ(device.real_value_, 0);
  EXPECT_TRUE(device.alarm_report_prefix_.empty());
  EXPECT_TRUE(device.alarm_signal_names_.empty());
  EXPECT_TRUE(device.alarm_rules_.empty());
  EXPECT_TRUE(device.up_thresholds_.empty());
  EXPECT_TRUE(device.up2_thresholds_.empty());
  EXPECT_TRUE(device.low_thresholds_.empty());
  EXPECT_TRUE(device.low2_thresholds_.empty());
  EXPECT_TRUE(device.ai_signals_.empty());
  EXPECT_TRUE(device.published_time_.is_not_a_date_time());
  EXPECT_TRUE(device.value_.isNull());
}

TEST(DeviceDefaults, TwoDevicesShareNoState) {
  AIKorvane first;
  AIKorvane second;
  first.ai_signals_["x"] = {"a", "b"};
  first.max_v_ = 10;
  first.data_.voltage = 3.0f;
  EXPECT_TRUE(second.ai_signals_.empty());
  EXPECT_EQ(second.max_v_, 5);
  EXPECT_EQ(RecordHex(second), std::string(30, '0'));
}

// ---- record layout -------------------------------------------------------

TEST(RecordLayout, FieldsSitAtTheirOffsetsLittleEndian) {
  AIKorvane_Data_t record{};
  record.data_id = 0x04030201u;
  record.voltage = 1.0f;  // 0x3F800000
  record.year = 0x07E8;   // 2024
  record.month = 0x0A;
  record.day = 0x0B;
  record.hour = 0x0C;
  record.minute = 0x0D;
  record.second = 0x0E;
  EXPECT_EQ(sim::Hex(reinterpret_cast<const unsigned char*>(&record), sizeof record),
            "01020304"
            "0000803F"
            "E807"
            "0A0B0C0D0E");
}

TEST(RecordLayout, BytesReadBackIntoFields) {
  const unsigned char bytes[15] = {0x39, 0x30, 0,  0,  0,  0,  0x3E, 0x42,
                                   0xE9, 0x07, 12, 31, 23, 59, 58};
  AIKorvane_Data_t record;
  std::memcpy(&record, bytes, sizeof record);
  EXPECT_EQ(record.data_id, 12345u);
  EXPECT_FLOAT_EQ(record.voltage, 47.5f);
  EXPECT_EQ(record.year, 2025);
  EXPECT_EQ(record.month, 12);
  EXPECT_EQ(record.day, 31);
  EXPECT_EQ(record.hour, 23);
  EXPECT_EQ(record.minute, 59);
  EXPECT_EQ(record.second, 58);
}

// ---- interface defaults --------------------------------------------------

TEST(InterfaceDefaults, GetValueAlwaysThrowsDataNotReady) {
  AIKorvane device;
  const VDeviceInterface& iface = device;
  for (unsigned int index : {0u, 1u, 5032u}) {
    try {
      iface.Get_Value(index, "电压");
      ADD_FAILURE() << "Get_Value returned for index " << index;
    } catch (const std::out_of_range& error) {
      EXPECT_STREQ(error.what(), "数据未就绪");
    }
  }
}

TEST(InterfaceDefaults, IdentityAccessorsReturnTheMembers) {
  AIKorvane device;
  VDeviceInterface& iface = device;
  device.data_id_ = 4000000001u;
  EXPECT_EQ(iface.DataId(), 4000000001u);
  EXPECT_EQ(&iface.DeviceType(), &device.model_);
  device.model_ = "other";
  EXPECT_EQ(iface.DeviceType(), "other");
  device.use_controller_db_ = true;
  EXPECT_TRUE(iface.UseControllerDb());
  device.use_controller_db_ = false;
  EXPECT_FALSE(iface.UseControllerDb());
}

TEST(InterfaceDefaults, NoChildren) {
  AIKorvane device;
  for (unsigned int id : {0u, 1u, 5032u, UINT_MAX}) {
    EXPECT_EQ(device.GetChildVDevice(id), nullptr) << id;
  }
  EXPECT_TRUE(device.GetAllChildVDevices().empty());
}

class CacheLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::SetSink(device_, sink_);
    device_.data_.data_id = 99;
    device_.data_.voltage = 2.0f;
  }
  AIKorvane device_;
  std::shared_ptr<sim::RecordingSink> sink_ = std::make_shared<sim::RecordingSink>();
  CoutCapture capture_;
};

TEST_F(CacheLoad, FifteenByteStringIsTakenAsTheRecord) {
  AIKorvane_Data_t cached{};
  cached.data_id = 321;
  cached.voltage = 52.25f;
  const std::string bytes(reinterpret_cast<const char*>(&cached), sizeof cached);
  VDeviceInterface& iface = device_;
  EXPECT_TRUE(iface.LoadFromCache(bytes));
  EXPECT_EQ(device_.data_.data_id, 321u);
  EXPECT_FLOAT_EQ(device_.data_.voltage, 52.25f);
  EXPECT_TRUE(device_.has_data_);
  // The restored record runs the same round: it is handed to the host.
  const auto sent = sink_->Events("SendSP");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["code"].asInt(), 5032);
  EXPECT_EQ(sent[0]["bytes"].asString().substr(0, 16), "4101000000005142");
}

TEST_F(CacheLoad, OtherLengthsAreRefusedAndChangeNothing) {
  for (size_t length : {0u, 1u, 14u, 16u, 30u}) {
    const std::string bytes(length, '\x7F');
    EXPECT_FALSE(device_.LoadFromCache(bytes)) << length;
  }
  EXPECT_EQ(device_.data_.data_id, 99u);
  EXPECT_FLOAT_EQ(device_.data_.voltage, 2.0f);
  EXPECT_FALSE(device_.has_data_);
  EXPECT_TRUE(sink_->Events().empty());
}

TEST_F(CacheLoad, NullBytesAreRefused) {
  EXPECT_FALSE(device_.LoadFromCache(nullptr, 15));
  EXPECT_EQ(device_.data_.data_id, 99u);
  EXPECT_FALSE(device_.has_data_);
  EXPECT_TRUE(sink_->Events().empty());
}

// ---- factory -------------------------------------------------------------

TEST(Providers, OneFactoryThatMakesDistinctDevices) {
  const auto providers = get_providers();
  ASSERT_EQ(providers.size(), 1u);
  const auto factory = std::dynamic_pointer_cast<OSKAIDeviceProvider>(providers[0]);
  ASSERT_NE(factory, nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<AIKorvaneProvider>(providers[0]), nullptr);
  std::unique_ptr<OSKAIDevice> first(factory->create());
  std::unique_ptr<OSKAIDevice> second(factory->create());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first.get(), second.get());
  EXPECT_NE(dynamic_cast<AIKorvane*>(first.get()), nullptr);
  EXPECT_EQ(second->DeviceType(), "aikorvane");
  // The factory keeps no reference to what it made.
  EXPECT_EQ(providers[0].use_count(), 2);
}

TEST(Providers, EachCallMakesANewProvider) {
  const auto first = get_providers();
  const auto second = get_providers();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(first[0].get(), second[0].get());
  EXPECT_EQ(first[0].use_count(), 1);
}

// ---- time packing --------------------------------------------------------

TEST(TimePacking, YearLowestThenOneByteEach) {
  using boost::gregorian::date;
  using boost::posix_time::hours;
  using boost::posix_time::minutes;
  using boost::posix_time::ptime;
  using boost::posix_time::seconds;
  struct Case {
    ptime time;
    uint64_t packed;
  };
  const Case cases[] = {
      {ptime(date(2024, 2, 29), hours(23) + minutes(59) + seconds(58)), 0x003A3B171D0207E8ull},
      {ptime(date(1970, 1, 1)), 0x00000000010107B2ull},
      {ptime(date(9999, 12, 31), hours(0) + minutes(0) + seconds(1)), 0x000100001F0C270Full},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(get_ttime(c.time), c.packed) << c.time;
  }
}

TEST(TimePacking, RoundStoresThePackedBytesInOrder) {
  // 2021-06-15 is far from any change of the clock; whatever the zone, the
  // record must carry the local time that get_ttime packed.
  sim::SetVirtualTime(1623758400);
  AIKorvane device;
  CoutCapture capture;
  device.process(0);
  sim::SetVirtualTime(std::nullopt);
  const uint64_t packed = get_ttime(device.update_time_);
  ASSERT_NE(packed, 0u);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&device.data_);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(bytes[8 + i], static_cast<unsigned char>(packed >> (8 * i))) << i;
  }
  EXPECT_EQ(device.data_.year, 2021);
  EXPECT_EQ(device.data_.month, 6);
  EXPECT_EQ(device.update_time_.date().day(), device.data_.day);
  EXPECT_EQ(device.update_time_.time_of_day().hours(), device.data_.hour);
}

}  // namespace
