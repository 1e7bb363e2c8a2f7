#include "sim/host/device_output.h"

#include <algorithm>
#include <iostream>

namespace sim::cli {

class DeviceOutput::Buffer : public std::streambuf {
 public:
  explicit Buffer(std::streambuf* target) : target_(target) {}

  std::string text;
  unsigned long long lines = 0;
  bool dropped = false;
  bool failed = false;

  bool Hand() {
    if (target_ != nullptr && !text.empty()) {
      const auto size = static_cast<std::streamsize>(text.size());
      failed = failed || target_->sputn(text.data(), size) != size || target_->pubsync() != 0;
      text.clear();
    }
    return !failed;
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char one = traits_type::to_char_type(c);
    Append(&one, 1);
    return c;
  }
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    Append(data, static_cast<size_t>(count));
    return count;
  }
  // std::endl flushes every line: nothing to do until a block is full.
  int sync() override { return 0; }

 private:
  void Append(const char* data, size_t count) {
    lines += static_cast<unsigned long long>(std::count(data, data + count, '\n'));
    text.append(data, count);
    if (target_ != nullptr) {
      if (text.size() >= kBlockBytes) Hand();
    } else if (text.size() > kKeptBytes) {
      // Keep the latest half, from a line's start.
      size_t cut = text.find('\n', text.size() - kKeptBytes / 2);
      cut = cut == std::string::npos ? text.size() - kKeptBytes / 2 : cut + 1;
      text.erase(0, cut);
      dropped = true;
    }
  }

  std::streambuf* target_;
};

DeviceOutput::DeviceOutput(std::streambuf* target)
    : buffer_(std::make_unique<Buffer>(target)), previous_(std::cout.rdbuf(buffer_.get())) {}

DeviceOutput::~DeviceOutput() {
  std::cout.rdbuf(previous_);
  buffer_->Hand();
}

std::string DeviceOutput::Text() const { return buffer_->text; }

unsigned long long DeviceOutput::Lines() const { return buffer_->lines; }

bool DeviceOutput::Dropped() const { return buffer_->dropped; }

bool DeviceOutput::Flush() { return buffer_->Hand(); }

}  // namespace sim::cli
