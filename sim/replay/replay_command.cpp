#include "sim/replay/replay_command.h"

#include <json/writer.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "config/device_contract.h"
#include "sim/host/device_output.h"
#include "sim/host/device_run.h"
#include "sim/host/event_log.h"
#include "sim/host/session.h"
#include "sim/replay/csv_trace.h"
#include "sim/replay/replay.h"
#include "sim/report/plot.h"
#include "sim/report/summary.h"
#include "sim/report/text.h"

namespace sim::cli {
namespace {

// What to replay, with the command line's paths made absolute.
struct Inputs {
  fs::path trace, settings, workdir, csv;
  std::string trace_name;
};

// A folder given as TRACE is a scenario; without TRACE and --settings the
// bundled default scenario is. Recorded data replays through the default
// scenario's settings and profiles unless the user gives his own. Empty
// with the reason in error when the inputs do not fit together.
std::optional<Inputs> ResolveInputs(const ReplayOptions& options, const fs::path& start,
                                    std::string& error) {
  Inputs in;
  in.trace = Absolute(options.trace, start);
  in.settings = Absolute(options.settings, start);
  in.workdir = Absolute(options.workdir, start);
  in.csv = Absolute(options.csv, start);
  in.trace_name = options.trace;
  fs::path scenario;
  if (!in.trace.empty() && fs::is_directory(in.trace)) {
    scenario = in.trace;
  } else if (in.trace.empty() && options.settings.empty()) {
    scenario = ExamplesFolder() / "default";
  }
  if (!in.csv.empty()) {
    if (!in.trace.empty()) {
      error = "give a TRACE or --csv, not both";
      return std::nullopt;
    }
    if (fs::is_directory(in.csv)) {
      error = "--csv " + options.csv + " is a folder, not a CSV file";
      return std::nullopt;
    }
    if (!options.settings.empty()) scenario.clear();
  }
  if (!scenario.empty()) {
    if (in.csv.empty()) {
      in.trace = scenario / "trace.txt";
      in.trace_name = in.trace.string();
    }
    if (in.settings.empty()) in.settings = scenario / "settings.json";
    if (in.workdir.empty()) in.workdir = scenario;
  }
  if (in.settings.empty()) in.settings = ExamplesFolder() / "default" / "settings.json";
  if (in.workdir.empty()) in.workdir = start;
  if (fs::is_directory(in.settings)) {
    error = "--settings " + in.settings.string() + " is a folder, not a settings file";
    return std::nullopt;
  }
  if (in.trace.empty() && in.csv.empty()) {
    error = "nothing to replay: give a TRACE file (or a scenario folder) with --settings";
    return std::nullopt;
  }
  return in;
}

// Opens an output file named on the command line, before anything runs, so
// that a path that cannot be written stops the command at once.
bool OpenOutput(const std::string& option, const std::string& path, const fs::path& start,
                std::ofstream& file, std::string& error) {
  if (path.empty()) return true;
  const fs::path absolute = Absolute(path, start);
  if (fs::is_directory(absolute)) {
    error = "cannot write " + option + " " + path + ": it is a folder";
    return false;
  }
  file.open(absolute, std::ios::binary | std::ios::trunc);
  if (!file) {
    error = "cannot write " + option + " " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

struct Outputs {
  std::ofstream events, plot, device_log;
};

// Configures the device and runs the replay; the summary is the caller's.
// Status 1 when anything failed.
int Replay(const ReplayOptions& options, const Inputs& in, EventLog& log, Analyser& analyser,
           ReportInbox& inbox, Host& host, Json::Value& settings, DeviceState& state,
           SkippedRows& skipped) {
  std::string error;
  if (!ReadSettingsFile(in.settings.string(), settings, error)) return Fail(error);
  error = host.Load(options.plugin, fs::current_path());
  if (!error.empty()) return Fail(error);
  if (!options.no_receiver) {
    error = host.StartReceiver(inbox);
    if (!error.empty()) return Fail(error);
  }
  if (chdir(in.workdir.c_str()) != 0) {
    return Fail("cannot work in " + in.workdir.string() + ": " + std::strerror(errno));
  }
  DeviceRun run({&analyser, &log});
  const InboxAttachment attached(&inbox, run);
  if (!run.Make(host, static_cast<unsigned int>(options.data_id), settings, error)) {
    return Fail(error);
  }
  const SettingsOutcome outcome = run.ApplySettings(settings);
  if (!outcome.accepted) {
    Fail("settings " + in.settings.string() + " not accepted: " + outcome.error);
    return 1;
  }
  // The channel and the plot's thresholds are what the device made of its
  // settings; a device that cannot be read leaves the defaults.
  std::string why;
  if (!ReadDeviceState(*run.device(), state, why)) {
    std::cerr << "aikorvane-sim: " << why << "; channel 1 and no thresholds assumed" << std::endl;
  }
  Replayer replayer(run);
  bool replayed = true;
  for (int pass = 0; pass < options.repeat && replayed; ++pass) {
    replayed = in.csv.empty()
                   ? replayer.Run(in.trace.string(), in.trace_name)
                   : replayer.RunCsv(in.csv.string(), options.csv,
                                     options.channel > 0 ? options.channel : DefaultChannel(state),
                                     options.bad_rows == "skip" ? BadRows::kSkip : BadRows::kFail);
  }
  skipped = replayer.Skipped();
  if (!replayed) std::cerr << "aikorvane-sim: " << replayer.Error() << std::endl;
  return replayed && replayer.Warnings().empty() ? 0 : 1;
}

void WriteSummary(const ReplayOptions& options, const Analysis& analysis,
                  const SkippedRows& skipped, std::ostream& out) {
  if (options.summary_format == "json") {
    Json::Value summary = SummaryJson(analysis);
    if (options.bad_rows == "skip") {
      summary["skipped_rows"] = static_cast<Json::Int64>(skipped.count);
      summary["skipped_first"] = Json::Value(Json::arrayValue);
      for (const std::string& where : skipped.first) summary["skipped_first"].append(where);
    }
    std::size_t repaired = 0;
    out << JsonText(summary, "", &repaired) << std::endl;
    if (repaired > 0) std::cerr << "aikorvane-sim: summary: " << kReplacedNote << std::endl;
  } else {
    out << FormatSummary(analysis);
    if (skipped.count > 0) out << "skipped: " << skipped.Text() << "\n";
    out << std::flush;
  }
}

}  // namespace

int RunReplay(const ReplayOptions& options) {
  const fs::path start = fs::current_path();
  UseUtcUnlessZoneSet();
  std::string error;
  const std::optional<Inputs> in = ResolveInputs(options, start, error);
  if (!in) return Fail(error, 2);
  Outputs files;
  const bool events_to_stdout = options.events == "-";
  if ((!events_to_stdout &&
       !OpenOutput("the event log", options.events, start, files.events, error)) ||
      !OpenOutput("the plot", options.plot, start, files.plot, error) ||
      !OpenOutput("the device log", options.device_log, start, files.device_log, error)) {
    return Fail(error, 2);
  }
  std::ostream& human = events_to_stdout ? std::cerr : std::cout;
  // The device's lines: to the device log, to standard output with -v or
  // with the event log there (interleaved as they happened), else kept.
  std::streambuf* real_stdout = std::cout.rdbuf();
  std::streambuf* device_target = !options.device_log.empty()           ? files.device_log.rdbuf()
                                  : options.verbose || events_to_stdout ? real_stdout
                                                                        : nullptr;
  // Events on standard output go through std::cout, in order with the
  // device's lines, unless those go to their own file.
  std::ostream stdout_direct(real_stdout);
  std::ostream* events_out = events_to_stdout
                                 ? (options.device_log.empty() ? &std::cout : &stdout_direct)
                             : options.events.empty() ? nullptr
                                                      : &files.events;
  auto log = std::make_shared<EventLog>(events_out);
  Json::Value settings;
  DeviceState state;
  int status = 0;
  SkippedRows skipped;
  unsigned long long device_lines = 0;
  Analyser analyser;
  {
    // The inbox outlives the host's receiver, which hands it the requests.
    ReportInbox inbox;
    Host host;
    DeviceOutput device_output(device_target);
    status = Replay(options, *in, *log, analyser, inbox, host, settings, state, skipped);
    device_lines = device_output.Lines();
    if (!device_output.Flush()) status = Fail("cannot write the device log " + options.device_log);
  }
  const Analysis analysis = analyser.Result();
  WriteSummary(options, analysis, skipped, human);
  if (files.plot.is_open()) {
    files.plot << RenderSvg(analysis, CollectThresholds(state, analysis));
    files.plot.close();
    if (!files.plot) return Fail("cannot write the plot " + options.plot);
    human << "plot: " << options.plot << "\n";
  }
  if (files.events.is_open()) {
    files.events.close();
    if (!files.events) return Fail("cannot write the event log " + options.events);
    human << "event log: " << options.events << "\n";
  }
  if (!options.device_log.empty()) {
    human << "device lines: " << device_lines << " in " << options.device_log << "\n";
  } else if (device_target == nullptr && options.summary_format == "text") {
    human << "device lines: " << device_lines << " kept out of the output (-v shows them)\n";
  }
  human << std::flush;
  return status;
}

void AddReplayOptions(CLI::App& app, ReplayOptions& options) {
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
  app.add_option("--plot", options.plot,
                 "draw voltage (lowest and highest per column on long runs), thresholds, alarms "
                 "and reports as SVG");
  app.add_flag("-v,--verbose", options.verbose,
               "show the device's own diagnostic lines on standard output (by default they are "
               "kept in memory and only counted)");
  app.add_option("--device-log", options.device_log,
                 "write the device's own diagnostic lines to FILE, byte for byte")
      ->type_name("FILE");
  app.add_option("--summary-format", options.summary_format,
                 "text (default) or json: the summary as one JSON document")
      ->check(CLI::IsMember({"text", "json"}));
  CLI::Option* csv = app.add_option("--csv", options.csv,
                                    "replay recorded field data instead of a trace: a CSV file "
                                    "with a header line and rows time,value (a \"channel\" "
                                    "column overrides the channel, other columns are ignored); "
                                    "each row is one round at its time on the virtual clock. "
                                    "Without --settings the default scenario's settings and "
                                    "folder are used");
  csv->type_name("FILE");
  app.add_option("--channel", options.channel,
                 "analog input the CSV readings go to, each round being process(" +
                     std::to_string(aikorvane::kChannelSampleBase) +
                     " + N) (default: the device's ai_index_ as its settings leave it, else 1)")
      ->type_name("N")
      ->check(CLI::Range(1, kMaxChannel))
      ->needs(csv);
  app.add_option("--bad-rows", options.bad_rows,
                 "a CSV row that cannot be read (an empty, \"-\" or \"53.5V\" reading, a bad "
                 "time): fail (default) stops the replay at FILE:LINE, skip makes it no round "
                 "and counts it in the summary")
      ->check(CLI::IsMember({"fail", "skip"}))
      ->needs(csv);
}

}  // namespace sim::cli
