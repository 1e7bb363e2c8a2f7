#pragma once

// The check's one site: a fresh device configured with the site's settings
// in its working directory, and what it will do with them that the engineer
// may not have meant. check runs it per site; backtest on each candidate.

#include <json/value.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/check/check_output.h"
#include "sim/check/findings.h"
#include "sim/host/session.h"

namespace sim::cli {

class EventLog;

// Configures one fresh device per site, in the site's working directory, and
// collects what it will do. A site at a time: the device's set-up works in
// the site's folder, which the whole process shares.
class Checker {
 public:
  Checker(Host& host, unsigned long long data_id, std::shared_ptr<EventLog> log);

  // Never throws: whatever fails for one site becomes an error finding of
  // that site, so one bad site never stops the others. shown_file and
  // shown_workdir name the settings file and the working directory as the
  // user would, for the places of the findings.
  SiteReport Check(const std::string& name, const std::filesystem::path& settings_path,
                   const std::filesystem::path& workdir, const std::string& shown_file,
                   const std::string& shown_workdir);
  // The same for settings held as text rather than in a file.
  SiteReport CheckSettings(const std::string& name, const std::string& text,
                           const std::filesystem::path& workdir, const std::string& shown_file,
                           const std::string& shown_workdir);

 private:
  SiteReport Guarded(const std::string& name, const std::filesystem::path& workdir,
                     const std::string& shown_file, const std::string& shown_workdir,
                     const std::function<void(SiteReport&, ConfiguredSite&)>& check);
  void CheckText(SiteReport& report, ConfiguredSite& site);

  Host& host_;
  unsigned long long data_id_;
  std::shared_ptr<EventLog> log_;
  std::filesystem::path start_;
};

// The members of a settings document, or of a merge patch of one, that
// neither the device nor the host reads: the check's unknown-key findings,
// placed in file as text holds it.
std::vector<Finding> UnknownKeys(const Json::Value& settings, const std::string& text,
                                 const std::string& file);

}  // namespace sim::cli
