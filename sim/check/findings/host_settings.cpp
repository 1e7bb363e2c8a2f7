// The simulated host's own settings: members it does not read, and report
// periods that the device's single-precision time arithmetic stretches.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "sim/check/findings/families.h"
#include "sim/framework/host_setting_keys.h"

namespace sim::cli::findings {
namespace {

template <typename Names>
void UnknownIn(Context& c, const Json::Value& object, const Names& names,
               std::initializer_list<std::string> where) {
  if (!object.isObject()) return;
  const std::vector<std::string> known(std::begin(names), std::end(names));
  for (const std::string& name : object.getMemberNames()) {
    if (std::find(known.begin(), known.end(), name) != known.end()) continue;
    std::vector<std::string> parts(where);
    parts.push_back(name);
    std::string place;
    for (const std::string& part : parts) place += Pointer({part});
    const std::string near = Nearest(name, known);
    c.Add(CodeId::kUnknownKey, place,
          "the host does not read \"" + name + "\"" +
              (near.empty() ? "; it reads " + List([&] {
                                std::vector<std::string> quoted;
                                for (const std::string& key : known) quoted.push_back(Quoted(key));
                                return quoted;
                              }()) +
                                  " here"
                            : "; did you mean \"" + near + "\"?"));
  }
}

// The first second at which the device's period trigger fires after a report
// at t: it compares float(now) > float(t) + float(minutes * 60).
std::int64_t FirstFiring(std::uint32_t t, float minutes) {
  const float due = static_cast<float>(t) + minutes * 60.0f;
  if (!std::isfinite(due)) return -1;
  const float next = std::nextafter(due, INFINITY);
  auto now = static_cast<std::int64_t>(std::floor((static_cast<double>(due) + next) / 2)) - 1;
  now = std::max<std::int64_t>(now, t);
  while (!(static_cast<float>(now) > due)) ++now;
  return now;
}

// Only 0 turns an alarm off, so the device checks an alarm of a negative
// level like any other and the host raises it under that level.
void NegativeLevel(Context& c, const Json::Value& alarm, const std::string& id) {
  const Json::Value& level = Context::Member(alarm, sim::kAlarmLevel);
  if (!level.isInt() || level.asInt() >= 0) return;
  c.Add(CodeId::kAlarmLevelNegative, Pointer({sim::kHostSetting, "alarms", id, sim::kAlarmLevel}),
        "level " + std::to_string(level.asInt()) + " of alarm " + id +
            ": only 0 turns an alarm off, so the device still checks it and the host raises it "
            "under level " +
            std::to_string(level.asInt()) +
            ", which it has no use for; give a level of 1 or more, or 0 to turn the alarm off");
}

}  // namespace

void HostSettings(Context& c) {
  const Json::Value& host = Context::Member(c.site.settings, sim::kHostSetting);
  if (!host.isObject()) return;
  UnknownIn(c, host, sim::kHostKeys, {sim::kHostSetting});
  for (const char* table : {"alarms", "aoReport"}) {
    const Json::Value& entries = host[table];
    if (!entries.isObject()) continue;
    for (const std::string& id : entries.getMemberNames()) {
      if (std::string(table) == "alarms") {
        UnknownIn(c, entries[id], sim::kHostAlarmKeys, {sim::kHostSetting, table, id});
        NegativeLevel(c, entries[id], id);
      } else {
        UnknownIn(c, entries[id], sim::kHostReportKeys, {sim::kHostSetting, table, id});
      }
    }
  }
}

// Mode 1 only: the change-based report runs there alone.
void ReportPeriods(Context& c) {
  if (!c.site.accepted || !c.Reads().ai_section) return;
  const Json::Value& reports =
      Context::Member(Context::Member(c.site.settings, sim::kHostSetting), "aoReport");
  if (!reports.isObject()) return;
  // Present-day clock values lie between 2^30 and 2^31 s, where neighbouring
  // single-precision values are 128 s apart; 256 s cover every pattern.
  const std::uint32_t kToday = 1800000000u - 1800000000u % 256;
  for (const std::string& id : reports.getMemberNames()) {
    const Json::Value& period = reports[id]["periodMinutes"];
    if (!period.isNumeric()) continue;
    const float minutes = period.asFloat();
    std::int64_t earliest = INT64_MAX, latest = INT64_MIN;
    bool stretched = false;
    for (std::uint32_t t = kToday; t < kToday + 256; ++t) {
      const std::int64_t fires = FirstFiring(t, minutes);
      if (fires < 0) return;
      // With exact arithmetic: the first whole second past t + period.
      const auto exact = static_cast<std::int64_t>(std::floor(t + minutes * 60.0)) + 1;
      stretched = stretched || fires != exact;
      earliest = std::min(earliest, fires - t);
      latest = std::max(latest, fires - t);
    }
    if (!stretched) continue;
    c.Add(CodeId::kPeriodQuantised, Pointer({sim::kHostSetting, "aoReport", id, "periodMinutes"}),
          "a period of " + Number(minutes) + (minutes == 1 ? " minute (" : " minutes (") +
              Number(minutes * 60.0) +
              " s): the device adds it to the last report time in single precision, where "
              "present-day times step by 128 s, so the period report of " +
              id + " comes first " +
              (earliest == latest ? std::to_string(earliest)
                                  : std::to_string(earliest) + " to " + std::to_string(latest)) +
              " s after the last report (it depends on the report's time), not " +
              Number(minutes * 60.0 + 1) + " s; count on that spread");
  }
}

}  // namespace sim::cli::findings
