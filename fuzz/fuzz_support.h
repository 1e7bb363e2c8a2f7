#pragma once

// Shared pieces of the fuzz targets: a quiet stdout, a private working
// directory, the errors a settings call may hand to the host, and a device
// whose every round is checked for the properties a round must keep.

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "plugin/aikorvane.h"
#include "sim/framework/sim_framework.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// Name of the target, also the folder name of its corpus and regressions.
extern const char* const kTargetName;

// Sends std::cout to a stream that formats but keeps nothing; sets a
// discharge URL on a loopback port nobody listens on, and keeps curl from
// any proxy of the environment. Idempotent.
void Prepare();

// A fresh temporary directory, made the working directory on first use and
// removed at exit.
const std::string& PrivateWorkDir();

// URL of a loopback port with no listener.
std::string RefusedUrl();

// Prints what went wrong and aborts, so that the fuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);

// The errors that may leave InitSetting and reach the host: the INI reader's
// (and "No such node" for a missing section) and the JSON library's refusal to
// give a string form.
bool IsExpectedSettingsError(const std::exception& error);

// Runs InitSetting; returns false when an expected error left it. Any other
// exception is a finding.
bool ApplySettings(AIKorvane& device, const Json::Value& settings);

// Counts the framework calls of a device and remembers the last record sent
// and stored; keeps nothing else.
class RoundSink : public sim::EventSink {
 public:
  void Record(const OSKVDevice& device, Json::Value event) override;
  int send_count = 0;
  int history_count = 0;
  int other_count = 0;
  std::string sent_bytes;
  std::string stored_bytes;
};

// A device of the simulated framework with a checking sink.
struct CheckedDevice {
  explicit CheckedDevice(unsigned int data_id);
  ~CheckedDevice();
  CheckedDevice(const CheckedDevice&) = delete;
  CheckedDevice& operator=(const CheckedDevice&) = delete;

  // One sample, then the checks every round must pass.
  float Process(short sample);
  // One cached record; a 15-byte record is taken and runs a checked round,
  // anything else is refused without a round.
  bool LoadFromCache(const uint8_t* bytes, size_t count);

  AIKorvane device;
  std::shared_ptr<RoundSink> sink = std::make_shared<RoundSink>();

 private:
  void CheckRound(int sends_before, int stores_before);
};

// Reads fixed-size values from the front of a fuzz input; zeros once it is
// used up.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return size_ == 0; }
  size_t remaining() const { return size_; }
  uint8_t Byte();
  uint16_t Word();
  uint32_t Dword();
  float Float();  // any bit pattern: NaN, infinities and subnormals included
  std::string Rest();

 private:
  const uint8_t* data_;
  size_t size_;
};

// Operating modes the targets walk through: the three with per-signal checks,
// the discharge mode, and two that select no branch.
inline constexpr int kModes[] = {1, 2, 3, 5, 0, 7};

}  // namespace fuzz
