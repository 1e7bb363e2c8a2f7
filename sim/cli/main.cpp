// aikorvane-sim: a simulated monitoring host. Loads the real aikorvane.so,
// configures one device, replays a trace of samples through it and shows
// what the device did: a summary, and on request an event log, a plot and
// the device's own lines. This file only reads the command line and hands it
// to the command it names.

#include <CLI/CLI.hpp>
#include <exception>
#include <new>
#include <string>

#include "sim/backtest/backtest_command.h"
#include "sim/check/check_command.h"
#include "sim/cli/commands.h"
#include "sim/host/session.h"
#include "sim/replay/replay_command.h"
#include "sim/sitetests/sitetests_command.h"

using namespace sim::cli;

int main(int argc, char** argv) {
  CLI::App app{
      "Simulated monitoring host: loads aikorvane.so, configures one device and replays a trace "
      "of samples through it.\nWith no TRACE and no --settings it replays the bundled default "
      "scenario. TRACE may also name a scenario folder (settings.json, trace.txt, ini/). A "
      "replay prints its summary, its errors and the paths it wrote; the device's own lines "
      "are shown with -v or written with --device-log.",
      "aikorvane-sim"};
  ReplayOptions options;
  AddReplayOptions(app, options);
  app.set_help_all_flag("--help-all", "Print the help of every subcommand too and exit");
  app.set_version_flag("--version", std::string("aikorvane-sim ") + AIKORVANE_VERSION);
  // `--check` is the older spelling of the check subcommand for one site,
  // named as the replay names it.
  bool check_one_site = false;
  CLI::Option* check_flag = app.add_flag(
      "--check", check_one_site,
      "check the settings of one site (as the check command does, with text output) and say "
      "whether the settings and profile are accepted");
  for (const char* replay_only :
       {"--csv", "--plot", "--repeat", "--device-log", "--summary-format"}) {
    check_flag->excludes(app.get_option(replay_only));
  }
  // Without a subcommand: replay a trace.
  Action action = [&] {
    if (!check_one_site) return RunReplay(options);
    return CheckOneSite(OneSiteCheck{options.trace, options.settings, options.workdir,
                                     options.plugin, options.data_id, options.events});
  };
  AddCheckCommand(app, action);
  AddTestCommand(app, action);
  AddBacktestCommand(app, action);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version end here too, with status 0.
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  // Every command reads or writes local times: a zone the C library cannot
  // read would make them UTC without a word.
  if (const std::string zone = TimeZoneError(); !zone.empty()) return Fail(zone, 2);
  try {
    return action();
  } catch (const std::bad_alloc&) {
    // Inputs are read within bounds; what is left is a machine short of memory.
    return Fail("out of memory");
  } catch (const std::exception& thrown) {
    return Fail(thrown.what());
  }
}
