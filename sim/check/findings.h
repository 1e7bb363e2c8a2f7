#pragma once

// What a configured device will do with its settings that the site engineer
// may not have meant: findings derived from the device's own state after
// InitSetting, from its diagnostic lines and from the settings file.

#include <json/value.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim/check/findings/codes.h"
#include "sim/host/plugin_host.h"

namespace sim::cli {

struct Finding {
  const Code* code = nullptr;
  Severity severity = Severity::kError;
  std::string place;  // a JSON pointer, "PROFILE [SECTION] KEY", or the file itself
  std::string message;
  std::string file;  // as the user would name it; empty where the finding comes from no file
  int line = 0;      // 1-based; 0 where unknown
  int column = 0;
};

// One site after InitSetting.
struct ConfiguredSite {
  Json::Value settings;
  std::string settings_text;  // the file's bytes, which the offsets in settings index
  std::string settings_file;  // the settings file as the user would name it
  std::string shown_workdir;  // the working directory as the user would name it
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

// The JSON reader's first error ("* Line L, Column C\n  what\n...") as its
// place and its message on one line; line and column 0 where it names none.
struct ReaderError {
  int line = 0;
  int column = 0;
  std::string message;
};
ReaderError FirstReaderError(const std::string& reader_error);

// The finding of a settings file that cannot be read (opened false) or parsed.
Finding SettingsFileFinding(const std::string& file, const std::string& reader_error, bool opened);

}  // namespace sim::cli
