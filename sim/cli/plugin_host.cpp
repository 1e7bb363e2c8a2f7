#include "sim/cli/plugin_host.h"

#include <dlfcn.h>

#include <mutex>

#include "plugin/aikorvane.h"

namespace sim::cli {

LoadedPlugin::~LoadedPlugin() {
  // The factory's code lives in the library: drop it before unloading.
  factory_.reset();
  if (handle_ != nullptr) dlclose(handle_);
}

std::string LoadedPlugin::Load(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    return "cannot load plug-in " + path + ": " + (why != nullptr ? why : "unknown error");
  }
  auto entry = reinterpret_cast<GetProvidersFn>(dlsym(handle_, "get_providers"));
  if (entry == nullptr) return "plug-in " + path + " has no get_providers entry";
  std::vector<std::shared_ptr<Provider>> providers;
  try {
    providers = entry();
  } catch (const std::exception& error) {
    return "get_providers of " + path + " failed: " + error.what();
  }
  for (const auto& provider : providers) {
    factory_ = std::dynamic_pointer_cast<OSKAIDeviceProvider>(provider);
    if (factory_) return {};
  }
  return "plug-in " + path + " offers no analog-input device factory";
}

OSKAIDevice* LoadedPlugin::Create() const { return factory_ ? factory_->create() : nullptr; }

float CallProcess(OSKAIDevice& device, short sample) {
  // Slot order of the host ABI: the eight VDeviceInterface operations, the
  // destructor pair, the fifteen OSKVDevice/OSKAIDevice operations up to
  // Get_SP_Value (slots 10 to 22), then the device's process at slot 23.
  constexpr int kProcessSlot = 23;
  using ProcessFn = float (*)(OSKAIDevice*, short);
  void** vtable = *reinterpret_cast<void***>(&device);
  return reinterpret_cast<ProcessFn>(vtable[kProcessSlot])(&device, sample);
}

Json::Value PublishedValues(OSKAIDevice& device) {
  // Built from the same headers as the plug-in, so the layout matches. The
  // round is over when this runs, so the lock is free.
  auto& korvane = static_cast<AIKorvane&>(device);
  std::lock_guard<std::mutex> lock(korvane.value_mutex_);
  return korvane.value_;
}

}  // namespace sim::cli
