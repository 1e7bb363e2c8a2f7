// Several devices, one host thread each, running rounds at the same time in
// the publishing modes, while the clock moves and other host threads read
// the published values under their lock. Meant to run under ThreadSanitizer
// as well: the devices share the framework, the clock and some sinks, never
// their own state.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "round_support.h"

namespace {

using round_support::HeadHex;
using round_support::kRoundTime;

constexpr int kRounds = 300;

// Swallows the devices' diagnostic lines for the test's lifetime; keeps no
// state, so the writing threads share nothing through it.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class QuietCout {
 public:
  QuietCout() : previous_(std::cout.rdbuf(&null_)) {}
  ~QuietCout() { std::cout.rdbuf(previous_); }

 private:
  NullBuffer null_;
  std::streambuf* previous_;
};

struct Rig {
  int mode;
  bool shared_sink;
  AIKorvane device;
  std::shared_ptr<sim::RecordingSink> sink;
  std::vector<float> voltages;  // the value of every round, in order
};

void Configure(Rig& rig, uint32_t data_id) {
  AIKorvane& device = rig.device;
  device.b_mode_ = rig.mode;
  device.data_.data_id = data_id;
  device.max_ = 100.0f;  // a sample of n gives n / 100
  switch (rig.mode) {
    case 1: {
      device.ai_signals_ = {{"电压", {"461127400001", "蓄电池组总电压"}},
                            {"缺失", {"123456789012", "缺失"}}};
      OSKVDevice::BAOSetting band;
      band.change_enabled = true;
      band.change_value = 1.0f;
      band.period_enabled = true;
      band.period_minutes = 1.0f;
      band.last_report_time = 0;
      band.last_report_value = 0.0f;
      device.ao_report_settings_["461627401001"] = band;
      break;
    }
    case 3:
      device.alarm_rules_ = {{"电压_upper", "007101,upper"}, {"电压_lower", "007102,lower"}};
      device.alarm_levels_ = {{"007101", 1}, {"007102", 2}};
      device.alarm_values_ = {{"007101", 55.0f}, {"007102", 45.0f}};
      device.alarm_report_prefix_ = {{"007101", "NM;ID;SN;"}, {"007102", "NM;ID;SN;"}};
      device.alarm_signal_names_ = {{"007101", "过高"}, {"007102", "过低"}};
      break;
    case 5:
      device.up_thresholds_ = {{"电压", {"900001001", 55.0f, 52.0f, false, 1}}};
      device.up2_thresholds_ = {{"电压", {"900001002", 58.0f, 56.0f, false, 2}}};
      device.low_thresholds_ = {{"电压", {"900001003", 45.0f, 48.0f, false, 1}}};
      device.low2_thresholds_ = {{"电压", {"900001004", 42.0f, 44.0f, false, 2}},
                                 {"更新时间", {"900001005", 0.0f, 0.0f, false, 2}}};
      break;
  }
}

// Host calls a device makes per round besides SendSP, Reset and the rest.
size_t PerSignalCalls(const Rig& rig, const std::vector<Json::Value>& events) {
  size_t calls = 0;
  for (const Json::Value& event : events) {
    const std::string name = event["event"].asString();
    if (name == "CheckThresholdBool") ++calls;
    if (rig.mode == 1 && name == "CheckThreshold") ++calls;
  }
  return calls;
}

