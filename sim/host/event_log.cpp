#include "sim/host/event_log.h"

#include <json/writer.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/framework/sim_framework.h"
#include "sim/report/text.h"

namespace sim::cli {

EventLog::EventLog(std::ostream* out) : out_(out) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  // Floats reach the log widened to double; 17 digits keep that double exact.
  builder["precision"] = 17;
  writer_.reset(builder.newStreamWriter());
}

void EventLog::Configured(const SettingsOutcome& outcome, const Json::Value& extra) {
  if (out_ == nullptr) return;
  Json::Value event(Json::objectValue);
  for (const std::string& name : extra.getMemberNames()) event[name] = extra[name];
  if (outcome.threw) {
    event["event"] = "error";
    event["where"] = "InitSetting";
    event["message"] = outcome.error;
  } else {
    event["event"] = "InitSetting";
    event["result"] = outcome.accepted;
    if (!outcome.accepted) event["error"] = outcome.error;
  }
  Write(event);
}

void EventLog::RoundBegun(const RoundBegin& begin) {
  round_ = begin.round;
  if (out_ == nullptr) return;
  Json::Value event(Json::objectValue);
  event["event"] = "round";
  const RoundCause& cause = begin.cause;
  if (cause.line > 0) event["line"] = cause.line;
  if (cause.cache != nullptr) {
    event["cause"] = "cache";
    event["bytes"] = sim::Hex(cause.cache->data(), cause.cache->size());
  } else {
    event["cause"] = "sample";
    event["sample"] = cause.sample;
  }
  Write(event);
}

void EventLog::DischargeReported(const Json::Value& request) {
  if (out_ != nullptr) Write(request);
}

void EventLog::FrameworkCall(const Json::Value& event) {
  if (out_ != nullptr) Write(event);
}

void EventLog::RoundResult(double value) {
  if (out_ == nullptr) return;
  Json::Value event(Json::objectValue);
  event["event"] = "result";
  event["value"] = value;
  Write(event);
}

void EventLog::CacheLoaded(bool accepted) {
  if (out_ == nullptr) return;
  Json::Value event(Json::objectValue);
  event["event"] = "LoadFromCache";
  event["result"] = accepted;
  Write(event);
}

void EventLog::Published(const Json::Value& values) {
  if (out_ == nullptr) return;
  Json::Value event(Json::objectValue);
  event["event"] = "published";
  event["values"] = values;
  Write(event);
}

void EventLog::Failed(const RunError& error) {
  if (out_ == nullptr) return;
  Json::Value event(Json::objectValue);
  event["event"] = "error";
  event["where"] = error.where;
  if (!error.file.empty()) {
    event["file"] = error.file;
    event["line"] = error.line;
  }
  event["message"] = error.message;
  Write(event);
}

void EventLog::Write(const Json::Value& event) {
  if (!HoldsValidUtf8(event)) {
    Json::Value repaired = event;
    RepairUtf8(repaired);
    if (!repaired_) std::cerr << "aikorvane-sim: event log: " << kReplacedNote << std::endl;
    repaired_ = true;
    Write(repaired);
    return;
  }
  // The library writes members in name order; put "event" and "round"
  // first so that a line reads from what happened.
  std::vector<std::string> names = event.getMemberNames();
  const bool numbered = round_ > 0 && !event.isMember("round");
  if (numbered) names.push_back("round");
  std::stable_partition(names.begin(), names.end(),
                        [](const std::string& name) { return name == "event" || name == "round"; });
  std::ostringstream line;
  line << '{';
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) line << ',';
    writer_->write(Json::Value(names[i]), &line);
    line << ':';
    writer_->write(numbered && names[i] == "round" ? Json::Value(round_) : event[names[i]], &line);
  }
  line << "}\n";
  *out_ << line.str();
  out_->flush();
}

}  // namespace sim::cli
