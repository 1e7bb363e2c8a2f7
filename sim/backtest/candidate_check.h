#pragma once

// The candidate settings of each site through the check, before any site
// runs: a backtest of settings the device misreads answers another question
// than the one asked.

#include <json/value.h>

#include <string>
#include <vector>

#include "sim/backtest/site_run.h"
#include "sim/host/session.h"

namespace sim::cli {

// The members of a merge patch that neither the device nor the host reads,
// one "FILE:LINE:COL: message" a member; empty when every member is read.
std::vector<std::string> UnknownPatchMembers(const Json::Value& patch, const std::string& text,
                                             const std::string& file);

// The check of each site's candidate: {"findings": [...], "warnings": N,
// "errors": N}, null where the candidate cannot be made (the site's run says
// why). One site at a time, on this thread: a device's set-up works in the
// site's folder.
std::vector<Json::Value> CheckCandidates(Host& host, const CandidateSource& source,
                                         const std::vector<SiteFolder>& sites,
                                         const std::string& patch_name);

// Puts each check into its site's result; with strict a site whose
// candidate has a warning or an error fails.
void AddChecks(std::vector<Json::Value>& results, std::vector<Json::Value> checks, bool strict);

}  // namespace sim::cli
