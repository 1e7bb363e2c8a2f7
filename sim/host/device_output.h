#pragma once

// The device's diagnostic lines (it writes them to std::cout, one flush per
// line) taken into memory for the lifetime of a DeviceOutput: a flush costs
// no system call. The lines go on, in large blocks, to a target stream when
// one is given (standard output for -v, a file for --device-log), and are
// otherwise kept in memory, the latest kKeptBytes of them.

#include <iosfwd>
#include <memory>
#include <streambuf>
#include <string>

namespace sim::cli {

class DeviceOutput {
 public:
  static constexpr size_t kKeptBytes = 16u << 20;
  static constexpr size_t kBlockBytes = 1u << 20;

  // target: where the lines go (null: kept). Take it before std::cout is
  // redirected: std::cout.rdbuf() names standard output itself.
  explicit DeviceOutput(std::streambuf* target = nullptr);
  // Hands what is buffered to the target and gives std::cout back.
  ~DeviceOutput();
  DeviceOutput(const DeviceOutput&) = delete;
  DeviceOutput& operator=(const DeviceOutput&) = delete;

  // The lines kept (with a target: those not yet handed on).
  std::string Text() const;
  // Lines written so far, counted by their line ends.
  unsigned long long Lines() const;
  // Lines dropped from memory to stay within kKeptBytes.
  bool Dropped() const;
  // Hands what is buffered to the target; false when the target failed.
  bool Flush();

 private:
  class Buffer;
  std::unique_ptr<Buffer> buffer_;
  std::streambuf* previous_;
};

}  // namespace sim::cli
