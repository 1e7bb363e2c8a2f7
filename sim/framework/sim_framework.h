#pragma once

// Control surface of the simulated host framework: where the framework's
// calls are recorded, what the analog inputs read, and the clock the devices
// see. Tests and the simulator CLI use it; plug-ins never see it.

#include <json/value.h>

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/osk_ai_device.h"

namespace sim {

// Receives one JSON object per framework call ({"event": name, ...}).
class EventSink {
 public:
  virtual ~EventSink();
  virtual void Record(const OSKVDevice& device, Json::Value event) = 0;

  // A sink that follows only what rounds show answers false here, and the
  // framework then makes no JSON event at all: it hands the three calls
  // below to the sink as they are and records nothing of the others. The
  // answer may change between calls.
  virtual bool WantsEvents() const { return true; }
  virtual void RecordSent(const OSKVDevice& device, const unsigned char* bytes,
                          unsigned long length);
  virtual void AlarmChecked(const OSKVDevice& device, const std::string& first,
                            const std::string& second, const std::string& third, bool condition);
  virtual void ValueReported(const OSKVDevice& device, const std::string& signal, float value);
};

// Keeps every event in order; safe to share between devices and threads.
class RecordingSink : public EventSink {
 public:
  void Record(const OSKVDevice& device, Json::Value event) override;
  std::vector<Json::Value> Events() const;
  // Events of one kind, in order.
  std::vector<Json::Value> Events(const std::string& name) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Json::Value> events_;
};

// Sink given to every device created from now on (null: record nothing).
void SetDefaultSink(std::shared_ptr<EventSink> sink);
// Sink of one device (null: record nothing).
void SetSink(OSKVDevice& device, std::shared_ptr<EventSink> sink);

// From now on ReadAi(channel) of the device returns reading (0 before).
void SetAiReading(OSKVDevice& device, int channel, float reading);

// Why the last OSKVDevice::InitSetting of the device returned false.
std::string LastSettingsError(const OSKVDevice& device);

// The framework's own settings under "hostSetting"; empty on success, else why
// they were refused. Used by OSKVDevice::InitSetting.
std::string ApplyHostSettings(OSKVDevice& device, const Json::Value& host_setting);

// Virtual clock: while set, time() in this process (and so the local time the
// devices stamp their rounds with) returns it instead of the real time.
void SetVirtualTime(std::optional<std::time_t> now);
std::optional<std::time_t> VirtualTime();
// The calling thread's own virtual clock, ahead of the one above: time() on
// this thread returns it while set.
void SetThreadVirtualTime(std::optional<std::time_t> now);

// The 15 record bytes as upper-case hexadecimal.
std::string Hex(const unsigned char* bytes, unsigned long length);

}  // namespace sim
