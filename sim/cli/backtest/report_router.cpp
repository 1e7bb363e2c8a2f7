#include "sim/cli/backtest/report_router.h"

#include <cstdlib>

namespace sim::cli {
namespace {

std::string Field(const std::string& body, const std::string& name) {
  for (size_t start = 0; start <= body.size();) {
    const size_t end = std::min(body.find('&', start), body.size());
    if (body.compare(start, name.size() + 1, name + "=") == 0) {
      return body.substr(start + name.size() + 1, end - start - name.size() - 1);
    }
    start = end + 1;
  }
  return {};
}

}  // namespace

unsigned int ReportRouter::NewDevice() {
  std::lock_guard<std::mutex> lock(mutex_);
  plays_[next_];
  return next_++;
}

void ReportRouter::Forget(unsigned int data_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  plays_.erase(data_id);
}

void ReportRouter::Receive(const Json::Value& event) {
  if (event["event"].asString() != "http") return;
  const std::string body = event["body"].asString();
  const std::string id = Field(body, "Device_ID");
  char* end = nullptr;
  const unsigned long data_id = std::strtoul(id.c_str(), &end, 10);
  if (id.empty() || *end != '\0') return;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto device = plays_.find(static_cast<unsigned int>(data_id));
  if (device != plays_.end()) device->second.push_back(Field(body, "Play"));
}

std::vector<std::string> ReportRouter::Take(unsigned int data_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> plays;
  plays.swap(plays_[data_id]);
  return plays;
}

}  // namespace sim::cli
