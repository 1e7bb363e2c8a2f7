// Writes everything the benchmark scenarios make the device write and send:
// its diagnostic lines, every framework call with its arguments, and the state
// the rounds leave behind. Run before and after an optimisation and compare
// the two files: an optimisation must not change a byte of them.
//   aikorvane_output_trace > before.txt ... aikorvane_output_trace > after.txt

#include <json/writer.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "bench/bench_support.h"
#include "bench/scenarios.h"
#include "sim/framework/sim_framework.h"

namespace {

std::string Compact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

// Runs one step with its lines and framework calls captured, and prints both.
void Step(const std::string& title, AIKorvane& device, const std::function<void()>& step) {
  auto sink = std::make_shared<sim::RecordingSink>();
  sim::SetSink(device, sink);
  const auto lines = bench::CaptureLines(step);
  sim::SetSink(device, nullptr);
  std::cout << "-- " << title << "\n";
  for (const std::string& line : lines) std::cout << "out: " << line << "\n";
  for (const Json::Value& event : sink->Events()) std::cout << "call: " << Compact(event) << "\n";
}

void PrintState(AIKorvane& device) {
  std::cout << "value_: " << Compact(device.value_) << "\n";
  for (const auto& [id, setting] : device.ao_report_settings_) {
    std::cout << "ao " << id << " " << setting.last_report_time << " " << setting.last_report_value
              << "\n";
  }
  const ThresholdTable* tables[] = {&device.up_thresholds_, &device.up2_thresholds_,
                                    &device.low_thresholds_, &device.low2_thresholds_};
  for (const ThresholdTable* table : tables) {
    for (const auto& [key, entry] : *table) {
      std::cout << "limit " << key << " " << std::get<0>(entry) << " " << std::get<1>(entry) << " "
                << std::get<2>(entry) << " " << std::get<3>(entry) << " " << std::get<4>(entry)
                << "\n";
    }
  }
  for (const auto& [key, signal] : device.ai_signals_) {
    std::cout << "ai " << key << " " << signal.first << " " << signal.second << "\n";
  }
  for (const auto& [key, rule] : device.alarm_rules_)
    std::cout << "rule " << key << " " << rule << "\n";
  for (const auto& [key, name] : device.alarm_signal_names_) {
    std::cout << "name " << key << " " << name << " " << device.alarm_report_prefix_[key] << "\n";
  }
  for (const auto& [key, level] : device.alarm_levels_) {
    std::cout << "level " << key << " " << level << " " << device.alarm_values_[key] << "\n";
  }
  std::cout << "rule_values_: " << device.rule_values_.size() << "\n";
}

// Samples that cross the alarm thresholds and report bands both ways.
constexpr short kSamples[] = {8000, 9500, 6500, 8000, 7000, 9800, 8000, 7400, 20003, 8000};

void Rounds(const std::string& name, int mode, int count) {
  auto device = bench::RoundDevice(mode, count);
  if (mode == 3) {
    // Rules over a missing value, the published time text, and one with no
    // comparison the device knows.
    device->alarm_rules_["missing_rule"] = "009001,lower";
    device->alarm_rules_["更新时间_rule"] = "009002,notequal";
    device->alarm_rules_["sig0001_odd"] = "009003,above";
    for (const char* id : {"009001", "009002", "009003"}) device->alarm_levels_[id] = 1;
  }
  sim::SetAiReading(*device, 3, 52.5f);
  bench::StartClock();
  int round = 0;
  for (short sample : kSamples) {
    bench::NextSecond();
    if (round == 4) bench::NextSecond();                           // a skipped second
    if (round == 6) sim::SetVirtualTime(*sim::VirtualTime() - 1);  // same second twice
    Step(name + " round " + std::to_string(round++) + " sample " + std::to_string(sample), *device,
         [&] { device->process(sample); });
  }
  AIKorvane_Data_t record{};
  record.data_id = 99;
  record.voltage = 53.6f;
  bench::NextSecond();
  Step(name + " load_from_cache", *device,
       [&] { device->LoadFromCache(reinterpret_cast<const unsigned char*>(&record), 15); });
  PrintState(*device);
  bench::StopClock();
}

void Settings(const std::string& name, unsigned int data_id, const Json::Value& settings) {
  auto device = bench::MakeDevice(data_id);
  Step(name, *device, [&] { device->InitSetting(settings); });
  Step(name + " again", *device, [&] { device->InitSetting(settings); });
  PrintState(*device);
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "aikorvane-trace-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path previous = fs::current_path();
  fs::current_path(pattern);

  Rounds("mode1", 1, 12);
  Rounds("mode2", 2, 0);
  Rounds("mode3", 3, 12);
  Rounds("mode5", 5, 12);
  Rounds("mode4", 4, 0);
  Settings("profile", bench::WriteProfile(12), [] {
    Json::Value settings;
    settings["appSetting"]["b_mode"] = 1;
    return settings;
  }());
  Settings("mode5 records", 5, bench::LimitRecords(12));
  Settings("mode3 records", 3, bench::AlarmRecords(12));

  std::error_code ignored;
  fs::current_path(previous, ignored);
  fs::remove_all(pattern, ignored);
  return 0;
}
