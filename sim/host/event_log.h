#pragma once

// The simulator's event log: every framework call of the device, every
// request the report receiver gets and every step of the replay, one JSON
// object per line, written and flushed in the order things happen. With no
// file to write and nobody observing, the log makes no JSON event per call:
// the framework hands it the calls the summary needs as they are.

#include <json/value.h>
#include <json/writer.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

#include "sim/report/analysis.h"
#include "sim/host/host_events.h"
#include "sim/framework/sim_framework.h"

namespace sim::cli {

class EventLog : public sim::EventSink {
 public:
  // out may be null: events then only feed the summary.
  explicit EventLog(std::ostream* out);

  // Framework calls of the device.
  void Record(const OSKVDevice& device, Json::Value event) override;
  bool WantsEvents() const override { return detailed_.load(std::memory_order_relaxed); }
  void RecordSent(const OSKVDevice& device, const unsigned char* bytes,
                  unsigned long length) override;
  void AlarmChecked(const OSKVDevice& device, const std::string& first, const std::string& second,
                    const std::string& third, bool condition) override;
  void ValueReported(const OSKVDevice& device, const std::string& signal, float value) override;

  // Everything else (replay steps, receiver requests).
  void Write(Json::Value event);

  // Events written from now on until EndRound belong to this round, which
  // runs at the present time of the (virtual) clock.
  void BeginRound(int round);
  void EndRound();
  int CurrentRound() const;

  // What the events logged so far show.
  Analysis Result() const;

  // Also hands every event, once logged, to observer (empty: nobody). It
  // runs under the log's lock, on the thread that logs, and must not log.
  void Observe(std::function<void(const Json::Value&)> observer);

 private:
  void WriteLocked(Json::Value& event);

  mutable std::mutex mutex_;
  std::ostream* out_;
  std::unique_ptr<Json::StreamWriter> writer_;
  int round_ = 0;
  Analyser analyser_;
  std::function<void(const Json::Value&)> observer_;
  std::atomic<bool> detailed_;
};

}  // namespace sim::cli
