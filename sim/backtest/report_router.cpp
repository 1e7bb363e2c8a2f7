#include "sim/backtest/report_router.h"

#include <cstdlib>

#include "sim/host/host_events.h"

namespace sim::cli {

unsigned int ReportRouter::NewDevice() {
  std::lock_guard<std::mutex> lock(mutex_);
  reports_[next_];
  return next_++;
}

void ReportRouter::Forget(unsigned int data_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto device = reports_.find(data_id);
  if (device == reports_.end()) return;
  pending_.fetch_sub(static_cast<long>(device->second.size()));
  reports_.erase(device);
}

void ReportRouter::Receive(const Json::Value& event) {
  if (event["event"].asString() != "http") return;
  const std::string id = FieldOf(ParseForm(event["body"].asString()), "Device_ID");
  char* end = nullptr;
  const unsigned long data_id = std::strtoul(id.c_str(), &end, 10);
  if (id.empty() || *end != '\0') return;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto device = reports_.find(static_cast<unsigned int>(data_id));
  if (device != reports_.end()) {
    device->second.push_back(event);
    pending_.fetch_add(1);
  }
}

std::vector<Json::Value> ReportRouter::Take(unsigned int data_id) {
  std::vector<Json::Value> reports;
  if (pending_.load() == 0) return reports;
  std::lock_guard<std::mutex> lock(mutex_);
  reports.swap(reports_[data_id]);
  pending_.fetch_sub(static_cast<long>(reports.size()));
  return reports;
}

}  // namespace sim::cli
