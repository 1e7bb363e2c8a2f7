#pragma once

// What one device did over a history, counted as it happens: a month of
// 1-second rounds must not be held, so every count is kept as a running total
// and only the first few differences between the two sides are kept.

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim::cli {

struct AlarmTally {
  std::string name;
  long long raised = 0;
  long long seconds_raised = 0;
  std::optional<std::time_t> first_raised, last_cleared;
  std::optional<std::time_t> raised_since;  // while raised
};

// One side (baseline or candidate) of a site.
struct SideTally {
  bool accepted = false;
  std::map<std::string, AlarmTally> alarms;  // by the alarm id the framework receives
  long long discharge_start = 0, discharge_progress = 0, discharge_end = 0;
  long long ao_reports = 0;
  long long DischargeReports() const {
    return discharge_start + discharge_progress + discharge_end;
  }
};

// What a side did in the round that runs now, for comparing the two sides
// round by round.
struct RoundMarks {
  std::vector<std::string> raised;  // alarm ids raised in this round
  std::string discharge;            // the Play values of this round's reports, in order
};

// Counts one side's framework calls and reports round by round.
class SideCounter {
 public:
  explicit SideCounter(SideTally& tally) : tally_(tally) {}

  void BeginRound(std::time_t now);
  // A threshold call with the truth of the alarm condition in this round.
  void Alarm(const std::string& id, const std::string& name, bool condition);
  // A discharge report as its "Play=" field says: 1 starts or continues a
  // discharge, 0 ends it.
  void DischargeReport(const std::string& play);
  void AoReport() { ++tally_.ao_reports; }
  // Alarms still raised at the end count their time up to `end`.
  void Finish(std::time_t end);

  const RoundMarks& ThisRound() const { return marks_; }

 private:
  SideTally& tally_;
  RoundMarks marks_;
  std::time_t now_ = 0;
  bool discharging_ = false;
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
  std::string kind;   // see ChangeKinds in backtest_document.cpp
  std::string alarm;  // the alarm id; empty for discharge reports
  long long baseline = 0, candidate = 0;
  std::vector<std::time_t> first_differences;
};

std::vector<Change> Changes(const SideTally& baseline, const SideTally& candidate,
                            const RoundComparer& rounds);

}  // namespace sim::cli
