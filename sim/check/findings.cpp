#include "sim/check/findings.h"

#include "config/setting_keys.h"
#include "sim/check/findings/families.h"

namespace sim::cli {
namespace {

using findings::Context;

// Which sites a family speaks of. A refused device is half configured: only
// what refused it, and what needs no configured device (keys nobody reads,
// the file's text, the profile's sections), are certain.
enum class Sites { kAccepted, kRefused, kAll };

struct Family {
  const char* name;
  void (*run)(Context&);
  Sites sites;
};

constexpr Family kFamilies[] = {
    {"refusal", findings::Refusal, Sites::kRefused},
    {"json text", findings::JsonText, Sites::kAll},
    {"settings keys", findings::SettingsKeys, Sites::kAll},
    {"top-level keys", findings::TopLevelKeys, Sites::kAll},
    {"host settings", findings::HostSettings, Sites::kAll},
    {"operating mode", findings::OperatingMode, Sites::kAccepted},
    {"discharge", findings::Discharge, Sites::kAccepted},
    {"calibration", findings::Calibration, Sites::kAccepted},
    {"range", findings::Range, Sites::kAccepted},
    {"profile", findings::Profile, Sites::kAccepted},
    {"profile sections", findings::EmptySections, Sites::kAll},
    {"[AI] signals", findings::AiSignals, Sites::kAccepted},
    {"[ALARM] rules", findings::AlarmRules, Sites::kAccepted},
    {"alarm records", findings::AlarmRecords, Sites::kAccepted},
    {"limit records", findings::LimitRecords, Sites::kAccepted},
    {"alarm rows", findings::AlarmRows, Sites::kAccepted},
    {"report periods", findings::ReportPeriods, Sites::kAccepted},
};

}  // namespace

std::string ChosenProfile(const std::vector<std::string>& diagnostics) {
  const std::string kChosen = aikorvane::config::kChosenLine;
  for (const std::string& line : diagnostics) {
    if (line.rfind(kChosen, 0) == 0) return line.substr(kChosen.size());
  }
  return {};
}

std::vector<Finding> FindingsOf(const ConfiguredSite& site) {
  Context context(site);
  const std::string kTested = aikorvane::config::kTestedLine;
  for (const std::string& line : site.diagnostics) {
    if (line.rfind(kTested, 0) == 0) context.tried.push_back(line.substr(kTested.size()));
  }
  context.profile = ChosenProfile(site.diagnostics);
  for (const Family& family : kFamilies) {
    if (family.sites == Sites::kAll || (family.sites == Sites::kAccepted) == site.accepted) {
      family.run(context);
    }
  }
  return std::move(context.findings);
}

}  // namespace sim::cli
