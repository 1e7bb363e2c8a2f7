#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace aikorvane {

// A diagnostic line put together piece by piece: in a fixed buffer while it
// fits (a copy per piece, no string growth checks), in a string beyond that.
class LineBuffer {
 public:
  LineBuffer& operator<<(std::string_view piece) {
    if (spilled_) {
      long_ += piece;
    } else if (piece.size() <= sizeof text_ - length_) {
      std::memcpy(text_ + length_, piece.data(), piece.size());
      length_ += piece.size();
    } else {
      long_.assign(text_, length_);
      long_ += piece;
      spilled_ = true;
    }
    return *this;
  }

  std::string_view View() const {
    return spilled_ ? std::string_view(long_) : std::string_view(text_, length_);
  }

 private:
  char text_[384];
  std::size_t length_ = 0;
  bool spilled_ = false;
  std::string long_;
};

}  // namespace aikorvane
