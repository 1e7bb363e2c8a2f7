#pragma once

// What the device reads from its settings object and its profiles: the keys
// with how each is parsed, the limit families of a mode 5 record, the profile
// suffixes and the diagnostic lines that name the profile search. Data only,
// compiled by the device and by the simulator's check, so that the check
// cannot drift from the device.

#include "config/channel_keys.h"

namespace aikorvane::config {

inline constexpr char kAppSetting[] = "appSetting";
inline constexpr char kThresholdSetting[] = "thresholdSetting";
inline constexpr char kOperatingMode[] = "b_mode";

// The device's own keys of "appSetting", with how each is parsed and where
// it goes, are the rows of kChannelKeys (config/channel_keys.h).

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
