#pragma once

// Reading of the generic device settings: operating mode, threshold profile
// files under ./ini/ and the "thresholdSetting" records. The device keeps the
// tables; these functions fill them and write the diagnostic lines.

#include <json/value.h>

#include <map>
#include <string>

#include "config/tables.h"

namespace aikorvane::config {

// Member of the settings object; a settings value that is no object has no
// members, so it reads as null instead of making the JSON library throw.
const Json::Value& SettingsMember(const Json::Value& settings, const char* key);

// Carrier whose sub-folder of ./ini/ holds the profiles of an operating mode.
const char* CarrierName(int b_mode);

// Reads "appSetting"/"b_mode" into b_mode when present; logs the new mode.
void ReadOperatingMode(const Json::Value& settings, unsigned int data_id, int& b_mode);

// Tries the eight candidate profile paths in order and returns the first that
// exists, or an empty string (after logging that none was found).
std::string FindProfile(unsigned int data_id, const std::string& model, const std::string& carrier);

// Reads the chosen profile (a ".ini" is parsed whole even where the mode takes
// nothing from it) into the tables of the mode, then lists the [AI] table.
// Throws the INI reader's errors and "No such node" for a missing section.
void LoadProfile(const std::string& path, int b_mode, unsigned int data_id,
                 AiSignalTable& ai_signals, TextTable& alarm_rules);

// Mode 3: alarm records of "thresholdSetting" into signal names and report
// prefixes. The level and value maps are the host's, read for the log line.
void LoadAlarmRecords(const Json::Value& settings, unsigned int data_id,
                      TextTable& alarm_signal_names, TextTable& alarm_report_prefix,
                      std::map<std::string, int>& alarm_levels,
                      std::map<std::string, float>& alarm_values);

// Mode 5: limit records of "thresholdSetting" into the four limit tables,
// which are cleared first.
void LoadLimitRecords(const Json::Value& settings, ThresholdTable& up, ThresholdTable& up2,
                      ThresholdTable& low, ThresholdTable& low2);

}  // namespace aikorvane::config
