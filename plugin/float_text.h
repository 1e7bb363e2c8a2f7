#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace aikorvane {

// Room for any float text, its terminating zero included ("-1.17549435e-38"
// is the longest).
inline constexpr std::size_t kFloatTextCapacity = 32;

// Writes `value` as boost::lexical_cast<std::string>(float) writes it, without
// its cost: "%.9g" of the value widened to double, in the C library's numeric
// locale, and an infinity or a NaN as "inf" or "nan", after a minus sign when
// its sign bit is set. Returns the length written into `out` (zero-terminated).
std::size_t FloatText(float value, char (&out)[kFloatTextCapacity]);

// The same text assigned to / appended to a string; a kept string of the
// caller takes it without allocating (the texts fit its inline buffer).
void AssignFloatText(std::string& text, float value);
void AppendFloatText(std::string& text, float value);

// True when `stream` is in its default state (flags, precision 6, no width,
// the classic locale): it then writes numbers as plain "C" text, so a line may
// be put together beforehand and written in one piece.
bool IsPlainStream(const std::ostream& stream);

// Writes `line`, a newline and a flush: the bytes of `stream << line <<
// std::endl` for a stream in its default state, in one write. On a host the
// stream is shared by every device, and each separate write takes its lock.
void WriteLine(std::ostream& stream, std::string_view line);

// Writes `value` into `stream` exactly as `stream << value` does, cheaper
// when the stream is in its default state (flags, precision 6, no width, the
// classic locale).
std::ostream& WriteFloat(std::ostream& stream, float value);

// Appends `value` as a new std::ostringstream writes it.
void AppendStreamFloat(std::string& text, float value);

// The texts of the quick paths alone: correct only where the decimal point is
// ".", and 0 (nothing written) for values whose last digit lies too close to
// a rounding tie to decide without exact arithmetic. Exposed for the checks
// that compare them with the C library: QuickFloatText writes "%.9g",
// QuickStreamFloatText the "%.6g" of a stream in its default state.
std::size_t QuickFloatText(float value, char (&out)[kFloatTextCapacity]);
std::size_t QuickStreamFloatText(float value, char (&out)[kFloatTextCapacity]);

// True when the C library's decimal point, the only part of the numeric
// locale that "%.9g" reads, is ".".
bool DecimalPointIsDot();

// The quick texts of recently written values, by their bit patterns, at one
// precision (`Quick` is QuickFloatText or QuickStreamFloatText). Text() is
// empty for a value the quick path cannot decide.
template <std::size_t (*Quick)(float, char (&)[kFloatTextCapacity]), unsigned kSlotBits>
class QuickTextMemo {
 public:
  std::string_view Text(float value) {
    uint32_t bits;
    static_assert(sizeof bits == sizeof value);
    __builtin_memcpy(&bits, &value, sizeof bits);
    // Fibonacci hashing: nearby bit patterns land in different slots.
    Slot& slot = slots_[(bits * 2654435769u) >> (32 - kSlotBits)];
    if (slot.length == 0 || slot.bits != bits) {
      char buffer[kFloatTextCapacity];
      const std::size_t length = Quick(value, buffer);
      if (length == 0 || length > sizeof slot.text) return {};
      slot.bits = bits;
      slot.length = static_cast<uint8_t>(length);
      __builtin_memcpy(slot.text, buffer, length);
    }
    return {slot.text, slot.length};
  }

 private:
  struct Slot {
    uint32_t bits = 0;
    uint8_t length = 0;  // 0: empty
    char text[15];
  };
  std::array<Slot, std::size_t{1} << kSlotBits> slots_{};
};

// The texts of recently written values. A round writes the same values many
// times (a signal's value once per limit table, the same few thresholds);
// each value is formatted once and then copied. Texts are kept and served only
// while the decimal point is "." as of the last Refresh().
class FloatTextMemo {
 public:
  // Reads the decimal point; call before each run of texts.
  void Refresh() { enabled_ = DecimalPointIsDot(); }
  // True when texts are kept: the decimal point was "." at the last Refresh().
  bool Enabled() const { return enabled_; }

  void Assign(std::string& text, float value) {
    const std::string_view kept = Find(value);
    if (!kept.empty()) {
      text.assign(kept);
    } else {
      AssignFloatText(text, value);
    }
  }

  void Append(std::string& text, float value) {
    const std::string_view kept = Find(value);
    if (!kept.empty()) {
      text.append(kept);
    } else {
      AppendFloatText(text, value);
    }
  }

 private:
  std::string_view Find(float value) { return enabled_ ? texts_.Text(value) : std::string_view(); }

  bool enabled_ = false;
  QuickTextMemo<QuickFloatText, 7> texts_;
};

// The "%.6g" texts of a stream in its default state (the classic locale: the
// decimal point is always ".").
using StreamTextMemo = QuickTextMemo<QuickStreamFloatText, 6>;

}  // namespace aikorvane
