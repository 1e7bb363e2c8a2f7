// aikorvane-sim: a simulated monitoring host. Loads the real aikorvane.so,
// configures one device, replays a trace of samples through it and shows
// everything the device did: an event log, a summary and optionally a plot.

#include <curl/curl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "sim/cli/event_log.h"
#include "sim/cli/plugin_host.h"
#include "sim/cli/receiver.h"
#include "sim/cli/replay.h"
#include "sim/cli/report.h"
#include "sim/framework/sim_framework.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  std::string trace;
  std::string plugin;
  std::string settings;
  unsigned long long data_id = 1;
  std::string workdir;
  std::string events;
  bool no_receiver = false;
  int repeat = 1;
  std::string plot;
  bool check = false;
};

// Locations relative to the binary: the build tree keeps the plug-in beside
// it; an installed (or relocated) tree keeps plug-in and examples at fixed
// offsets from the binary's folder.
fs::path BinaryFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::current_path() : self.parent_path();
}

fs::path DefaultPlugin(std::string& tried) {
  const fs::path folder = BinaryFolder();
  const fs::path candidates[] = {folder / "aikorvane.so",
                                 (folder / AIKORVANE_BIN_TO_PLUGIN).lexically_normal()};
  for (const fs::path& candidate : candidates) {
    if (fs::exists(candidate)) return candidate;
    tried += (tried.empty() ? "" : ", ") + candidate.string();
  }
  return {};
}

fs::path ExamplesFolder() {
  const fs::path installed = (BinaryFolder() / AIKORVANE_BIN_TO_EXAMPLES).lexically_normal();
  if (fs::is_directory(installed)) return installed;
  return AIKORVANE_SOURCE_EXAMPLES;
}

fs::path Absolute(const std::string& path, const fs::path& base) {
  return path.empty() ? fs::path() : (base / path).lexically_normal();
}

int Fail(const std::string& message, int status = 1) {
  std::cerr << "aikorvane-sim: " << message << std::endl;
  return status;
}

// Library state the simulator sets up for the plug-in: libcurl is a host's
// to initialise, and the plug-in's code must outlive every device.
class Host {
 public:
  Host() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~Host() {
    delete device;
    if (receiver) receiver->Stop();
    plugin.reset();
    curl_global_cleanup();
  }
  std::unique_ptr<sim::cli::LoadedPlugin> plugin = std::make_unique<sim::cli::LoadedPlugin>();
  std::unique_ptr<sim::cli::ReportReceiver> receiver;
  OSKAIDevice* device = nullptr;
};

