#pragma once

// The device's own "appSetting" keys: one row per key with how its value is
// parsed and the member it goes to. Data only, compiled by the device (its
// reader walks the rows) and by the simulator (its check lists, parses and
// suggests keys from the same rows, and its copy of the device's state is
// this struct), so a new key is one member and one row.

namespace aikorvane::config {

// The channel, conversion, calibration and discharge settings of the device,
// with the values of a new device. The device derives from this struct, so
// the members keep the device's own names.
struct ChannelSettings {
  float min_ = 0.0f;
  float max_ = 0.0f;
  float y1_ = 0.0f, x1_ = 0.0f, y2_ = 0.0f, x2_ = 0.0f;
  float y3_ = 0.0f, x3_ = 0.0f, y4_ = 0.0f, x4_ = 0.0f;
  float slope1_ = 1.0f, intercept1_ = 0.0f;
  float slope2_ = 1.0f, intercept2_ = 0.0f;
  float slope3_ = 1.0f, intercept3_ = 0.0f;
  bool is_current_mode_ = false;
  int ai_index_ = 0;
  int ai_mode_ = 0;
  int max_v_ = 5;
  int real_value_ = 0;
  float discharge_v_ = 0.0f;
  float discharge_v_end_ = 0.0f;
  float discharge_v_diff_ = 0.02f;
};

// How a value's text is parsed: atoi, atoi read as "not 0", sscanf "%f".
enum class KeyParse { kInteger, kFlag, kReal };

// One key. Exactly one of flag, integer and real names the member, matching
// parse; the constructors below keep them matched.
struct ChannelKey {
  const char* name;
  KeyParse parse;
  bool ChannelSettings::*flag = nullptr;
  int ChannelSettings::*integer = nullptr;
  float ChannelSettings::*real = nullptr;
  // Not 0: an integer read as 0 is replaced by this.
  int zero_becomes = 0;
  // Set to the new value after it is read (a later row may still set it).
  float ChannelSettings::*follower = nullptr;
};

constexpr ChannelKey FlagKey(const char* name, bool ChannelSettings::*member) {
  return {name, KeyParse::kFlag, member, nullptr, nullptr, 0, nullptr};
}
constexpr ChannelKey IntegerKey(const char* name, int ChannelSettings::*member,
                                int zero_becomes = 0) {
  return {name, KeyParse::kInteger, nullptr, member, nullptr, zero_becomes, nullptr};
}
constexpr ChannelKey RealKey(const char* name, float ChannelSettings::*member,
                             float ChannelSettings::*follower = nullptr) {
  return {name, KeyParse::kReal, nullptr, nullptr, member, 0, follower};
}

// In the device's reading order: "discharge_v" sets the end voltage too, so
// an explicit "discharge_v_end" must come after it.
inline constexpr ChannelKey kChannelKeys[] = {
    FlagKey("current_mode", &ChannelSettings::is_current_mode_),
    IntegerKey("real_value", &ChannelSettings::real_value_),
    IntegerKey("ai_index", &ChannelSettings::ai_index_),
    RealKey("min", &ChannelSettings::min_),
    RealKey("max", &ChannelSettings::max_),
    RealKey("discharge_v", &ChannelSettings::discharge_v_, &ChannelSettings::discharge_v_end_),
    RealKey("discharge_v_end", &ChannelSettings::discharge_v_end_),
    RealKey("discharge_v_diff", &ChannelSettings::discharge_v_diff_),
    IntegerKey("max_v", &ChannelSettings::max_v_, 5),
    RealKey("y1", &ChannelSettings::y1_),
    RealKey("x1", &ChannelSettings::x1_),
    RealKey("y2", &ChannelSettings::y2_),
    RealKey("x2", &ChannelSettings::x2_),
    RealKey("y3", &ChannelSettings::y3_),
    RealKey("x3", &ChannelSettings::x3_),
    RealKey("y4", &ChannelSettings::y4_),
    RealKey("x4", &ChannelSettings::x4_),
    IntegerKey("mode", &ChannelSettings::ai_mode_),
};

// The calibration curve: four points, and the three segments between
// consecutive points.
struct CalibrationPoint {
  float ChannelSettings::*x;
  float ChannelSettings::*y;
};
inline constexpr CalibrationPoint kCalibrationPoints[] = {
    {&ChannelSettings::x1_, &ChannelSettings::y1_},
    {&ChannelSettings::x2_, &ChannelSettings::y2_},
    {&ChannelSettings::x3_, &ChannelSettings::y3_},
    {&ChannelSettings::x4_, &ChannelSettings::y4_},
};
struct CalibrationSegment {
  float ChannelSettings::*slope;
  float ChannelSettings::*intercept;
};
inline constexpr CalibrationSegment kCalibrationSegments[] = {
    {&ChannelSettings::slope1_, &ChannelSettings::intercept1_},
    {&ChannelSettings::slope2_, &ChannelSettings::intercept2_},
    {&ChannelSettings::slope3_, &ChannelSettings::intercept3_},
};

// The row of a key, or nullptr when the device does not read it.
constexpr const ChannelKey* FindChannelKey(const char* name) {
  for (const ChannelKey& key : kChannelKeys) {
    const char* a = key.name;
    const char* b = name;
    while (*a != '\0' && *a == *b) ++a, ++b;
    if (*a == *b) return &key;
  }
  return nullptr;
}

// The key that sets a member, or nullptr when none does.
constexpr const char* KeyOf(float ChannelSettings::*member) {
  for (const ChannelKey& key : kChannelKeys) {
    if (key.real == member) return key.name;
  }
  return nullptr;
}

constexpr const char* KeyOf(int ChannelSettings::*member) {
  for (const ChannelKey& key : kChannelKeys) {
    if (key.integer == member) return key.name;
  }
  return nullptr;
}

// The member of a key as a number (a flag as 1 or 0).
constexpr double MemberValue(const ChannelSettings& settings, const ChannelKey& key) {
  if (key.flag != nullptr) return settings.*key.flag ? 1 : 0;
  if (key.integer != nullptr) return settings.*key.integer;
  return settings.*key.real;
}

}  // namespace aikorvane::config
