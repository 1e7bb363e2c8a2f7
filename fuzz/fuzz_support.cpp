#include "fuzz/fuzz_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/property_tree/ptree.hpp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <streambuf>

#include "host/osk_controller.h"

namespace fuzz {
namespace {

// Formats everything and keeps nothing: the diagnostics still run their
// formatting code, the fuzzer's output stays readable.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

std::string g_work_dir;

void RemoveWorkDir() {
  if (g_work_dir.empty()) return;
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  std::filesystem::remove_all(g_work_dir, ignored);
}

unsigned short UnusedLoopbackPort() {
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (sock < 0 || ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Fail("no loopback port to spare");
  }
  ::close(sock);
  return ntohs(address.sin_port);
}

std::string HexOf(const AIKorvane_Data_t& record) {
  return sim::Hex(reinterpret_cast<const unsigned char*>(&record), sizeof record);
}

}  // namespace

void Prepare() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  // Never destroyed: std::cout is flushed once more after static objects are
  // gone, and must not find its buffer destroyed then.
  static NullBuffer* const null_buffer = new NullBuffer;
  std::cout.rdbuf(null_buffer);
  sim::SetDefaultSink(nullptr);
  ::setenv("no_proxy", "*", 1);
  ::setenv("NO_PROXY", "*", 1);
  static const std::string refused = RefusedUrl();
  ::setenv("AIKORVANE_DISCHARGE_URL", refused.c_str(), 1);
}

const std::string& PrivateWorkDir() {
  if (g_work_dir.empty()) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "aikorvane-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp failed");
    g_work_dir = pattern;
    std::filesystem::current_path(g_work_dir);
    std::atexit(RemoveWorkDir);
  }
  return g_work_dir;
}

std::string RefusedUrl() {
  return "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/welcome/discharge/";
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "FINDING (%s): %s\n", kTargetName, what.c_str());
  std::fflush(stderr);
  std::abort();
}

bool IsExpectedSettingsError(const std::exception& error) {
  if (dynamic_cast<const boost::property_tree::ptree_error*>(&error) != nullptr) return true;
  if (dynamic_cast<const Json::Exception*>(&error) != nullptr) {
    return std::strcmp(error.what(), "Type is not convertible to string") == 0;
  }
  return false;
}

bool ApplySettings(AIKorvane& device, const Json::Value& settings) {
  try {
    device.InitSetting(settings);
    return true;
  } catch (const std::exception& error) {
    if (IsExpectedSettingsError(error)) return false;
    Fail(std::string("InitSetting threw ") + typeid(error).name() + ": " + error.what());
  } catch (...) {
    Fail("InitSetting threw a non-standard exception");
  }
}

void RoundSink::Record(const OSKVDevice&, Json::Value event) {
  const std::string name = event["event"].asString();
  if (name == "SendSP") {
    ++send_count;
    sent_bytes = event["bytes"].asString();
    if (event["code"].asInt() != 5032 || event["length"].asUInt64() != 15) {
      Fail("record sent under the wrong code or length");
    }
  } else if (name == "SaveDeviceHistory") {
    ++history_count;
    stored_bytes = event["bytes"].asString();
    if (event["length"].asUInt64() != 15) Fail("history entry of the wrong length");
  } else {
    ++other_count;
  }
}

CheckedDevice::CheckedDevice(unsigned int data_id) {
  device.Init(std::weak_ptr<OSKController>(), data_id, Json::Value());
  sim::SetSink(device, sink);
}

CheckedDevice::~CheckedDevice() { sim::SetSink(device, nullptr); }

float CheckedDevice::Process(short sample) {
  const int sends = sink->send_count;
  const int stores = sink->history_count;
  float value = 0.0f;
  try {
    value = device.process(sample);
  } catch (const std::exception& error) {
    Fail(std::string("process threw ") + typeid(error).name() + ": " + error.what());
  }
  if (std::memcmp(&value, &device.data_.voltage, sizeof value) != 0) {
    Fail("process returned another value than the record holds");
  }
  CheckRound(sends, stores);
  return value;
}

bool CheckedDevice::LoadFromCache(const uint8_t* bytes, size_t count) {
  const int sends = sink->send_count;
  const int stores = sink->history_count;
  const std::string before = HexOf(device.data_);
  const int events_before = sink->send_count + sink->history_count + sink->other_count;
  bool taken = false;
  try {
    taken = device.LoadFromCache(bytes, static_cast<int>(count));
  } catch (const std::exception& error) {
    Fail(std::string("LoadFromCache threw ") + typeid(error).name() + ": " + error.what());
  }
  if (taken != (count == sizeof(AIKorvane_Data_t)))
    Fail("LoadFromCache took a record of " + std::to_string(count) + " bytes");
  if (!taken) {
    if (HexOf(device.data_) != before ||
        sink->send_count + sink->history_count + sink->other_count != events_before) {
      Fail("a refused cache record changed the device");
    }
    return false;
  }
  if (std::memcmp(&device.data_, bytes, 8) != 0) Fail("cached id and voltage were not kept");
  CheckRound(sends, stores);
  return true;
}

void CheckedDevice::CheckRound(int sends_before, int stores_before) {
  if (sink->send_count != sends_before + 1) Fail("a round did not send its record exactly once");
  if (sink->history_count != stores_before + 1) {
    Fail("a round did not store its history entry exactly once");
  }
  const std::string record = HexOf(device.data_);
  if (sink->sent_bytes != record || sink->stored_bytes != record) {
    Fail("the record sent or stored differs from the device's record");
  }
  if (!device.rule_values_.empty()) Fail("the rule list was not emptied");
  if (device.round_state_ != 1 || !device.has_data_) Fail("round state not set");
  if (device.discharge_state_ != 0 && device.discharge_state_ != 1) Fail("discharge state broken");
  const uint64_t packed = get_ttime(device.update_time_);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&device.data_);
  for (int i = 0; i < 7; ++i) {
    if (bytes[8 + i] != static_cast<unsigned char>(packed >> (8 * i))) {
      Fail("the record does not carry the round's time");
    }
  }
  if (!device.value_mutex_.try_lock()) Fail("value_mutex_ left locked after a round");
  device.value_mutex_.unlock();
}

uint8_t Reader::Byte() {
  if (size_ == 0) return 0;
  --size_;
  return *data_++;
}

uint16_t Reader::Word() {
  const uint16_t low = Byte();
  return static_cast<uint16_t>(low | Byte() << 8);
}

uint32_t Reader::Dword() {
  const uint32_t low = Word();
  return low | static_cast<uint32_t>(Word()) << 16;
}

float Reader::Float() {
  const uint32_t bits = Dword();
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string Reader::Rest() {
  std::string rest(reinterpret_cast<const char*>(data_), size_);
  data_ += size_;
  size_ = 0;
  return rest;
}

}  // namespace fuzz
