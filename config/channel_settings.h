#pragma once

// Reading of the device's own "appSetting" keys: channel, conversion,
// calibration curve and the discharge voltages.

#include <json/value.h>

namespace aikorvane::config {

// The device members the keys are read into. An absent or null key leaves its
// member as it is; the calibration segments are computed from the points
// afterwards.
struct ChannelSettings {
  bool& is_current_mode;
  int& real_value;
  int& ai_index;
  float& min;
  float& max;
  float& discharge_v;
  float& discharge_v_end;
  float& discharge_v_diff;
  int& max_v;
  float& y1;
  float& x1;
  float& y2;
  float& x2;
  float& y3;
  float& x3;
  float& y4;
  float& x4;
  int& ai_mode;
  float& slope1;
  float& intercept1;
  float& slope2;
  float& intercept2;
  float& slope3;
  float& intercept3;
};

// Reads "appSetting" of `settings` into `channel`; nothing when it is absent
// or no object.
void ReadChannelSettings(const Json::Value& settings, const ChannelSettings& channel);

}  // namespace aikorvane::config
