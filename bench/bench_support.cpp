#include "bench/bench_support.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "sim/framework/sim_framework.h"

namespace bench {

struct QuietCoutState {
  std::ofstream null_stream{"/dev/null"};
  std::streambuf* previous = nullptr;
};

QuietCout::QuietCout() : state_(std::make_unique<QuietCoutState>()) {
  if (!state_->null_stream) throw std::runtime_error("cannot open /dev/null");
  state_->previous = std::cout.rdbuf(state_->null_stream.rdbuf());
}

QuietCout::~QuietCout() { std::cout.rdbuf(state_->previous); }

std::unique_ptr<AIKorvane> MakeDevice(unsigned int data_id) {
  sim::SetDefaultSink(nullptr);
  auto device = std::make_unique<AIKorvane>();
  sim::SetSink(*device, nullptr);
  device->Init(std::weak_ptr<OSKController>(), data_id, Json::Value());
  return device;
}

std::vector<std::string> CaptureLines(const std::function<void()>& round) {
  std::ostringstream buffer;
  std::streambuf* previous = std::cout.rdbuf(buffer.rdbuf());
  try {
    round();
  } catch (...) {
    std::cout.rdbuf(previous);
    throw;
  }
  std::cout.rdbuf(previous);
  std::vector<std::string> lines;
  std::istringstream in(buffer.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void WriteLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::cout << line << std::endl;
}

namespace {
// 2026-01-05 00:00:00 UTC: any fixed present-day instant will do.
constexpr std::time_t kClockStart = 1767571200;
std::time_t g_now = kClockStart;
}  // namespace

void StartClock() {
  g_now = kClockStart;
  sim::SetVirtualTime(g_now);
}

void NextSecond() { sim::SetVirtualTime(++g_now); }

void StopClock() { sim::SetVirtualTime(std::nullopt); }

void WriteFile(const std::string& relative, const std::string& content) {
  const std::filesystem::path file(relative);
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + relative);
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

}  // namespace bench
