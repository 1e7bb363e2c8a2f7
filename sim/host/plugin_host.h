#pragma once

// Loading the plug-in the way the monitoring host does, and the two ways in
// which the simulator reaches past the host's ABI into the device.

#include <json/value.h>

#include <map>
#include <memory>
#include <string>

#include "config/channel_keys.h"
#include "config/tables.h"
#include "host/osk_ai_device.h"
#include "host/provider.h"

namespace sim::cli {

// A loaded aikorvane.so and its device factory. Failures are reported as a
// message instead of an exception so that the caller can print one line.
class LoadedPlugin {
 public:
  LoadedPlugin() = default;
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  // Empty on success, else why the plug-in cannot be used.
  std::string Load(const std::string& path);
  OSKAIDevice* Create() const;
  // Empty when the plug-in's device class has the layout this simulator was
  // built for, else why its devices cannot be inspected. Devices of such a
  // plug-in still run; only reading their state is refused.
  const std::string& LayoutError() const { return layout_error_; }

 private:
  void* handle_ = nullptr;
  const void* base_ = nullptr;
  std::string layout_error_;
  std::shared_ptr<OSKAIDeviceProvider> factory_;
};

// Calls the device's process(short). The host headers do not declare it: it
// lives in the device's own class, in the virtual slot after Get_SP_Value.
float CallProcess(OSKAIDevice& device, short sample);

// The device's state as its settings left it: copies of the members and
// tables of its class, and of the host's alarm levels and thresholds.
struct DeviceState {
  int b_mode = 0;
  aikorvane::config::ChannelSettings channel;
  AiSignalTable ai_signals;
  TextTable alarm_rules, alarm_signal_names, alarm_report_prefix;
  ThresholdTable limits[4];  // upper, second upper, lower, second lower
  std::map<std::string, int> alarm_levels;
  std::map<std::string, float> alarm_values;
};

// The host ABI offers no way to read a device's state (Get_Value throws), so
// the simulator reads the device object through the plug-in's own class
// definition. These two do so; both go through InspectDevice (plugin_host.cpp),
// and both fail, with the reason in why, for a device of a plug-in whose
// layout record differs from this simulator's.

// A copy of the values the device has published (null when it has published
// none, or when the device cannot be inspected: the first time, that is said
// once on standard error).
Json::Value PublishedValues(OSKAIDevice& device);
// false when the device cannot be inspected.
bool ReadDeviceState(OSKAIDevice& device, DeviceState& state, std::string& why);

}  // namespace sim::cli
