// Fuzz target: samples and channel readings against arbitrary settings.
//
// The input describes the device's own settings (each key present or not, as
// a JSON number or as text, floats of any bit pattern: NaN and infinities
// included), the host's correction, alarm levels and thresholds, report
// settings and limit tables, the channel readings, and then a run of steps:
// a sample, or a cached record, with the clock moved on by 0 s, 1 s, a minute
// or an hour. The same run is made on a fresh device in every operating mode.

#include <json/value.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

const char* const fuzz::kTargetName = "samples";

namespace {

struct Step {
  short sample = 0;
  uint8_t control = 0;
  float extra = 0.0f;  // reading or cached voltage
};

struct Plan {
  Json::Value app{Json::objectValue};
  uint8_t host_flags = 0;
  float gain = 1.0f, offset = 0.0f;
  float readings[8] = {};
  int levels[8] = {};
  float thresholds[8] = {};
  OSKVDevice::BAOSetting report;
  float limits[4][2] = {};
  uint8_t limit_flags = 0;
  std::vector<Step> steps;
};

constexpr const char* kAlarmIds[8] = {"110610040010", "110610050010", "110610060010",
                                      "110410040010", "110410050010", "110410060010",
                                      "007001",       "007002"};

Json::Value FloatValue(float value, bool as_text) {
  if (!as_text) return Json::Value(static_cast<double>(value));
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return Json::Value(text);
}

Plan ReadPlan(fuzz::Reader& in) {
  Plan plan;
  const uint32_t present = in.Dword();
  const uint32_t as_text = in.Dword();
  int bit = 0;
  auto put_int = [&](const char* key, int value) {
    if (present >> bit & 1) {
      plan.app[key] = as_text >> bit & 1 ? Json::Value(std::to_string(value)) : Json::Value(value);
    }
    ++bit;
  };
  auto put_float = [&](const char* key, float value) {
    if (present >> bit & 1) plan.app[key] = FloatValue(value, as_text >> bit & 1);
    ++bit;
  };
  put_int("current_mode", in.Byte() % 3);
  put_int("real_value", static_cast<int8_t>(in.Byte()) % 3);
  put_int("ai_index", in.Byte() % 8);
  put_float("min", in.Float());
  put_float("max", in.Float());
  put_float("discharge_v", in.Float());
  put_float("discharge_v_end", in.Float());
  put_float("discharge_v_diff", in.Float());
  put_int("max_v", static_cast<int8_t>(in.Byte()));
  for (const char* key : {"y1", "x1", "y2", "x2", "y3", "x3", "y4", "x4"})
    put_float(key, in.Float());
  put_int("mode", static_cast<int>(in.Byte() % 7) - 1);

  plan.host_flags = in.Byte();
  plan.gain = in.Float();
  plan.offset = in.Float();
  for (float& reading : plan.readings) reading = in.Float();
  for (int i = 0; i < 8; ++i) {
    plan.levels[i] = in.Byte() % 4;
    plan.thresholds[i] = in.Float();
  }
  const uint8_t report_flags = in.Byte();
  plan.report.change_enabled = report_flags & 1;
  plan.report.percent_enabled = report_flags & 2;
  plan.report.period_enabled = report_flags & 4;
  plan.report.change_value = in.Float();
  plan.report.percent_value = in.Float();
  plan.report.period_minutes = in.Float();
  plan.report.last_report_value = in.Float();
  plan.report.last_report_time = in.Dword();
  plan.limit_flags = in.Byte();
  for (auto& limit : plan.limits) {
    limit[0] = in.Float();
    limit[1] = in.Float();
  }
  while (!in.empty() && plan.steps.size() < 48) {
    Step step;
    step.sample = static_cast<short>(in.Word());
    step.control = in.Byte();
    if (step.control & 0x0C) step.extra = in.Float();
    plan.steps.push_back(step);
  }
  return plan;
}

void Configure(fuzz::CheckedDevice& checked, const Plan& plan, int mode) {
  AIKorvane& device = checked.device;
  Json::Value settings(Json::objectValue);
  settings["appSetting"] = plan.app;
  settings["appSetting"]["b_mode"] = mode;
  if (!fuzz::ApplySettings(device, settings)) fuzz::Fail("settings built from numbers failed");
  if (plan.host_flags & 1) device.ai_gain_ = plan.gain;
  if (plan.host_flags & 2) device.ai_offset_ = plan.offset;
  for (int channel = 0; channel < 8; ++channel) {
    sim::SetAiReading(device, channel, plan.readings[channel]);
  }
  for (int i = 0; i < 8; ++i) {
    device.alarm_levels_[kAlarmIds[i]] = plan.levels[i];
    device.alarm_values_[kAlarmIds[i]] = plan.thresholds[i];
  }
  device.ao_report_settings_[plan.host_flags & 4 ? "461127400001" : "461627401001"] = plan.report;

  device.ai_signals_["电压"] = {"461127400001", "电压"};
  device.ai_signals_["更新时间"] = {"461127400002", "更新时间"};
  device.ai_signals_["absent"] = {"461127400003", "absent"};
  device.ai_signals_["short"] = {"4611", "short"};
  device.alarm_rules_["电压_a"] = "007001,upper";
  device.alarm_rules_["电压_b"] = "007002,lower";
  device.alarm_rules_["电压_c"] = "007001,equal";
  device.alarm_rules_["更新时间"] = "007002,notequal";
  device.alarm_rules_["absent_d"] = "007001,Upper";
  device.alarm_rules_["nocomma"] = "007002";
  device.alarm_signal_names_["007001"] = "high";
  device.alarm_report_prefix_["007001"] = "1;2;3;";
  ThresholdTable* tables[4] = {&device.up_thresholds_, &device.up2_thresholds_,
                               &device.low_thresholds_, &device.low2_thresholds_};
  for (int i = 0; i < 4; ++i) {
    const std::string key = plan.limit_flags >> (4 + i) & 1 ? "更新时间" : "电压";
    (*tables[i])[key] = ThresholdEntry("99000" + std::to_string(i + 1), plan.limits[i][0],
                                       plan.limits[i][1], plan.limit_flags >> i & 1, 1 + i);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Prepare();
  fuzz::PrivateWorkDir();  // no profile: the search finds nothing here
  fuzz::Reader in(data, size);
  const Plan plan = ReadPlan(in);
  static constexpr std::time_t kAdvance[4] = {0, 1, 60, 3600};
  for (const int mode : fuzz::kModes) {
    std::time_t now = 1767225600;
    sim::SetVirtualTime(now);
    fuzz::CheckedDevice checked(3);
    Configure(checked, plan, mode);
    for (const Step& step : plan.steps) {
      now += kAdvance[step.control & 3];
      sim::SetVirtualTime(now);
      if (step.control & 8) sim::SetAiReading(checked.device, step.control >> 4 & 7, step.extra);
      if (step.control & 4) {
        AIKorvane_Data_t record = checked.device.data_;
        record.voltage = step.extra;
        checked.LoadFromCache(reinterpret_cast<const uint8_t*>(&record), sizeof record);
      } else {
        checked.Process(step.sample);
      }
    }
  }
  sim::SetVirtualTime(std::nullopt);
  return 0;
}
