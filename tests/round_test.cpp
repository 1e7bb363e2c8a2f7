// The end of a round as the host sees it: the framework calls of one round in
// order, per operating mode, with the record bytes sent and stored, the
// diagnostic lines and the state the round leaves behind.

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "round_support.h"
#include "support/test_support.h"

namespace {

using round_support::Canon;
using round_support::EventNames;
using round_support::kRoundTime;
using round_support::Probe;
using round_support::RecordHex;
using round_support::VirtualClock;
using testing_support::CoutCapture;
using testing_support::ScratchDir;

constexpr uint32_t kDataId = 1234;

std::string SendSp(const std::string& hex) {
  return R"({"event":"SendSP","code":5032,"length":15,"flag":false,"bytes":")" + hex + R"("})";
}
std::string SaveHistory(const std::string& hex) {
  return R"({"event":"SaveDeviceHistory","length":15,"bytes":")" + hex + R"("})";
}
std::string Batch(int rules, bool result) {
  return R"({"event":"DoBatchCheckThreshold","rules":)" + std::to_string(rules) + R"(,"result":)" +
         (result ? "true" : "false") + "}";
}
const std::string kReset = R"({"event":"Reset"})";

boost::posix_time::ptime RoundPtime() {
  return boost::posix_time::ptime(boost::gregorian::date(2026, 12, 7),
                                  boost::posix_time::time_duration(9, 5, 3));
}

void Prepare(AIKorvane& device, int mode, float voltage) {
  device.b_mode_ = mode;
  device.data_.data_id = kDataId;
  device.data_.voltage = voltage;
}

// The round stamps the record with the seven bytes get_ttime gives for the
// local time, whatever the date.
TEST(RoundTimeBytes, RecordCarriesTheLocalTimeOfTheRound) {
  const struct {
    std::time_t now;
    const char* hex;
  } cases[] = {
      {kRoundTime, "EA070C07090503"},  // 2026-12-07 09:05:03
      {1709622249, "E8070305070409"},  // 2024-03-05 07:04:09
      {0, "B2070101000000"},           // 1970-01-01 00:00:00
      {4102444799, "33080C1F173B3B"},  // 2099-12-31 23:59:59
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hex);
    VirtualClock clock(c.now);
    Probe probe;
    Prepare(*probe.device, 7, 53.5f);
    CoutCapture quiet;
    probe.device->RoundDone();
    const std::string record = RecordHex(kDataId, 53.5f, c.hex);
    EXPECT_EQ(sim::Hex(reinterpret_cast<const unsigned char*>(&probe.device->data_), 15), record);
    ASSERT_EQ(probe.sink->Events("SendSP").size(), 1u);
    EXPECT_EQ(probe.sink->Events("SendSP")[0]["bytes"].asString(), record);
    EXPECT_EQ(probe.sink->Events("SaveDeviceHistory")[0]["bytes"].asString(), record);
  }
}

// Modes without a per-signal branch: stamp, send, reset, own check, count,
// batch check, history. Nothing is published.
class RoundWithoutBranch : public testing::TestWithParam<int> {};

