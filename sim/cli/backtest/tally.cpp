#include "sim/cli/backtest/tally.h"

#include <algorithm>
#include <set>

namespace sim::cli {
namespace {

void Keep(std::vector<std::time_t>& times, std::time_t now) {
  if (times.size() < kDifferencesKept) times.push_back(now);
}

}  // namespace

void SideCounter::BeginRound(std::time_t now) {
  now_ = now;
  marks_.raised.clear();
  marks_.discharge.clear();
}

void SideCounter::Alarm(const std::string& id, const std::string& name, bool condition) {
  AlarmTally& alarm = tally_.alarms[id];
  if (alarm.name.empty()) alarm.name = name;
  if (condition && !alarm.raised_since) {
    ++alarm.raised;
    if (!alarm.first_raised) alarm.first_raised = now_;
    alarm.raised_since = now_;
    marks_.raised.push_back(id);
  } else if (!condition && alarm.raised_since) {
    alarm.seconds_raised += now_ - *alarm.raised_since;
    alarm.last_cleared = now_;
    alarm.raised_since.reset();
  }
}

void SideCounter::DischargeReport(const std::string& play) {
  marks_.discharge += play.empty() ? "?" : play;
  if (play == "0") {
    ++tally_.discharge_end;
    discharging_ = false;
  } else if (discharging_) {
    ++tally_.discharge_progress;
  } else {
    ++tally_.discharge_start;
    discharging_ = true;
  }
}

void SideCounter::Finish(std::time_t end) {
  for (auto& entry : tally_.alarms) {
    AlarmTally& alarm = entry.second;
    if (alarm.raised_since) alarm.seconds_raised += end - *alarm.raised_since;
  }
}

void RoundComparer::Compare(std::time_t now, const RoundMarks& baseline,
                            const RoundMarks& candidate) {
  if (baseline.raised != candidate.raised) {
    // Few alarms are raised in one round: a linear look-up beats a set.
    const auto missing_from = [](const std::vector<std::string>& ids, const std::string& id) {
      return std::find(ids.begin(), ids.end(), id) == ids.end();
    };
    for (const std::string& id : baseline.raised) {
      if (missing_from(candidate.raised, id)) Keep(alarms_[id], now);
    }
    for (const std::string& id : candidate.raised) {
      if (missing_from(baseline.raised, id)) Keep(alarms_[id], now);
    }
  }
  if (baseline.discharge != candidate.discharge) Keep(discharge_, now);
}

std::vector<Change> Changes(const SideTally& baseline, const SideTally& candidate,
                            const RoundComparer& rounds) {
  std::set<std::string> ids;
  for (const auto& entry : baseline.alarms) ids.insert(entry.first);
  for (const auto& entry : candidate.alarms) ids.insert(entry.first);
  const auto raised = [](const SideTally& side, const std::string& id) {
    const auto found = side.alarms.find(id);
    return found == side.alarms.end() ? 0LL : found->second.raised;
  };
  std::vector<Change> changes;
  for (const std::string& id : ids) {
    const auto found = rounds.AlarmDifferences().find(id);
    if (found == rounds.AlarmDifferences().end()) continue;
    Change change{"", id, raised(baseline, id), raised(candidate, id), found->second};
    if (change.candidate == 0) {
      change.kind = "alarm_only_baseline";
    } else if (change.baseline == 0) {
      change.kind = "alarm_only_candidate";
    } else if (change.baseline != change.candidate) {
      change.kind = "alarm_raises";
    } else {
      change.kind = "alarm_times";  // as often, but in other rounds
    }
    changes.push_back(std::move(change));
  }
  if (!rounds.DischargeDifferences().empty()) {
    changes.push_back({"discharge_reports", "", baseline.DischargeReports(),
                       candidate.DischargeReports(), rounds.DischargeDifferences()});
  }
  return changes;
}

}  // namespace sim::cli
