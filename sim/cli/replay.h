#pragma once

// Replays a trace through one device: runs each directive as it is read, so
// that everything done before a bad line is already in the event log.

#include <json/value.h>

#include <string>
#include <vector>

#include "host/osk_ai_device.h"
#include "sim/cli/event_log.h"

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
  // reading; cause holds extra fields of the round event. false when the
  // round threw (the message is in Error()).
  bool RunChannelRound(int channel, float reading, Json::Value cause);
  // Replays recorded field data (csv_trace.h): each row is one round at its
  // time on the virtual clock, on the row's channel or else on channel.
  // false when a row is bad or a round threw: rows before it have run, none
  // after it.
  bool RunCsv(const std::string& path, const std::string& display_name, int channel);
  // Problems the replay went on after (settings refused in a trace).
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  bool Fail(const std::string& where, int line, const std::string& message);
  bool RunRound(const Json::Value& cause, short sample);
  bool RunCacheRound(const Json::Value& cause, const std::vector<unsigned char>& bytes);
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
