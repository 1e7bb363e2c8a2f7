#pragma once

// Discharge reports of many devices arrive at one receiver; the "Device_ID="
// of each report's body names the device, so every device of a backtest gets
// a data id of its own.

#include <json/value.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/host/receiver.h"

namespace sim::cli {

class ReportRouter : public RequestSink {
 public:
  // A data id no other device of this process has.
  unsigned int NewDevice();
  void Forget(unsigned int data_id);
  // Takes an event of the receiver's log and keeps it for the device its
  // body names.
  void Receive(const Json::Value& event);
  void Received(Json::Value request) override { Receive(request); }
  // The device's report events since the last call, in order.
  std::vector<Json::Value> Take(unsigned int data_id);

 private:
  std::mutex mutex_;
  // Reports are rare and every round asks: a round without one takes no lock
  // that the other threads' rounds take too.
  std::atomic<long> pending_{0};
  unsigned int next_ = 1;
  std::map<unsigned int, std::vector<Json::Value>> reports_;
};

}  // namespace sim::cli