TEST(Threads, DevicesRunRoundsConcurrently) {
  round_support::UseUtc();
  sim::SetVirtualTime(kRoundTime);
  auto shared = std::make_shared<sim::RecordingSink>();
  std::vector<std::unique_ptr<Rig>> rigs;
  const struct {
    int mode;
    bool shared_sink;
  } layout[] = {{1, true}, {3, true}, {5, false}, {1, false}, {3, false}, {5, true}};
  uint32_t data_id = 100;
  for (const auto& l : layout) {
    auto rig = std::make_unique<Rig>();
    rig->mode = l.mode;
    rig->shared_sink = l.shared_sink;
    rig->sink = l.shared_sink ? shared : std::make_shared<sim::RecordingSink>();
    sim::SetSink(rig->device, rig->sink);
    Configure(*rig, ++data_id);
    rigs.push_back(std::move(rig));
  }

  QuietCout quiet;
  std::atomic<bool> done{false};
  std::atomic<int> published_reads{0};
  std::thread clock([&done] {
    for (std::time_t now = kRoundTime; !done.load(); ++now) {
      sim::SetVirtualTime(now);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::vector<std::thread> threads;
  for (size_t d = 0; d < rigs.size(); ++d) {
    Rig& rig = *rigs[d];
    threads.emplace_back([&rig, d] {
      for (int round = 0; round < kRounds; ++round) {
        // Samples swing through every limit: 40.00 to 59.90.
        const short sample =
            static_cast<short>(4000 + (round * 37 + static_cast<int>(d) * 11) % 2000);
        if (round % 50 == 49) {
          AIKorvane_Data_t cached = rig.device.data_;
          cached.voltage = sample / 100.0f;
          rig.voltages.push_back(cached.voltage);
          rig.device.LoadFromCache(reinterpret_cast<const unsigned char*>(&cached), 15);
        } else {
          rig.voltages.push_back(rig.device.process(sample));
        }
      }
    });
    // Another host thread reads the published values the way the lock asks.
    // The JSON library is not instrumented, so the read of published_time_
    // is what lets the sanitizer see an unguarded publication.
    threads.emplace_back([&rig, &done, &published_reads] {
      while (!done.load()) {
        std::lock_guard<std::mutex> lock(rig.device.value_mutex_);
        if (rig.device.published_time_.is_not_a_date_time()) continue;
        if (rig.device.value_.isObject() && rig.device.value_.isMember("电压")) {
          const double voltage = rig.device.value_["电压"].asDouble();
          if (voltage >= 40.0 && voltage < 60.0) published_reads.fetch_add(1);
        }
      }
    });
  }
  for (size_t d = 0; d < rigs.size(); ++d) threads[2 * d].join();
  done.store(true);
  for (size_t d = 0; d < rigs.size(); ++d) threads[2 * d + 1].join();
  clock.join();
  sim::SetVirtualTime(std::nullopt);

  EXPECT_GT(published_reads.load(), 0);
  for (const auto& rig_ptr : rigs) {
    const Rig& rig = *rig_ptr;
    const uint32_t id = rig.device.data_.data_id;
    SCOPED_TRACE("device " + std::to_string(id) + " mode " + std::to_string(rig.mode));
    // Each device's own records, in its own order, none lost or mixed.
    const std::string id_hex = HeadHex(id, 0.0f).substr(0, 8);
    std::vector<std::string> sent;
    std::vector<std::string> stored;
    for (const Json::Value& event : rig.sink->Events("SendSP")) {
      const std::string bytes = event["bytes"].asString();
      if (bytes.compare(0, 8, id_hex) == 0) sent.push_back(bytes.substr(0, 16));
    }
    for (const Json::Value& event : rig.sink->Events("SaveDeviceHistory")) {
      const std::string bytes = event["bytes"].asString();
      if (bytes.compare(0, 8, id_hex) == 0) stored.push_back(bytes.substr(0, 16));
    }
    std::vector<std::string> expected;
    for (float voltage : rig.voltages) expected.push_back(HeadHex(id, voltage));
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(stored, expected);

    EXPECT_TRUE(rig.device.rule_values_.empty());
    EXPECT_TRUE(rig.device.has_data_);
    EXPECT_EQ(rig.device.round_state_, 1);
    ASSERT_TRUE(rig.device.value_.isMember("电压"));
    const float published = rig.device.value_["电压"].asFloat();
    EXPECT_NE(std::find(rig.voltages.begin(), rig.voltages.end(), published), rig.voltages.end());
    if (!rig.shared_sink) {
      const auto events = rig.sink->Events();
      // Mode 1: two signals, one of them never published, plus two own
      // checks; mode 3: two rules; mode 5: four numeric entries.
      const size_t per_round = rig.mode == 1 ? 3 : rig.mode == 3 ? 2 : 4;
      EXPECT_EQ(PerSignalCalls(rig, events), per_round * kRounds);
    }
  }
}

}  // namespace
