// How reading the settings grows with their size: a profile of n [AI] lines
// (mode 1) and "thresholdSetting" objects of n records (modes 5 and 3). Each
// run fits its times to a complexity curve; a fit of N or NlgN is the goal,
// N^2 a fault.

#include <benchmark/benchmark.h>

#include <set>
#include <string>

#include "bench/bench_support.h"

namespace bench {
namespace {

std::string Id(int i) { return std::to_string(100000 + i); }

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

// Every iteration configures a new device, as at the host's start-up; making
// and destroying the device is not timed.
void Configure(benchmark::State& state, unsigned int data_id, const Json::Value& settings) {
  std::unique_ptr<AIKorvane> device;
  for (auto _ : state) {
    state.PauseTiming();
    device.reset();
    device = MakeDevice(data_id);
    state.ResumeTiming();
    device->InitSetting(settings);
  }
  state.SetComplexityN(state.range(0));
}

void ProfileLines(benchmark::State& state) {
  QuietCout quiet;
  const unsigned int data_id = WriteProfile(static_cast<int>(state.range(0)));
  Json::Value settings;
  settings["appSetting"]["b_mode"] = 1;
  Configure(state, data_id, settings);
}

void LimitSettings(benchmark::State& state) {
  QuietCout quiet;
  Configure(state, 5, LimitRecords(static_cast<int>(state.range(0))));
}

void AlarmSettings(benchmark::State& state) {
  QuietCout quiet;
  Configure(state, 3, AlarmRecords(static_cast<int>(state.range(0))));
}

}  // namespace

void RegisterSettingsBenchmarks() {
  benchmark::RegisterBenchmark("init_setting/profile_ai_lines", ProfileLines)
      ->Arg(10)
      ->Arg(1000)
      ->Arg(100000)
      ->Unit(benchmark::kMicrosecond)
      ->Complexity();
  benchmark::RegisterBenchmark("init_setting/mode5_records", LimitSettings)
      ->Arg(10)
      ->Arg(1000)
      ->Arg(10000)
      ->Unit(benchmark::kMicrosecond)
      ->Complexity();
  benchmark::RegisterBenchmark("init_setting/mode3_records", AlarmSettings)
      ->Arg(10)
      ->Arg(1000)
      ->Arg(10000)
      ->Unit(benchmark::kMicrosecond)
      ->Complexity();
}

}  // namespace bench