TEST_P(RoundWithoutBranch, SendsChecksAndStoresOnly) {
  VirtualClock clock(kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  Prepare(device, GetParam(), 53.5f);
  device.round_check_result_ = true;  // the round must reset it
  CoutCapture out;
  device.RoundDone();

  const std::string record = RecordHex(kDataId, 53.5f);
  EXPECT_EQ(Canon(probe.sink->Events()),
            Canon(std::vector<std::string>{
                SendSp(record),
                kReset,
                R"({"event":"CheckThreshold","id":"value","name":"电压","value":53.5,"flag":1})",
                Batch(0, false),
                SaveHistory(record),
            }));
  EXPECT_TRUE(device.value_.isNull());
  EXPECT_TRUE(device.published_time_.is_not_a_date_time());
  EXPECT_EQ(device.update_time_, RoundPtime());
  EXPECT_TRUE(device.has_data_);
  EXPECT_EQ(device.round_state_, 1);
  EXPECT_FALSE(device.round_check_result_);
  ASSERT_FALSE(out.Lines().empty());
  EXPECT_EQ(out.Lines().back(), "rvSize is 0");
}

INSTANTIATE_TEST_SUITE_P(Modes, RoundWithoutBranch, testing::Values(0, 4, 6, 7, -1));

// Mode 2: the fixed battery rows add rule results; rule results the host
// collected before the round count too, and the list is empty afterwards.
TEST(RoundMode2, CountsRulesAndKeepsBatchResult) {
  VirtualClock clock(kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  Prepare(device, 2, 53.5f);
  device.alarm_levels_["110610040010"] = 2;
  device.alarm_values_["110610040010"] = 50.0f;
  device.rule_values_.push_back(rule_value{"host", "host", "host", "host", 1, false});
  CoutCapture out;
  device.RoundDone();

  const std::string record = RecordHex(kDataId, 53.5f);
  EXPECT_EQ(Canon(probe.sink->Events()),
            Canon(std::vector<std::string>{
                SendSp(record),
                kReset,
                R"({"event":"CheckThreshold","id":"value","name":"电压","value":53.5,"flag":1})",
                R"({"event":"CheckThresholdBool","level":2,"texts":["110610040010","110610040010",)"
                R"("001#48V蓄电池电压过高","001#48V蓄电池电压过高 当前值：53.5"],)"
                R"("condition":true,"flags":1})",
                Batch(2, true),
                SaveHistory(record),
            }));
  EXPECT_TRUE(device.value_.isNull());
  EXPECT_TRUE(device.round_check_result_);
  EXPECT_TRUE(device.rule_values_.empty());
  EXPECT_EQ(out.Lines().back(), "rvSize is 2");
}

// Mode 1: published members checked under rewritten ids; the change-based
// report looks for the stored id first and borrows the rewritten id's entry.
TEST(RoundMode1, ChecksSignalsUnderRewrittenIds) {
  VirtualClock clock(kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  Prepare(device, 1, 53.5f);
  device.ai_signals_ = {
      {"count", {"123456789012", "计数信号"}}, {"nine", {"123456789", "九位"}},
      {"short", {"12345678", "八位"}},         {"电压", {"461127400001", "蓄电池组总电压"}},
      {"更新时间", {"555555555555", "时间"}},  {"数组", {"666666666666", "数组"}},
      {"对象", {"777777777777", "对象"}},      {"缺失", {"888888888888", "缺失"}},
  };
  device.value_["count"] = 7;
  device.value_["nine"] = 1.5;
  device.value_["short"] = 2.5;
  device.value_["数组"] = Json::Value(Json::arrayValue);
  device.value_["数组"].append(1);
  device.value_["对象"] = Json::Value(Json::objectValue);
  device.value_["对象"]["x"] = 1;
  OSKVDevice::BAOSetting band;
  band.change_enabled = true;
  band.change_value = 1.0f;
  band.last_report_time = 0;
  band.last_report_value = 0.0f;
  device.ao_report_settings_["461627401001"] = band;
  device.ao_report_settings_["123656781012"] = band;
  CoutCapture out;
  device.RoundDone();

  const std::string record = RecordHex(kDataId, 53.5f);
  EXPECT_EQ(
      Canon(probe.sink->Events()),
      Canon(std::vector<std::string>{
          SendSp(record),
          kReset,
          R"({"event":"CheckThreshold","id":"value","name":"电压","value":53.5,"flag":1})",
          R"({"event":"CheckThreshold","id":"461627401001","name":"蓄电池组总电压","value":53.5,"flag":1})",
          R"({"event":"CheckAOReport","signal":"461127400001","value":53.5})",
          // The loop, in key order: count, nine, then the UTF-8 keys.
          R"({"event":"CheckThreshold","id":"123656781012","name":"计数信号","value":7.0,"flag":1})",
          R"({"event":"CheckAOReport","signal":"123456789012","value":7.0})",
          R"({"event":"CheckThreshold","id":"123656781","name":"九位","value":1.5,"flag":1})",
          // Reported just before by the battery group check: no second report.
          R"({"event":"CheckThreshold","id":"461627401001","name":"蓄电池组总电压","value":53.5,"flag":1})",
          Batch(0, false),
          SaveHistory(record),
      }));

  // The table keeps the stored ids.
  EXPECT_EQ(device.ai_signals_["电压"].first, "461127400001");
  EXPECT_EQ(device.ai_signals_["count"].first, "123456789012");
  // A missing member is added as null; the short id is skipped before lookup.
  EXPECT_TRUE(device.value_.isMember("缺失"));
  EXPECT_TRUE(device.value_["缺失"].isNull());
  // Borrowed entries evolve on their own; the fallback entries stay as they were.
  EXPECT_FLOAT_EQ(device.ao_report_settings_.at("461127400001").last_report_value, 53.5f);
  EXPECT_EQ(device.ao_report_settings_.at("461127400001").last_report_time,
            static_cast<uint32_t>(kRoundTime));
  EXPECT_FLOAT_EQ(device.ao_report_settings_.at("123456789012").last_report_value, 7.0f);
  EXPECT_FLOAT_EQ(device.ao_report_settings_.at("461627401001").last_report_value, 0.0f);
  EXPECT_FLOAT_EQ(device.ao_report_settings_.at("123656781012").last_report_value, 0.0f);

  const std::vector<std::string> lines = out.Lines();
  int skip_lines = 0;
  for (const std::string& line : lines) {
    if (line.rfind("RoundDone skips signal short", 0) == 0) ++skip_lines;
  }
  EXPECT_EQ(skip_lines, 1);
  EXPECT_EQ(lines.back(), "rvSize is 0");
  EXPECT_TRUE(device.has_data_);
  EXPECT_EQ(device.round_state_, 1);
}

// Mode 1 configured the way a site does it: [AI] signals from the profile,
// report settings from the host.
TEST(RoundMode1, SignalsFromProfile) {
  VirtualClock clock(kRoundTime);
  ScratchDir dir;
  dir.Write("ini/unicom/aikorvane.ini",
            "[AI]\n电压=461127400001,蓄电池组总电压\n[ALARM]\nx=1,upper\n");
  Probe probe;
  AIKorvane& device = *probe.device;
  device.data_id_ = kDataId;
  CoutCapture out;
  ASSERT_TRUE(device.InitSetting(testing_support::ParseJson(R"({
    "appSetting": {"b_mode": 1},
    "hostSetting": {"aoReport": {"461627401001": {"change": 1, "lastReportValue": 60}}}
  })")));
  ASSERT_EQ(device.ai_signals_.size(), 1u);
  device.data_.voltage = 47.5f;
  device.RoundDone();

  std::vector<std::string> ids;
  for (const Json::Value& event : probe.sink->Events("CheckThreshold")) {
    ids.push_back(event["id"].asString());
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"value", "461627401001", "461627401001"}));
  const auto reports = probe.sink->Events("CheckAOReport");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(Canon(reports[0]),
            Canon(R"({"event":"CheckAOReport","signal":"461127400001","value":47.5})"));
  EXPECT_EQ(probe.sink->Events("SendSP")[0]["bytes"].asString(), RecordHex(kDataId, 47.5f));
}

// Mode 3: the comparison words against the published member, the printed
// line per rule, level 0 and unknown words without a host call, and the JSON
// library's ordering of null and of members that are not reals.
TEST(RoundMode3, AlarmRulesWithComparisonWords) {
  VirtualClock clock(kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  Prepare(device, 3, 53.6f);
  device.value_["count"] = 60;
  struct Rule {
    const char* key;
    const char* rule;
    int level;  // -1: alarm id never configured
    float value;
  };
  const Rule rules[] = {
      {"count_upper", "007120,upper", 1, 50.0f},      {"missing_a", "007108,lower", 1, 50.0f},
      {"missing_b", "007109,upper", 1, 50.0f},        {"missing_c", "007110,equal", 1, 50.0f},
      {"missing_d", "007111,notequal", 1, 50.0f},     {"电压", "007113,upper", 1, 60.0f},
      {"电压_bad", "007105,Upper", 1, 50.0f},         {"电压_equal", "007103,equal", 2, 53.6f},
      {"电压_lower", "007102,lower", 1, 50.0f},       {"电压_nocomma", "007114", 1, 50.0f},
      {"电压_notequal", "007104,notequal", 3, 53.6f}, {"电压_unknown", "007107,upper", -1, 0.0f},
      {"电压_upper", "007101,upper", 1, 50.0f},       {"电压_zero", "007106,upper", 0, 50.0f},
  };
  for (const Rule& r : rules) {
    device.alarm_rules_[r.key] = r.rule;
    const std::string id = std::string(r.rule).substr(0, 6);
    if (r.level < 0) continue;
    device.alarm_levels_[id] = r.level;
    device.alarm_values_[id] = r.value;
    device.alarm_report_prefix_[id] = "NM" + id + ";ID;SN;";
    device.alarm_signal_names_[id] = "信号" + id;
  }
  CoutCapture out;
  device.RoundDone();

  std::vector<std::string> printed;
  for (const std::string& line : out.Lines()) {
    if (line.rfind("dataName:", 0) == 0) printed.push_back(line);
  }
  EXPECT_EQ(printed,
            (std::vector<std::string>{
                "dataName:count alarmId:007120 alarmComp:upper level:1 realvalue:60 vs 50",
                "dataName:missing alarmId:007108 alarmComp:lower level:1 realvalue:null vs 50",
                "dataName:missing alarmId:007109 alarmComp:upper level:1 realvalue:null vs 50",
                "dataName:missing alarmId:007110 alarmComp:equal level:1 realvalue:null vs 50",
                "dataName:missing alarmId:007111 alarmComp:notequal level:1 realvalue:null vs 50",
                "dataName:电压 alarmId:007113 alarmComp:upper level:1 "
                "realvalue:53.599998474121094 vs 60",
                "dataName:电压 alarmId:007105 alarmComp:Upper level:1 "
                "realvalue:53.599998474121094 vs 50",
                "dataName:电压 alarmId:007103 alarmComp:equal level:2 "
                "realvalue:53.599998474121094 vs 53.6",
                "dataName:电压 alarmId:007102 alarmComp:lower level:1 "
                "realvalue:53.599998474121094 vs 50",
                "dataName:电压 alarmId:007114 alarmComp:007114 level:1 "
                "realvalue:53.599998474121094 vs 50",
                "dataName:电压 alarmId:007104 alarmComp:notequal level:3 "
                "realvalue:53.599998474121094 vs 53.6",
                "dataName:电压 alarmId:007107 alarmComp:upper level:0 "
                "realvalue:53.599998474121094 vs 0",
                "dataName:电压 alarmId:007101 alarmComp:upper level:1 "
                "realvalue:53.599998474121094 vs 50",
                "dataName:电压 alarmId:007106 alarmComp:upper level:0 "
                "realvalue:53.599998474121094 vs 50",
            }));

  auto call = [](const char* id, int level, const char* description, bool condition) {
    return std::string(R"({"event":"CheckThresholdBool","level":)") + std::to_string(level) +
           R"(,"texts":[")" + id + R"(",")" + id + R"(","信号)" + id + R"(","NM)" + id + ";ID;SN;" +
           description + R"("],"condition":)" + (condition ? "true" : "false") + R"(,"flags":1})";
  };
  EXPECT_EQ(Canon(probe.sink->Events("CheckThresholdBool")),
            Canon(std::vector<std::string>{
                // An integer member compares by JSON type order, below every real.
                call("007120", 1, "60", false),
                // Null sorts before every number.
                call("007108", 1, "null", true),
                call("007109", 1, "null", false),
                call("007110", 1, "null", false),
                call("007111", 1, "null", true),
                call("007113", 1, "53.599998474121094", false),
                // The member is the widened float, equal to the widened threshold.
                call("007103", 2, "53.599998474121094", true),
                call("007102", 1, "53.599998474121094", false),
                call("007104", 3, "53.599998474121094", false),
                call("007101", 1, "53.599998474121094", true),
            }));
  // An alarm id never configured is added with level 0 and threshold 0.
  EXPECT_EQ(device.alarm_levels_.at("007107"), 0);
  EXPECT_EQ(device.alarm_values_.at("007107"), 0.0f);
  EXPECT_TRUE(device.value_.isMember("missing"));
  EXPECT_EQ(out.Lines().back(), "rvSize is 10");
  EXPECT_TRUE(device.round_check_result_);
  EXPECT_TRUE(device.rule_values_.empty());
  const auto events = probe.sink->Events();
  EXPECT_EQ(EventNames(events).back(), "SaveDeviceHistory");
}

