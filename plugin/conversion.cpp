// A sample into the calibrated voltage: read from a channel or scaled from
// the raw reading, corrected by the host's input correction and the
// calibration curve, then the round.

#include <iostream>

#include "config/device_contract.h"
#include "plugin/aikorvane.h"
#include "plugin/text/diagnostic_line.h"

float AIKorvane::process(short sample) {
  aikorvane::DiagnosticLine(std::cout)
      << "AIKorvane::process(" << sample << " is_current_mode_:" << (is_current_mode_ ? 1 : 0);
  float value = 0.0f;
  constexpr int kBase = aikorvane::kChannelSampleBase;
  if (sample > kBase || ai_mode_ == 3 || real_value_ != 0) {
    if (real_value_ == 0 && sample > kBase) ai_index_ = sample - kBase;
    value = ReadAi(ai_index_);
    aikorvane::DiagnosticLine(std::cout) << "read ai_index_:" << ai_index_ << " ai " << value
                                         << " ai_mode:" << ai_mode_ << " max_v:" << max_v_;
    if (ai_mode_ == 0) {
      if (max_ != 0.0f) value = ((max_ - min_) * value) / static_cast<float>(max_v_);
    } else if (ai_mode_ == 1) {
      value = value >= 4.0f ? ((value - 4.0f) / 16.0f) * (max_ - min_) : 0.0f;
    }
  } else if (ai_mode_ <= 2) {
    value = min_ + (sample * (max_ - min_)) / 10000.0f;
    if (is_current_mode_) {
      // A 1 to 5 V current-loop signal: 1 V is the bottom of the range.
      const double u = sample * 0.998 * 5 / 10000 - 1;
      value = static_cast<float>((u / 4) * static_cast<double>(max_ - min_));
      std::cout << "value:" << u << " " << value << std::endl;
    }
  }
  value = ai_gain_ * value + ai_offset_;
  if (!(value < x1_) && !(value > x4_)) {
    if (value >= x3_) {
      value = slope3_ * value + intercept3_;
    } else if (value >= x2_) {
      value = slope2_ * value + intercept2_;
    } else if (value >= x1_) {
      value = slope1_ * value + intercept1_;
    }
  }
  data_.voltage = value;
  RoundDone();
  return value;
}
