#pragma once

// Replays a trace through one device: runs each directive as it is read, so
// that everything done before a bad line is already in the event log.

#include <json/value.h>

#include <string>
#include <vector>

#include "host/osk_ai_device.h"
#include "sim/host/event_log.h"

namespace sim::cli {

// Reads a JSON settings object; false with the reason when it cannot.
bool ReadSettingsFile(const std::string& path, Json::Value& settings, std::string& error);

// Calls InitSetting and logs the outcome: {"event":"InitSetting"} with the
// result (and the framework's reason when false), or {"event":"error"} when
// it throws. extra fields are added to the logged event. Returns false when
// the settings were refused or threw; error then says why.
bool ApplySettings(OSKAIDevice& device, EventLog& log, const Json::Value& settings,
                   const Json::Value& extra, std::string& error);

class Replayer {
 public:
  Replayer(OSKAIDevice& device, EventLog& log) : device_(device), log_(log) {}

  // Runs the trace once (call again for --repeat). false when the replay had
  // to stop; the message (already logged) is in Error().
  bool Run(const std::string& trace_path, const std::string& display_name);
  const std::string& Error() const { return error_; }

  // One round process(20000 + channel) with ReadAi(channel) returning
  // reading; line (when above 0) names the line of the file it came from.
  // false when the round threw (the message is in Error()).
  bool RunChannelRound(int channel, float reading, int line = 0);
  // Replays recorded field data (csv_trace.h): each row is one round at its
  // time on the virtual clock, on the row's channel or else on channel.
  // false when a row is bad or a round threw: rows before it have run, none
  // after it.
  bool RunCsv(const std::string& path, const std::string& display_name, int channel);
  // Problems the replay went on after (settings refused in a trace).
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  // What started a round, for its "round" event: a sample or a cache record.
  struct Cause {
    int line = 0;  // of the trace or CSV file; 0 for none
    short sample = 0;
    const std::vector<unsigned char>* bytes = nullptr;  // a cache record
  };
  static Json::Value CauseEvent(const Cause& cause);

  bool Fail(const std::string& where, int line, const std::string& message);
  bool RunRound(const Cause& cause);
  bool RunCacheRound(const Cause& cause);
  void EndRound();
  // Ends a round that ran `where`: logs the error it raised, if any.
  bool FinishRound(const char* where);

  OSKAIDevice& device_;
  EventLog& log_;
  int round_ = 0;
  std::string error_;
  std::vector<std::string> warnings_;
};

}  // namespace sim::cli
