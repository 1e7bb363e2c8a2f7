#pragma once

// What a device run (device_run.h) tells those who follow it: the summary,
// the event log, the site-test comparison, the backtest's tally. Every
// framework call reaches each listener once, already decoded; a listener
// takes what it needs and leaves the rest to the defaults, which do nothing.

#include <json/value.h>

#include <ctime>
#include <string>
#include <vector>

#include "plugin/aikorvane_data.h"
#include "sim/host/host_events.h"

namespace sim::cli {

// What started a round: a sample, or a cache record handed back.
struct RoundCause {
  int line = 0;  // of the trace or CSV file; 0 for none
  short sample = 0;
  const std::vector<unsigned char>* cache = nullptr;  // null for a sample
};

struct RoundBegin {
  int round = 0;
  std::time_t time = 0;   // of the clock the device sees
  bool on_clock = false;  // that clock is a virtual one
  RoundCause cause;
};

// A failure that stopped a round or the input feeding the run.
struct RunError {
  std::string where;  // "process", "LoadFromCache", "trace"
  std::string file;   // the input's name, with line; empty for a round's failure
  int line = 0;
  std::string message;
};

// The outcome of one InitSetting.
struct SettingsOutcome {
  bool accepted = false;
  bool threw = false;
  std::string error;  // why not accepted, as logged
  std::string raw;    // the framework's complaint or the exception's text, possibly empty
};

class RunListener {
 public:
  virtual ~RunListener();

  // True when this listener takes every framework call as its JSON event
  // (FrameworkCall); without one that does, the framework makes none.
  virtual bool WantsEvents() const { return false; }
  // Asked at each round's end: whether Published is to follow.
  virtual bool WantsPublished() const { return false; }

  // extra: fields the event log adds to the settings' event.
  virtual void Configured(const SettingsOutcome&, const Json::Value& /*extra*/) {}
  virtual void RoundBegun(const RoundBegin&) {}
  virtual void RecordSent(const AIKorvane_Data_t&) {}
  virtual void AlarmChecked(const AlarmCall&) {}
  virtual void ValueReported(const std::string& /*signal*/, double /*value*/) {}
  // A request of the report receiver, as its "http" event.
  virtual void DischargeReported(const Json::Value&) {}
  // Any framework call, SendSP with its decoded "record" added.
  virtual void FrameworkCall(const Json::Value&) {}
  virtual void RoundResult(double /*value*/) {}
  virtual void CacheLoaded(bool /*accepted*/) {}
  // The published values at the round's end; never null.
  virtual void Published(const Json::Value&) {}
  virtual void Failed(const RunError&) {}
  virtual void RoundEnded() {}
};

}  // namespace sim::cli
