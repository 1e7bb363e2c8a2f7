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

#include "sim/cli/check.h"
#include "sim/cli/commands.h"
#include "sim/cli/csv_trace.h"
#include "sim/cli/event_log.h"
#include "sim/cli/plugin_host.h"
#include "sim/cli/receiver.h"
#include "sim/cli/replay.h"
#include "sim/cli/report.h"
#include "sim/cli/session.h"
#include "sim/cli/site_test.h"
#include "sim/framework/sim_framework.h"

using namespace sim::cli;

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
  std::string csv;
  int channel = 0;
};

int Run(const Options& options) {
  const fs::path start = fs::current_path();
  UseUtcUnlessZoneSet();

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
  const fs::path csv = Absolute(options.csv, start);
  if (!csv.empty()) {
    if (!trace.empty()) return Fail("give a TRACE or --csv, not both", 2);
    // Recorded data replays through the default scenario's settings and
    // profiles unless the user gives his own.
    if (!options.settings.empty()) scenario.clear();
  }
  if (!scenario.empty()) {
    if (csv.empty()) {
      trace = scenario / "trace.txt";
      trace_name = trace.string();
    }
    if (settings_path.empty()) settings_path = scenario / "settings.json";
    if (workdir.empty()) workdir = scenario;
  }
  if (settings_path.empty()) settings_path = ExamplesFolder() / "default" / "settings.json";
  if (workdir.empty()) workdir = start;
  if (trace.empty() && csv.empty() && !options.check) {
    return Fail("nothing to replay: give a TRACE file (or a scenario folder) with --settings", 2);
  }

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
  if (options.check) {
    return CheckOneSite(settings_path, workdir, options.plugin, options.data_id, log, human);
  }

  Json::Value settings;
  std::string error;
  if (!sim::cli::ReadSettingsFile(settings_path.string(), settings, error)) return Fail(error);

  const fs::path plugin_path = FindPlugin(options.plugin, start, error);
  if (plugin_path.empty()) return Fail(error);

  Host host;
  error = host.Load(plugin_path);
  if (!error.empty()) return Fail(error);

  if (!options.no_receiver) {
    error = host.StartReceiver(*log);
    if (!error.empty()) return Fail(error);
  }

  if (chdir(workdir.c_str()) != 0) {
    return Fail("cannot work in " + workdir.string() + ": " + std::strerror(errno));
  }

  DevicePtr device =
      host.NewDevice(static_cast<unsigned int>(options.data_id), settings, log, error);
  if (!device) return Fail(error);

  const bool accepted =
      sim::cli::ApplySettings(*device, *log, settings, Json::Value(Json::objectValue), error);
  if (!accepted) {
    Fail("settings " + settings_path.string() + " not accepted: " + error);
    human << sim::cli::FormatSummary(log->Result()) << std::flush;
    return 1;
  }

  sim::cli::Replayer replayer(*device, *log);
  bool replayed = true;
  for (int pass = 0; pass < options.repeat && replayed; ++pass) {
    replayed = csv.empty() ? replayer.Run(trace.string(), trace_name)
                           : replayer.RunCsv(
                                 csv.string(), options.csv,
                                 options.channel > 0 ? options.channel : DefaultChannel(settings));
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
               "check the settings of one site (as the check command does, with text output) "
               "and say whether the settings and profile are accepted");
  CLI::Option* csv = app.add_option("--csv", options.csv,
                                    "replay recorded field data instead of a trace: a CSV file "
                                    "with a header line and rows time,value (a \"channel\" "
                                    "column overrides the channel, other columns are ignored); "
                                    "each row is one round at its time on the virtual clock. "
                                    "Without --settings the default scenario's settings and "
                                    "folder are used");
  csv->type_name("FILE");
  app.add_option("--channel", options.channel,
                 "analog input the CSV readings go to, each round being process(20000 + N) "
                 "(default: the settings' ai_index, else 1)")
      ->type_name("N")
      ->check(CLI::Range(1, kMaxChannel))
      ->needs(csv);
  app.set_help_all_flag("--help-all", "Print the help of every subcommand too and exit");
  app.set_version_flag("--version", std::string("aikorvane-sim ") + AIKORVANE_VERSION);
  // Without a subcommand: replay a trace.
  Action action = [&options] { return Run(options); };
  AddCheckCommand(app, action);
  AddTestCommand(app, action);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version end here too, with status 0.
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  try {
    return action();
  } catch (const std::exception& thrown) {
    return Fail(thrown.what());
  }
}
