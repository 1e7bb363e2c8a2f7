#include "sim/backtest/candidate_check.h"

#include <json/writer.h>

#include "sim/check/checker.h"
#include "sim/replay/replay.h"

namespace sim::cli {
namespace {

std::string Where(const Finding& finding) {
  std::string where = finding.file;
  if (finding.line > 0) where += ":" + std::to_string(finding.line);
  if (finding.column > 0) where += ":" + std::to_string(finding.column);
  return where;
}

Json::Value CheckJson(SiteReport report, bool patched) {
  // Lines of a patched text would point into a file nobody has: the place,
  // a JSON pointer, says where.
  if (patched) {
    for (Finding& finding : report.findings) finding.line = finding.column = 0;
  }
  Json::Value json = ToJson(report, false, Severity::kNote);
  Json::Value check(Json::objectValue);
  check["findings"] = json["findings"];
  int warnings = 0, errors = 0;
  for (const Finding& finding : report.findings) {
    warnings += finding.severity == Severity::kWarning;
    errors += finding.severity == Severity::kError;
  }
  check["warnings"] = warnings;
  check["errors"] = errors;
  return check;
}

}  // namespace

std::vector<std::string> UnknownPatchMembers(const Json::Value& patch, const std::string& text,
                                             const std::string& file) {
  std::vector<std::string> members;
  for (const Finding& finding : UnknownKeys(patch, text, file)) {
    members.push_back(Where(finding) + ": " + finding.place + ": " + finding.message);
  }
  return members;
}

std::vector<Json::Value> CheckCandidates(Host& host, const CandidateSource& source,
                                         const std::vector<SiteFolder>& sites,
                                         const std::string& patch_name) {
  Checker checker(host, 1, nullptr);
  std::vector<Json::Value> checks;
  for (const SiteFolder& site : sites) {
    const fs::path own_file = site.folder / "settings.json";
    Json::Value own;
    Candidate candidate;
    std::string error;
    if (!ReadSettingsFile(own_file.string(), own, error) ||
        !CandidateOf(source, site, own, candidate, error)) {
      checks.emplace_back();
      continue;
    }
    const std::string workdir = candidate.workdir.string();
    if (candidate.file.empty()) {
      Json::StreamWriterBuilder writer;
      writer["emitUTF8"] = true;
      const std::string shown = own_file.string() + " patched by " + patch_name;
      checks.push_back(
          CheckJson(checker.CheckSettings(site.name, Json::writeString(writer, candidate.settings),
                                          candidate.workdir, shown, workdir),
                    true));
    } else {
      checks.push_back(CheckJson(checker.Check(site.name, candidate.file, candidate.workdir,
                                               candidate.file.string(), workdir),
                                 false));
    }
  }
  return checks;
}

void AddChecks(std::vector<Json::Value>& results, std::vector<Json::Value> checks, bool strict) {
  for (size_t i = 0; i < results.size() && i < checks.size(); ++i) {
    Json::Value& site = results[i];
    const Json::Value& check = checks[i];
    if (check.isNull()) continue;
    site["check"] = check;
    const int count = check["warnings"].asInt() + check["errors"].asInt();
    if (strict && count > 0 && !site.isMember("error")) {
      site["error"] = "--strict: the check of the candidate settings has " + std::to_string(count) +
                      (count == 1 ? " warning or error" : " warnings or errors");
    }
  }
}

}  // namespace sim::cli
