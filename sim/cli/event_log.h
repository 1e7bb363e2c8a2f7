#pragma once

// The simulator's event log: every framework call of the device, every
// request the report receiver gets and every step of the replay, one JSON
// object per line, written and flushed in the order things happen.

#include <json/value.h>
#include <json/writer.h>

#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

#include "sim/cli/report.h"
#include "sim/framework/sim_framework.h"

namespace sim::cli {

class EventLog : public sim::EventSink {
 public:
  // out may be null: events then only feed the summary.
  explicit EventLog(std::ostream* out);

  // Framework calls of the device.
  void Record(const OSKVDevice& device, Json::Value event) override;
  // Everything else (replay steps, receiver requests).
  void Write(Json::Value event);

  // Events written from now on until EndRound belong to this round.
  void BeginRound(int round);
  void EndRound();
  int CurrentRound() const;

  // What the events logged so far show.
  Analysis Result() const;

  // Also hands every event, once logged, to observer (empty: nobody). It
  // runs under the log's lock, on the thread that logs, and must not log.
  void Observe(std::function<void(const Json::Value&)> observer);

 private:
  mutable std::mutex mutex_;
  std::ostream* out_;
  std::unique_ptr<Json::StreamWriter> writer_;
  int round_ = 0;
  Analyser analyser_;
  std::function<void(const Json::Value&)> observer_;
};

// The 15-byte data record from its upper- or lower-case hexadecimal text, as
// {"data_id", "voltage", "year", "month", "day", "hour", "minute", "second"};
// null when the text does not hold exactly 15 bytes.
Json::Value DecodeRecord(const std::string& hex);

// Bytes from hexadecimal text; false when the text is not an even number of
// hexadecimal digits.
bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes);

}  // namespace sim::cli
