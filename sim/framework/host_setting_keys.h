#pragma once

// The members of "hostSetting" that the simulated host reads: data only,
// for the host's reader and for the check's unknown-key findings.

namespace sim {

inline constexpr char kHostSetting[] = "hostSetting";
inline constexpr const char* kHostKeys[] = {"aiGain", "aiOffset", "channels", "alarms", "aoReport"};
inline constexpr const char* kHostAlarmKeys[] = {"level", "value"};
inline constexpr const char* kHostReportKeys[] = {"change", "percent", "periodMinutes",
                                                  "lastReportTime", "lastReportValue"};

}  // namespace sim
