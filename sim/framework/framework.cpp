// The simulated host framework: our stand-in for the monitoring host's device
// framework. Every operation a device calls is recorded as an event.

#include <json/value.h>

#include <atomic>
#include <cmath>
#include <utility>

#include "host/osk_controller.h"
#include "host/provider.h"
#include "sim/framework/host_setting_keys.h"
#include "sim/framework/sim_framework.h"

struct OSKHostContext {
  std::mutex mutex;
  std::shared_ptr<sim::EventSink> sink;
  std::map<int, float> readings;
  std::string settings_error;
};

namespace sim {
namespace {

std::mutex g_default_sink_mutex;
std::shared_ptr<EventSink> g_default_sink;

std::shared_ptr<EventSink> SinkOf(const OSKVDevice& device) {
  std::lock_guard<std::mutex> lock(device.host_context_->mutex);
  return device.host_context_->sink;
}

Json::Value MakeEvent(const char* name) {
  Json::Value event(Json::objectValue);
  event["event"] = name;
  return event;
}

}  // namespace

EventSink::~EventSink() = default;
void EventSink::RecordSent(const OSKVDevice&, const unsigned char*, unsigned long) {}
void EventSink::AlarmChecked(const OSKVDevice&, const std::string&, const std::string&,
                             const std::string&, bool) {}
void EventSink::ValueReported(const OSKVDevice&, const std::string&, float) {}

void RecordingSink::Record(const OSKVDevice&, Json::Value event) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(std::move(event));
}

std::vector<Json::Value> RecordingSink::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<Json::Value> RecordingSink::Events(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Json::Value> selected;
  for (const Json::Value& event : events_) {
    if (event["event"].asString() == name) selected.push_back(event);
  }
  return selected;
}

void RecordingSink::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
}

void SetDefaultSink(std::shared_ptr<EventSink> sink) {
  std::lock_guard<std::mutex> lock(g_default_sink_mutex);
  g_default_sink = std::move(sink);
}

void SetSink(OSKVDevice& device, std::shared_ptr<EventSink> sink) {
  std::lock_guard<std::mutex> lock(device.host_context_->mutex);
  device.host_context_->sink = std::move(sink);
}

void SetAiReading(OSKVDevice& device, int channel, float reading) {
  std::lock_guard<std::mutex> lock(device.host_context_->mutex);
  device.host_context_->readings[channel] = reading;
}

std::string LastSettingsError(const OSKVDevice& device) {
  std::lock_guard<std::mutex> lock(device.host_context_->mutex);
  return device.host_context_->settings_error;
}

