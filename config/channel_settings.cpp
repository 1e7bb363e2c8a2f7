// The device's own settings: channel, conversion, calibration curve and the
// discharge voltages, read from "appSetting" before the generic settings.

#include "config/channel_settings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "config/device_settings.h"
#include "config/setting_keys.h"

namespace {

// Values are read through their text form, so 47.5 and "47.5" are the same.
// An absent or null key leaves the member as it is.
bool TextOf(const Json::Value& app, const char* key, std::string& text) {
  const Json::Value& value = app[key];
  if (value.isNull()) return false;
  text = value.asString();
  return true;
}

void ReadInt(const Json::Value& app, const char* key, int& member) {
  std::string text;
  if (TextOf(app, key, text)) member = std::atoi(text.c_str());
}

// Text that does not start with a number leaves the member unchanged.
void ParseFloat(const std::string& text, float& member) {
  float parsed;
  if (std::sscanf(text.c_str(), "%f", &parsed) == 1) member = parsed;
}

void ReadFloat(const Json::Value& app, const char* key, float& member) {
  std::string text;
  if (TextOf(app, key, text)) ParseFloat(text, member);
}

bool Qualifies(float coordinate) {
  return std::fabs(coordinate) > aikorvane::config::kUnsetCoordinate;
}

// Recomputes one calibration segment from its two points when all four
// coordinates are set. Two points at the same x define no line: the segment
// then keeps what it had, and the refusal is logged.
void ComputeSegment(int number, float xa, float ya, float xb, float yb, float& slope,
                    float& intercept) {
  if (!Qualifies(ya) || !Qualifies(xa) || !Qualifies(yb) || !Qualifies(xb)) return;
  if (xa == xb) {
    std::cout << aikorvane::config::kRefusedSegmentLine << number << " refused: both points have x "
              << xa << std::endl;
    return;
  }
  slope = (yb - ya) / (xb - xa);
  intercept = (yb * xa - ya * xb) / (xa - xb);
}

}  // namespace

namespace aikorvane::config {

void ReadChannelSettings(const Json::Value& settings, const ChannelSettings& channel) {
  const Json::Value& app = SettingsMember(settings, kAppSetting);
  if (app.isNull() || !app.isObject()) return;
  std::string text;
  if (TextOf(app, kCurrentMode, text)) channel.is_current_mode = std::atoi(text.c_str()) != 0;
  ReadInt(app, kRealValue, channel.real_value);
  ReadInt(app, kAiIndex, channel.ai_index);
  ReadFloat(app, kMin, channel.min);
  ReadFloat(app, kMax, channel.max);
  if (TextOf(app, kDischargeV, text)) {
    ParseFloat(text, channel.discharge_v);
    channel.discharge_v_end = channel.discharge_v;
  }
  ReadFloat(app, kDischargeVEnd, channel.discharge_v_end);
  ReadFloat(app, kDischargeVDiff, channel.discharge_v_diff);
  if (TextOf(app, kMaxV, text)) {
    channel.max_v = std::atoi(text.c_str());
    if (channel.max_v == 0) channel.max_v = 5;
  }
  ReadFloat(app, kY1, channel.y1);
  ReadFloat(app, kX1, channel.x1);
  ReadFloat(app, kY2, channel.y2);
  ReadFloat(app, kX2, channel.x2);
  ReadFloat(app, kY3, channel.y3);
  ReadFloat(app, kX3, channel.x3);
  ReadFloat(app, kY4, channel.y4);
  ReadFloat(app, kX4, channel.x4);
  ReadInt(app, kConversionMode, channel.ai_mode);

  // Segment 1 is formed from its upper point down. The operand order decides
  // the sign of a zero slope or intercept (0 or -0), which is part of the
  // device's published output.
  ComputeSegment(1, channel.x2, channel.y2, channel.x1, channel.y1, channel.slope1,
                 channel.intercept1);
  ComputeSegment(2, channel.x2, channel.y2, channel.x3, channel.y3, channel.slope2,
                 channel.intercept2);
  ComputeSegment(3, channel.x3, channel.y3, channel.x4, channel.y4, channel.slope3,
                 channel.intercept3);
}

}  // namespace aikorvane::config