// Mode 5: the four limit tables in the order upper, second upper, lower,
// second lower, each in key order; text and absent members are skipped.
TEST(RoundMode5, FourLimitTablesInOrder) {
  VirtualClock clock(kRoundTime);
  Probe probe;
  AIKorvane& device = *probe.device;
  Prepare(device, 5, 53.5f);
  device.up_thresholds_ = {{"absent", {"900001001", 1.0f, 0.0f, false, 1}},
                           {"电压", {"900001001", 50.0f, 45.0f, false, 2}},
                           {"更新时间", {"900001001", 1.0f, 0.0f, false, 1}}};
  device.up2_thresholds_ = {{"电压", {"900001002", 55.0f, 52.0f, false, 3}}};
  device.low_thresholds_ = {{"电压", {"900001003", 42.0f, 44.0f, false, 1}}};
  device.low2_thresholds_ = {{"电压", {"900001004", 40.0f, 41.0f, false, 0}}};
  CoutCapture out;
  device.RoundDone();

  auto call = [](int level, const char* id, const char* message, bool condition) {
    return std::string(R"({"event":"CheckThresholdBool","level":)") + std::to_string(level) +
           R"(,"texts":["电压",")" + id + R"(","53.5",")" + message + R"("],"condition":)" +
           (condition ? "true" : "false") + R"(,"flags":1})";
  };
  const std::string record = RecordHex(kDataId, 53.5f);
  EXPECT_EQ(Canon(probe.sink->Events()),
            Canon(std::vector<std::string>{
                SendSp(record),
                kReset,
                R"({"event":"CheckThreshold","id":"value","name":"电压","value":53.5,"flag":1})",
                call(2, "900001001", "当前值53.5高于阈值:50", true),
                call(3, "900001002", "", false),
                call(1, "900001003", "", false),
                call(0, "900001004", "", false),
                Batch(4, true),
                SaveHistory(record),
            }));
  EXPECT_FALSE(device.value_.isMember("absent"));
  EXPECT_TRUE(std::get<3>(device.up_thresholds_["电压"]));
  EXPECT_EQ(out.Lines().back(), "rvSize is 4");
  EXPECT_TRUE(device.round_check_result_);
  EXPECT_TRUE(device.rule_values_.empty());
}

