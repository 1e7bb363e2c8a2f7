#pragma once

// The subcommands of aikorvane-sim. Each registers its options on the app and,
// once the command line names it, sets `action` to the function that runs it
// and returns the exit status. Without a subcommand the command replays a trace.

#include <CLI/CLI.hpp>
#include <functional>

namespace sim::cli {

using Action = std::function<int()>;

}  // namespace sim::cli
