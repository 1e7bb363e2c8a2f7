#pragma once

// aikorvane-sim check: configures a device of the plug-in per site and says
// what it will do with the settings that the engineer may not have meant.

#include <string>

#include "sim/cli/commands.h"

namespace sim::cli {

void AddCheckCommand(CLI::App& app, Action& action);

// The older spelling `aikorvane-sim --check`: one site, given as the replay
// names it (a scenario folder, or --settings and --workdir; without either
// the bundled default scenario), with text output and the verdict line
// "settings accepted: FILE" or "settings refused: FILE: why". The device's
// events go to the event log `events` (a path, "-" for standard output, or
// empty for none). Status 0 when accepted, 1 when refused, 2 for usage errors.
struct OneSiteCheck {
  std::string scenario;  // a folder holding settings.json and ini/
  std::string settings;
  std::string workdir;
  std::string plugin;
  unsigned long long data_id = 1;
  std::string events;
};
int CheckOneSite(const OneSiteCheck& site);

}  // namespace sim::cli
