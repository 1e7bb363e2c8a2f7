// Operating mode 5: the limit records of "thresholdSetting" and the limit
// tables the device made of them.

#include <map>

#include "config/setting_keys.h"
#include "sim/check/findings/families.h"

namespace sim::cli::findings {
namespace config = aikorvane::config;
namespace {

const char* const kFamilyNames[] = {"upper", "second upper", "lower", "second lower"};
constexpr int kFamilyCount = 4;

// Per family, per signal name: the records that complete the family, in the
// order the device reads them (the JSON library's member order, by name).
using Sources = std::map<std::string, std::vector<std::string>>[kFamilyCount];

void Record(Context& c, const std::string& name, const Json::Value& record, Sources& sources) {
  const std::string place = Pointer({config::kThresholdSetting, name});
  std::string id, signal;
  const bool has_id = TextOf(record[config::kRecordId], id) && !id.empty();
  const bool has_name = TextOf(record[config::kSignalName], signal) && !signal.empty();
  if (!has_id || !has_name) {
    c.Add(CodeId::kLimitRecordSkipped, place,
          std::string("the record has no ") + (!has_id ? "\"ID\"" : "\"SignalName\"") +
              (!has_id && !has_name ? " and no \"SignalName\"" : "") +
              " (absent, null or empty): the device passes it over and loads none of its "
              "limits; give both");
    return;
  }
  for (int f = 0; f < kFamilyCount; ++f) {
    const config::LimitFamily& family = config::kLimitFamilies[f];
    std::vector<std::string> lacking;
    for (const char* key : {family.limit, family.recovery, family.level}) {
      std::string text;
      if (!TextOf(record[key], text) || text.empty()) lacking.push_back(Quoted(key));
    }
    if (lacking.empty()) {
      sources[f][signal].push_back(name);
    } else if (lacking.size() < 3) {
      c.Add(CodeId::kLimitFamilyIncomplete, place,
            std::string("the ") + kFamilyNames[f] + " limit lacks " + List(lacking) +
                " (absent, null or empty): the device does not load that limit from this "
                "record; give all three of " +
                family.limit + ", " + family.recovery + " and " + family.level);
    }
  }
}

void Duplicates(Context& c, const Sources& sources) {
  // Per signal, the families set by the same records, said once.
  std::map<std::string, std::map<std::vector<std::string>, std::vector<int>>> shared;
  for (int f = 0; f < kFamilyCount; ++f) {
    for (const auto& [signal, records] : sources[f]) {
      if (records.size() > 1) shared[signal][records].push_back(f);
    }
  }
  for (const auto& [signal, groups] : shared) {
    for (const auto& [records, families] : groups) {
      std::vector<std::string> names, limits;
      for (const std::string& record : records) names.push_back(Quoted(record));
      for (const int f : families) {
        const auto entry = c.s.limits[f].find(signal);
        std::string limit = kFamilyNames[f];
        if (entry != c.s.limits[f].end()) {
          limit += " " + Number(std::get<1>(entry->second)) + " recovering at " +
                   Number(std::get<2>(entry->second)) + ", level " +
                   std::to_string(std::get<4>(entry->second));
        }
        limits.push_back(limit);
      }
      const bool two = records.size() == 2;
      std::vector<std::string> family_names;
      for (const int f : families) family_names.emplace_back(kFamilyNames[f]);
      c.Add(CodeId::kLimitRecordDuplicateSignal,
            Pointer({config::kThresholdSetting, records.back()}),
            "records " + List(names) + (two ? " both" : " all") + " set the " + List(family_names) +
                (families.size() > 1 ? " limits" : " limit") + " of signal " + Quoted(signal) +
                ": the device reads the records in the order of their names (byte by byte), "
                "not in file order, and the last one read wins: " +
                Quoted(records.back()) + " (" + List(limits) +
                "); keep one record per signal and limit");
    }
  }
}

void WrongSide(Context& c, const Sources& sources) {
  for (int f = 0; f < kFamilyCount; ++f) {
    const config::LimitFamily& family = config::kLimitFamilies[f];
    for (const auto& [signal, entry] : c.s.limits[f]) {
      const float limit = std::get<1>(entry);
      const float recovery = std::get<2>(entry);
      if (family.upper ? !(recovery > limit) : !(recovery < limit)) continue;
      const auto source = sources[f].find(signal);
      const std::string place =
          source == sources[f].end()
              ? Pointer({config::kThresholdSetting})
              : Pointer({config::kThresholdSetting, source->second.back(), family.recovery});
      const std::string low = Number(family.upper ? limit : recovery);
      const std::string high = Number(family.upper ? recovery : limit);
      c.Add(CodeId::kLimitRecoveryWrongSide, place,
            std::string("the ") + kFamilyNames[f] + " limit " + Number(limit) + " of " +
                Quoted(signal) + " (alarm " + std::get<0>(entry) + ") recovers at " +
                Number(recovery) + ", " + (family.upper ? "above" : "below") +
                " the limit: while the value lies from " + low + " to " + high +
                " the alarm is raised and cleared on alternate rounds; set the recovery value " +
                (family.upper ? "below" : "above") + " the limit");
    }
  }
}

}  // namespace

void LimitRecords(Context& c) {
  const Json::Value& records = Context::Member(c.site.settings, config::kThresholdSetting);
  if (!c.Reads().limit_records || !records.isObject()) return;
  Sources sources;
  for (const std::string& name : records.getMemberNames()) {
    const Json::Value& record = records[name];
    if (!record.isObject()) {
      c.Add(CodeId::kLimitRecordSkipped, Pointer({config::kThresholdSetting, name}),
            "the record is no JSON object: the device passes it over; make it an object");
      continue;
    }
    Record(c, name, record, sources);
  }
  Duplicates(c, sources);
  WrongSide(c, sources);
}

}  // namespace sim::cli::findings