std::string Hex(const unsigned char* bytes, unsigned long length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(length * 2);
  for (unsigned long i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

namespace {

// Each helper returns an empty string when the value fits, else the complaint.
// Where a member sits, as the host's messages name it.
std::string HostPath(const char* key) { return std::string(kHostSetting) + "." + key; }

std::string Number(const Json::Value& value, const std::string& path, float& out) {
  if (!value.isNumeric()) return path + " must be a number";
  out = value.asFloat();
  return {};
}

std::string ReadChannels(const Json::Value& channels, std::map<int, float>& readings) {
  if (!channels.isObject()) return HostPath(kChannels) + " must be an object";
  for (auto it = channels.begin(); it != channels.end(); ++it) {
    const std::string name = it.name();
    // Digits alone: strtol would also take " 3", "+3" and numbers past int.
    const bool digits = !name.empty() && name.size() <= 9 &&
                        name.find_first_not_of("0123456789") == std::string::npos;
    if (!digits) return HostPath(kChannels) + " key " + name + " is no channel";
    const long channel = std::strtol(name.c_str(), nullptr, 10);
    float reading = 0;
    std::string error = Number(*it, HostPath(kChannels) + "." + name, reading);
    if (!error.empty()) return error;
    readings[static_cast<int>(channel)] = reading;
  }
  return {};
}

std::string ReadAlarms(const Json::Value& alarms, OSKVDevice& device) {
  if (!alarms.isObject()) return HostPath(kAlarms) + " must be an object";
  for (auto it = alarms.begin(); it != alarms.end(); ++it) {
    const std::string path = HostPath(kAlarms) + "." + it.name();
    if (!it->isObject()) return path + " must be an object";
    const Json::Value& level = (*it)[kAlarmLevel];
    // isIntegral also takes integers past int, which asInt would throw on.
    if (!level.isInt()) return path + "." + kAlarmLevel + " must be an integer";
    float value = 0;
    std::string error = Number((*it)[kAlarmValue], path + "." + kAlarmValue, value);
    if (!error.empty()) return error;
    device.alarm_levels_[it.name()] = level.asInt();
    device.alarm_values_[it.name()] = value;
  }
  return {};
}

std::string ReadAoReports(const Json::Value& reports, OSKVDevice& device) {
  if (!reports.isObject()) return HostPath(kAoReport) + " must be an object";
  for (auto it = reports.begin(); it != reports.end(); ++it) {
    const std::string path = HostPath(kAoReport) + "." + it.name();
    if (!it->isObject()) return path + " must be an object";
    OSKVDevice::BAOSetting setting;
    setting.change_value = 0;
    setting.percent_value = 0;
    setting.period_minutes = 0;
    setting.last_report_time = 0;
    setting.last_report_value = 0;
    const std::pair<const char*, std::pair<bool*, float*>> triggers[] = {
        {kReportChange, {&setting.change_enabled, &setting.change_value}},
        {kReportPercent, {&setting.percent_enabled, &setting.percent_value}},
        {kReportPeriod, {&setting.period_enabled, &setting.period_minutes}},
    };
    for (const auto& [key, target] : triggers) {
      if (!it->isMember(key)) continue;
      std::string error = Number((*it)[key], path + "." + key, *target.second);
      if (!error.empty()) return error;
      *target.first = true;
    }
    if (it->isMember(kReportLastTime)) {
      const Json::Value& last = (*it)[kReportLastTime];
      // isUInt, not asInt64: past int64 the conversion would throw.
      if (!last.isUInt()) {
        return path + "." + kReportLastTime + " must be a count of seconds (0 to 4294967295)";
      }
      setting.last_report_time = static_cast<uint32_t>(last.asUInt());
    }
    if (it->isMember(kReportLastValue)) {
      std::string error =
          Number((*it)[kReportLastValue], path + "." + kReportLastValue, setting.last_report_value);
      if (!error.empty()) return error;
    }
    device.ao_report_settings_[it.name()] = setting;
  }
  return {};
}

}  // namespace

std::string ApplyHostSettings(OSKVDevice& device, const Json::Value& host) {
  if (!host.isObject()) return std::string(kHostSetting) + " must be an object";
  auto* ai_device = dynamic_cast<OSKAIDevice*>(&device);
  float gain = ai_device != nullptr ? ai_device->ai_gain_ : 1.0f;
  float offset = ai_device != nullptr ? ai_device->ai_offset_ : 0.0f;
  std::string error;
  if (host.isMember(kAiGain)) error = Number(host[kAiGain], HostPath(kAiGain), gain);
  if (error.empty() && host.isMember(kAiOffset)) {
    error = Number(host[kAiOffset], HostPath(kAiOffset), offset);
  }
  std::map<int, float> readings;
  if (error.empty() && host.isMember(kChannels)) error = ReadChannels(host[kChannels], readings);
  if (error.empty() && host.isMember(kAlarms)) error = ReadAlarms(host[kAlarms], device);
  if (error.empty() && host.isMember(kAoReport)) error = ReadAoReports(host[kAoReport], device);
  if (!error.empty()) return error;
  if (ai_device != nullptr) {
    ai_device->ai_gain_ = gain;
    ai_device->ai_offset_ = offset;
  }
  std::lock_guard<std::mutex> lock(device.host_context_->mutex);
  for (const auto& [channel, reading] : readings) device.host_context_->readings[channel] = reading;
  return {};
}

}  // namespace sim

// ---- framework classes -------------------------------------------------------

OSKController::OSKController() = default;
OSKController::~OSKController() = default;
Provider::Provider() = default;
Provider::~Provider() = default;
OSKAIDeviceProvider::OSKAIDeviceProvider() = default;
OSKAIDeviceProvider::~OSKAIDeviceProvider() = default;

uint64_t get_ttime(boost::posix_time::ptime time) {
  if (time.is_special()) return 0;
  const auto date = time.date();
  const auto clock = time.time_of_day();
  return static_cast<uint64_t>(date.year()) | static_cast<uint64_t>(date.month()) << 16 |
         static_cast<uint64_t>(date.day()) << 24 | static_cast<uint64_t>(clock.hours()) << 32 |
         static_cast<uint64_t>(clock.minutes()) << 40 |
         static_cast<uint64_t>(clock.seconds()) << 48;
}

int VDeviceInterface::DeviceIoControl(int, const void*, int, void*, int, int&) { return -2; }

OSKVDevice::OSKVDevice() : host_context_(new OSKHostContext) {
  std::lock_guard<std::mutex> lock(sim::g_default_sink_mutex);
  host_context_->sink = sim::g_default_sink;
}

OSKVDevice::~OSKVDevice() { delete host_context_; }

int OSKVDevice::DeviceIoControl(int, const void*, int, void*, int, int& returned) {
  returned = 0;
  return -1;
}

void OSKVDevice::Reset() {
  auto sink = sim::SinkOf(*this);
  if (sink && sink->WantsEvents()) sink->Record(*this, sim::MakeEvent("Reset"));
}

bool OSKVDevice::InitV(OSKVDevice*, unsigned int id, const Json::Value&) {
  data_id_ = id;
  return true;
}

bool OSKVDevice::Init(std::weak_ptr<OSKController>, unsigned int id, const Json::Value&) {
  data_id_ = id;
  return true;
}

bool OSKVDevice::InitSetting(const Json::Value& settings) {
  std::string error;
  if (settings.isObject() && settings.isMember(sim::kHostSetting)) {
    error = sim::ApplyHostSettings(*this, settings[sim::kHostSetting]);
  }
  {
    std::lock_guard<std::mutex> lock(host_context_->mutex);
    host_context_->settings_error = error;
  }
  return error.empty();
}

bool OSKVDevice::IsSupportDevice(const std::string& type) const { return type == model_; }

int OSKVDevice::SendSP(int code, const unsigned char* bytes, unsigned long length, bool flag) {
  auto sink = sim::SinkOf(*this);
  if (sink && !sink->WantsEvents()) sink->RecordSent(*this, bytes, length);
  if (sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("SendSP");
    event["code"] = code;
    event["length"] = static_cast<Json::UInt64>(length);
    event["flag"] = flag;
    event["bytes"] = sim::Hex(bytes, length);
    sink->Record(*this, std::move(event));
  }
  return 0;
}

// The simulated host has no delayed data, digital outputs or digital inputs;
// the calls are recorded so that a device using them shows up.
int OSKVDevice::SendDelayData(int code) {
  if (auto sink = sim::SinkOf(*this); sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("SendDelayData");
    event["code"] = code;
    sink->Record(*this, std::move(event));
  }
  return 0;
}

int OSKVDevice::SendDoData(int channel, char value) {
  if (auto sink = sim::SinkOf(*this); sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("SendDoData");
    event["channel"] = channel;
    event["value"] = static_cast<int>(value);
    sink->Record(*this, std::move(event));
  }
  return 0;
}

int OSKVDevice::ReadDi(int channel) {
  if (auto sink = sim::SinkOf(*this); sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("ReadDi");
    event["channel"] = channel;
    sink->Record(*this, std::move(event));
  }
  return 0;
}

float OSKVDevice::ReadAi(int channel) {
  float reading = 0.0f;
  {
    std::lock_guard<std::mutex> lock(host_context_->mutex);
    const auto it = host_context_->readings.find(channel);
    if (it != host_context_->readings.end()) reading = it->second;
  }
  if (auto sink = sim::SinkOf(*this); sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("ReadAi");
    event["channel"] = channel;
    event["reading"] = static_cast<double>(reading);
    sink->Record(*this, std::move(event));
  }
  return reading;
}

Json::Value OSKVDevice::Get_SP_Value(unsigned int, const std::string&) { return Json::Value(); }

bool OSKVDevice::CheckThreshold(const std::string& id, const std::string& name, const float& value,
                                int flag) {
  if (auto sink = sim::SinkOf(*this); sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("CheckThreshold");
    event["id"] = id;
    event["name"] = name;
    event["value"] = static_cast<double>(value);
    event["flag"] = flag;
    sink->Record(*this, std::move(event));
  }
  return true;
}

bool OSKVDevice::CheckThresholdBool(int level, const std::string& alarm_id,
                                    const std::string& signal_id, const std::string& name,
                                    const std::string& text, bool condition, unsigned short flags) {
  rule_values_.push_back(rule_value{alarm_id, signal_id, name, text, level, condition});
  auto sink = sim::SinkOf(*this);
  if (sink && !sink->WantsEvents()) sink->AlarmChecked(*this, alarm_id, signal_id, name, condition);
  if (sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("CheckThresholdBool");
    event["level"] = level;
    Json::Value& texts = event["texts"] = Json::Value(Json::arrayValue);
    texts.append(alarm_id);
    texts.append(signal_id);
    texts.append(name);
    texts.append(text);
    event["condition"] = condition;
    event["flags"] = flags;
    sink->Record(*this, std::move(event));
  }
  return true;
}

bool OSKVDevice::CheckAOReport(const std::string& signal_id, float value) {
  auto sink = sim::SinkOf(*this);
  if (sink && !sink->WantsEvents()) sink->ValueReported(*this, signal_id, value);
  if (sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("CheckAOReport");
    event["signal"] = signal_id;
    event["value"] = static_cast<double>(value);
    sink->Record(*this, std::move(event));
  }
  return true;
}

bool OSKVDevice::DoBatchCheckThreshold(const std::vector<rule_value>& rules) {
  bool any_alarm = false;
  for (const rule_value& rule : rules) any_alarm = any_alarm || rule.condition;
  if (auto sink = sim::SinkOf(*this); sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("DoBatchCheckThreshold");
    event["rules"] = static_cast<Json::UInt64>(rules.size());
    event["result"] = any_alarm;
    sink->Record(*this, std::move(event));
  }
  return any_alarm;
}

void OSKVDevice::SaveDeviceHistory(const unsigned char* bytes, unsigned long length) {
  if (auto sink = sim::SinkOf(*this); sink && sink->WantsEvents()) {
    Json::Value event = sim::MakeEvent("SaveDeviceHistory");
    event["length"] = static_cast<Json::UInt64>(length);
    event["bytes"] = sim::Hex(bytes, length);
    sink->Record(*this, std::move(event));
  }
}

OSKAIDevice::OSKAIDevice() = default;
OSKAIDevice::~OSKAIDevice() = default;

bool OSKAIDevice::Init(std::weak_ptr<OSKController> controller, unsigned int id,
                       const Json::Value& settings) {
  return OSKVDevice::Init(std::move(controller), id, settings);
}
