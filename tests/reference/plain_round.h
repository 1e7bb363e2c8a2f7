#pragma once

// The round of the device written straight from its steps, with nothing kept
// from one round to the next: the local time read from the library every
// round, every member looked up by name, every line written piece by piece.
// The device's own round must make the same host calls with the same
// arguments and write the same bytes.

#include <string>

#include "plugin/aikorvane.h"

namespace reference {

class PlainDevice : public AIKorvane {
 public:
  void RoundDone() override;

 private:
  void CheckAiSignals();
  void CheckAlarmRules();
  void CheckLimitTable(ThresholdTable& table, bool is_upper);
  void ReportOnChange(const std::string& fallback_id, const std::string& signal_id, float value);
};

}  // namespace reference
