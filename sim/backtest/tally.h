#pragma once

// What the two sides of a site did, compared round by round. Each side's
// counts are the replay's own analysis (raises, time raised, discharges);
// what is kept here is only what lies between the sides: the first few
// rounds in which they did differently.

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/host/run_listener.h"
#include "sim/report/analysis.h"

namespace sim::cli {

// What a side did in the round that runs now.
struct RoundMarks {
  std::vector<std::string> raised;  // alarm ids raised in this round
  std::string discharge;            // the Play values of this round's reports, in order
  void Clear() {
    raised.clear();
    discharge.clear();
  }
};

// Follows one side's run and notes what each round did.
class RoundMarker : public RunListener {
 public:
  const RoundMarks& Marks() const { return marks_; }
  void RoundBegun(const RoundBegin&) override { marks_.Clear(); }
  void AlarmChecked(const AlarmCall& call) override;
  void DischargeReported(const Json::Value& request) override;

 private:
  RoundMarks marks_;
  std::map<std::string, bool> raised_;  // alarm id -> condition last passed
};

// Kept for each alarm id and for the discharge reports: the times of the
// first rounds in which the two sides did differently.
inline constexpr size_t kDifferencesKept = 3;

class RoundComparer {
 public:
  void Compare(std::time_t now, const RoundMarks& baseline, const RoundMarks& candidate);
  const std::map<std::string, std::vector<std::time_t>>& AlarmDifferences() const {
    return alarms_;
  }
  const std::vector<std::time_t>& DischargeDifferences() const { return discharge_; }

 private:
  std::map<std::string, std::vector<std::time_t>> alarms_;
  std::vector<std::time_t> discharge_;
};

// A difference between the two sides of a site.
struct Change {
  // "alarm_only_baseline", "alarm_only_candidate", "alarm_raises" (counts
  // differ), "alarm_delay" (as many raises, and only the first one in other
  // rounds), "alarm_times" (as many raises, others in other rounds too) or
  // "discharge_reports".
  std::string kind;
  std::string alarm;  // the alarm id; empty for discharge reports
  std::string name;
  long long baseline = 0, candidate = 0;
  std::vector<std::time_t> first_differences;
  // For an alarm both sides raise: each side's first raise. The delay is what
  // decides for a low-voltage alarm, so it is kept whatever else changed.
  std::optional<std::time_t> baseline_first, candidate_first;
};

std::vector<Change> Changes(const Analysis& baseline, const Analysis& candidate,
                            const RoundComparer& rounds);

}  // namespace sim::cli
