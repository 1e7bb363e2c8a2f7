#pragma once

// The texts of recently written numbers, by their bit patterns. A round
// writes the same values many times (a signal's value once per limit table,
// the same few thresholds, rules on the same published value); each is
// formatted once and then copied.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "plugin/text/float_text.h"

namespace aikorvane {

// A direct-mapped table of 2^kSlotBits texts of at most kTextSize bytes,
// keyed by the bit pattern of the number (uint32_t for a float, uint64_t for
// a double). A slot holds one text; a new one replaces it.
template <typename Bits, unsigned kSlotBits, std::size_t kTextSize>
class TextMemo {
 public:
  // The kept text of `bits`, or empty.
  std::string_view Find(Bits bits) const {
    const Slot& slot = slots_[Place(bits)];
    if (slot.length == 0 || slot.bits != bits) return {};
    return {slot.text, slot.length};
  }
  // Keeps `text` for `bits`, when it fits (an empty text is not kept).
  void Keep(Bits bits, std::string_view text) {
    if (text.empty() || text.size() > kTextSize) return;
    Slot& slot = slots_[Place(bits)];
    slot.bits = bits;
    slot.length = static_cast<uint8_t>(text.size());
    std::memcpy(slot.text, text.data(), text.size());
  }

  template <typename Number>
  static Bits BitsOf(Number value) {
    static_assert(sizeof(Number) == sizeof(Bits));
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
  }

 private:
  // Fibonacci hashing: nearby bit patterns land in different slots.
  static std::size_t Place(Bits bits) {
    return static_cast<std::size_t>((static_cast<uint64_t>(bits) * 0x9E3779B97F4A7C15ull) >>
                                    (64 - kSlotBits));
  }
  struct Slot {
    Bits bits = 0;
    uint8_t length = 0;  // 0: empty
    char text[kTextSize];
  };
  std::array<Slot, std::size_t{1} << kSlotBits> slots_{};
};

// The texts of boost::lexical_cast<std::string>(float) ("%.9g"), kept only
// while the decimal point is "." as of the last Refresh(): the texts then
// depend on the value alone.
class FloatTextMemo {
 public:
  // Reads the decimal point; call before each run of texts.
  void Refresh(bool keep = true) {
    point_is_dot_ = DecimalPointIsDot();
    enabled_ = keep && point_is_dot_;
  }
  // Whether the decimal point was "." at the last Refresh().
  bool PointIsDot() const { return point_is_dot_; }

  void Assign(std::string& text, float value) {
    text.clear();
    Append(text, value);
  }
  void Append(std::string& text, float value) {
    if (enabled_) {
      const auto bits = Memo::BitsOf(value);
      std::string_view kept = memo_.Find(bits);
      if (kept.empty()) {
        char buffer[kFloatTextCapacity];
        memo_.Keep(bits, std::string_view(buffer, QuickFloatText(value, buffer)));
        kept = memo_.Find(bits);
      }
      if (!kept.empty()) {
        text.append(kept);
        return;
      }
    }
    AppendFloatText(text, value);
  }

 private:
  using Memo = TextMemo<uint32_t, 7, 15>;
  bool point_is_dot_ = false;
  bool enabled_ = false;
  Memo memo_;
};

// The "%.6g" texts of a stream in its default state (the classic locale: the
// decimal point is always "."); empty for a value the quick path cannot
// decide.
class StreamTextMemo {
 public:
  std::string_view Text(float value) {
    const auto bits = Memo::BitsOf(value);
    const std::string_view kept = memo_.Find(bits);
    if (!kept.empty()) return kept;
    char buffer[kFloatTextCapacity];
    memo_.Keep(bits, std::string_view(buffer, QuickStreamFloatText(value, buffer)));
    return memo_.Find(bits);
  }

 private:
  using Memo = TextMemo<uint32_t, 6, 15>;
  Memo memo_;
};

}  // namespace aikorvane
