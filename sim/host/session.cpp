#include "sim/host/session.h"

#include <curl/curl.h>

#include <cstdlib>
#include <ctime>
#include <iostream>
#include <utility>

#include "host/osk_controller.h"

namespace sim::cli {

fs::path Absolute(const std::string& path, const fs::path& base) {
  return path.empty() ? fs::path() : (base / path).lexically_normal();
}

namespace {

// Locations relative to the binary: the build tree keeps the plug-in beside
// it; an installed (or relocated) tree keeps plug-in and examples at fixed
// offsets from the binary's folder.
fs::path BinaryFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::current_path() : self.parent_path();
}

}  // namespace

fs::path ExamplesFolder() {
  const fs::path installed = (BinaryFolder() / AIKORVANE_BIN_TO_EXAMPLES).lexically_normal();
  if (fs::is_directory(installed)) return installed;
  return AIKORVANE_SOURCE_EXAMPLES;
}

fs::path FindPlugin(const std::string& given, const fs::path& base, std::string& error) {
  if (!given.empty()) return Absolute(given, base);
  const fs::path folder = BinaryFolder();
  const fs::path candidates[] = {folder / "aikorvane.so",
                                 (folder / AIKORVANE_BIN_TO_PLUGIN).lexically_normal()};
  std::string tried;
  for (const fs::path& candidate : candidates) {
    if (fs::exists(candidate)) return candidate;
    tried += (tried.empty() ? "" : ", ") + candidate.string();
  }
  error = "no plug-in found (tried " + tried + "); give --plugin";
  return {};
}

int Fail(const std::string& message, int status) {
  std::cerr << "aikorvane-sim: " << message << std::endl;
  return status;
}

void UseUtcUnlessZoneSet() {
  if (std::getenv("TZ") == nullptr) setenv("TZ", "UTC", 1);
  tzset();
}

Host::Host() { curl_global_init(CURL_GLOBAL_DEFAULT); }

Host::~Host() {
  if (receiver_) receiver_->Stop();
  plugin_.reset();
  curl_global_cleanup();
}

std::string Host::Load(const fs::path& plugin) { return plugin_->Load(plugin.string()); }

std::string Host::Load(const std::string& given, const fs::path& base) {
  std::string error;
  const fs::path plugin = FindPlugin(given, base, error);
  return plugin.empty() ? error : Load(plugin);
}

std::unique_ptr<OSKAIDevice> Host::NewDevice(unsigned int data_id, const Json::Value& settings,
                                             std::shared_ptr<sim::EventSink> sink,
                                             std::string& error) {
  std::unique_ptr<OSKAIDevice> device;
  try {
    device.reset(plugin_->Create());
  } catch (const std::exception& thrown) {
    error = std::string("the plug-in's factory failed: ") + thrown.what();
    return nullptr;
  }
  if (!device) {
    error = "the plug-in's factory made no device";
    return nullptr;
  }
  if (sink) sim::SetSink(*device, std::move(sink));
  device->Init(std::weak_ptr<OSKController>(), data_id, settings);
  return device;
}

std::string Host::StartReceiver(RequestSink& sink) {
  receiver_ = std::make_unique<ReportReceiver>(sink);
  std::string error = receiver_->Start();
  if (!error.empty()) return error;
  setenv("AIKORVANE_DISCHARGE_URL", receiver_->Url().c_str(), 1);
  // A proxy configured for the user's shell must not swallow local reports.
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* current = std::getenv(name);
    const std::string value = current != nullptr && *current != '\0'
                                  ? std::string(current) + ",127.0.0.1"
                                  : std::string("127.0.0.1");
    setenv(name, value.c_str(), 1);
  }
  return {};
}

}  // namespace sim::cli
