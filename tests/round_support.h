#pragma once

// Helpers of the round tests: a device wired to a recording sink, a virtual
// clock read in UTC, and framework events in a canonical text form that
// compares cleanly with expectations written as JSON.

#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>
#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"
#include "support/test_support.h"

namespace round_support {

// 2026-12-07 09:05:03 UTC: every time field differs, none needs two digits
// but the year.
inline constexpr std::time_t kRoundTime = 1796634303;
inline constexpr const char* kRoundTimeHex = "EA070C07090503";

// The devices stamp rounds with the local time; pin it to UTC so that the
// expected bytes do not depend on the machine.
inline void UseUtc() {
  setenv("TZ", "UTC", 1);
  tzset();
}

// Sets the process's virtual clock for the lifetime of the object.
class VirtualClock {
 public:
  explicit VirtualClock(std::time_t now) {
    UseUtc();
    Set(now);
  }
  ~VirtualClock() { sim::SetVirtualTime(std::nullopt); }
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;
  void Set(std::time_t now) { sim::SetVirtualTime(now); }
};

// A device whose every framework call lands in its own sink.
struct Probe {
  Probe() : device(std::make_unique<AIKorvane>()), sink(std::make_shared<sim::RecordingSink>()) {
    sim::SetSink(*device, sink);
  }
  std::unique_ptr<AIKorvane> device;
  std::shared_ptr<sim::RecordingSink> sink;
};

// One line of compact JSON, keys sorted, text kept as UTF-8. Integers print
// the same whether signed or unsigned, so parsed expectations match.
inline std::string Canon(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

inline std::string Canon(const std::string& json_text) {
  return Canon(testing_support::ParseJson(json_text));
}
inline std::string Canon(const char* json_text) {
  return Canon(testing_support::ParseJson(json_text));
}

inline std::vector<std::string> Canon(const std::vector<Json::Value>& events) {
  std::vector<std::string> lines;
  for (const Json::Value& event : events) lines.push_back(Canon(event));
  return lines;
}

inline std::vector<std::string> Canon(const std::vector<std::string>& json_texts) {
  std::vector<std::string> lines;
  for (const std::string& text : json_texts) lines.push_back(Canon(text));
  return lines;
}

inline std::vector<std::string> EventNames(const std::vector<Json::Value>& events) {
  std::vector<std::string> names;
  for (const Json::Value& event : events) names.push_back(event["event"].asString());
  return names;
}

// The first eight record bytes (data id and voltage) as the framework prints them.
inline std::string HeadHex(uint32_t data_id, float voltage) {
  unsigned char bytes[8];
  std::memcpy(bytes, &data_id, 4);
  std::memcpy(bytes + 4, &voltage, 4);
  return sim::Hex(bytes, 8);
}

inline std::string RecordHex(uint32_t data_id, float voltage,
                             const std::string& time_hex = kRoundTimeHex) {
  return HeadHex(data_id, voltage) + time_hex;
}

}  // namespace round_support
