// Loads the built aikorvane.so the way the monitoring host does and checks the
// binary contract: the entry, the factory, the virtual slots and the ELF facts.

#include <cxxabi.h>
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/provider.h"
#include "sim/framework/sim_framework.h"

namespace {

using ::testing::HasSubstr;

// The binutils of the plug-in's target (a cross build inspects Arm binaries).
#ifndef AIKORVANE_NM
#define AIKORVANE_NM "nm"
#endif
#ifndef AIKORVANE_READELF
#define AIKORVANE_READELF "readelf"
#endif

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  return output;
}

class LoadedPlugin {
 public:
  LoadedPlugin() {
    handle_ = dlopen(AIKORVANE_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) ADD_FAILURE() << "dlopen failed: " << dlerror();
  }
  ~LoadedPlugin() {
    if (handle_ != nullptr) {
      EXPECT_EQ(dlclose(handle_), 0) << dlerror();
    }
  }
  GetProvidersFn Entry() const {
    return handle_ == nullptr ? nullptr
                              : reinterpret_cast<GetProvidersFn>(dlsym(handle_, "get_providers"));
  }

 private:
  void* handle_ = nullptr;
};

std::shared_ptr<OSKAIDeviceProvider> FactoryOf(const LoadedPlugin& plugin) {
  GetProvidersFn entry = plugin.Entry();
  if (entry == nullptr) return nullptr;
  std::vector<std::shared_ptr<Provider>> providers = entry();
  EXPECT_EQ(providers.size(), 1u);
  if (providers.empty()) return nullptr;
  return std::dynamic_pointer_cast<OSKAIDeviceProvider>(providers.front());
}

TEST(PluginLoad, CreatesDrivesAndDestroysDevicesAcrossReloads) {
  for (int load = 0; load < 2; ++load) {
    LoadedPlugin plugin;
    auto factory = FactoryOf(plugin);
    ASSERT_NE(factory, nullptr) << "factory is not an OSKAIDeviceProvider";
    auto sink = std::make_shared<sim::RecordingSink>();
    OSKAIDevice* first = factory->create();
    OSKAIDevice* second = factory->create();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first, second);
    EXPECT_EQ(first->DeviceType(), "aikorvane");
    sim::SetSink(*first, sink);
    sim::SetAiReading(*first, 3, 12.5f);
    // Drive a channel order through the virtual slot the host uses.
    using ProcessFn = float (*)(OSKAIDevice*, short);
    void** vtable = *reinterpret_cast<void***>(first);
    auto process = reinterpret_cast<ProcessFn>(vtable[23]);
    testing::internal::CaptureStdout();
    const float value = process(first, 20003);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FLOAT_EQ(value, 12.5f);
    EXPECT_THAT(out, HasSubstr("AIKorvane::process(20003 is_current_mode_:0\n"));
    EXPECT_EQ(sink->Events("ReadAi").size(), 1u);
    EXPECT_EQ(sink->Events("SendSP").size(), 1u);
    EXPECT_THROW(first->Get_Value(0, "电压"), std::out_of_range);
    delete first;
    delete second;
  }
}

// Resolves code addresses to symbol names through the symbol tables of the
// files they live in (hidden symbols are not in the dynamic table).
class SymbolResolver {
 public:
  std::string Resolve(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "?";
    std::string file = info.dli_fname;
    // The main program: name it by its real path, not as seen by nm itself.
    if (file.find(".so") == std::string::npos) file = std::filesystem::read_symlink("/proc/self/exe");
    const auto offset = reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(info.dli_fbase);
    auto& table = Table(file);
    const auto it = table.find(offset);
    return it == table.end() ? "?" : it->second;
  }

 private:
  std::map<uintptr_t, std::string>& Table(const std::string& file) {
    auto [it, added] = tables_.try_emplace(file);
    if (!added) return it->second;
    std::istringstream lines(RunCommand(AIKORVANE_NM " --defined-only '" + file + "'"));
    std::string address, type, name;
    while (lines >> address >> type >> name) {
      int status = 0;
      char* readable = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
      std::string text = status == 0 ? readable : name;
      std::free(readable);
      // Keep the mangled destructor kind visible: D1 complete, D0 deleting.
      if (name.size() > 4 && name.compare(name.size() - 4, 4, "D1Ev") == 0) text += " [complete]";
      if (name.size() > 4 && name.compare(name.size() - 4, 4, "D0Ev") == 0) text += " [deleting]";
      it->second.emplace(std::stoull(address, nullptr, 16), text);
    }
    return it->second;
  }
  std::map<std::string, std::map<uintptr_t, std::string>> tables_;
};

