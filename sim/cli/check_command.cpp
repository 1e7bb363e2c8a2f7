#include "sim/cli/check_command.h"

#include "sim/cli/check.h"

namespace sim::cli {

void RegisterCheckCommand(CLI::App& app, Action& action) { AddCheckCommand(app, action); }

int RunCheckOption(const std::filesystem::path& settings, const std::filesystem::path& workdir,
                   const std::string& plugin, unsigned long long data_id,
                   const std::shared_ptr<EventLog>& log, std::ostream& out) {
  return CheckOneSite(settings, workdir, plugin, data_id, log, out);
}

}  // namespace sim::cli
