#pragma once

// What every aikorvane-sim command needs around a device: where the plug-in
// and the examples are, the time zone, libcurl and the plug-in loaded the way
// a monitoring host does, the report receiver, and the device's diagnostic
// lines kept out of the user's output.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/framework/sim_framework.h"
#include "sim/host/device_output.h"
#include "sim/host/plugin_host.h"
#include "sim/host/receiver.h"

namespace sim::cli {

namespace fs = std::filesystem;

// A path given on the command line or in a file, made absolute against base;
// empty stays empty.
fs::path Absolute(const std::string& path, const fs::path& base);

// The bundled example scenarios: installed beside the binary, else the source tree's.
fs::path ExamplesFolder();

// The plug-in to load: `given` (against base) when not empty, else the one
// beside this binary, else the installed one. Empty with the reason when none.
fs::path FindPlugin(const std::string& given, const fs::path& base, std::string& error);

// Prints "aikorvane-sim: message" on standard error and returns status.
int Fail(const std::string& message, int status = 1);

// The device stamps its records in local time: UTC unless the user chose a zone.
void UseUtcUnlessZoneSet();

// Empty when TZ is unset or empty, names a zone file (under TZDIR or
// /usr/share/zoneinfo, or a path) or is a POSIX rule ("CET-1CEST,M3.5.0,
// M10.5.0/3"); else why not. The C library takes any other text as UTC
// without a word, which would shift every local time the user gave.
std::string TimeZoneError();

// Library state the simulator sets up for the plug-in: libcurl is a host's to
// initialise, and the plug-in's code must outlive every device, so devices
// made from it are destroyed before the host.
class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Empty on success, else why the plug-in cannot be used.
  std::string Load(const fs::path& plugin);
  // Finds the plug-in (FindPlugin: `given` against base, else beside this
  // binary, else the installed one) and loads it; empty on success, else why
  // not. Every command loads its plug-in through this.
  std::string Load(const std::string& given, const fs::path& base);
  // Starts the discharge report receiver, handing its requests to sink, and
  // points the device's report URL at it. Empty on success, else why not.
  std::string StartReceiver(RequestSink& sink);
  LoadedPlugin& plugin() { return *plugin_; }
  // A further build of the plug-in beside the one loaded, in its own handle;
  // the loaded one itself when plugin names the same file (one file cannot
  // be loaded twice). Null with why when it cannot be used.
  LoadedPlugin* LoadAnother(const fs::path& plugin, std::string& error);
  // A new device of the plug-in `from` (null: the one loaded), its framework
  // calls going to sink (null: recorded nowhere), set up by the framework's
  // Init with data_id and settings. Null, with why, when the factory throws or
  // makes none.
  std::unique_ptr<OSKAIDevice> NewDevice(unsigned int data_id, const Json::Value& settings,
                                         std::shared_ptr<sim::EventSink> sink, std::string& error,
                                         const LoadedPlugin* from = nullptr);

 private:
  std::unique_ptr<LoadedPlugin> plugin_ = std::make_unique<LoadedPlugin>();
  fs::path plugin_path_;
  std::vector<std::pair<fs::path, std::unique_ptr<LoadedPlugin>>> others_;
  std::unique_ptr<ReportReceiver> receiver_;
};

// A device of the loaded plug-in, destroyed through its virtual destructor.
using DevicePtr = std::unique_ptr<OSKAIDevice>;

// The device's diagnostic lines kept out of the user's output.
using StdoutCapture = DeviceOutput;

}  // namespace sim::cli
