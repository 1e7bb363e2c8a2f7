// The cost of one round through process(), by operating mode, beside its floor:
// the same diagnostic lines written to the same stream with nothing else. Each
// round benchmark "round/X" has its floor "floor/X", so the round reads as a
// multiple of what its own output costs.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "bench/scenarios.h"

namespace bench {
namespace {

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
