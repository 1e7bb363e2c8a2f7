#pragma once

// The simulator's event log: every framework call of the device, every
// request the report receiver gets and every step of the run, one JSON
// object per line, written and flushed in the order things happen. A log
// with no file to write is a listener that does nothing, and then the
// framework makes no JSON event at all.

#include <json/value.h>
#include <json/writer.h>

#include <memory>
#include <ostream>

#include "sim/host/run_listener.h"

namespace sim::cli {

class EventLog : public RunListener {
 public:
  // out may be null: nothing is written.
  explicit EventLog(std::ostream* out);

  bool WantsEvents() const override { return out_ != nullptr; }
  bool WantsPublished() const override { return out_ != nullptr; }
  void Configured(const SettingsOutcome& outcome, const Json::Value& extra) override;
  void RoundBegun(const RoundBegin& begin) override;
  void DischargeReported(const Json::Value& request) override;
  void FrameworkCall(const Json::Value& event) override;
  void RoundResult(double value) override;
  void CacheLoaded(bool accepted) override;
  void Published(const Json::Value& values) override;
  void Failed(const RunError& error) override;
  void RoundEnded() override { round_ = 0; }

 private:
  // One line; events within a round get its number.
  void Write(const Json::Value& event);

  std::ostream* out_;
  std::unique_ptr<Json::StreamWriter> writer_;
  int round_ = 0;
  bool repaired_ = false;  // the note on texts that are no UTF-8 given once
};

}  // namespace sim::cli
