// The cost of one round through process(), by operating mode, beside three
// floors: "floor/X", the same diagnostic lines written to the same stream with
// nothing else; "hostfloor/X", those lines plus the same framework calls with
// the same arguments, prepared before the timed loop; and "readfloor/X", the
// host floor plus one look-up by name in the published values of every entry
// the round's mode reads ([AI] key, [ALARM] data name, limit-table key). The
// round reads as a multiple of what its output and its host calls cost; what
// lies above the read floor is the device's own work beyond reading what it
// must. Every benchmark also counts the calls of heap allocations per
// iteration ("allocs"). "paired/X" times rounds, host floors and read floors
// in alternating batches within one benchmark and reports the round's ratio to
// each ("ratio", "read_ratio"), which a machine whose speed drifts disturbs far
// less than the ratio of two benchmarks run seconds apart.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/alloc_count.h"
#include "bench/bench_support.h"
#include "bench/host_floor.h"
#include "bench/scenarios.h"

namespace bench {
namespace {

enum class Floor { kNone, kLines, kHost, kReads, kPaired };

// CPU time of the calling thread in nanoseconds.
double ThreadNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Rounds and floors in alternating batches of this many: on a machine whose
// speed drifts (a shared virtual machine) all see the same speed, so their
// ratios hold steadier than those of separate benchmarks.
constexpr int kPairBatch = 32;

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

// What the floors of one steady round repeat: its lines, its framework calls
// and the names its mode looks up in the published values.
struct RoundWork {
  AIKorvane& device;
  std::vector<std::string> lines;
  std::vector<HostCall> calls;
  std::vector<std::string> names;

