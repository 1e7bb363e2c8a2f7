#include "sim/backtest/tally.h"

#include <algorithm>

#include "config/device_contract.h"

namespace sim::cli {
namespace {

void Keep(std::vector<std::time_t>& times, std::time_t now) {
  if (times.size() < kDifferencesKept) times.push_back(now);
}

const AlarmStats* StatsOf(const Analysis& analysis, const std::string& id) {
  const auto found = analysis.alarms.find(id);
  return found == analysis.alarms.end() ? nullptr : &found->second;
}

// As many raises on both sides, and the rounds that differ are only the two
// first raises. Three times are kept, so a third round that differs is
// always among them.
bool OnlyFirstRaiseMoved(const AlarmStats& b, const AlarmStats& c,
                         const std::vector<std::time_t>& times) {
  const std::time_t first_b = b.first_raise->time, first_c = c.first_raise->time;
  if (first_b == first_c) return false;
  return std::all_of(times.begin(), times.end(),
                     [&](std::time_t time) { return time == first_b || time == first_c; });
}

}  // namespace

void RoundMarker::AlarmChecked(const AlarmCall& call) {
  bool& raised = raised_[call.id];
  if (call.condition && !raised) marks_.raised.push_back(call.id);
  raised = call.condition;
}

void RoundMarker::DischargeReported(const Json::Value& request) {
  marks_.discharge +=
      FieldOf(ParseForm(request["body"].asString()), aikorvane::kDischargeStateField) + " ";
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

std::vector<Change> Changes(const Analysis& baseline, const Analysis& candidate,
                            const RoundComparer& rounds) {
  std::vector<Change> changes;
  // Raises that differ always differ in some round: the ids that did are the
  // alarms that changed.
  for (const auto& [id, times] : rounds.AlarmDifferences()) {
    const AlarmStats* b = StatsOf(baseline, id);
    const AlarmStats* c = StatsOf(candidate, id);
    Change change{"",
                  id,
                  (b != nullptr ? b : c)->name,
                  b != nullptr ? b->raises : 0,
                  c != nullptr ? c->raises : 0,
                  times,
                  std::nullopt,
                  std::nullopt};
    if (change.candidate == 0) {
      change.kind = "alarm_only_baseline";
    } else if (change.baseline == 0) {
      change.kind = "alarm_only_candidate";
    } else if (change.baseline != change.candidate) {
      change.kind = "alarm_raises";
    } else {
      change.kind = OnlyFirstRaiseMoved(*b, *c, times) ? "alarm_delay" : "alarm_times";
    }
    if (change.baseline > 0 && change.candidate > 0) {
      change.baseline_first = b->first_raise->time;
      change.candidate_first = c->first_raise->time;
    }
    changes.push_back(std::move(change));
  }
  if (!rounds.DischargeDifferences().empty()) {
    changes.push_back({"discharge_reports", "", "",
                       static_cast<long long>(baseline.discharge_reports.size()),
                       static_cast<long long>(candidate.discharge_reports.size()),
                       rounds.DischargeDifferences(), std::nullopt, std::nullopt});
  }
  return changes;
}

}  // namespace sim::cli
