#pragma once

// Where the command line reaches the settings check: the check subcommand,
// and the older --check option of the replay.

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "sim/cli/commands.h"
#include "sim/cli/event_log.h"

namespace sim::cli {

void RegisterCheckCommand(CLI::App& app, Action& action);

// --check: one site with text output and a verdict line.
int RunCheckOption(const std::filesystem::path& settings, const std::filesystem::path& workdir,
                   const std::string& plugin, unsigned long long data_id,
                   const std::shared_ptr<EventLog>& log, std::ostream& out);

}  // namespace sim::cli
