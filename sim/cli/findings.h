#pragma once

// What a configured device will do with its settings that the site engineer
// may not have meant: findings derived from the device's own state after
// InitSetting, from its diagnostic lines and from the settings object.

#include <json/value.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/cli/plugin_host.h"

namespace sim::cli {

struct Finding {
  std::string severity;  // "error", "warning" or "note"
  std::string code;
  std::string place;  // a JSON pointer, or "PROFILE [SECTION] KEY"
  std::string message;
};

// One site after InitSetting.
struct ConfiguredSite {
  Json::Value settings;
  bool accepted = false;
  std::string refusal;                   // why InitSetting threw or returned false
  bool threw = false;                    // InitSetting threw (else it returned false)
  std::vector<std::string> diagnostics;  // the device's lines while it read the settings
  DeviceState state;
  std::filesystem::path workdir;
};

// The profile the device chose, as it named it ("" when none).
std::string ChosenProfile(const std::vector<std::string>& diagnostics);

std::vector<Finding> FindingsOf(const ConfiguredSite& site);

// The finding of a settings file that cannot be read or parsed.
Finding SettingsFileFinding(const std::string& path, const std::string& reader_error, bool opened);

}  // namespace sim::cli
