// Soak run: one device per operating mode (1, 2, 3, 5) driven for many rounds
// (a million by default) with a framework sink that keeps nothing, while the
// resident memory is read at the start, after a warm-up and at the end. Once
// the tables and the published values are warm, the memory must not grow.
//
// Usage: aikorvane_soak [rounds-per-mode] >/dev/null
// The device's diagnostics go to stdout; the figures go to stderr. Exits 1
// when a mode grew by more than kToleranceKiB after its warm-up.

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/bench_support.h"
#include "host/osk_controller.h"
#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"

namespace {

constexpr long kToleranceKiB = 512;

// Counts the framework's calls and drops them.
class DiscardingSink : public sim::EventSink {
 public:
  void Record(const OSKVDevice&, Json::Value) override { ++events; }
  unsigned long events = 0;
};

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// Profiles of modes 1 and 3 in a scratch working directory.
std::filesystem::path MakeScratch() {
  std::string pattern = (std::filesystem::temp_directory_path() / "aikorvane-soak-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::exit(2);
  const std::filesystem::path dir = pattern;
  WriteFile(dir / "ini/unicom/aikorvane.ini",
            "[AI]\n电压=461127400001,电压\n更新时间=461127400002,时间\n"
            "[ALARM]\n电压_1=007001,upper\n");
  WriteFile(dir / "ini/mobile/aikorvane.ini",
            "[ALARM]\n电压_1=007001,upper\n电压_2=007002,lower\n更新时间_3=007001,notequal\n");
  return dir;
}

Json::Value SettingsFor(int mode) {
  Json::Value settings;
  Json::Value& app = settings["appSetting"];
  app["b_mode"] = mode;
  app["max"] = 60;
  app["discharge_v"] = 47.5;
  app["discharge_v_end"] = 48;
  app["discharge_v_diff"] = 0.5;
  Json::Value& alarms = settings["hostSetting"]["alarms"];
  for (const char* id : {"110610040010", "110610050010", "110610060010", "110410040010",
                         "110410050010", "110410060010", "007001", "007002"}) {
    alarms[id]["level"] = 1;
    alarms[id]["value"] = 51.0;
  }
  Json::Value& report = settings["hostSetting"]["aoReport"]["461627401001"];
  report["change"] = 0.5;
  report["periodMinutes"] = 1;
  Json::Value& records = settings["thresholdSetting"];
  if (mode == 3) {
    for (const char* id : {"007001", "007002"}) {
      records[id]["SignalName"] = id;
      records[id]["NMAlarmID"] = 1;
      records[id]["ID"] = 2;
      records[id]["SignalNumber"] = 3;
    }
  } else if (mode == 5) {
    records["a"]["ID"] = "990001";
    records["a"]["SignalName"] = "电压";
    records["a"]["UpValue"] = 53;
    records["a"]["UpReconverValue"] = 52;
    records["a"]["UpAlarmLevel"] = 1;
    records["a"]["LowValue"] = 49;
    records["a"]["LowReconverValue"] = 50;
    records["a"]["LowAlarmLevel"] = 2;
  }
  return settings;
}

// Raw sample of the round: 48 to 54 V and back, with a dip to 45 V for ten
// rounds in every hundred thousand (a discharge start and end in mode 2).
short SampleOf(long round) {
  if (round % 100000 < 10) return 7500;
  const long phase = round % 400;
  const long step = phase < 200 ? phase : 400 - phase;
  return static_cast<short>(8000 + step * 5);
}

struct Figures {
  long start_kib, warm_kib, end_kib;
  double seconds;
  unsigned long events;
};

Figures Soak(int mode, long rounds, long warmup) {
  std::time_t now = 1767225600;
  sim::SetVirtualTime(now);
  auto sink = std::make_shared<DiscardingSink>();
  Figures figures{};
  {
    AIKorvane device;
    device.Init(std::weak_ptr<OSKController>(), 100 + mode, Json::Value());
    sim::SetSink(device, sink);
    device.InitSetting(SettingsFor(mode));
    figures.start_kib = bench::ResidentKiB();
    const auto began = std::chrono::steady_clock::now();
    for (long round = 0; round < rounds; ++round) {
      if (round == warmup) figures.warm_kib = bench::ResidentKiB();
      sim::SetVirtualTime(++now);
      if (round % 1000 == 999) {
        const AIKorvane_Data_t record = device.data_;
        device.LoadFromCache(reinterpret_cast<const unsigned char*>(&record), sizeof record);
      } else {
        device.process(SampleOf(round));
      }
    }
    figures.end_kib = bench::ResidentKiB();
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    sim::SetSink(device, nullptr);
  }
  figures.events = sink->events;
  sim::SetVirtualTime(std::nullopt);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const long rounds = argc > 1 ? std::atol(argv[1]) : 1000000;
  const long warmup = rounds / 10;
  sim::SetDefaultSink(nullptr);
  // Discharge reports go to a loopback port where nobody listens.
  ::setenv("AIKORVANE_DISCHARGE_URL", "http://127.0.0.1:9/welcome/discharge/", 0);
  ::setenv("no_proxy", "*", 1);
  const std::filesystem::path scratch = MakeScratch();
  std::filesystem::current_path(scratch);

  std::fprintf(stderr, "%-5s %10s %10s %10s %10s %9s %8s %12s\n", "mode", "rounds", "start KiB",
               "warm KiB", "end KiB", "growth", "seconds", "host calls");
  int status = 0;
  for (const int mode : {1, 2, 3, 5}) {
    const Figures f = Soak(mode, rounds, warmup);
    const long growth = f.end_kib - f.warm_kib;
    std::fprintf(stderr, "%-5d %10ld %10ld %10ld %10ld %9ld %8.1f %12lu\n", mode, rounds,
                 f.start_kib, f.warm_kib, f.end_kib, growth, f.seconds, f.events);
    if (growth > kToleranceKiB) status = 1;
  }
  std::fprintf(stderr, "process resident at exit: %ld KiB; growth after warm-up %s %ld KiB\n",
               bench::ResidentKiB(), status == 0 ? "within" : "EXCEEDS", kToleranceKiB);
  std::filesystem::current_path("/");
  std::filesystem::remove_all(scratch);
  return status;
}
