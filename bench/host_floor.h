#pragma once

// What a round costs however the device is written, beyond its lines: the
// framework calls it makes, recorded once and made again with the same
// arguments, and the look-ups of the published values its mode must make.

#include <json/value.h>

#include <functional>
#include <string>
#include <vector>

#include "plugin/aikorvane.h"

namespace bench {

// One framework call of a round with its argument values.
struct HostCall {
  enum Kind {
    kSendSP,
    kReset,
    kReadAi,
    kCheckThreshold,
    kCheckThresholdBool,
    kCheckAOReport,
    kDoBatchCheckThreshold,
    kSaveDeviceHistory
  };
  Kind kind;
  int number = 0;  // record code, channel, flag word or level
  bool flag = false;
  unsigned short flags = 0;
  float value = 0.0f;
  std::string texts[4];
  std::vector<unsigned char> bytes;
};

// The framework calls one round makes, as the recording framework saw them.
std::vector<HostCall> RecordCalls(AIKorvane& device, const std::function<void()>& round);

// Makes the calls again on the device, as a round makes them: the rule results
// that CheckThresholdBool collects go to the batch check, and the list is
// emptied at the end. The record stamp (get_ttime) is the host's too.
void MakeCalls(AIKorvane& device, const std::vector<HostCall>& calls);

// The names a round of the device's mode looks up in its published values,
// in the order it reads them: once per entry of its table, or of each of its
// four tables in mode 5. Mode 2 reads none.
std::vector<std::string> ReadNames(const AIKorvane& device);

// What any reader of the published values pays: one search of the object by
// name per entry, with nothing remembered from the previous round.
void ReadMembers(const Json::Value& published, const std::vector<std::string>& names);

}  // namespace bench
