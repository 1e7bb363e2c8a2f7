#pragma once

// What the device and its host agree on beyond the framework's declarations:
// how a sample names a channel, the operating modes and what each reads, the
// generic check's id, the discharge report's fields and path, and how the
// threshold calls lay out their texts. Data only, compiled by the device and
// by the simulator, so that the simulator cannot drift from the device.

namespace aikorvane {

// A sample above this is an order to read channel (sample - base).
inline constexpr int kChannelSampleBase = 20000;
// Highest channel a sample can name: samples are signed 16-bit numbers.
inline constexpr int kMaxSampleChannel = 32767 - kChannelSampleBase;

// The operating modes ("b_mode"), named by the carrier whose conventions
// they follow.
enum class OperatingMode : int {
  kUnicom = 1,       // [AI] change reports and [ALARM] profile rules
  kTelecom = 2,      // fixed battery rows and the discharge report
  kMobile = 3,       // [ALARM] rules with the "thresholdSetting" alarm records
  kLimitTables = 5,  // the four limit tables of "thresholdSetting"
};

constexpr bool IsMode(int b_mode, OperatingMode mode) { return b_mode == static_cast<int>(mode); }

// What each mode reads and runs; a mode not listed reads and runs nothing
// beyond the generic check, and searches the "unicom" folder.
struct ModeReads {
  OperatingMode mode;
  const char* carrier;    // sub-folder of "./ini/" searched for the profile
  bool ai_section;        // [AI] of the profile
  bool alarm_section;     // [ALARM] of the profile
  bool alarm_records;     // "thresholdSetting" as alarm records
  bool limit_records;     // "thresholdSetting" as limit records
  bool battery_rows;      // the fixed alarm rows of the mode
  bool discharge_report;  // the discharge state machine and its reports
};
inline constexpr ModeReads kModes[] = {
    {OperatingMode::kUnicom, "unicom", true, true, false, false, false, false},
    {OperatingMode::kTelecom, "telecom", false, false, false, false, true, true},
    {OperatingMode::kMobile, "mobile", false, true, true, false, true, false},
    {OperatingMode::kLimitTables, "unicom", false, false, false, true, false, false},
};
inline constexpr char kDefaultCarrier[] = "unicom";

// The row of a mode, or nullptr for a mode the device does not know.
constexpr const ModeReads* ModeOf(int b_mode) {
  for (const ModeReads& reads : kModes) {
    if (IsMode(b_mode, reads.mode)) return &reads;
  }
  return nullptr;
}

// The host's generic check of the voltage, made every round in every mode.
inline constexpr char kGenericAlarmId[] = "value";
inline constexpr char kGenericAlarmName[] = "电压";

// The discharge report: a form POST to this path of the local web service.
inline constexpr char kDischargePath[] = "/welcome/discharge/";
inline constexpr char kDischargeMediaType[] = "application/x-www-form-urlencoded";
// Its fields in body order: the state after the transition (1 discharging,
// 0 ended), the device id, the fixed signal id and name, the voltage.
inline constexpr char kDischargeStateField[] = "Play";
inline constexpr char kDischargeDeviceField[] = "Device_ID";
inline constexpr char kDischargeSignalField[] = "SPID_1";
inline constexpr char kDischargeSignalNameField[] = "SPNames";
inline constexpr char kDischargeVoltageField[] = "His_DCV";
inline constexpr char kDischargeSignalId[] = "130610010010";
inline constexpr char kDischargeSignalName[] = "001#48V蓄电池组电压";
inline constexpr char kDischargeRunning[] = "1";
inline constexpr char kDischargeEnded[] = "0";

// The four texts of CheckThresholdBool. Alarm rows and alarm rules pass
// (alarm id, alarm id, name, description); the limit tables pass (signal,
// alarm id, value, message). The alarm id stands second either way, and a
// first text that repeats it tells the row layout.
struct ThresholdTexts {
  int alarm_id;
  int name;
};
inline constexpr ThresholdTexts kRowTexts = {1, 2};
inline constexpr ThresholdTexts kLimitTexts = {1, 0};
constexpr ThresholdTexts ThresholdTextsOf(bool first_repeats_alarm_id) {
  return first_repeats_alarm_id ? kRowTexts : kLimitTexts;
}

}  // namespace aikorvane
