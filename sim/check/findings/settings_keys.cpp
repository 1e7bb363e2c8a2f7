// Keys of the settings object that nobody reads, values the device parses

#include "config/device_contract.h"
// other than the engineer wrote them, and the operating mode.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "config/setting_keys.h"
#include "sim/check/findings/families.h"
#include "sim/framework/host_setting_keys.h"

namespace sim::cli::findings {
namespace config = aikorvane::config;

double MemberOf(const DeviceState& s, const std::string& key) {
  const config::ChannelKey* row = config::FindChannelKey(key.c_str());
  return row != nullptr ? config::MemberValue(s.channel, *row) : s.b_mode;
}

namespace {

std::vector<std::string> AppKeys() {
  std::vector<std::string> known;
  for (const config::ChannelKey& key : config::kChannelKeys) known.emplace_back(key.name);
  known.emplace_back(config::kOperatingMode);
  return known;
}

// "b_mode" is read as an integer like the device's own integer keys.
const config::ChannelKey kOperatingModeRow = config::IntegerKey(config::kOperatingMode, nullptr);

const config::ChannelKey& RowOf(const std::string& key) {
  const config::ChannelKey* row = config::FindChannelKey(key.c_str());
  return row != nullptr ? *row : kOperatingModeRow;
}

void NoAppSetting(Context& c) {
  const Json::Value& settings = c.site.settings;
  std::string what = !settings.isObject() ? "the settings are no JSON object (the device reads "
                                            "them as an object without members)"
                     : c.app.isNull()     ? "there is no \"appSetting\""
                                          : "\"appSetting\" is no JSON object";
  if (settings.isObject()) {
    for (const std::string& name : settings.getMemberNames()) {
      if (name != config::kAppSetting && Distance(name, config::kAppSetting) <= 2) {
        what += " (\"" + name + "\" is not \"appSetting\")";
      }
    }
  }
  c.Add(CodeId::kNoAppSetting, "/appSetting",
        what +
            ": the device reads none of its keys and keeps its current settings (on a new "
            "device: operating mode 1, conversion mode 0, range 0 to 0, discharge report "
            "off); put the device's keys in an \"appSetting\" object");
}

void Value(Context& c, const std::string& key) {
  std::string text;
  if (!TextOf(c.app[key], text)) return;
  const std::string place = Pointer({config::kAppSetting, key});
  double whole = 0;
  const bool wholly = WhollyNumber(text, whole);
  const config::ChannelKey& row = RowOf(key);
  if (row.parse != config::KeyParse::kReal) {
    const int read = std::atoi(text.c_str());
    if (wholly && std::isfinite(whole) && whole == read) return;
    std::string message =
        Quoted(text) + " is not wholly an integer: the device reads it as " + std::to_string(read);
    if (row.zero_becomes != 0 && read == 0) {
      message += ", which it replaces with " + std::to_string(row.zero_becomes);
    }
    c.Add(CodeId::kNotANumber, place, message + "; write a plain integer");
    return;
  }
  float read = 0;
  const bool parsed = std::sscanf(text.c_str(), "%f", &read) == 1;
  if (!parsed) {
    c.Add(CodeId::kNotANumber, place,
          Quoted(text) + " is no number: the device keeps the previous value of \"" + key +
              "\" (it now holds " + Number(MemberOf(c.s, key)) + "); write a number");
  } else if (!wholly) {
    c.Add(CodeId::kNotANumber, place,
          Quoted(text) + " is not wholly a number: the device reads the leading " + Number(read) +
              " and ignores the rest; write the number alone");
  } else if (!std::isfinite(read)) {
    c.Add(CodeId::kNotANumber, place,
          Quoted(text) + " reads as " + Number(read) + " in single precision; write a number");
  }
}

}  // namespace

// Keys the device does not read; on an accepted site, also values it reads
// other than the engineer wrote them.
void SettingsKeys(Context& c) {
  if (!c.app.isObject()) {
    NoAppSetting(c);
    return;
  }
  const std::vector<std::string> known = AppKeys();
  for (const std::string& name : c.app.getMemberNames()) {
    if (std::find(known.begin(), known.end(), name) != known.end()) continue;
    const std::string near = Nearest(name, known);
    std::string message = "the device does not read \"" + name + "\"";
    if (!near.empty()) {
      message += "; did you mean \"" + near + "\"?";
      if (c.site.accepted && !c.Given(near.c_str())) {
        message += " \"" + near + "\" is not given, so it holds " + Number(MemberOf(c.s, near));
      }
    } else {
      message += "; remove it or move it where its reader looks";
    }
    c.Add(CodeId::kUnknownKey, Pointer({config::kAppSetting, name}), message);
  }
  if (!c.site.accepted) return;
  for (const std::string& key : known) Value(c, key);
}

// Members of the settings object and of "hostSetting" that neither the
// device nor the host reads.
void TopLevelKeys(Context& c) {
  const Json::Value& settings = c.site.settings;
  if (!settings.isObject()) return;
  const std::vector<std::string> top = {config::kAppSetting, config::kThresholdSetting,
                                        sim::kHostSetting};
  for (const std::string& name : settings.getMemberNames()) {
    if (std::find(top.begin(), top.end(), name) != top.end()) continue;
    // Said by no-app-setting already.
    if (!c.app.isObject() && Distance(name, config::kAppSetting) <= 2) continue;
    const std::string near = Nearest(name, top);
    c.Add(CodeId::kUnknownKey, Pointer({name}),
          "neither the device nor the host reads \"" + name + "\"" +
              (near.empty() ? "; remove it"
                            : "; did you mean \"" + near +
                                  "\"? (the device reads \"appSetting\" "
                                  "and \"thresholdSetting\", the host "
                                  "\"hostSetting\")"));
  }
}

void OperatingMode(Context& c) {
  const int mode = c.s.b_mode;
  if (aikorvane::ModeOf(mode) != nullptr) return;
  // The modes as the device knows them: "1, 2, 3 and 5", "1 (unicom), ... or 5 (limit tables)".
  std::string known, choices;
  const std::size_t count = std::size(aikorvane::kModes);
  for (std::size_t i = 0; i < count; ++i) {
    const aikorvane::ModeReads& reads = aikorvane::kModes[i];
    const std::string number = std::to_string(static_cast<int>(reads.mode));
    const bool last = i + 1 == count && i > 0;
    known += (i == 0 ? "" : last ? " and " : ", ") + number;
    choices += (i == 0 ? ""
                : last ? " or "
                       : ", ") +
               number + " (" + (reads.limit_records ? "limit tables" : reads.carrier) + ")";
  }
  c.Add(CodeId::kUnknownBMode, Pointer({config::kAppSetting, config::kOperatingMode}),
        "operating mode " + std::to_string(mode) + " is none of " + known +
            ": each round runs only the host's generic check of the voltage under \"" +
            aikorvane::kGenericAlarmId +
            "\" (no battery alarms, profile rules, limit tables or discharge report); set "
            "\"b_mode\" to " +
            choices);
}

}  // namespace sim::cli::findings
