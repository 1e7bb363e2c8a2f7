#pragma once

// aikorvane-sim check: configures a device of the plug-in per site and says
// what it will do with the settings that the engineer may not have meant.

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "sim/cli/commands.h"
#include "sim/host/event_log.h"

namespace sim::cli {

void AddCheckCommand(CLI::App& app, Action& action);

// The older --check option: one site with text output, the device's events
// logged into log, and the verdict line "settings accepted: FILE" or
// "settings refused: FILE: why". Status 0 when accepted, else 1.
int CheckOneSite(const std::filesystem::path& settings, const std::filesystem::path& workdir,
                 const std::string& plugin, unsigned long long data_id,
                 const std::shared_ptr<EventLog>& log, std::ostream& out);

}  // namespace sim::cli
