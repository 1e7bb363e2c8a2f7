#pragma once

// The command without a subcommand: replay a trace (or recorded CSV data)
// through one device and print the summary; the device's own lines are kept
// in memory unless -v or --device-log asks for them.

#include <string>

#include "sim/cli/commands.h"

namespace sim::cli {

struct ReplayOptions {
  std::string trace;
  std::string plugin;
  std::string settings;
  unsigned long long data_id = 1;
  std::string workdir;
  std::string events;
  bool no_receiver = false;
  int repeat = 1;
  std::string plot;
  std::string csv;
  int channel = 0;
  bool verbose = false;
  std::string device_log;
  std::string summary_format = "text";
  std::string bad_rows = "fail";  // of --csv: "fail" or "skip"
};

// Registers the replay's options on the command itself.
void AddReplayOptions(CLI::App& app, ReplayOptions& options);

int RunReplay(const ReplayOptions& options);

}  // namespace sim::cli
