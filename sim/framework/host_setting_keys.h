#pragma once

// The members of "hostSetting" that the simulated host reads: data only,
// for the host's reader and for the check's unknown-key findings.

namespace sim {

inline constexpr char kHostSetting[] = "hostSetting";
inline constexpr char kAiGain[] = "aiGain";
inline constexpr char kAiOffset[] = "aiOffset";
inline constexpr char kChannels[] = "channels";
inline constexpr char kAlarms[] = "alarms";
inline constexpr char kAoReport[] = "aoReport";
inline constexpr const char* kHostKeys[] = {kAiGain, kAiOffset, kChannels, kAlarms, kAoReport};

// One alarm of "alarms".
inline constexpr char kAlarmLevel[] = "level";
inline constexpr char kAlarmValue[] = "value";
inline constexpr const char* kHostAlarmKeys[] = {kAlarmLevel, kAlarmValue};

// One signal of "aoReport".
inline constexpr char kReportChange[] = "change";
inline constexpr char kReportPercent[] = "percent";
inline constexpr char kReportPeriod[] = "periodMinutes";
inline constexpr char kReportLastTime[] = "lastReportTime";
inline constexpr char kReportLastValue[] = "lastReportValue";
inline constexpr const char* kHostReportKeys[] = {kReportChange, kReportPercent, kReportPeriod,
                                                  kReportLastTime, kReportLastValue};

}  // namespace sim
