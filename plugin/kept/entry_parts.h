#pragma once

// What the rounds keep per table entry, each part checked every round against
// what it was made from and made again when that changed: a part is only
// ever a copy of work done on the same inputs.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "plugin/kept/quick_checks.h"
#include "plugin/text/text_memo.h"

namespace aikorvane::kept {

// The reported id of an [AI] signal: its signal id with the 4th and the 9th
// characters overwritten by '6' and '1'. `signal_id` has at least 9.
class ReportedId {
 public:
  const std::string& For(const std::string& signal_id) {
    if (!KeepsRestOf(id_, signal_id)) {
      id_ = signal_id;
      id_[3] = '6';
      id_[8] = '1';
    }
    return id_;
  }

 private:
  std::string id_;
};

// The bounds of a percentage band around a last reported value, kept with
// the two numbers they were computed from.
class PercentBand {
 public:
  void Follow(float last, float percent) {
    uint32_t last_bits, percent_bits;
    std::memcpy(&last_bits, &last, sizeof last_bits);
    std::memcpy(&percent_bits, &percent, sizeof percent_bits);
    if (made_ && last_bits_ == last_bits && percent_bits_ == percent_bits) return;
    upper_ = last * (percent + 100.0f) / 100.0f;
    lower_ = last * (100.0f - percent) / 100.0f;
    last_bits_ = last_bits;
    percent_bits_ = percent_bits;
    made_ = true;
  }
  bool Outside(float value) const { return value > upper_ || value < lower_; }

 private:
  uint32_t last_bits_ = 0;
  uint32_t percent_bits_ = 0;
  bool made_ = false;
  float upper_ = 0.0f;
  float lower_ = 0.0f;
};

// An [ALARM] rule split into its alarm id and comparison word.
enum class Comparison { kUpper, kLower, kEqual, kNotEqual, kNone };
class RuleParts {
 public:
  void Follow(const std::string& rule) {
    if (split_ && SameText(rule_, rule)) return;
    split_ = true;
    rule_ = rule;
    const auto comma = rule.find(',');
    alarm_id_.assign(rule, 0, comma);
    word_at_ = comma == std::string::npos ? 0 : comma + 1;
    const std::string_view word = Word();
    comparison_ = word == "upper"      ? Comparison::kUpper
                  : word == "lower"    ? Comparison::kLower
                  : word == "equal"    ? Comparison::kEqual
                  : word == "notequal" ? Comparison::kNotEqual
                                       : Comparison::kNone;
  }
  const std::string& AlarmId() const { return alarm_id_; }
  std::string_view Word() const { return std::string_view(rule_).substr(word_at_); }
  Comparison Kind() const { return comparison_; }

 private:
  bool split_ = false;
  std::string rule_;  // the text the parts were split from
  std::string alarm_id_;
  std::size_t word_at_ = 0;
  Comparison comparison_ = Comparison::kNone;
};

// The "%.9g" text of a published member's value as last written.
class ValueText {
 public:
  const std::string& Follow(float value, FloatTextMemo& texts) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (!made_ || bits_ != bits) {
      texts.Assign(text_, value);
      bits_ = bits;
      made_ = true;
    }
    return text_;
  }

 private:
  uint32_t bits_ = 0;
  bool made_ = false;
  std::string text_;
};

}  // namespace aikorvane::kept
