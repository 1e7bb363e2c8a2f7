#pragma once

// What the device reads from its settings object and its profiles: the keys
// with how each is parsed, the limit families of a mode 5 record, the profile
// suffixes and the diagnostic lines that name the profile search. Data only,
// compiled by the device and by the simulator's check, so that the check
// cannot drift from the device.

namespace aikorvane::config {

inline constexpr char kAppSetting[] = "appSetting";
inline constexpr char kThresholdSetting[] = "thresholdSetting";
inline constexpr char kOperatingMode[] = "b_mode";

enum class KeyParse { kInteger, kReal };  // atoi, sscanf "%f"
struct SettingKey {
  const char* name;
  KeyParse parse;
};

// The keys of "appSetting" that the device itself reads, and in its reading
// order the table of them with how each is parsed.
inline constexpr char kCurrentMode[] = "current_mode";
inline constexpr char kRealValue[] = "real_value";
inline constexpr char kAiIndex[] = "ai_index";
inline constexpr char kMin[] = "min";
inline constexpr char kMax[] = "max";
inline constexpr char kDischargeV[] = "discharge_v";
inline constexpr char kDischargeVEnd[] = "discharge_v_end";
inline constexpr char kDischargeVDiff[] = "discharge_v_diff";
inline constexpr char kMaxV[] = "max_v";
inline constexpr char kY1[] = "y1";
inline constexpr char kX1[] = "x1";
inline constexpr char kY2[] = "y2";
inline constexpr char kX2[] = "x2";
inline constexpr char kY3[] = "y3";
inline constexpr char kX3[] = "x3";
inline constexpr char kY4[] = "y4";
inline constexpr char kX4[] = "x4";
inline constexpr char kConversionMode[] = "mode";
inline constexpr SettingKey kChannelKeys[] = {
    {kCurrentMode, KeyParse::kInteger},
    {kRealValue, KeyParse::kInteger},
    {kAiIndex, KeyParse::kInteger},
    {kMin, KeyParse::kReal},
    {kMax, KeyParse::kReal},
    {kDischargeV, KeyParse::kReal},
    {kDischargeVEnd, KeyParse::kReal},
    {kDischargeVDiff, KeyParse::kReal},
    {kMaxV, KeyParse::kInteger},
    {kY1, KeyParse::kReal},
    {kX1, KeyParse::kReal},
    {kY2, KeyParse::kReal},
    {kX2, KeyParse::kReal},
    {kY3, KeyParse::kReal},
    {kX3, KeyParse::kReal},
    {kY4, KeyParse::kReal},
    {kX4, KeyParse::kReal},
    {kConversionMode, KeyParse::kInteger},
};
// A calibration coordinate of this magnitude or less counts as unset.
inline constexpr double kUnsetCoordinate = 0.001;

// Mode 3 records: the signal name, then the parts of the report prefix.
inline constexpr char kSignalName[] = "SignalName";
inline constexpr const char* kAlarmPrefixParts[] = {"NMAlarmID", "ID", "SignalNumber"};

// Mode 5 records: "ID" and "SignalName", then four limit families.
inline constexpr char kRecordId[] = "ID";
struct LimitFamily {
  const char* limit;
  const char* recovery;
  const char* level;
  const char* suffix;  // appended to the record's id to make the alarm id
  bool upper;
};
inline constexpr LimitFamily kLimitFamilies[] = {
    {"UpValue", "UpReconverValue", "UpAlarmLevel", "001", true},
    {"Up2Value", "Up2ReconverValue", "Up2AlarmLevel", "002", true},
    {"LowValue", "LowReconverValue", "LowAlarmLevel", "003", false},
    {"Low2Value", "Low2ReconverValue", "Low2AlarmLevel", "004", false},
};

// Profiles and the lines that tell the search.
inline constexpr char kIniSuffix[] = ".ini";
inline constexpr char kYamlSuffix[] = ".yaml";
inline constexpr char kTestedLine[] = "test ini/yaml:";
inline constexpr char kChosenLine[] = "parse ini/yaml filename:";
inline constexpr char kRefusedSegmentLine[] = "AIKorvane::InitSetting calibration segment ";

}  // namespace aikorvane::config
