// How reading the settings grows with their size: a profile of n [AI] lines
// (mode 1) and "thresholdSetting" objects of n records (modes 5 and 3). Each
// run fits its times to a complexity curve; a fit of N or NlgN is the goal,
// N^2 a fault.

#include <benchmark/benchmark.h>

#include <set>
#include <string>

#include "bench/bench_support.h"
#include "bench/scenarios.h"

namespace bench {
namespace {

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
