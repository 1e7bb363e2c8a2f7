// The simulator's runs of recorded data beside the device's own round:
// "replay/csv_mode2" replays a CSV file through a mode-2 device the way
// aikorvane-sim --csv does without event log or plot (the device's lines kept
// in memory, the summary gathered); "test/csv_mode2" runs the same rows as a
// site test with a csv input and an expectation. Each runs as many bare
// rounds of another such device (as round/mode2 does) in alternating
// batches, so that both see the same machine speed. "ratio" is the run's
// cost per row over the round's.

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "bench/bench_support.h"
#include "bench/scenarios.h"
#include "sim/framework/sim_framework.h"
#include "sim/host/device_output.h"
#include "sim/host/device_run.h"
#include "sim/host/event_log.h"
#include "sim/replay/replay.h"
#include "sim/report/analysis.h"
#include "sim/sitetests/spec_run.h"

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

// Runs the rows through `run` (one pass, false with why when it failed) and
// as many bare rounds, batch by batch, and sets the counters.
void Measure(benchmark::State& state, AIKorvane& replayed,
             const std::function<bool(std::string&)>& run) {
  std::unique_ptr<AIKorvane> bare;
  {
    QuietCout quiet;
    bare = RoundDevice(2, 0);
  }
  double replay_ns = 0, round_ns = 0;
  for (auto _ : state) {
    double began = ThreadNs();
    {
      sim::cli::DeviceOutput kept;
      std::string error;
      if (!run(error)) {
        state.SkipWithError(error.c_str());
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
  sim::SetSink(replayed, nullptr);
  const double rows = static_cast<double>(state.iterations()) * kRows;
  state.counters["row_ns"] = replay_ns / std::max(1.0, rows);
  state.counters["round_ns"] = round_ns / std::max(1.0, rows);
  state.counters["ratio"] = round_ns > 0 ? replay_ns / round_ns : 0.0;
}

std::unique_ptr<AIKorvane> ReplayedDevice() {
  QuietCout quiet;
  auto device = RoundDevice(2, 0);
  device->ai_mode_ = 2;
  return device;
}

void ReplayCsv(benchmark::State& state) {
  const std::string csv = WriteCsv();
  const std::unique_ptr<AIKorvane> replayed = ReplayedDevice();
  sim::cli::Analyser analyser;
  sim::cli::EventLog log(nullptr);
  sim::cli::DeviceRun run({&analyser, &log});
  run.Attach(*replayed);
  Measure(state, *replayed, [&](std::string& error) {
    sim::cli::Replayer replayer(run);
    if (replayer.RunCsv(csv, csv, kChannel)) return true;
    error = replayer.Error();
    return false;
  });
  benchmark::DoNotOptimize(analyser.Result().rounds);
}

// The rows as a site test: a csv input and what its second round shows.
void TestCsv(benchmark::State& state) {
  const std::string csv = WriteCsv();
  const std::unique_ptr<AIKorvane> replayed = ReplayedDevice();
  sim::cli::SiteTest test;
  test.name = "csv rows";
  test.channel = kChannel;
  test.input = sim::cli::SiteTest::Input::kCsv;
  test.path = csv;
  test.path_text = csv;
  sim::cli::Expectation second;
  second.at.round = 2;
  second.at.text = "2";
  second.alarms = std::vector<std::string>{"110610050010"};
  second.voltage = 48.01;
  test.expect.push_back(second);
  const sim::cli::TestFile file;
  Measure(state, *replayed, [&](std::string& error) {
    sim::cli::TestComparison comparison(test, std::nullopt);
    sim::cli::DeviceRun run({&comparison});
    run.Attach(*replayed);
    std::vector<std::string> failures;
    sim::cli::FeedTest(run, file, test, test.channel, "", failures);
    comparison.Finish();
    for (std::string& block : comparison.Failures({})) failures.push_back(std::move(block));
    for (const std::string& failure : failures) error += failure;
    return failures.empty();
  });
}

}  // namespace

void RegisterReplayBenchmarks() {
  benchmark::RegisterBenchmark("replay/csv_mode2", ReplayCsv);
  benchmark::RegisterBenchmark("test/csv_mode2", TestCsv);
}

}  // namespace bench
