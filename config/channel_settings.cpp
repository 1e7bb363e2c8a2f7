// The device's own settings: channel, conversion, calibration curve and the
// discharge voltages, read from "appSetting" before the generic settings.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "config/device_settings.h"
#include "config/setting_keys.h"
#include "plugin/aikorvane.h"

namespace {

namespace keys = aikorvane::config;

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

bool Qualifies(float coordinate) { return std::fabs(coordinate) > keys::kUnsetCoordinate; }

// Recomputes one calibration segment from its two points when all four
// coordinates are set. Two points at the same x define no line: the segment
// then keeps what it had, and the refusal is logged.
void ComputeSegment(int number, float xa, float ya, float xb, float yb, float& slope,
                    float& intercept) {
  if (!Qualifies(ya) || !Qualifies(xa) || !Qualifies(yb) || !Qualifies(xb)) return;
  if (xa == xb) {
    std::cout << keys::kRefusedSegmentLine << number << " refused: both points have x " << xa
              << std::endl;
    return;
  }
  slope = (yb - ya) / (xb - xa);
  intercept = (yb * xa - ya * xb) / (xa - xb);
}

}  // namespace

bool AIKorvane::InitSetting(const Json::Value& settings) {
  const Json::Value& app = aikorvane::config::SettingsMember(settings, keys::kAppSetting);
  if (!app.isNull() && app.isObject()) {
    std::string text;
    if (TextOf(app, keys::kCurrentMode, text)) is_current_mode_ = std::atoi(text.c_str()) != 0;
    ReadInt(app, keys::kRealValue, real_value_);
    ReadInt(app, keys::kAiIndex, ai_index_);
    ReadFloat(app, keys::kMin, min_);
    ReadFloat(app, keys::kMax, max_);
    if (TextOf(app, keys::kDischargeV, text)) {
      ParseFloat(text, discharge_v_);
      discharge_v_end_ = discharge_v_;
    }
    ReadFloat(app, keys::kDischargeVEnd, discharge_v_end_);
    ReadFloat(app, keys::kDischargeVDiff, discharge_v_diff_);
    if (TextOf(app, keys::kMaxV, text)) {
      max_v_ = std::atoi(text.c_str());
      if (max_v_ == 0) max_v_ = 5;
    }
    ReadFloat(app, keys::kY1, y1_);
    ReadFloat(app, keys::kX1, x1_);
    ReadFloat(app, keys::kY2, y2_);
    ReadFloat(app, keys::kX2, x2_);
    ReadFloat(app, keys::kY3, y3_);
    ReadFloat(app, keys::kX3, x3_);
    ReadFloat(app, keys::kY4, y4_);
    ReadFloat(app, keys::kX4, x4_);
    ReadInt(app, keys::kConversionMode, ai_mode_);

    // Segment 1 is formed from its upper point down. The operand order decides
    // the sign of a zero slope or intercept (0 or -0), which is part of the
    // device's published output.
    ComputeSegment(1, x2_, y2_, x1_, y1_, slope1_, intercept1_);
    ComputeSegment(2, x2_, y2_, x3_, y3_, slope2_, intercept2_);
    ComputeSegment(3, x3_, y3_, x4_, y4_, slope3_, intercept3_);
  }
  data_.data_id = data_id_;
  return UniDataDevice::InitSetting(settings);
}
