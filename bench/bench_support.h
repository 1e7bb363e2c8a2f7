#pragma once

// Shared set-up of the benchmarks: standard output sent to /dev/null, devices
// that record nothing, a scratch working directory, and the floor of a round
// (the same diagnostic lines written with nothing else).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plugin/aikorvane.h"

namespace bench {

// Resident memory of this process in KiB (-1 when /proc cannot tell).
long ResidentKiB();

// While alive, std::cout writes to /dev/null. The benchmark library's own
// console report also goes to std::cout, so every benchmark body keeps one of
// these only for its own run.
class QuietCout {
 public:
  QuietCout();
  ~QuietCout();
  QuietCout(const QuietCout&) = delete;
  QuietCout& operator=(const QuietCout&) = delete;

 private:
  std::unique_ptr<struct QuietCoutState> state_;
};

// A device whose framework calls record nothing, with its id set the way the
// host's own Init sets it.
std::unique_ptr<AIKorvane> MakeDevice(unsigned int data_id);

// Runs `round` with std::cout captured and returns the lines it wrote.
std::vector<std::string> CaptureLines(const std::function<void()>& round);

// The floor of a round: its lines written to std::cout, each ended the way the
// device ends its lines (std::endl: a newline and a flush).
void WriteLines(const std::vector<std::string>& lines);

// The virtual clock the devices stamp their rounds with; every round advances
// it by one second, as rounds a second or more apart do on a site, so that
// every round publishes its value afresh.
void StartClock();
void NextSecond();
void StopClock();

// Writes a file below the working directory, creating its folders.
void WriteFile(const std::string& relative, const std::string& content);

}  // namespace bench
