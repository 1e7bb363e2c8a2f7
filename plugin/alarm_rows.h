#pragma once

// The fixed battery alarm rows of operating modes 2 and 3 and the words and
// limits of the per-round checks: data only, compiled by the device and by
// the simulator's check, so that the check cannot drift from the device.

#include <cstddef>

namespace aikorvane {

struct AlarmRow {
  const char* id;
  const char* name;  // nullptr: the name comes from the threshold configuration
  bool alarm_when_above;
};

// Battery voltage alarms checked in operating mode 2, in this order: the
// 48 V battery group, then the UPS battery group, each high, low, very low.
inline constexpr AlarmRow kTelecomRows[] = {
    {"110610040010", "001#48V蓄电池电压过高", true},
    {"110610050010", "001#48V蓄电池电压过低", false},
    {"110610060010", "001#48V蓄电池电压超低", false},
    {"110410040010", "001#UPS蓄电池组电压过高", true},
    {"110410050010", "001#UPS蓄电池组电压过低", false},
    {"110410060010", "001#UPS蓄电池组电压超低", false},
};
inline constexpr unsigned short kTelecomRowFlags = 1;

// Operating mode 3: high, then low.
inline constexpr AlarmRow kMobileRows[] = {
    {"007001", nullptr, true},
    {"007002", nullptr, false},
};
inline constexpr unsigned short kMobileRowFlags = 65535;

// The words of a mode 3 [ALARM] rule after its alarm id and comma.
inline constexpr const char* kComparisonWords[] = {"upper", "lower", "equal", "notequal"};

// The discharge report is on while its start voltage is above this.
inline constexpr double kDischargeSwitch = 0.01;
// An [AI] signal id shorter than this cannot be rewritten into its reported id.
inline constexpr std::size_t kShortestSignalId = 9;

}  // namespace aikorvane
