// A refused site: what made InitSetting throw or return false, and where.

#include <cstdlib>

#include "config/setting_keys.h"
#include "sim/check/findings/families.h"

namespace sim::cli::findings {
namespace config = aikorvane::config;
namespace {

// Where the device met a value without a text form: the first array or
// object among the values it reads, in its reading order.
std::string UnconvertiblePlace(const Context& c) {
  auto bad = [](const Json::Value& value) { return value.isArray() || value.isObject(); };
  if (c.app.isObject()) {
    for (const config::ChannelKey& key : config::kChannelKeys) {
      if (bad(c.app[key.name])) return Pointer({config::kAppSetting, key.name});
    }
    if (bad(c.app[config::kOperatingMode])) {
      return Pointer({config::kAppSetting, config::kOperatingMode});
    }
  }
  const Json::Value& records = Context::Member(c.site.settings, config::kThresholdSetting);
  if ((!c.Reads().alarm_records && !c.Reads().limit_records) || !records.isObject()) return "/";
  std::vector<std::string> keys;
  if (c.Reads().alarm_records) {
    keys = {config::kSignalName};
    for (const char* part : config::kAlarmPrefixParts) keys.emplace_back(part);
  } else {
    keys = {config::kRecordId, config::kSignalName};
    for (const config::LimitFamily& family : config::kLimitFamilies) {
      keys.insert(keys.end(), {family.limit, family.recovery, family.level});
    }
  }
  for (const std::string& name : records.getMemberNames()) {
    const Json::Value& record = records[name];
    if (!record.isObject()) continue;
    for (const std::string& key : keys) {
      if (bad(record[key])) return Pointer({config::kThresholdSetting, name, key});
    }
  }
  return "/";
}

}  // namespace

void Refusal(Context& c) {
  const std::string& why = c.site.refusal;
  const std::string tail =
      " The device stops reading its settings at that step: what it read before stays, "
      "nothing after it (the host's own settings included) is read. Fix it and check again.";
  if (!c.site.threw) {
    c.Add(CodeId::kSettingsRefused, "/hostSetting",
          "the host refuses its settings: " + why + "." + tail);
    return;
  }
  const std::string kNoNode = "No such node (";
  if (why.rfind(kNoNode, 0) == 0 && why.back() == ')') {
    const std::string section = why.substr(kNoNode.size(), why.size() - kNoNode.size() - 1);
    c.AddInProfile(CodeId::kSettingsRefused, Severity::kError, 0, c.profile + " [" + section + "]",
                   "InitSetting threw \"" + why + "\": the profile has no [" + section +
                       "] section with an entry, and operating mode " + std::to_string(c.s.b_mode) +
                       " needs one." + tail);
    return;
  }
  if (!c.profile.empty() && why.rfind(c.profile, 0) == 0) {
    // The INI reader names the line: "PROFILE(LINE): what".
    const std::size_t open = c.profile.size();
    const int line = why.size() > open && why[open] == '(' ? std::atoi(why.c_str() + open + 1) : 0;
    c.AddInProfile(CodeId::kSettingsRefused, Severity::kError, line, c.profile,
                   "InitSetting threw \"" + why + "\": the profile cannot be read." + tail);
    return;
  }
  c.Add(CodeId::kSettingsRefused, UnconvertiblePlace(c),
        "InitSetting threw \"" + why + "\"." + tail);
}

}  // namespace sim::cli::findings