int Run(const Options& options) {
  const fs::path start = fs::current_path();
  // The device stamps its records in local time: make that UTC unless the
  // user chose a zone.
  if (std::getenv("TZ") == nullptr) setenv("TZ", "UTC", 1);
  tzset();

  // Which scenario: a folder given as TRACE, or the bundled default.
  fs::path trace = Absolute(options.trace, start);
  fs::path settings_path = Absolute(options.settings, start);
  fs::path workdir = Absolute(options.workdir, start);
  std::string trace_name = options.trace;
  fs::path scenario;
  if (!trace.empty() && fs::is_directory(trace)) {
    scenario = trace;
  } else if (trace.empty() && options.settings.empty()) {
    scenario = ExamplesFolder() / "default";
  }
  if (!scenario.empty()) {
    trace = scenario / "trace.txt";
    trace_name = trace.string();
    if (settings_path.empty()) settings_path = scenario / "settings.json";
    if (workdir.empty()) workdir = scenario;
  }
  if (settings_path.empty()) settings_path = ExamplesFolder() / "default" / "settings.json";
  if (workdir.empty()) workdir = start;
  if (trace.empty() && !options.check) {
    return Fail("nothing to replay: give a TRACE file (or a scenario folder) with --settings", 2);
  }

  Json::Value settings;
  std::string error;
  if (!sim::cli::ReadSettingsFile(settings_path.string(), settings, error)) return Fail(error);

  std::ofstream events_file;
  std::ostream* events_out = nullptr;
  const bool events_to_stdout = options.events == "-";
  if (events_to_stdout) {
    events_out = &std::cout;
  } else if (!options.events.empty()) {
    events_file.open(Absolute(options.events, start), std::ios::binary | std::ios::trunc);
    if (!events_file) {
      return Fail("cannot write the event log " + options.events + ": " + std::strerror(errno));
    }
    events_out = &events_file;
  }
  std::ostream& human = events_to_stdout ? std::cerr : std::cout;
  auto log = std::make_shared<sim::cli::EventLog>(events_out);

  fs::path plugin_path = Absolute(options.plugin, start);
  if (plugin_path.empty()) {
    std::string tried;
    plugin_path = DefaultPlugin(tried);
    if (plugin_path.empty()) return Fail("no plug-in found (tried " + tried + "); give --plugin");
  }

  Host host;
  error = host.plugin->Load(plugin_path.string());
  if (!error.empty()) return Fail(error);

  if (!options.no_receiver && !options.check) {
    host.receiver = std::make_unique<sim::cli::ReportReceiver>(*log);
    error = host.receiver->Start();
    if (!error.empty()) return Fail(error);
    setenv("AIKORVANE_DISCHARGE_URL", host.receiver->Url().c_str(), 1);
    // A proxy configured for the user's shell must not swallow local reports.
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
      const char* current = std::getenv(name);
      const std::string value = current != nullptr && *current != '\0'
                                    ? std::string(current) + ",127.0.0.1"
                                    : std::string("127.0.0.1");
      setenv(name, value.c_str(), 1);
    }
  }

  if (chdir(workdir.c_str()) != 0) {
    return Fail("cannot work in " + workdir.string() + ": " + std::strerror(errno));
  }

  try {
    host.device = host.plugin->Create();
  } catch (const std::exception& thrown) {
    return Fail(std::string("the plug-in's factory failed: ") + thrown.what());
  }
  if (host.device == nullptr) return Fail("the plug-in's factory made no device");
  sim::SetSink(*host.device, log);
  host.device->Init(std::weak_ptr<OSKController>(), static_cast<unsigned int>(options.data_id),
                    settings);

  const bool accepted =
      sim::cli::ApplySettings(*host.device, *log, settings, Json::Value(Json::objectValue), error);
  if (options.check) {
    human << (accepted ? "settings accepted: " : "settings refused: ") << settings_path.string();
    if (!accepted) human << ": " << error;
    human << std::endl;
    return accepted ? 0 : 1;
  }
  if (!accepted) {
    Fail("settings " + settings_path.string() + " not accepted: " + error);
    human << sim::cli::FormatSummary(log->Result()) << std::flush;
    return 1;
  }

  sim::cli::Replayer replayer(*host.device, *log);
  bool replayed = true;
  for (int pass = 0; pass < options.repeat && replayed; ++pass) {
    replayed = replayer.Run(trace.string(), trace_name);
  }
  if (!replayed) std::cerr << "aikorvane-sim: " << replayer.Error() << std::endl;

  const sim::cli::Analysis analysis = log->Result();
  human << sim::cli::FormatSummary(analysis) << std::flush;

  if (!options.plot.empty()) {
    std::ofstream plot(Absolute(options.plot, start), std::ios::binary | std::ios::trunc);
    plot << sim::cli::RenderSvg(analysis,
                                sim::cli::CollectThresholds(settings, analysis.alarm_names));
    if (!plot) return Fail("cannot write the plot " + options.plot);
  }
  return replayed && replayer.Warnings().empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Simulated monitoring host: loads aikorvane.so, configures one device and replays a trace "
      "of samples through it.\nWith no TRACE and no --settings it replays the bundled default "
      "scenario. TRACE may also name a scenario folder (settings.json, trace.txt, ini/).",
      "aikorvane-sim"};
  Options options;
  app.add_option("TRACE", options.trace, "trace file to replay, or a scenario folder");
  app.add_option("--plugin", options.plugin,
                 "plug-in to load (default: beside this binary, then the installed one)");
  app.add_option("--settings", options.settings,
                 "the device's JSON settings (default: the bundled example's)");
  app.add_option("--data-id", options.data_id, "the device's data id (default 1)")
      ->check(CLI::Range(0ULL, 4294967295ULL));
  app.add_option("--workdir", options.workdir,
                 "directory the device runs in; profiles are found under DIR/ini/ (default: the "
                 "current directory, or the scenario folder)");
  app.add_option("--events", options.events, "write the event log as JSON Lines (- for stdout)");
  app.add_flag("--no-receiver", options.no_receiver,
               "do not start the built-in discharge report receiver");
  app.add_option("--repeat", options.repeat, "replay the trace N times (default 1)")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--plot", options.plot, "draw voltage, thresholds, alarms and reports as SVG");
  app.add_flag("--check", options.check,
               "only load the plug-in and run InitSetting: say whether the settings and profile "
               "are accepted");
  app.set_help_all_flag("--help-all", "Print the help of every subcommand too and exit");
  app.set_version_flag("--version", std::string("aikorvane-sim ") + AIKORVANE_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version end here too, with status 0.
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  try {
    return Run(options);
  } catch (const std::exception& thrown) {
    return Fail(thrown.what());
  }
}
