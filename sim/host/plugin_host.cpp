#include "sim/host/plugin_host.h"

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <typeinfo>

#include "plugin/aikorvane.h"
#include "plugin/device_layout.h"
#include "sim/host/elf_section.h"

namespace sim::cli {
namespace {

// Loaded plug-ins by load address, with why their devices cannot be
// inspected (empty when they can). A device names its plug-in through the
// address of its virtual table.
std::mutex g_plugins_mutex;
std::map<const void*, std::string> g_plugins;

std::string LayoutErrorOf(const std::string& path) {
  const std::string refusal = "plug-in " + path +
                              " was not built from the sources of this aikorvane-sim, so its "
                              "devices cannot be inspected";
  std::string bytes;
  const std::string error = ReadElfSection(path, AIKORVANE_LAYOUT_SECTION, bytes);
  if (!error.empty()) return refusal + " (" + error + ")";
  static constexpr DeviceLayout kExpected = MakeDeviceLayout();
  if (bytes.size() != sizeof kExpected || std::memcmp(bytes.data(), &kExpected, sizeof kExpected)) {
    return refusal + " (its device class has another layout)";
  }
  return {};
}

// The Itanium C++ ABI name of the device class's type.
constexpr const char* kAIKorvaneTypeName = "9AIKorvane";

// The one place where the simulator takes a device for the plug-in's class.
// Sound only for a device of a plug-in whose layout record matches the
// headers this file is compiled with, and whose dynamic type is that class:
// both are checked here. The type is compared by name, read from the
// plug-in's own type information through the device's virtual table; the
// plug-in keeps that type information to itself, which is also why the
// undefined-behaviour sanitizer's check of the cast (it would need that type
// information from this executable) is left out of this function and of the
// two readers below, which use only its result.
__attribute__((no_sanitize("vptr"))) AIKorvane* InspectDevice(OSKAIDevice& device,
                                                              std::string& why) {
  Dl_info info{};
  if (dladdr(*reinterpret_cast<void**>(&device), &info) == 0) {
    why = "the device's class lies in no loaded library";
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(g_plugins_mutex);
    const auto found = g_plugins.find(info.dli_fbase);
    if (found == g_plugins.end()) {
      why = "the device was not made by a plug-in this simulator loaded";
      return nullptr;
    }
    if (!found->second.empty()) {
      why = found->second;
      return nullptr;
    }
  }
  const char* type = typeid(device).name();
  if (std::strcmp(type, kAIKorvaneTypeName) != 0) {
    why = std::string("the device is a ") + type + ", not an AIKorvane";
    return nullptr;
  }
  return static_cast<AIKorvane*>(&device);
}

}  // namespace

LoadedPlugin::~LoadedPlugin() {
  // The factory's code lives in the library: drop it before unloading.
  factory_.reset();
  if (base_ != nullptr) {
    std::lock_guard<std::mutex> lock(g_plugins_mutex);
    g_plugins.erase(base_);
  }
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
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(entry), &info) != 0) base_ = info.dli_fbase;
  layout_error_ = LayoutErrorOf(path);
  {
    std::lock_guard<std::mutex> lock(g_plugins_mutex);
    g_plugins[base_] = layout_error_;
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

__attribute__((no_sanitize("vptr"))) Json::Value PublishedValues(OSKAIDevice& device) {
  std::string why;
  AIKorvane* korvane = InspectDevice(device, why);
  if (korvane == nullptr) {
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) {
      std::cerr << "aikorvane-sim: " << why << "; its published values are not shown" << std::endl;
    }
    return Json::Value();
  }
  // The round is over when this runs, so the lock is free.
  std::lock_guard<std::mutex> lock(korvane->value_mutex_);
  return korvane->value_;
}

__attribute__((no_sanitize("vptr"))) bool ReadDeviceState(OSKAIDevice& device, DeviceState& state,
                                                          std::string& why) {
  const AIKorvane* korvane = InspectDevice(device, why);
  if (korvane == nullptr) return false;
  const AIKorvane& d = *korvane;
  state.b_mode = d.b_mode_;
  state.channel = d;
  state.ai_signals = d.ai_signals_;
  state.alarm_rules = d.alarm_rules_;
  state.alarm_signal_names = d.alarm_signal_names_;
  state.alarm_report_prefix = d.alarm_report_prefix_;
  state.limits[0] = d.up_thresholds_;
  state.limits[1] = d.up2_thresholds_;
  state.limits[2] = d.low_thresholds_;
  state.limits[3] = d.low2_thresholds_;
  state.alarm_levels = d.alarm_levels_;
  state.alarm_values = d.alarm_values_;
  return true;
}

}  // namespace sim::cli
