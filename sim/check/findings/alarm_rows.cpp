// The fixed battery alarm rows of modes 2 and 3 against the host's alarm
// levels and thresholds.

#include "plugin/alarm_rows.h"

#include <algorithm>

#include "sim/check/findings/families.h"
#include "sim/framework/host_setting_keys.h"

namespace sim::cli::findings {
namespace {

using aikorvane::AlarmRow;
using aikorvane::IsMode;
using aikorvane::OperatingMode;

struct Row {
  const AlarmRow* row = nullptr;
  int level = 0;
  float threshold = 0;
  bool Judged() const { return row != nullptr && level != 0; }
};

Row Look(const Context& c, const AlarmRow& row) {
  Row found;
  found.row = &row;
  const auto level = c.s.alarm_levels.find(row.id);
  if (level != c.s.alarm_levels.end()) found.level = level->second;
  const auto value = c.s.alarm_values.find(row.id);
  if (value != c.s.alarm_values.end()) found.threshold = value->second;
  return found;
}

std::string ThresholdPlace(const char* id) {
  return Pointer({sim::kHostSetting, "alarms", id, "value"});
}

std::string Named(const Row& row) {
  return std::string("alarm ") + row.row->id +
         (row.row->name != nullptr ? std::string(" (") + row.row->name + ")" : std::string()) +
         " at " + Number(row.threshold);
}

void Zero(Context& c, const Row& row) {
  if (!row.Judged() || row.threshold != 0) return;
  c.Add(CodeId::kAlarmThresholdZero, ThresholdPlace(row.row->id),
        std::string("alarm ") + row.row->id + " has level " + std::to_string(row.level) +
            " and threshold 0 in the host's settings: " +
            (row.row->alarm_when_above
                 ? "the device raises it for every positive voltage"
                 : "the device raises it only for a voltage below 0, so in practice never") +
            "; give the host the alarm's threshold");
}

// One group: high, low and (mode 2) very low, each judged only with a level.
// A threshold of 0 is said by alarm-threshold-zero already.
void Order(Context& c, const Row& high, const Row& low, const Row& very_low) {
  auto usable = [](const Row& row) { return row.Judged() && row.threshold != 0; };
  if (usable(low) && usable(very_low) && very_low.threshold > low.threshold) {
    c.Add(CodeId::kAlarmThresholdOrder, ThresholdPlace(very_low.row->id),
          "the very low " + Named(very_low) + " lies above the low " + Named(low) + ": from " +
              Number(low.threshold) + " up to " + Number(very_low.threshold) +
              " the device raises the very low alarm but not the low one; set the very low "
              "threshold below the low one");
  }
  for (const Row* lower : {&low, &very_low}) {
    if (!usable(high) || !usable(*lower) || high.threshold > lower->threshold) continue;
    c.Add(CodeId::kAlarmThresholdOrder, ThresholdPlace(high.row->id),
          "the high " + Named(high) + " lies at or below the low " + Named(*lower) +
              ": every voltage above " + Number(high.threshold) +
              " raises the high alarm and "
              "every voltage below " +
              Number(lower->threshold) + " the low one, so " +
              (high.threshold == lower->threshold
                   ? "one of them is raised at every voltage but " + Number(high.threshold)
                   : "both are raised from " + Number(high.threshold) + " to " +
                         Number(lower->threshold)) +
              "; set the high threshold above the low ones");
  }
}

// The alarm ids the device hands to the host's alarm check in this mode; in
// mode 1 the host also checks the [AI] signals under ids of its own, so no
// id counts as unused there.
bool Unused(const Context& c, const std::string& id) {
  if (c.Reads().ai_section || id == aikorvane::kGenericAlarmId) return false;
  if (IsMode(c.s.b_mode, OperatingMode::kTelecom)) {
    return std::none_of(std::begin(aikorvane::kTelecomRows), std::end(aikorvane::kTelecomRows),
                        [&](const AlarmRow& row) { return id == row.id; });
  }
  if (IsMode(c.s.b_mode, OperatingMode::kMobile)) {
    for (const AlarmRow& row : aikorvane::kMobileRows) {
      if (id == row.id) return false;
    }
    // A rule's alarm id is its value up to the first comma.
    for (const auto& [key, rule] : c.s.alarm_rules) {
      if (rule.substr(0, rule.find(',')) == id) return false;
    }
  }
  return true;
}

std::string UsedIds(const Context& c) {
  std::vector<std::string> ids;
  if (IsMode(c.s.b_mode, OperatingMode::kTelecom)) {
    for (const AlarmRow& row : aikorvane::kTelecomRows) ids.emplace_back(row.id);
  } else if (IsMode(c.s.b_mode, OperatingMode::kMobile)) {
    for (const AlarmRow& row : aikorvane::kMobileRows) ids.emplace_back(row.id);
    ids.emplace_back("those of its [ALARM] rules");
  }
  return ids.empty() ? "no host alarm" : "only alarms " + List(ids);
}

}  // namespace

void AlarmRows(Context& c) {
  const auto& telecom = aikorvane::kTelecomRows;
  const auto& mobile = aikorvane::kMobileRows;
  if (IsMode(c.s.b_mode, OperatingMode::kTelecom)) {
    Row rows[6];
    for (int i = 0; i < 6; ++i) rows[i] = Look(c, telecom[i]);
    for (const Row& row : rows) Zero(c, row);
    Order(c, rows[0], rows[1], rows[2]);  // 48 V
    Order(c, rows[3], rows[4], rows[5]);  // UPS
  } else if (IsMode(c.s.b_mode, OperatingMode::kMobile)) {
    const Row high = Look(c, mobile[0]);
    const Row low = Look(c, mobile[1]);
    Zero(c, high);
    Zero(c, low);
    Order(c, high, low, Row());
  }
  const Json::Value& alarms =
      Context::Member(Context::Member(c.site.settings, sim::kHostSetting), "alarms");
  if (!alarms.isObject()) return;
  for (const std::string& id : alarms.getMemberNames()) {
    if (!Unused(c, id)) continue;
    c.Add(CodeId::kAlarmIdUnused, Pointer({sim::kHostSetting, "alarms", id}),
          "operating mode " + std::to_string(c.s.b_mode) + " judges " + UsedIds(c) +
              ": the device never uses the host's alarm " + id +
              "; remove it or set the operating mode it was written for");
  }
}

}  // namespace sim::cli::findings
