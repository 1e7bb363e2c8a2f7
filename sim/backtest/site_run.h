#pragma once

// One site through two devices of the real plug-in, the site's own settings
// (baseline) and the changed ones (candidate), row by row on the site's
// recorded history.

#include <json/value.h>

#include <filesystem>
#include <mutex>
#include <string>

#include "sim/backtest/document.h"
#include "sim/backtest/fleet.h"
#include "sim/host/session.h"

namespace sim::cli {

class PlotKeeper;
class ReportRouter;

// Where a site's candidate settings come from: a merge patch applied to the
// site's own settings, or a folder holding a folder per site.
struct CandidateSource {
  Json::Value patch;  // null when candidates come from folder
  fs::path folder;    // DIR of DIR/<site name>/settings.json
};

// A site's candidate settings and the folder its device works in.
struct Candidate {
  Json::Value settings;
  fs::path workdir;
  fs::path file;  // the candidate's own settings file; empty when patched
};

// The site's candidate made from its own settings; false with why.
bool CandidateOf(const CandidateSource& source, const SiteFolder& site, const Json::Value& own,
                 Candidate& candidate, std::string& error);

struct SiteRunner {
  Host& host;
  ReportRouter& reports;
  CandidateSource candidate_source;
  int channel = 0;  // 0: each side's own "ai_index"
  // Device set-up reads profiles relative to the working directory, which all
  // threads share: set-up of one device at a time.
  std::mutex& setup;
  // Where the sites' plots go; null: none drawn.
  PlotKeeper* plots = nullptr;
  BadRows bad_rows = BadRows::kFail;
  // Each side's build of the plug-in (null: the host's).
  const LoadedPlugin* baseline_plugin = nullptr;
  const LoadedPlugin* candidate_plugin = nullptr;

  SiteOutcome Run(const SiteFolder& site);
};

}  // namespace sim::cli
