#pragma once

// The configurations the benchmarks measure, shared with the output trace that
// shows an optimisation changed no byte of what the device writes or sends.

#include <json/value.h>

#include <memory>

#include "plugin/aikorvane.h"

namespace bench {

// Raw sample: 8000 of 10000 on a 0 to 60 range gives 48 V.
constexpr short kSample = 8000;
constexpr unsigned int kDeviceId = 7;

// A device in the given mode, configured the way InitSetting leaves it, with
// no profile in the working directory.
std::unique_ptr<AIKorvane> ConfiguredDevice(int mode);

// A device ready for rounds: mode 1 with `count` [AI] signals, mode 2 with the
// six battery alarms, mode 3 with `count` [ALARM] rules, mode 5 with `count`
// entries in each limit table.
std::unique_ptr<AIKorvane> RoundDevice(int mode, int count);

// Writes ini/<lines>.ini, a profile of `lines` [AI] lines and one [ALARM]
// line, once per size; returns the device id that finds it.
unsigned int WriteProfile(int lines);

// Settings objects with `records` "thresholdSetting" records of mode 5 / 3.
Json::Value LimitRecords(int records);
Json::Value AlarmRecords(int records);

}  // namespace bench
