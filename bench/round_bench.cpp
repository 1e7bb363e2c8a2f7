// The cost of one round through process(), by operating mode, beside two
// floors: "floor/X", the same diagnostic lines written to the same stream with
// nothing else, and "hostfloor/X", those lines plus the same framework calls
// with the same arguments, prepared before the timed loop. The round reads as
// a multiple of what its output and its host calls cost; what lies above the
// host floor is the device's own work. Every benchmark also counts the calls
// of heap allocations per iteration ("allocs"). "paired/X" times rounds and
// host floors in alternating batches within one benchmark and reports their
// ratio ("ratio"), which a machine whose speed drifts disturbs far less than
// the ratio of two benchmarks run seconds apart.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/alloc_count.h"
#include "bench/bench_support.h"
#include "bench/scenarios.h"
#include "sim/framework/sim_framework.h"

namespace bench {
namespace {

// One framework call of a round with its argument values.
struct HostCall {
  enum Kind {
    kSendSP,
    kReset,
    kReadAi,
    kCheckThreshold,
    kCheckThresholdBool,
    kCheckAOReport,
    kDoBatchCheckThreshold,
    kSaveDeviceHistory
  };
  Kind kind;
  int number = 0;  // record code, channel, flag word or level
  bool flag = false;
  unsigned short flags = 0;
  float value = 0.0f;
  std::string texts[4];
  std::vector<unsigned char> bytes;
};

std::vector<unsigned char> Bytes(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The framework calls one round makes, as the recording framework saw them.
std::vector<HostCall> RecordCalls(AIKorvane& device, const std::function<void()>& round) {
  auto sink = std::make_shared<sim::RecordingSink>();
  sim::SetSink(device, sink);
  round();
  sim::SetSink(device, nullptr);
  std::vector<HostCall> calls;
  for (const Json::Value& event : sink->Events()) {
    const std::string name = event["event"].asString();
    HostCall call{};
    if (name == "SendSP") {
      call.kind = HostCall::kSendSP;
      call.number = event["code"].asInt();
      call.flag = event["flag"].asBool();
      call.bytes = Bytes(event["bytes"].asString());
    } else if (name == "Reset") {
      call.kind = HostCall::kReset;
    } else if (name == "ReadAi") {
      call.kind = HostCall::kReadAi;
      call.number = event["channel"].asInt();
    } else if (name == "CheckThreshold") {
      call.kind = HostCall::kCheckThreshold;
      call.texts[0] = event["id"].asString();
      call.texts[1] = event["name"].asString();
      call.value = event["value"].asFloat();
      call.number = event["flag"].asInt();
    } else if (name == "CheckThresholdBool") {
      call.kind = HostCall::kCheckThresholdBool;
      call.number = event["level"].asInt();
      for (Json::ArrayIndex i = 0; i < 4; ++i) call.texts[i] = event["texts"][i].asString();
      call.flag = event["condition"].asBool();
      call.flags = static_cast<unsigned short>(event["flags"].asUInt());
    } else if (name == "CheckAOReport") {
      call.kind = HostCall::kCheckAOReport;
      call.texts[0] = event["signal"].asString();
      call.value = event["value"].asFloat();
    } else if (name == "DoBatchCheckThreshold") {
      call.kind = HostCall::kDoBatchCheckThreshold;
    } else if (name == "SaveDeviceHistory") {
      call.kind = HostCall::kSaveDeviceHistory;
      call.bytes = Bytes(event["bytes"].asString());
    } else {
      throw std::runtime_error("no replay for the framework call " + name);
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

// Makes the calls again on the device, as a round makes them: the rule results
// that CheckThresholdBool collects go to the batch check, and the list is
// emptied at the end. The record stamp (get_ttime) is the host's too.
void MakeCalls(AIKorvane& device, const std::vector<HostCall>& calls) {
  benchmark::DoNotOptimize(get_ttime(device.update_time_));
  for (const HostCall& call : calls) {
    switch (call.kind) {
      case HostCall::kSendSP:
        device.SendSP(call.number, call.bytes.data(), call.bytes.size(), call.flag);
        break;
      case HostCall::kReset:
        device.Reset();
        break;
      case HostCall::kReadAi:
        benchmark::DoNotOptimize(device.ReadAi(call.number));
        break;
      case HostCall::kCheckThreshold:
        device.CheckThreshold(call.texts[0], call.texts[1], call.value, call.number);
        break;
      case HostCall::kCheckThresholdBool:
        device.CheckThresholdBool(call.number, call.texts[0], call.texts[1], call.texts[2],
                                  call.texts[3], call.flag, call.flags);
        break;
      case HostCall::kCheckAOReport:
        device.OSKVDevice::CheckAOReport(call.texts[0], call.value);
        break;
      case HostCall::kDoBatchCheckThreshold:
        device.DoBatchCheckThreshold(device.rule_values_);
        break;
      case HostCall::kSaveDeviceHistory:
        device.SaveDeviceHistory(call.bytes.data(), call.bytes.size());
        break;
    }
  }
  device.rule_values_.clear();
}

enum class Floor { kNone, kLines, kHost, kPaired };

// CPU time of the calling thread in nanoseconds.
double ThreadNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Rounds and host floors in alternating batches of this many: on a machine
// whose speed drifts (a shared virtual machine) both see the same speed, so
// their ratio holds steadier than that of two separate benchmarks.
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

void Measure(benchmark::State& state, AIKorvane& device, const std::function<void()>& round,
             Floor floor) {
  std::vector<std::string> lines;
  if (!SteadyLines(state, round, lines)) return;
  NextSecond();
  const std::vector<HostCall> calls = RecordCalls(device, round);
  const uint64_t allocations = Allocations();
  if (floor == Floor::kLines) {
    for (auto _ : state) WriteLines(lines);
  } else if (floor == Floor::kHost) {
    for (auto _ : state) {
      WriteLines(lines);
      MakeCalls(device, calls);
    }
  } else if (floor == Floor::kPaired) {
    double round_ns = 0.0;
    double host_ns = 0.0;
    for (auto _ : state) {
      const double began = ThreadNs();
      for (int i = 0; i < kPairBatch; ++i) {
        NextSecond();
        round();
      }
      const double middle = ThreadNs();
      for (int i = 0; i < kPairBatch; ++i) {
        WriteLines(lines);
        MakeCalls(device, calls);
      }
      round_ns += middle - began;
      host_ns += ThreadNs() - middle;
    }
    const double rounds = static_cast<double>(state.iterations()) * kPairBatch;
    state.counters["round_ns"] = round_ns / std::max(1.0, rounds);
    state.counters["host_ns"] = host_ns / std::max(1.0, rounds);
    state.counters["ratio"] = host_ns > 0.0 ? round_ns / host_ns : 0.0;
    return;
  } else {
    for (auto _ : state) {
      NextSecond();
      round();
    }
  }
  state.counters["lines"] = static_cast<double>(lines.size());
  state.counters["calls"] = static_cast<double>(calls.size());
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
  benchmark::RegisterBenchmark("paired/load_from_cache", CacheRound, Floor::kPaired);
  benchmark::RegisterBenchmark("gen_json_data/new_second", GenJsonDataAlone, false);
  benchmark::RegisterBenchmark("gen_json_data/same_second", GenJsonDataAlone, true);
}

}  // namespace bench