TEST(PluginLoad, VirtualSlotsFollowTheHostOrder) {
  const std::string device = "UniDataDevice<AIKorvane_Data_t, OSKAIDevice, 5032>";
  const std::vector<std::string> expected = {
      "VDeviceInterface::Get_Value(unsigned int, ",
      "VDeviceInterface::LoadFromCache(std::",
      device + "::LoadFromCache(unsigned char const*, int)",
      "VDeviceInterface::DataId() const",
      "VDeviceInterface::DeviceType",
      "OSKVDevice::DeviceIoControl(int, void const*, int, void*, int, int&)",
      device + "::RoundDone()",
      "VDeviceInterface::UseControllerDb()",
      "AIKorvane::~AIKorvane() [complete]",
      "AIKorvane::~AIKorvane() [deleting]",
      "OSKVDevice::Reset()",
      "OSKVDevice::InitV(OSKVDevice*, unsigned int, Json::Value const&)",
      "OSKAIDevice::Init(std::weak_ptr<OSKController>, unsigned int, Json::Value const&)",
      "AIKorvane::InitSetting(Json::Value const&)",
      "OSKVDevice::IsSupportDevice(std::",
      "OSKVDevice::GetChildVDevice(unsigned int)",
      "OSKVDevice::GetAllChildVDevices()",
      "OSKVDevice::SendSP(int, unsigned char const*, unsigned long, bool)",
      "OSKVDevice::SendDelayData(int)",
      "OSKVDevice::SendDoData(int, char)",
      "OSKVDevice::ReadDi(int)",
      "OSKVDevice::ReadAi(int)",
      "OSKVDevice::Get_SP_Value(unsigned int, std::",
      "AIKorvane::process(short)",
      "AIKorvane::RunCheckThreshold()",
      "AIKorvane::GenJsonData()",
  };
  LoadedPlugin plugin;
  auto factory = FactoryOf(plugin);
  ASSERT_NE(factory, nullptr);
  std::unique_ptr<OSKAIDevice> created(factory->create());
  void** vtable = *reinterpret_cast<void***>(created.get());
  SymbolResolver resolver;
  for (size_t slot = 0; slot < expected.size(); ++slot) {
    const std::string name = resolver.Resolve(vtable[slot]);
    EXPECT_EQ(name.rfind(expected[slot], 0), 0u)
        << "slot " << slot << " holds " << name << ", expected " << expected[slot];
  }
}

std::set<std::string> SanitizerRuntimes() {
  std::set<std::string> allowed;
  const std::string sanitizers = AIKORVANE_SANITIZE;
  if (sanitizers.find("address") != std::string::npos) allowed.insert("libasan.so");
  if (sanitizers.find("undefined") != std::string::npos) allowed.insert("libubsan.so");
  if (sanitizers.find("thread") != std::string::npos) allowed.insert("libtsan.so");
  return allowed;
}

TEST(PluginElf, SonameNeededAndExports) {
  const std::string dynamic = RunCommand(AIKORVANE_READELF " -d -W '" AIKORVANE_PLUGIN_PATH "'");
  EXPECT_THAT(dynamic, HasSubstr("Library soname: [aikorvane.so]"));
  const std::set<std::string> system_runtime = {"libstdc++.so", "libm.so", "libgcc_s.so",
                                                "libc.so", "ld-linux"};
  const std::set<std::string> sanitizers = SanitizerRuntimes();
  std::istringstream lines(dynamic);
  int needed = 0;
  for (std::string line; std::getline(lines, line);) {
    const auto open = line.find("Shared library: [");
    if (open == std::string::npos) continue;
    ++needed;
    const std::string library = line.substr(open + 17, line.find(']', open) - open - 17);
    bool allowed = false;
    for (const auto& prefix : system_runtime) allowed |= library.rfind(prefix, 0) == 0;
    for (const auto& prefix : sanitizers) allowed |= library.rfind(prefix, 0) == 0;
    EXPECT_TRUE(allowed) << "NEEDED " << library << " is not a system runtime library";
  }
  EXPECT_GT(needed, 0);

  // Every symbol the plug-in defines for others: only the entry.
  std::istringstream symbols(
      RunCommand(AIKORVANE_READELF " --dyn-syms -W '" AIKORVANE_PLUGIN_PATH "'"));
  std::vector<std::string> exported;
  for (std::string line; std::getline(symbols, line);) {
    std::istringstream fields(line);
    std::string num, value, size, type, bind, vis, ndx, name;
    if (!(fields >> num >> value >> size >> type >> bind >> vis >> ndx >> name)) continue;
    if (ndx == "UND" || ndx == "Ndx" || type == "SECTION") continue;
    if (bind == "GLOBAL" || bind == "WEAK") exported.push_back(name);
  }
  EXPECT_THAT(exported, ::testing::ElementsAre("get_providers"));
}

}  // namespace
