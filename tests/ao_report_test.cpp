// Change-based analog reports: the three triggers in single precision, the
// borrowed fallback entry and the memory of the last report.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "round_support.h"

namespace {

using round_support::Probe;
using round_support::VirtualClock;

// A present-day clock value that single precision holds exactly; its
// neighbours as floats lie 128 seconds away.
constexpr std::time_t kNow = 1700000000;

struct Setting {
  bool change = false;
  float change_value = 0;
  bool percent = false;
  float percent_value = 0;
  bool period = false;
  float period_minutes = 0;
  uint32_t last_time = static_cast<uint32_t>(kNow);
  float last_value = 0;
};

OSKVDevice::BAOSetting Make(const Setting& s) {
  OSKVDevice::BAOSetting setting;
  setting.change_enabled = s.change;
  setting.change_value = s.change_value;
  setting.percent_enabled = s.percent;
  setting.percent_value = s.percent_value;
  setting.period_enabled = s.period;
  setting.period_minutes = s.period_minutes;
  setting.last_report_time = s.last_time;
  setting.last_report_value = s.last_value;
  return setting;
}

Setting Change(float band, float last) {
  Setting s;
  s.change = true;
  s.change_value = band;
  s.last_value = last;
  return s;
}

Setting Percent(float band, float last) {
  Setting s;
  s.percent = true;
  s.percent_value = band;
  s.last_value = last;
  return s;
}

Setting Period(float minutes, uint32_t last_time) {
  Setting s;
  s.period = true;
  s.period_minutes = minutes;
  s.last_time = last_time;
  s.last_value = 50;
  return s;
}

// One check of a fresh signal entry at the given clock.
bool ReportsOnce(const Setting& setting, float value, std::time_t now = kNow) {
  VirtualClock clock(now);
  Probe probe;
  probe.device->ao_report_settings_["S"] = Make(setting);
  const bool reported = probe.device->CheckAOReport("F", "S", value);
  EXPECT_EQ(probe.sink->Events("CheckAOReport").size(), reported ? 1u : 0u);
  return reported;
}

TEST(AoReportTrigger, AbsoluteAndPercentageBands) {
  const struct {
    const char* what;
    Setting setting;
    float value;
    bool reported;
  } cases[] = {
      {"band 2 above", Change(2, 50), 52.0f, false},
      {"band 2 below", Change(2, 50), 48.0f, false},
      {"band 2 past above", Change(2, 50), 52.1f, true},
      {"band 2 past below", Change(2, 50), 47.9f, true},
      {"band 2 unchanged", Change(2, 50), 50.0f, false},
      // 0.1f + 0.2f is 0.3f in single precision (not in double).
      {"single precision sum", Change(0.2f, 0.1f), 0.3f, false},
      {"10% upper bound", Percent(10, 50), 55.0f, false},
      {"10% lower bound", Percent(10, 50), 45.0f, false},
      {"10% past upper", Percent(10, 50), 55.5f, true},
      {"10% past lower", Percent(10, 50), 44.9f, true},
      {"last 0, value 0", Percent(10, 0), 0.0f, false},
      {"last 0, tiny above", Percent(10, 0), 1e-30f, true},
      {"last 0, tiny below", Percent(10, 0), -0.001f, true},
      {"last -50, value -50", Percent(10, -50), -50.0f, true},
      {"last -50, value -45", Percent(10, -50), -45.0f, true},
      {"last -50, value -55", Percent(10, -50), -55.0f, true},
      {"last -50, value 0", Percent(10, -50), 0.0f, true},
      {"all flags off", Setting{}, 1000.0f, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReportsOnce(c.setting, c.value), c.reported) << c.what;
  }
}

// The period is compared in single precision: at t = 1.7e9 the sum t + 60
// rounds back to t, and time() must reach a float above it.
TEST(AoReportTrigger, PeriodInSinglePrecision) {
  const uint32_t t = static_cast<uint32_t>(kNow);
  const struct {
    float minutes;
    uint32_t last;
    std::time_t now;
    bool reported;
  } cases[] = {
      {1, t, kNow + 61, false}, {1, t, kNow + 64, false},  {1, t, kNow + 65, true},
      {1, t, kNow + 128, true}, {2, t, kNow + 121, false}, {2, t, kNow + 191, false},
      {2, t, kNow + 192, true}, {1, 0, kNow, true},        {1, t, kNow - 1000, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReportsOnce(Period(c.minutes, c.last), 50.0f, c.now), c.reported)
        << c.minutes << " min, last " << c.last << ", now t" << std::showpos << c.now - kNow;
  }
}

// After a report the entry remembers the value and the clock; the host gets
// the signal's own id.
TEST(AoReportState, ReportUpdatesLastValueAndTime) {
  VirtualClock clock(kNow + 300);
  Probe probe;
  AIKorvane& device = *probe.device;
  Setting s = Change(1, 50);
  s.last_time = 12;
  device.ao_report_settings_["S"] = Make(s);
  EXPECT_TRUE(device.CheckAOReport("F", "S", 52.5f));
  const auto& entry = device.ao_report_settings_.at("S");
  EXPECT_EQ(entry.last_report_value, 52.5f);
  EXPECT_EQ(entry.last_report_time, static_cast<uint32_t>(kNow + 300));
  const auto calls = probe.sink->Events("CheckAOReport");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0]["signal"].asString(), "S");
  EXPECT_EQ(calls[0]["value"].asDouble(), 52.5);

  // No report: the entry keeps what it had.
  clock.Set(kNow + 400);
  EXPECT_FALSE(device.CheckAOReport("F", "S", 53.0f));
  EXPECT_EQ(entry.last_report_value, 52.5f);
  EXPECT_EQ(entry.last_report_time, static_cast<uint32_t>(kNow + 300));
}

