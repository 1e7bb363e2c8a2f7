#include "sim/host/session.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
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

namespace {

// A POSIX TZ rule read from text[pos]: each part moves pos past what it read.
class TzRule {
 public:
  explicit TzRule(const std::string& text) : text_(text) {}

  // std offset [dst [offset] [,start[/time],end[/time]]]
  bool Valid() {
    if (!Name() || !Offset(24)) return false;
    if (pos_ == text_.size()) return true;
    if (!Name()) return false;
    if (pos_ < text_.size() && text_[pos_] != ',' && !Offset(24)) return false;
    if (pos_ == text_.size()) return true;
    return Take(',') && Date() && Take(',') && Date() && pos_ == text_.size();
  }

 private:
  bool Take(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool Number(int low, int high, int& out) {
    const size_t start = pos_;
    out = 0;
    while (pos_ < text_.size() && pos_ - start < 3 &&
           std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      out = out * 10 + (text_[pos_++] - '0');
    }
    return pos_ > start && out >= low && out <= high;
  }
  // "CET", or "<+03>" for names that are not letters.
  bool Name() {
    const size_t start = pos_;
    if (Take('<')) {
      while (pos_ < text_.size() && text_[pos_] != '>') {
        const char c = text_[pos_++];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-') return false;
      }
      return pos_ - start >= 4 && Take('>');
    }
    while (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    return pos_ - start >= 3;
  }
  // [+-]hh[:mm[:ss]]
  bool Offset(int hours) {
    if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
    int part = 0;
    if (!Number(0, hours, part)) return false;
    for (int i = 0; i < 2 && Take(':'); ++i) {
      if (!Number(0, 59, part)) return false;
    }
    return true;
  }
  // Jn, n or Mm.w.d, then an optional /time.
  bool Date() {
    int part = 0;
    if (Take('J')) {
      if (!Number(1, 365, part)) return false;
    } else if (Take('M')) {
      if (!Number(1, 12, part) || !Take('.') || !Number(1, 5, part) || !Take('.') ||
          !Number(0, 6, part)) {
        return false;
      }
    } else if (!Number(0, 365, part)) {
      return false;
    }
    return !Take('/') || Offset(167);
  }

  const std::string& text_;
  size_t pos_ = 0;
};

bool ZoneFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, sizeof magic) && std::string(magic, sizeof magic) == "TZif";
}

}  // namespace

std::string TimeZoneError() {
  const char* value = std::getenv("TZ");
  if (value == nullptr || *value == '\0') return {};
  std::string name = value;
  const bool file_only = name[0] == ':';
  if (file_only) name.erase(0, 1);
  const char* folder = std::getenv("TZDIR");
  const fs::path zones = folder != nullptr && *folder != '\0' ? folder : "/usr/share/zoneinfo";
  const fs::path file = !name.empty() && name[0] == '/' ? fs::path(name) : zones / name;
  if (!name.empty() && name.find("..") == std::string::npos && ZoneFile(file)) return {};
  if (!file_only && TzRule(name).Valid()) return {};
  // Without zone files (no tzdata) the C library still reads these as UTC.
  if (name == "UTC" || name == "GMT") return {};
  return "TZ \"" + std::string(value) + "\" names no time zone (no zone file " + file.string() +
         ") and is no POSIX rule such as \"CET-1CEST,M3.5.0,M10.5.0/3\": give a zone such as "
         "Europe/Berlin, or leave TZ unset for UTC";
}

void UseUtcUnlessZoneSet() {
  if (std::getenv("TZ") == nullptr) setenv("TZ", "UTC", 1);
  tzset();
}

Host::Host() { curl_global_init(CURL_GLOBAL_DEFAULT); }

Host::~Host() {
  if (receiver_) receiver_->Stop();
  others_.clear();
  plugin_.reset();
  curl_global_cleanup();
}

namespace {

// The file itself, whichever path names it: the dynamic loader keeps one
// copy of a file however it is named.
fs::path SameFile(const fs::path& path) {
  std::error_code failure;
  const fs::path canonical = fs::canonical(path, failure);
  return failure ? path : canonical;
}

}  // namespace

std::string Host::Load(const fs::path& plugin) {
  plugin_path_ = SameFile(plugin);
  return plugin_->Load(plugin.string());
}

LoadedPlugin* Host::LoadAnother(const fs::path& plugin, std::string& error) {
  const fs::path file = SameFile(plugin);
  if (file == plugin_path_) return plugin_.get();
  for (auto& [path, loaded] : others_) {
    if (path == file) return loaded.get();
  }
  auto loaded = std::make_unique<LoadedPlugin>();
  error = loaded->Load(plugin.string());
  if (!error.empty()) return nullptr;
  others_.emplace_back(file, std::move(loaded));
  return others_.back().second.get();
}

std::string Host::Load(const std::string& given, const fs::path& base) {
  std::string error;
  const fs::path plugin = FindPlugin(given, base, error);
  return plugin.empty() ? error : Load(plugin);
}

std::unique_ptr<OSKAIDevice> Host::NewDevice(unsigned int data_id, const Json::Value& settings,
                                             std::shared_ptr<sim::EventSink> sink,
                                             std::string& error, const LoadedPlugin* from) {
  std::unique_ptr<OSKAIDevice> device;
  try {
    device.reset((from != nullptr ? from : plugin_.get())->Create());
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
