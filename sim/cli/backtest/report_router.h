#pragma once

// Discharge reports of many devices arrive at one receiver; the "Device_ID="
// of each report's body names the device, so every device of a backtest gets
// a data id of its own.

#include <json/value.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim::cli {

class ReportRouter {
 public:
  // A data id no other device of this process has.
  unsigned int NewDevice();
  void Forget(unsigned int data_id);
  // Takes an event of the receiver's log; keeps the Play value of a report.
  void Receive(const Json::Value& event);
  // The Play values of the device's reports since the last call, in order.
  std::vector<std::string> Take(unsigned int data_id);

 private:
  std::mutex mutex_;
  unsigned int next_ = 1;
  std::map<unsigned int, std::vector<std::string>> plays_;
};

}  // namespace sim::cli
