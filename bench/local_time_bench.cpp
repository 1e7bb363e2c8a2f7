// The host's local time: the C library's localtime_r against the host's, which
// converts from the quarter hour its thread remembers. On two threads the
// library's calls queue on its one lock; the remembered ones share nothing.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include "sim/framework/local_time.h"

namespace bench {
namespace {

template <std::tm* (*Convert)(const std::time_t&, std::tm&)>
void LocalTime(benchmark::State& state) {
  if (state.thread_index() == 0) {
    setenv("TZ", "Europe/London", 1);
    tzset();
  }
  // A round a second: the seconds of one site's history.
  std::time_t time = 1793000000 + state.thread_index() * 86400;
  std::tm out{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(Convert(time, out));
    ++time;
  }
}

}  // namespace

void RegisterLocalTimeBenchmarks() {
  for (const int threads : {1, 2}) {
    benchmark::RegisterBenchmark("local_time/library", LocalTime<sim::LibraryLocalTime>)
        ->Threads(threads);
    benchmark::RegisterBenchmark("local_time/remembered", LocalTime<sim::RememberedLocalTime>)
        ->Threads(threads);
  }
}

}  // namespace bench
