#pragma once

// aikorvane-sim test FILE...: runs site test files and says, file by file,
// SUCCESS or FAILED with what differed from what was expected.

#include "sim/cli/commands.h"

namespace sim::cli {

void AddTestCommand(CLI::App& app, Action& action);

}  // namespace sim::cli
