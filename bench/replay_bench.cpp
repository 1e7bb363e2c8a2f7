// The simulator's replay of recorded data beside the device's own round:
// "replay/csv_mode2" replays a CSV file through a mode-2 device the way
// aikorvane-sim --csv does without event log or plot (the device's lines kept
// in memory, the summary gathered), and runs as many bare rounds of another
// such device (as round/mode2 does) in alternating batches, so that both see
// the same machine speed. "ratio" is the replay's cost per row over the
// round's.

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "bench/bench_support.h"
#include "bench/scenarios.h"
#include "sim/host/device_output.h"
#include "sim/host/event_log.h"
#include "sim/replay/replay.h"
#include "sim/framework/sim_framework.h"

namespace bench {
namespace {

constexpr int kRows = 1000;
constexpr int kChannel = 3;

double ThreadNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// One-second rows around 48 V on a 0 to 60 range read as volts (mode 2 uses
// the channel's reading unchanged, then the range does not matter).
std::string WriteCsv() {
  const std::string path = "replay_bench.csv";
  std::ofstream out(path);
  out << "time,value\n";
  for (int i = 0; i < kRows; ++i) {
    char row[64];
    std::snprintf(row, sizeof row, "%d,%.3f\n", 1767571200 + i, 48.0 + (i % 7) * 0.01);
    out << row;
  }
  return path;
}

void ReplayCsv(benchmark::State& state) {
  const std::string csv = WriteCsv();
  std::unique_ptr<AIKorvane> replayed, bare;
  {
    QuietCout quiet;
    replayed = RoundDevice(2, 0);
    bare = RoundDevice(2, 0);
  }
  replayed->ai_mode_ = 2;
  auto log = std::make_shared<sim::cli::EventLog>(nullptr);
  sim::SetSink(*replayed, log);
  double replay_ns = 0, round_ns = 0;
  for (auto _ : state) {
    double began = ThreadNs();
    {
      sim::cli::DeviceOutput kept;
      sim::cli::Replayer replayer(*replayed, *log);
      if (!replayer.RunCsv(csv, csv, kChannel)) {
        state.SkipWithError(replayer.Error().c_str());
        break;
      }
    }
    replay_ns += ThreadNs() - began;
    QuietCout quiet;
    StartClock();
    began = ThreadNs();
    for (int i = 0; i < kRows; ++i) {
      NextSecond();
      bare->process(kSample);
    }
    round_ns += ThreadNs() - began;
    StopClock();
  }
  sim::SetVirtualTime(std::nullopt);
  const double rows = static_cast<double>(state.iterations()) * kRows;
  state.counters["row_ns"] = replay_ns / std::max(1.0, rows);
  state.counters["round_ns"] = round_ns / std::max(1.0, rows);
  state.counters["ratio"] = round_ns > 0 ? replay_ns / round_ns : 0.0;
  benchmark::DoNotOptimize(log->Result().rounds);
}

}  // namespace

void RegisterReplayBenchmarks() { benchmark::RegisterBenchmark("replay/csv_mode2", ReplayCsv); }

}  // namespace bench
