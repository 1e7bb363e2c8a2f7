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

// Text that does not start with a number leaves the member unchanged.
void ParseFloat(const std::string& text, float& member) {
  float parsed;
  if (std::sscanf(text.c_str(), "%f", &parsed) == 1) member = parsed;
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

void ReadChannelSettings(const Json::Value& settings, ChannelSettings& channel) {
  const Json::Value& app = SettingsMember(settings, kAppSetting);
  if (app.isNull() || !app.isObject()) return;
  std::string text;
  for (const ChannelKey& key : kChannelKeys) {
    if (!TextOf(app, key.name, text)) continue;
    switch (key.parse) {
      case KeyParse::kFlag:
        channel.*key.flag = std::atoi(text.c_str()) != 0;
        break;
      case KeyParse::kInteger: {
        int& member = channel.*key.integer;
        member = std::atoi(text.c_str());
        if (member == 0 && key.zero_becomes != 0) member = key.zero_becomes;
        break;
      }
      case KeyParse::kReal:
        ParseFloat(text, channel.*key.real);
        if (key.follower != nullptr) channel.*key.follower = channel.*key.real;
        break;
    }
  }

  // Segment 1 is formed from its upper point down. The operand order decides
  // the sign of a zero slope or intercept (0 or -0), which is part of the
  // device's published output.
  const auto segment = [&channel](int number, int a, int b) {
    const CalibrationPoint& from = kCalibrationPoints[a];
    const CalibrationPoint& to = kCalibrationPoints[b];
    const CalibrationSegment& line = kCalibrationSegments[number - 1];
    ComputeSegment(number, channel.*from.x, channel.*from.y, channel.*to.x, channel.*to.y,
                   channel.*line.slope, channel.*line.intercept);
  };
  segment(1, 1, 0);
  segment(2, 1, 2);
  segment(3, 2, 3);
}

}  // namespace aikorvane::config