// A slow drift reports once per band width: every check compares with the
// value last reported.
TEST(AoReportState, SlowDriftReportsOncePerBand) {
  VirtualClock clock(kNow);
  Probe probe;
  AIKorvane& device = *probe.device;
  device.ao_report_settings_["S"] = Make(Change(1, 50));
  std::vector<float> reported;
  for (float value = 50.0f; value <= 55.0f; value += 0.25f) {
    if (device.CheckAOReport("F", "S", value)) reported.push_back(value);
  }
  EXPECT_EQ(reported, (std::vector<float>{51.25f, 52.5f, 53.75f, 55.0f}));
  EXPECT_EQ(probe.sink->Events("CheckAOReport").size(), 4u);
}

// A signal without an entry borrows a copy of the fallback's whole entry; the
// copy then evolves on its own.
TEST(AoReportFallback, BorrowedEntryIsACopy) {
  VirtualClock clock(kNow);
  Probe probe;
  AIKorvane& device = *probe.device;
  Setting fallback;
  fallback.change = true;
  fallback.change_value = 2;
  fallback.percent = true;
  fallback.percent_value = 50;
  fallback.period = true;
  fallback.period_minutes = 15;
  fallback.last_time = 77;
  fallback.last_value = 40;
  device.ao_report_settings_["461627401001"] = Make(fallback);

  EXPECT_TRUE(device.CheckAOReport("461627401001", "461127400001", 45.0f));
  const auto& borrowed = device.ao_report_settings_.at("461127400001");
  EXPECT_TRUE(borrowed.change_enabled);
  EXPECT_EQ(borrowed.change_value, 2.0f);
  EXPECT_TRUE(borrowed.percent_enabled);
  EXPECT_EQ(borrowed.percent_value, 50.0f);
  EXPECT_TRUE(borrowed.period_enabled);
  EXPECT_EQ(borrowed.period_minutes, 15.0f);
  EXPECT_EQ(borrowed.last_report_value, 45.0f);
  EXPECT_EQ(borrowed.last_report_time, static_cast<uint32_t>(kNow));
  const auto& original = device.ao_report_settings_.at("461627401001");
  EXPECT_EQ(original.last_report_value, 40.0f);
  EXPECT_EQ(original.last_report_time, 77u);
  EXPECT_EQ(probe.sink->Events("CheckAOReport")[0]["signal"].asString(), "461127400001");
}

TEST(AoReportFallback, CopyIncludesLastReportWithoutReporting) {
  VirtualClock clock(kNow);
  Probe probe;
  AIKorvane& device = *probe.device;
  Setting off;  // all three triggers off
  off.last_time = 5;
  off.last_value = 33;
  device.ao_report_settings_["F"] = Make(off);
  EXPECT_FALSE(device.CheckAOReport("F", "S", 1000.0f));
  ASSERT_EQ(device.ao_report_settings_.count("S"), 1u);
  EXPECT_EQ(device.ao_report_settings_.at("S").last_report_time, 5u);
  EXPECT_EQ(device.ao_report_settings_.at("S").last_report_value, 33.0f);
  EXPECT_FALSE(device.ao_report_settings_.at("S").change_enabled);
  EXPECT_TRUE(probe.sink->Events().empty());
}

TEST(AoReportFallback, OwnEntryWinsAndMissingBothLeavesNoTrace) {
  VirtualClock clock(kNow);
  Probe probe;
  AIKorvane& device = *probe.device;
  device.ao_report_settings_["F"] = Make(Change(1, 0));  // would report 10
  device.ao_report_settings_["S"] = Make(Change(20, 0));
  EXPECT_FALSE(device.CheckAOReport("F", "S", 10.0f));
  // The same id as its own fallback uses its entry only.
  EXPECT_TRUE(device.CheckAOReport("F", "F", 10.0f));
  EXPECT_EQ(device.ao_report_settings_.size(), 2u);

  EXPECT_FALSE(device.CheckAOReport("nope", "none", 10.0f));
  EXPECT_EQ(device.ao_report_settings_.size(), 2u);
  EXPECT_EQ(probe.sink->Events("CheckAOReport").size(), 1u);
}

}  // namespace
