// Operating mode 3: the [ALARM] rules of the profile and the alarm records
// of "thresholdSetting"; and "thresholdSetting" where no mode reads it.

#include <algorithm>

#include "config/setting_keys.h"
#include "plugin/alarm_rows.h"
#include "sim/check/findings/families.h"

namespace sim::cli::findings {
namespace config = aikorvane::config;
namespace {

bool IsComparison(const std::string& word) {
  return std::find(std::begin(aikorvane::kComparisonWords), std::end(aikorvane::kComparisonWords),
                   word) != std::end(aikorvane::kComparisonWords);
}

std::string TrimmedSpaces(const std::string& word) {
  const auto begin = word.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  return word.substr(begin, word.find_last_not_of(' ') - begin + 1);
}

}  // namespace

void AlarmRules(Context& c) {
  if (!c.Reads().alarm_records) return;
  const std::vector<std::string> words(std::begin(aikorvane::kComparisonWords),
                                       std::end(aikorvane::kComparisonWords));
  for (const auto& [key, rule] : c.s.alarm_rules) {
    const auto comma = rule.find(',');
    const std::string word = comma == std::string::npos ? rule : rule.substr(comma + 1);
    if (IsComparison(word)) continue;
    std::string message = "comparison " + Quoted(word) +
                          " is none of upper, lower, equal and notequal: the device never "
                          "checks this rule";
    const std::string trimmed = TrimmedSpaces(word);
    const std::string near = Nearest(word, words);
    if (trimmed != word && IsComparison(trimmed)) {
      message += "; remove the spaces around " + Quoted(trimmed);
    } else if (!near.empty()) {
      message += "; did you mean " + Quoted(near) + "?";
    } else {
      message += "; write alarm id, a comma and one of the four words";
    }
    c.AddInProfile(CodeId::kAlarmRuleUnknownComparison, Severity::kWarning,
                   IniLine((c.site.workdir / c.profile).string(), "ALARM", key),
                   c.profile + " [ALARM] " + key, message);
  }
}

void AlarmRecords(Context& c) {
  const Json::Value& records = Context::Member(c.site.settings, config::kThresholdSetting);
  if (!c.Reads().alarm_records && !c.Reads().limit_records) {
    if (!records.isNull()) {
      c.Add(CodeId::kThresholdSettingIgnored, Pointer({config::kThresholdSetting}),
            "operating mode " + std::to_string(c.s.b_mode) +
                " does not read \"thresholdSetting\" (modes 3 and 5 do): its records have no "
                "effect; remove them or set the operating mode they were written for");
    }
    return;
  }
  if (!c.Reads().alarm_records || !records.isObject()) return;
  for (const std::string& name : records.getMemberNames()) {
    const Json::Value& record = records[name];
    const std::string place = Pointer({config::kThresholdSetting, name});
    if (!record.isObject()) {
      c.Add(CodeId::kAlarmRecordIncomplete, place,
            "the record is no JSON object: the device passes it over; make it an object");
      continue;
    }
    std::vector<std::string> missing;
    for (const char* part : config::kAlarmPrefixParts) {
      if (record[part].isNull()) missing.emplace_back(part);
    }
    if (missing.empty()) continue;
    const auto prefix = c.s.alarm_report_prefix.find(name);
    const bool many = missing.size() > 1;
    c.Add(CodeId::kAlarmRecordIncomplete, place,
          "the record has no " + List(missing) + ": " + (many ? "their places" : "its place") +
              " in the alarm description stay empty (the device stores the prefix " +
              Quoted(prefix == c.s.alarm_report_prefix.end() ? std::string() : prefix->second) +
              "); add " + (many ? "them" : "it"));
  }
}

}  // namespace sim::cli::findings
