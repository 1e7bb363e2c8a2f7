#pragma once

// Replays a trace through one device run: runs each directive as it is
// read, so that everything done before a bad line is already in the event
// log.

#include <json/value.h>

#include <string>
#include <vector>

#include "sim/host/device_run.h"
#include "sim/replay/csv_trace.h"
#include "sim/replay/trace.h"

namespace sim::cli {

// Reads a JSON settings object; false with the reason when it cannot.
bool ReadSettingsFile(const std::string& path, Json::Value& settings, std::string& error);

// Feeds a device run from a trace or from recorded field data.
class Replayer {
 public:
  explicit Replayer(DeviceRun& run) : run_(run) {}

  // Runs the trace once (call again for --repeat). false when the replay had
  // to stop; the message (already told to the run's listeners) is in Error().
  bool Run(const std::string& trace_path, const std::string& display_name);
  const std::string& Error() const { return error_; }

  // Replays recorded field data (csv_trace.h): each row is one round at its
  // time on the virtual clock, on the row's channel or else on channel.
  // false when a row is bad or a round threw: rows before it have run, none
  // after it.
  // Under BadRows::kSkip a row that cannot be read is no round and is counted
  // in Skipped().
  bool RunCsv(const std::string& path, const std::string& display_name, int channel,
              BadRows bad_rows = BadRows::kFail);
  const SkippedRows& Skipped() const { return skipped_; }
  // Problems the replay went on after (settings refused in a trace).
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  bool Fail(const std::string& where, int line, const std::string& message);
  // A round that ran; false with its error when it threw.
  bool Ran(bool ran);
  bool Apply(const std::string& folder, const Directive& directive, const std::string& name,
             int line);

  DeviceRun& run_;
  std::string error_;
  std::vector<std::string> warnings_;
  SkippedRows skipped_;
};

}  // namespace sim::cli
