#pragma once

// aikorvane-sim backtest: a fleet's recorded history replayed through each
// site's own settings and through changed ones, and what would change.

#include "sim/cli/commands.h"

namespace sim::cli {

void AddBacktestCommand(CLI::App& app, Action& action);

}  // namespace sim::cli
