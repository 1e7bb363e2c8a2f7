#include "fuzz/round_diff.h"

#include <json/value.h>
#include <json/writer.h>
#include <stdlib.h>
#include <time.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "reference/plain_round.h"

namespace fuzz {
namespace {

constexpr const char* kZones[] = {"UTC",
                                  "Australia/Lord_Howe",
                                  "Asia/Kathmandu",
                                  "XST-1XDT,M3.5.0/2:00:30,M10.5.0/3",
                                  "XST-1XDT,M3.5.0/2,M10.5.0/3:00:30",
                                  "Europe/Berlin",
                                  "America/St_Johns"};
constexpr const char* kMembers[] = {"电压", "更新时间", "a", "a0", "a_", "b", "bb", "c"};
constexpr const char* kRuleKeys[] = {"a_x", "a0", "b_y", "b", "电压_h", "c_1", "更新时间_t", "a"};
constexpr const char* kIds[] = {
    "461127400001", "461627401001", "46112740000", "4611274000170000000",
    "007001",       "007002",       "9001",        "110610040010"};
constexpr const char* kRules[] = {
    "007001,upper", "007002,lower", "007001,equal", "9001,notequal",
    "007001",       "x,Upper",      "007002,",      "110610040010,upper"};
constexpr long kJumps[] = {0, 1, 1, 29, 30, 31, 59, 60, 3600, -3600, -1, 86400};
// Around the offset changes of 2024 and of the present.
constexpr std::time_t kStarts[] = {1711846770, 1729990770, 1796634303,      1775314770,
                                   504901770,  1767571200, 1792890000 - 30, 1711846800 - 3600};

template <std::size_t N>
const char* Pick(Reader& in, const char* const (&pool)[N]) {
  return pool[in.Byte() % N];
}

std::string Compact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

Json::Value RandomValue(Reader& in) {
  switch (in.Byte() % 6) {
    case 0:
      return Json::Value(static_cast<double>(in.Float()));
    case 1:
      return Json::Value(static_cast<int>(in.Word()) - 1000);
    case 2:
      return Json::Value("4");
    case 3:
      return Json::Value();
    case 4:
      return Json::Value(in.Byte() % 2 == 0);
    default:
      return Json::Value(static_cast<double>(static_cast<int>(in.Byte()) - 100) / 4.0);
  }
}

Json::Value RandomSettings(Reader& in) {
  Json::Value settings(Json::objectValue);
  const int modes[] = {1, 2, 3, 5, 0};
  settings["appSetting"]["b_mode"] = modes[in.Byte() % 5];
  Json::Value& records = settings["thresholdSetting"];
  const int count = in.Byte() % 4;
  for (int i = 0; i < count; ++i) {
    Json::Value record(Json::objectValue);
    record["ID"] = Pick(in, kIds);
    record["SignalName"] = Pick(in, kMembers);
    record["NMAlarmID"] = "N";
    record["SignalNumber"] = in.Byte();
    const char* prefixes[] = {"Up", "Up2", "Low", "Low2"};
    for (const char* prefix : prefixes) {
      if (in.Byte() % 2 != 0) continue;
      record[std::string(prefix) + "Value"] = static_cast<double>(in.Byte()) / 2.0;
      record[std::string(prefix) + "ReconverValue"] = static_cast<double>(in.Byte()) / 2.0;
      record[std::string(prefix) + "AlarmLevel"] = in.Byte() % 3;
    }
    records[Pick(in, kIds)] = record;
  }
  return settings;
}

struct Side {
  explicit Side(std::unique_ptr<AIKorvane> made) : device(std::move(made)) {
    device->data_id_ = 7;
    device->ai_gain_ = 1.0f;
    device->ai_offset_ = 0.0f;
    sim::SetSink(*device, sink);
  }
  std::unique_ptr<AIKorvane> device;
  std::shared_ptr<sim::RecordingSink> sink = std::make_shared<sim::RecordingSink>();
  std::size_t seen = 0;  // events compared so far
};

// Everything one step left behind that the other side must match.
std::string Trace(Side& side, const std::string& out) {
  std::string trace = out;
  const auto events = side.sink->Events();
  for (; side.seen < events.size(); ++side.seen)
    trace += "call " + Compact(events[side.seen]) + "\n";
  trace += "value_ " + Compact(side.device->value_) + "\n";
  for (const auto& [id, s] : side.device->ao_report_settings_) {
    std::ostringstream line;
    line << id << " " << s.last_report_time << " " << s.last_report_value << "\n";
    trace += line.str();
  }
  return trace;
}

}  // namespace

DiffResult RunRoundDiff(const uint8_t* data, size_t size) {
  Prepare();
  PrivateWorkDir();
  Reader in(data, size);
  DiffResult result;
  Side sides[] = {Side(std::make_unique<AIKorvane>()),
                  Side(std::make_unique<reference::PlainDevice>())};
  std::time_t now = kStarts[in.Byte() % std::size(kStarts)];
  sim::SetVirtualTime(now);
  setenv("TZ", Pick(in, kZones), 1);
  tzset();
  const int mode = kModes[in.Byte() % std::size(kModes)];
  for (Side& side : sides) side.device->b_mode_ = mode;
  // A quarter of the runs with every kept part, the others with some of
  // them turned off, as the benchmarks run it.
  const uint8_t parts = in.Byte();
  if (parts >= 0x40) sides[0].device->Kept().parts = parts;
  std::streambuf* const quiet = std::cout.rdbuf();
  int step = 0;
  while (!in.empty() && step < 400) {
    ++step;
    const uint8_t op = in.Byte() % 12;
    // The same action on both sides, drawn once.
    Json::Value value, settings;
    const char* name = nullptr;
    const char* text = nullptr;
    const char* id = nullptr;
    short sample = 0;
    float a = 0, b = 0;
    uint8_t flags = 0;
    switch (op) {
      case 0:
      case 1:
      case 2:
        sample = static_cast<short>(in.Word() % 20010);
        break;
      case 3:
        now += kJumps[in.Byte() % std::size(kJumps)];
        sim::SetVirtualTime(now);
        continue;
      case 4:
        setenv("TZ", Pick(in, kZones), 1);
        tzset();
        continue;
      case 5:
        name = Pick(in, kMembers);
        value = RandomValue(in);
        break;
      case 6:
        name = Pick(in, kMembers);
        break;
      case 7:
        name = Pick(in, kMembers);
        text = Pick(in, kRuleKeys);
        id = Pick(in, kIds);
        flags = in.Byte();
        a = static_cast<float>(in.Byte()) / 2.0f;
        b = static_cast<float>(in.Byte()) / 2.0f;
        break;
      case 8:
        settings = RandomSettings(in);
        break;
      case 9:
        id = Pick(in, kIds);
        flags = in.Byte();
        a = static_cast<float>(in.Byte()) / 4.0f;
        b = in.Float();
        break;
      case 10:
        flags = in.Byte();
        break;
      default:
        text = Pick(in, kRules);
        id = Pick(in, kIds);
        flags = in.Byte();
        break;
    }
    std::string traces[2];
    for (int s = 0; s < 2; ++s) {
      AIKorvane& device = *sides[s].device;
      std::ostringstream out;
      std::cout.rdbuf(out.rdbuf());
      switch (op) {
        case 0:
        case 1:
        case 2:
          device.process(sample);
          ++result.rounds;
          break;
        case 5:
          device.value_[name] = value;
          break;
        case 6:
          if (device.value_.isObject()) device.value_.removeMember(name);
          break;
        case 7:
          device.ai_signals_[name] = {id, "S"};
          if (flags & 1) device.alarm_rules_[text] = kRules[flags % std::size(kRules)];
          if (flags & 2) {
            ThresholdTable* tables[] = {&device.up_thresholds_, &device.up2_thresholds_,
                                        &device.low_thresholds_, &device.low2_thresholds_};
            (*tables[flags >> 2 & 3])[name] = ThresholdEntry(id, a, b, false, flags >> 4 & 3);
          }
          if (flags & 64) device.alarm_levels_[id] = flags >> 4 & 3;
          if (flags & 128) device.alarm_values_[id] = a;
          break;
        case 8:
          try {
            device.InitSetting(settings);
          } catch (const std::exception& error) {
            std::cout << "threw " << error.what() << "\n";
          }
          break;
        case 9: {
          OSKVDevice::BAOSetting setting{};
          setting.change_enabled = flags & 1;
          setting.percent_enabled = flags & 2;
          setting.period_enabled = flags & 4;
          setting.change_value = a;
          setting.percent_value = a * 4.0f;
          setting.period_minutes = static_cast<float>(flags >> 4);
          setting.last_report_value = b;
          setting.last_report_time = static_cast<uint32_t>(now - (flags & 8 ? 600 : 0));
          device.ao_report_settings_[id] = setting;
          break;
        }
        case 10:
          std::cout.flags(flags & 1 ? std::ios_base::hex | std::ios_base::skipws
                                    : std::ios_base::dec | std::ios_base::skipws);
          std::cout.precision(flags & 2 ? 9 : 6);
          break;
        default:
          device.alarm_rules_[text] = kRules[flags % std::size(kRules)];
          device.alarm_levels_[id] = flags % 3;
          break;
      }
      std::cout.rdbuf(quiet);
      traces[s] = Trace(sides[s], out.str());
    }
    if (traces[0] != traces[1]) {
      result.difference = "step " + std::to_string(step) + " (action " + std::to_string(op) +
                          ")\n-- device:\n" + traces[0] + "-- plain:\n" + traces[1];
      break;
    }
  }
  std::cout.flags(std::ios_base::dec | std::ios_base::skipws);
  std::cout.precision(6);
  sim::SetVirtualTime(std::nullopt);
  setenv("TZ", "UTC", 1);
  tzset();
  return result;
}

}  // namespace fuzz
