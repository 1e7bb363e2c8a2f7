// A host driving many devices: 64 devices in operating mode 5 with 100
// records in each limit table, one round each per "second" of the virtual
// clock, driven from one host thread and then from two (devices split between
// them, the threads meeting at the end of every second). Prints the rounds per
// second of each (wall-clock), the process's CPU time per round, the cores it
// kept busy, the ratio of the two rates and the resident memory each
// configured device takes. On a machine shared with other work the rates
// follow the CPU the process got; CPU time per round shows whether two
// threads cost more per round (contention) or only waited for a core. The
// one- and two-thread runs alternate three times and the medians are shown,
// the ratio as the median of the three pairs: a machine whose speed drifts
// then moves both rates of a pair alike.
//   aikorvane_fleet [seconds] >/dev/null
// The devices' diagnostics go to standard output as on a host; the figures go
// to standard error.

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "bench/scenarios.h"
#include "sim/framework/sim_framework.h"

namespace {

constexpr int kDevices = 64;
constexpr int kRecords = 100;

// Where the host threads meet: the last one to arrive ends the second and
// starts the next one on the virtual clock.
class Second {
 public:
  explicit Second(int threads) : threads_(threads) {}

  void End() {
    std::unique_lock<std::mutex> lock(mutex_);
    const unsigned long second = second_;
    if (++arrived_ == threads_) {
      arrived_ = 0;
      ++second_;
      bench::NextSecond();
      changed_.notify_all();
    } else {
      changed_.wait(lock, [&] { return second_ != second; });
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const int threads_;
  int arrived_ = 0;
  unsigned long second_ = 0;
};

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Run {
  double rounds_per_second;  // of wall-clock time
  double cpu_us_per_round;   // of the process's CPU time
  double cores;              // CPU time over wall-clock time
};

// Drives the devices split between `threads` host threads, each device one
// round per virtual second.
Run Drive(std::vector<std::unique_ptr<AIKorvane>>& devices, int threads, int seconds) {
  Second second(threads);
  const auto drive = [&](int index) {
    for (int s = 0; s < seconds; ++s) {
      for (std::size_t d = static_cast<std::size_t>(index); d < devices.size();
           d += static_cast<std::size_t>(threads)) {
        devices[d]->process(bench::kSample);
      }
      second.End();
    }
  };
  const auto began = std::chrono::steady_clock::now();
  const double cpu_began = ProcessCpuSeconds();
  std::vector<std::thread> others;
  for (int t = 1; t < threads; ++t) others.emplace_back(drive, t);
  drive(0);
  for (std::thread& thread : others) thread.join();
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const double cpu = ProcessCpuSeconds() - cpu_began;
  const double rounds = static_cast<double>(devices.size()) * seconds;
  return {rounds / elapsed, cpu * 1e6 / rounds, cpu / elapsed};
}

// The run of median rate.
Run Median(std::vector<Run> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Run& a, const Run& b) { return a.rounds_per_second < b.rounds_per_second; });
  return runs[runs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 300;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: %s [seconds] >/dev/null\n", argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "aikorvane-fleet-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  fs::current_path(pattern);

  bench::StartClock();
  const long before = bench::ResidentKiB();
  std::vector<std::unique_ptr<AIKorvane>> devices;
  for (int i = 0; i < kDevices; ++i) devices.push_back(bench::RoundDevice(5, kRecords));
  // Two warm-up seconds: the published values, the rule list and the kept
  // texts reach their steady size.
  Drive(devices, 1, 2);
  const long configured = bench::ResidentKiB();

  std::vector<Run> ones;
  std::vector<Run> twos;
  std::vector<double> ratios;
  for (int pair = 0; pair < 3; ++pair) {
    ones.push_back(Drive(devices, 1, seconds));
    twos.push_back(Drive(devices, 2, seconds));
    ratios.push_back(twos.back().rounds_per_second / ones.back().rounds_per_second);
  }
  const Run one = Median(ones);
  const Run two = Median(twos);
  std::fprintf(stderr, "fleet: %d devices, mode 5, %d records per table, %d seconds per run\n",
               kDevices, kRecords, seconds);
  for (const auto& [threads, run] : {std::pair{1, one}, std::pair{2, two}}) {
    std::fprintf(stderr,
                 "fleet %d thread%s %10.0f rounds/s  %7.1f us CPU per round  %4.2f cores busy\n",
                 threads, threads == 1 ? ": " : "s:", run.rounds_per_second, run.cpu_us_per_round,
                 run.cores);
  }
  std::sort(ratios.begin(), ratios.end());
  std::fprintf(stderr, "fleet 2/1 ratio: %.2f (pairs %.2f to %.2f)\n", ratios[1], ratios.front(),
               ratios.back());
  std::fprintf(stderr, "fleet resident per device: %.0f KiB (%ld KiB for %d devices)\n",
               static_cast<double>(configured - before) / kDevices, configured - before, kDevices);
  bench::StopClock();
  devices.clear();
  fs::current_path("/");
  std::error_code ignored;
  fs::remove_all(pattern, ignored);
  return 0;
}
