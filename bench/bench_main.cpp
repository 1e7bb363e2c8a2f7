// Benchmarks of the device linked directly with the simulated framework, run
// in a scratch working directory so that no ./ini/ of the caller is read.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <string>

namespace bench {
void RegisterRoundBenchmarks();
void RegisterSettingsBenchmarks();
void RegisterReplayBenchmarks();
void RegisterLocalTimeBenchmarks();
}  // namespace bench

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path previous = fs::current_path();
  std::string pattern = (fs::temp_directory_path() / "aikorvane-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::cerr << "cannot make a scratch directory\n";
    return 1;
  }
  const fs::path scratch(pattern);
  fs::current_path(scratch);

  bench::RegisterRoundBenchmarks();
  bench::RegisterSettingsBenchmarks();
  bench::RegisterLocalTimeBenchmarks();
#ifdef AIKORVANE_BENCH_REPLAY
  bench::RegisterReplayBenchmarks();
#endif
  benchmark::Initialize(&argc, argv);
  int status = 0;
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    status = 1;
  } else {
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();

  std::error_code ignored;
  fs::current_path(previous, ignored);
  fs::remove_all(scratch, ignored);
  return status;
}
