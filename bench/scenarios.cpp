#include "bench/scenarios.h"

#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "bench/bench_support.h"

namespace bench {
namespace {

std::string Padded(int number, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*d", width, number);
  return text;
}

// The published value of signal i; a spread of values around the alarm
// thresholds below, so that some checks hold and some do not.
double SignalValue(int i) { return 40.0 + 2.5 * (i % 10); }

// The plug-in itself publishes only "电压" and "更新时间"; a device publishing
// many values (as the multi-value devices built on the same template do) has
// one member per signal. The benchmarks put those members into value_ so that
// the [AI] keys, [ALARM] data names and limit-table keys name real values and
// every per-signal check runs its whole path.
void PublishSignals(AIKorvane& device, int count) {
  for (int i = 0; i < count; ++i) device.value_["sig" + Padded(i, 4)] = SignalValue(i);
}

OSKVDevice::BAOSetting ReportSetting() {
  OSKVDevice::BAOSetting setting;
  setting.change_enabled = true;
  setting.change_value = 1.0f;
  setting.percent_enabled = true;
  setting.percent_value = 10.0f;
  setting.period_enabled = true;
  setting.period_minutes = 15.0f;
  setting.last_report_time = 0;
  setting.last_report_value = 0.0f;
  return setting;
}

// Mode 1: `count` [AI] signals with change-based report settings under their
// fallback (rewritten) ids, as the host fills them.
void ConfigureMode1(AIKorvane& device, int count) {
  device.ao_report_settings_["461627401001"] = ReportSetting();
  for (int i = 0; i < count; ++i) {
    const std::string key = "sig" + Padded(i, 4);
    const std::string id = "4611274" + Padded(i + 1, 5);
    std::string fallback = id;
    fallback[3] = '6';
    fallback[8] = '1';
    device.ai_signals_[key] = {id, "模拟量" + std::to_string(i)};
    device.ao_report_settings_[fallback] = ReportSetting();
  }
  PublishSignals(device, count);
}

// Mode 2: the six battery alarm rows configured, the discharge report off.
void ConfigureMode2(AIKorvane& device) {
  const std::pair<const char*, float> rows[] = {
      {"110610040010", 56.4f}, {"110610050010", 49.0f}, {"110610060010", 45.0f},
      {"110410040010", 58.0f}, {"110410050010", 46.0f}, {"110410060010", 44.0f},
  };
  int level = 1;
  for (const auto& [id, threshold] : rows) {
    device.alarm_levels_[id] = level++;
    device.alarm_values_[id] = threshold;
  }
  device.discharge_v_ = 0.0f;
}

// Mode 3: `count` [ALARM] rules over published values, cycling through the
// four comparison words, each alarm configured with a level and a threshold.
void ConfigureMode3(AIKorvane& device, int count) {
  static const char* const kWords[] = {"upper", "lower", "equal", "notequal"};
  for (int i = 0; i < count; ++i) {
    const std::string data_name = "sig" + Padded(i, 4);
    const std::string alarm_id = Padded(7001 + i, 6);
    device.alarm_rules_[data_name + "_alarm"] = alarm_id + "," + kWords[i % 4];
    device.alarm_levels_[alarm_id] = 1 + i % 4;
    device.alarm_values_[alarm_id] = 45.0f + (i % 7);
    device.alarm_report_prefix_[alarm_id] =
        "NM" + std::to_string(i) + ";" + alarm_id + ";" + std::to_string(i % 3 + 1) + ";";
    device.alarm_signal_names_[alarm_id] = "信号" + std::to_string(i);
  }
  PublishSignals(device, count);
}

// Mode 5: `count` entries in each of the four limit tables.
void ConfigureMode5(AIKorvane& device, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string key = "sig" + Padded(i, 4);
    const std::string id = "3001" + Padded(i, 5);
    device.up_thresholds_[key] = ThresholdEntry(id + "001", 55.0f, 53.0f, false, 2);
    device.up2_thresholds_[key] = ThresholdEntry(id + "002", 60.0f, 58.0f, false, 1);
    device.low_thresholds_[key] = ThresholdEntry(id + "003", 45.0f, 46.0f, false, 2);
    device.low2_thresholds_[key] = ThresholdEntry(id + "004", 42.0f, 43.0f, false, 1);
  }
  PublishSignals(device, count);
}

std::string Id(int i) { return std::to_string(100000 + i); }

}  // namespace

std::unique_ptr<AIKorvane> ConfiguredDevice(int mode) {
  auto device = MakeDevice(kDeviceId);
  Json::Value settings;
  settings["appSetting"]["b_mode"] = mode;
  settings["appSetting"]["min"] = 0;
  settings["appSetting"]["max"] = 60;
  device->InitSetting(settings);
  return device;
}

std::unique_ptr<AIKorvane> RoundDevice(int mode, int count) {
  auto device = ConfiguredDevice(mode);
  switch (mode) {
    case 1:
      ConfigureMode1(*device, count);
      break;
    case 2:
      ConfigureMode2(*device);
      break;
    case 3:
      ConfigureMode3(*device, count);
      break;
    case 5:
      ConfigureMode5(*device, count);
      break;
  }
  return device;
}

// ini/<n>.ini: n [AI] lines and one [ALARM] line, written once per size.
unsigned int WriteProfile(int lines) {
  static std::set<int> written;
  const auto data_id = static_cast<unsigned int>(lines);
  if (written.insert(lines).second) {
    std::string text = "; benchmark profile\n[AI]\n";
    for (int i = 0; i < lines; ++i) {
      text += "sig" + Id(i) + " = 4611274" + Id(i).substr(1) + ",模拟量" + std::to_string(i) + "\n";
    }
    text += "[ALARM]\nsig" + Id(0) + "_high = 007001,upper\n";
    WriteFile("ini/" + std::to_string(data_id) + ".ini", text);
  }
  return data_id;
}

Json::Value LimitRecords(int records) {
  Json::Value settings;
  settings["appSetting"]["b_mode"] = 5;
  Json::Value& all = settings["thresholdSetting"];
  for (int i = 0; i < records; ++i) {
    Json::Value& record = all["r" + Id(i)];
    record["ID"] = "3001" + Id(i);
    record["SignalName"] = "sig" + Id(i);
    // Numbers and their text forms are equivalent; sites send both.
    record["UpValue"] = 55;
    record["UpReconverValue"] = "53.5";
    record["UpAlarmLevel"] = 2;
    record["Up2Value"] = "60";
    record["Up2ReconverValue"] = 58;
    record["Up2AlarmLevel"] = "1";
    record["LowValue"] = 45.5;
    record["LowReconverValue"] = 46;
    record["LowAlarmLevel"] = 2;
    record["Low2Value"] = 42;
    record["Low2ReconverValue"] = 43;
    record["Low2AlarmLevel"] = 1;
  }
  return settings;
}

Json::Value AlarmRecords(int records) {
  Json::Value settings;
  settings["appSetting"]["b_mode"] = 3;
  Json::Value& all = settings["thresholdSetting"];
  for (int i = 0; i < records; ++i) {
    Json::Value& record = all[Id(i)];
    record["SignalName"] = "信号" + std::to_string(i);
    record["NMAlarmID"] = "0407" + Id(i);
    record["ID"] = i;
    record["SignalNumber"] = 1 + i % 4;
  }
  return settings;
}

}  // namespace bench
