// The cost of one round through process(), by operating mode, beside its floor:
// the same diagnostic lines written to the same stream with nothing else. Each
// round benchmark "round/X" has its floor "floor/X", so the round reads as a
// multiple of what its own output costs.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/bench_support.h"

namespace bench {
namespace {

// Raw half-scale-ish sample: 8000 of 10000 on a 0 to 60 range gives 48 V.
constexpr short kSample = 8000;
constexpr unsigned int kDeviceId = 7;

std::string Padded(int number, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*d", width, number);
  return text;
}

// The published value of signal i; a spread of values around the alarm
// thresholds below, so that some checks hold and some do not.
double SignalValue(int i) { return 40.0 + 0.25 * (i % 100); }

// A device in the given mode, configured the way InitSetting leaves it, with
// no profile in the working directory.
std::unique_ptr<AIKorvane> ConfiguredDevice(int mode) {
  auto device = MakeDevice(kDeviceId);
  Json::Value settings;
  settings["appSetting"]["b_mode"] = mode;
  settings["appSetting"]["min"] = 0;
  settings["appSetting"]["max"] = 60;
  device->InitSetting(settings);
  return device;
}

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

// Brings the device to its steady state (first reports sent, limit flags
// settled) and returns the lines one steady round writes; refuses to measure
// when two successive rounds write different lines, since the floor would
// then not be the round's own.
bool SteadyLines(benchmark::State& state, const std::function<void()>& round,
                 std::vector<std::string>& lines) {
  for (int i = 0; i < 3; ++i) {
    NextSecond();
    round();
  }
  NextSecond();
  lines = CaptureLines(round);
  NextSecond();
  if (CaptureLines(round) != lines) {
    state.SkipWithError("successive rounds write different lines");
    return false;
  }
  return true;
}

void Measure(benchmark::State& state, AIKorvane& device, const std::function<void()>& round,
             bool floor) {
  std::vector<std::string> lines;
  if (!SteadyLines(state, round, lines)) return;
  if (floor) {
    for (auto _ : state) WriteLines(lines);
  } else {
    for (auto _ : state) {
      NextSecond();
      round();
    }
  }
  state.counters["lines"] = static_cast<double>(lines.size());
  benchmark::DoNotOptimize(device.data_.voltage);
}

void ProcessRound(benchmark::State& state, int mode, int count, bool floor) {
  QuietCout quiet;
  StartClock();
  auto device = RoundDevice(mode, count);
  AIKorvane& dev = *device;
  Measure(
      state, dev, [&dev] { dev.process(kSample); }, floor);
  StopClock();
}

// A round started by the host handing back a cached record (mode 1, 10 signals).
void CacheRound(benchmark::State& state, bool floor) {
  QuietCout quiet;
  StartClock();
  auto device = RoundDevice(1, 10);
  AIKorvane_Data_t record{};
  record.data_id = kDeviceId;
  record.voltage = 48.0f;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  AIKorvane& dev = *device;
  Measure(
      state, dev, [&dev, bytes] { dev.LoadFromCache(bytes, 15); }, floor);
  StopClock();
}

// Publication alone, every call in a new second (so it always writes).
void GenJsonDataAlone(benchmark::State& state, bool same_second) {
  QuietCout quiet;
  auto device = ConfiguredDevice(1);
  device->update_time_ = boost::posix_time::ptime(boost::gregorian::date(2026, 1, 5));
  device->data_.voltage = 48.25f;
  device->data_.year = 2026;
  device->data_.month = 1;
  device->data_.day = 5;
  for (auto _ : state) {
    if (!same_second) device->update_time_ += boost::posix_time::seconds(1);
    device->GenJsonData();
  }
  benchmark::DoNotOptimize(device->value_);
}

}  // namespace

void RegisterRoundBenchmarks() {
  const std::pair<int, int> cases[] = {{1, 10},  {1, 100}, {2, 0},  {3, 10},
                                       {3, 100}, {5, 10},  {5, 100}};
  for (const auto& [mode, count] : cases) {
    std::string name = "mode" + std::to_string(mode);
    if (mode != 2) name += "/" + std::to_string(count);
    benchmark::RegisterBenchmark(("round/" + name).c_str(), ProcessRound, mode, count, false);
    benchmark::RegisterBenchmark(("floor/" + name).c_str(), ProcessRound, mode, count, true);
  }
  benchmark::RegisterBenchmark("round/load_from_cache", CacheRound, false);
  benchmark::RegisterBenchmark("floor/load_from_cache", CacheRound, true);
  benchmark::RegisterBenchmark("gen_json_data/new_second", GenJsonDataAlone, false);
  benchmark::RegisterBenchmark("gen_json_data/same_second", GenJsonDataAlone, true);
}

}  // namespace bench