// The per-signal checks run under value_mutex_, everything else without it.
// Another thread probes the lock during each framework call.
class LockProbe : public sim::EventSink {
 public:
  void Record(const OSKVDevice& device, Json::Value event) override {
    auto& self = const_cast<AIKorvane&>(dynamic_cast<const AIKorvane&>(device));
    const bool held = std::async(std::launch::async, [&self] {
                        if (!self.value_mutex_.try_lock()) return true;
                        self.value_mutex_.unlock();
                        return false;
                      }).get();
    calls.push_back(event["event"].asString() + (held ? " locked" : " free"));
  }
  std::vector<std::string> calls;
};

TEST(RoundLocking, PerSignalCallsRunUnderTheValueLock) {
  VirtualClock clock(kRoundTime);
  const struct {
    int mode;
    std::vector<std::string> calls;
  } cases[] = {
      {1,
       {"SendSP free", "Reset free", "CheckThreshold free", "CheckThreshold free",
        "CheckThreshold locked", "CheckAOReport locked", "DoBatchCheckThreshold free",
        "SaveDeviceHistory free"}},
      {3,
       {"SendSP free", "Reset free", "CheckThreshold free", "CheckThresholdBool locked",
        "DoBatchCheckThreshold free", "SaveDeviceHistory free"}},
      {5,
       {"SendSP free", "Reset free", "CheckThreshold free", "CheckThresholdBool locked",
        "DoBatchCheckThreshold free", "SaveDeviceHistory free"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    AIKorvane device;
    auto sink = std::make_shared<LockProbe>();
    sim::SetSink(device, sink);
    Prepare(device, c.mode, 53.5f);
    device.ai_signals_ = {{"电压", {"123456789012", "信号"}}};
    OSKVDevice::BAOSetting every_value;
    every_value.percent_enabled = true;
    every_value.percent_value = 0.0f;
    every_value.last_report_time = 0;
    every_value.last_report_value = 0.0f;
    device.ao_report_settings_["123456789012"] = every_value;
    device.alarm_rules_ = {{"电压_upper", "007101,upper"}};
    device.alarm_levels_["007101"] = 1;
    device.up_thresholds_ = {{"电压", {"900001001", 50.0f, 45.0f, false, 2}}};
    CoutCapture quiet;
    device.RoundDone();
    EXPECT_EQ(sink->calls, c.calls);
    EXPECT_TRUE(device.value_mutex_.try_lock());
    device.value_mutex_.unlock();
  }
}

// The cache hands back a whole record; only 15 bytes are taken, and the round
// that follows keeps the cached id and voltage but stamps its own time.
TEST(LoadFromCache, TakesExactlyFifteenBytes) {
  VirtualClock clock(kRoundTime);
  unsigned char cached[16];
  const uint32_t cached_id = 0x11223344;
  const float cached_voltage = 48.25f;
  std::memcpy(cached, &cached_id, 4);
  std::memcpy(cached + 4, &cached_voltage, 4);
  const unsigned char cached_time[] = {0xE4, 0x07, 0x01, 0x02, 0x03, 0x04, 0x05, 0xAA};
  std::memcpy(cached + 8, cached_time, 8);

  for (int count : {0, 14, 16}) {
    SCOPED_TRACE(count);
    Probe probe;
    Prepare(*probe.device, 5, 53.5f);
    CoutCapture out;
    EXPECT_FALSE(probe.device->LoadFromCache(cached, count));
    EXPECT_FALSE(probe.device->LoadFromCache(std::string(reinterpret_cast<char*>(cached), count)));
    EXPECT_TRUE(probe.sink->Events().empty());
    EXPECT_TRUE(out.Lines().empty());
    EXPECT_FALSE(probe.device->has_data_);
    EXPECT_EQ(sim::Hex(reinterpret_cast<const unsigned char*>(&probe.device->data_), 15),
              round_support::HeadHex(kDataId, 53.5f) + "00000000000000");
  }

  const bool through_string[] = {false, true};
  for (bool as_string : through_string) {
    SCOPED_TRACE(as_string ? "string overload" : "byte overload");
    Probe probe;
    Prepare(*probe.device, 5, 53.5f);
    CoutCapture out;
    const bool taken =
        as_string ? probe.device->LoadFromCache(std::string(reinterpret_cast<char*>(cached), 15))
                  : probe.device->LoadFromCache(cached, 15);
    EXPECT_TRUE(taken);
    const std::string record = RecordHex(cached_id, cached_voltage);
    EXPECT_EQ(sim::Hex(reinterpret_cast<const unsigned char*>(&probe.device->data_), 15), record);
    EXPECT_EQ(Canon(probe.sink->Events()),
              Canon(std::vector<std::string>{
                  SendSp(record),
                  kReset,
                  R"({"event":"CheckThreshold","id":"value","name":"电压","value":48.25,"flag":1})",
                  Batch(0, false),
                  SaveHistory(record),
              }));
    EXPECT_TRUE(probe.device->has_data_);
    EXPECT_EQ(probe.device->value_["电压"].asDouble(), 48.25);
    EXPECT_EQ(probe.device->value_["更新时间"].asString(), "2026-12-7 9:5:3");
    EXPECT_EQ(out.Lines().back(), "rvSize is 0");
  }
}

}  // namespace