  void Host() const {
    WriteLines(lines);
    MakeCalls(device, calls);
  }
  void HostAndReads() const {
    Host();
    ReadMembers(device.value_, names);
  }
};

// Rounds, host floors and read floors in alternating batches.
void MeasurePaired(benchmark::State& state, const RoundWork& work,
                   const std::function<void()>& round) {
  double round_ns = 0.0;
  double host_ns = 0.0;
  double read_ns = 0.0;
  for (auto _ : state) {
    const double began = ThreadNs();
    for (int i = 0; i < kPairBatch; ++i) {
      NextSecond();
      round();
    }
    const double rounds_done = ThreadNs();
    for (int i = 0; i < kPairBatch; ++i) work.Host();
    const double hosts_done = ThreadNs();
    for (int i = 0; i < kPairBatch; ++i) work.HostAndReads();
    round_ns += rounds_done - began;
    host_ns += hosts_done - rounds_done;
    read_ns += ThreadNs() - hosts_done;
  }
  const double rounds = static_cast<double>(state.iterations()) * kPairBatch;
  state.counters["round_ns"] = round_ns / std::max(1.0, rounds);
  state.counters["host_ns"] = host_ns / std::max(1.0, rounds);
  state.counters["read_ns"] = read_ns / std::max(1.0, rounds);
  state.counters["ratio"] = host_ns > 0.0 ? round_ns / host_ns : 0.0;
  state.counters["read_ratio"] = read_ns > 0.0 ? round_ns / read_ns : 0.0;
}

void Measure(benchmark::State& state, AIKorvane& device, const std::function<void()>& round,
             Floor floor) {
  RoundWork work{device, {}, {}, {}};
  if (!SteadyLines(state, round, work.lines)) return;
  NextSecond();
  work.calls = RecordCalls(device, round);
  work.names = ReadNames(device);
  // A name that misses would time a failed search, cheaper than the hit the
  // round makes.
  for (const std::string& name : work.names) {
    if (device.value_.find(name.data(), name.data() + name.size()) == nullptr) {
      state.SkipWithError(("the published values have no member " + name).c_str());
      return;
    }
  }
  if (floor == Floor::kPaired) {
    MeasurePaired(state, work, round);
    return;
  }
  const uint64_t allocations = Allocations();
  if (floor == Floor::kLines) {
    for (auto _ : state) WriteLines(work.lines);
  } else if (floor == Floor::kHost) {
    for (auto _ : state) work.Host();
  } else if (floor == Floor::kReads) {
    for (auto _ : state) work.HostAndReads();
  } else {
    for (auto _ : state) {
      NextSecond();
      round();
    }
  }
  state.counters["lines"] = static_cast<double>(work.lines.size());
  state.counters["calls"] = static_cast<double>(work.calls.size());
  state.counters["reads"] = static_cast<double>(work.names.size());
  state.counters["allocs"] =
      static_cast<double>(Allocations() - allocations) /
      static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  benchmark::DoNotOptimize(device.data_.voltage);
}

void ProcessRound(benchmark::State& state, int mode, int count, Floor floor) {
  QuietCout quiet;
  StartClock();
  auto device = RoundDevice(mode, count);
  AIKorvane& dev = *device;
  Measure(
      state, dev, [&dev] { dev.process(kSample); }, floor);
  StopClock();
}

// A round started by the host handing back a cached record (mode 1, 10 signals).
void CacheRound(benchmark::State& state, Floor floor) {
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

// Rounds with every kept part and rounds without one of them, in alternating
// batches on the same device: "without" is the second's time per round over
// the first's, so a part pays where it is above 1.
void KeptPaired(benchmark::State& state, int mode, int count, unsigned part) {
  QuietCout quiet;
  StartClock();
  auto device = RoundDevice(mode, count);
  AIKorvane& dev = *device;
  std::vector<std::string> lines;
  const auto round = [&dev] { dev.process(kSample); };
  if (!SteadyLines(state, round, lines)) return;
  double with_ns = 0.0;
  double without_ns = 0.0;
  for (auto _ : state) {
    for (const bool with : {true, false}) {
      dev.Kept().parts = with ? ~0u : ~part;
      const double began = ThreadNs();
      for (int i = 0; i < kPairBatch; ++i) {
        NextSecond();
        round();
      }
      (with ? with_ns : without_ns) += ThreadNs() - began;
    }
  }
  dev.Kept().parts = ~0u;
  const double rounds = static_cast<double>(state.iterations()) * kPairBatch;
  state.counters["with_ns"] = with_ns / std::max(1.0, rounds);
  state.counters["without_ns"] = without_ns / std::max(1.0, rounds);
  state.counters["without"] = with_ns > 0.0 ? without_ns / with_ns : 0.0;
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
    benchmark::RegisterBenchmark(("round/" + name).c_str(), ProcessRound, mode, count,
                                 Floor::kNone);
    benchmark::RegisterBenchmark(("floor/" + name).c_str(), ProcessRound, mode, count,
                                 Floor::kLines);
    benchmark::RegisterBenchmark(("hostfloor/" + name).c_str(), ProcessRound, mode, count,
                                 Floor::kHost);
    benchmark::RegisterBenchmark(("readfloor/" + name).c_str(), ProcessRound, mode, count,
                                 Floor::kReads);
    benchmark::RegisterBenchmark(("paired/" + name).c_str(), ProcessRound, mode, count,
                                 Floor::kPaired);
  }
  const std::pair<const char*, unsigned> parts[] = {

      {"member_index", aikorvane::kept::kMemberIndex},
      {"value_texts", aikorvane::kept::kValueTexts},
      {"text_memos", aikorvane::kept::kTextMemos},
      {"look_up_hints", aikorvane::kept::kLookUpHints},
  };
  for (const auto& [part_name, part] : parts) {
    for (const auto& [mode, count] : cases) {
      std::string name = "mode" + std::to_string(mode);
      if (mode != 2) name += "/" + std::to_string(count);
      benchmark::RegisterBenchmark(("kept/" + std::string(part_name) + "/" + name).c_str(),
                                   KeptPaired, mode, count, part);
    }
  }
  benchmark::RegisterBenchmark("round/load_from_cache", CacheRound, Floor::kNone);
  benchmark::RegisterBenchmark("floor/load_from_cache", CacheRound, Floor::kLines);
  benchmark::RegisterBenchmark("hostfloor/load_from_cache", CacheRound, Floor::kHost);
  benchmark::RegisterBenchmark("readfloor/load_from_cache", CacheRound, Floor::kReads);
  benchmark::RegisterBenchmark("paired/load_from_cache", CacheRound, Floor::kPaired);
  benchmark::RegisterBenchmark("gen_json_data/new_second", GenJsonDataAlone, false);
  benchmark::RegisterBenchmark("gen_json_data/same_second", GenJsonDataAlone, true);
}

}  // namespace bench
