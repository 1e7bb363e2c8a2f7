#pragma once

// The families of findings; the check runs them in the order of the table in
// findings.cpp.

#include "sim/check/findings/context.h"

namespace sim::cli::findings {

void Refusal(Context& c);        // refusal.cpp
void SettingsKeys(Context& c);   // settings_keys.cpp
void TopLevelKeys(Context& c);   // settings_keys.cpp
void OperatingMode(Context& c);  // settings_keys.cpp
void JsonText(Context& c);       // json_text.cpp
void Discharge(Context& c);      // conversion.cpp
void Calibration(Context& c);    // conversion.cpp
void Range(Context& c);          // conversion.cpp
void Profile(Context& c);        // profiles.cpp
void EmptySections(Context& c);  // profiles.cpp
void AiSignals(Context& c);      // profiles.cpp
void AlarmRules(Context& c);     // mode3_records.cpp
void AlarmRecords(Context& c);   // mode3_records.cpp
void LimitRecords(Context& c);   // mode5_records.cpp
void AlarmRows(Context& c);      // alarm_rows.cpp
void HostSettings(Context& c);   // host_settings.cpp
void ReportPeriods(Context& c);  // host_settings.cpp

// What the member of an "appSetting" key holds after InitSetting.
double MemberOf(const DeviceState& s, const std::string& key);

}  // namespace sim::cli::findings
