#pragma once

// Loading the plug-in the way the monitoring host does, and the two ways in
// which the simulator reaches past the host's ABI into the device.

#include <json/value.h>

#include <memory>
#include <string>

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

 private:
  void* handle_ = nullptr;
  std::shared_ptr<OSKAIDeviceProvider> factory_;
};

// Calls the device's process(short). The host headers do not declare it: it
// lives in the device's own class, in the virtual slot after Get_SP_Value.
float CallProcess(OSKAIDevice& device, short sample);

// A copy of the values the device has published (null when it has published
// none). The host ABI offers no way to read them (Get_Value throws), so this
// reads the device object through the class definition it was built from.
Json::Value PublishedValues(OSKAIDevice& device);

}  // namespace sim::cli
