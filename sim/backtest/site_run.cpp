#include "sim/backtest/site_run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "config/device_contract.h"
#include "sim/backtest/html_report.h"
#include "sim/backtest/merge_patch.h"
#include "sim/backtest/report_router.h"
#include "sim/framework/sim_framework.h"
#include "sim/host/device_run.h"
#include "sim/host/host_events.h"
#include "sim/host/plugin_host.h"
#include "sim/replay/csv_trace.h"
#include "sim/replay/replay.h"
#include "sim/report/plot.h"

namespace sim::cli {
namespace {

struct Side {
  const char* role;
  SideOutcome& outcome;
  Analyser analyser;
  RoundMarker marker;
  DeviceRun run{{&analyser, &marker}};
  Json::Value settings;
  fs::path workdir;
  int channel = 1;
  unsigned int data_id = 0;
  DeviceState state;                     // as the settings left the device
  const LoadedPlugin* plugin = nullptr;  // null: the host's

  Side(const char* name, SideOutcome& result) : role(name), outcome(result) {}
};

// A device of the side, configured in its working directory; false with why.
bool SetUp(Host& host, ReportRouter& reports, std::mutex& setup, int channel, Side& side,
           std::vector<std::string>& unread, std::string& error) {
  side.data_id = reports.NewDevice();
  std::lock_guard<std::mutex> lock(setup);
  if (chdir(side.workdir.c_str()) != 0) {
    error = "cannot work in " + side.workdir.string() + ": " + std::strerror(errno);
    return false;
  }
  if (!side.run.Make(host, side.data_id, side.settings, error, side.plugin)) return false;
  const unsigned int data_id = side.data_id;
  side.run.SetReportSource([&reports, data_id] { return reports.Take(data_id); });
  const SettingsOutcome outcome = side.run.ApplySettings(side.settings);
  side.outcome.accepted = outcome.accepted;
  error = outcome.raw;
  if (!side.outcome.accepted) {
    error = "the " + std::string(side.role) +
            " settings are refused: " + (error.empty() ? "the framework refused them" : error);
  }
  if (side.outcome.accepted) {
    std::string why;
    // A build without the layout record runs all the same; its site says so
    // once, and what needs the state falls back to a new device's.
    if (!ReadDeviceState(*side.run.device(), side.state, why)) {
      unread.push_back(std::string(side.role) + ": " + why);
    }
    side.channel = channel > 0 ? channel : DefaultChannel(side.state);
  }
  return side.outcome.accepted;
}

// One round of the side on the row; false with why when the device throws.
bool RunRound(const CsvRow& row, Side& side, std::string& error) {
  if (side.run.ChannelRound(row.channel.value_or(side.channel), row.value)) return true;
  error = "the " + std::string(side.role) + " device threw in its round: " + side.run.Thrown();
  return false;
}

// The site's plots, the whole history and the hour either side of the first
// difference: the thresholds of both sides, the candidate's marked where
// they differ.
void Draw(const SiteOutcome& outcome, const Side& baseline, const Side& candidate,
          PlotKeeper& plots) {
  std::vector<Threshold> thresholds = CollectThresholds(baseline.state, outcome.baseline.analysis);
  const size_t own = thresholds.size();
  for (Threshold threshold : CollectThresholds(candidate.state, outcome.candidate.analysis)) {
    const auto same = [&](const Threshold& other) {
      return other.label == threshold.label && other.value == threshold.value;
    };
    if (std::none_of(thresholds.begin(), thresholds.begin() + own, same)) {
      threshold.label += " (candidate)";
      thresholds.push_back(threshold);
    }
  }
  const Analysis& base = outcome.baseline.analysis;
  const Analysis& cand = outcome.candidate.analysis;
  plots.Add(ChangeSize(SiteJson(outcome)), outcome.site,
            RenderComparisonSvg(base, cand, thresholds) + RenderZoomSvg(base, cand, thresholds));
}

bool OpenHistory(const fs::path& site, History& history, SiteOutcome& outcome) {
  const bool opened = history.Open(site, outcome.error);
  outcome.skipped = history.SkippedEntries();
  return opened;
}

}  // namespace

// Settings of the candidate side: the patched baseline, or the site's folder
// under the candidate folder (with its own ini/ where it has one).
bool CandidateOf(const CandidateSource& source, const SiteFolder& site, const Json::Value& own,
                 Candidate& candidate, std::string& error) {
  if (source.folder.empty()) {
    candidate.settings = ApplyMergePatch(own, source.patch);
    candidate.workdir = site.folder;
    return true;
  }
  const fs::path folder = source.folder / site.name;
  std::error_code failure;
  if (!fs::is_directory(folder, failure)) {
    error = folder.string() + ": the candidate folder has no folder for this site";
    return false;
  }
  candidate.file = folder / "settings.json";
  if (!ReadSettingsFile(candidate.file.string(), candidate.settings, error)) return false;
  candidate.workdir = fs::is_directory(folder / "ini", failure) ? folder : site.folder;
  return true;
}

namespace {

bool CandidateSettings(const CandidateSource& source, const SiteFolder& site, Side& baseline,
                       Side& candidate, std::string& error) {
  Candidate made;
  if (!CandidateOf(source, site, baseline.settings, made, error)) return false;
  candidate.settings = std::move(made.settings);
  candidate.workdir = std::move(made.workdir);
  return true;
}

}  // namespace

SiteOutcome SiteRunner::Run(const SiteFolder& site) {
  SiteOutcome outcome;
  outcome.site = site.name;
  Side baseline("baseline", outcome.baseline), candidate("candidate", outcome.candidate);
  baseline.workdir = site.folder;
  baseline.plugin = baseline_plugin;
  candidate.plugin = candidate_plugin;
  History history(bad_rows);
  if (!ReadSettingsFile((site.folder / "settings.json").string(), baseline.settings,
                        outcome.error) ||
      !CandidateSettings(candidate_source, site, baseline, candidate, outcome.error) ||
      !OpenHistory(site.folder, history, outcome) ||
      !SetUp(host, reports, setup, channel, baseline, outcome.state_unread, outcome.error) ||
      !SetUp(host, reports, setup, channel, candidate, outcome.state_unread, outcome.error)) {
    for (const Side* side : {&baseline, &candidate}) {
      if (side->data_id != 0) reports.Forget(side->data_id);
    }
    return outcome;
  }
  RoundComparer comparer;
  CsvRow row;
  std::string error;
  while (history.Next(row, error)) {
    sim::SetThreadVirtualTime(row.time);
    if (!RunRound(row, baseline, error) || !RunRound(row, candidate, error)) {
      error = site.folder.string() + ": at " + IsoTime(row.time) + ": " + error;
      break;
    }
    comparer.Compare(row.time, baseline.marker.Marks(), candidate.marker.Marks());
    if (!comparer.AlarmDifferences().empty() || !comparer.DischargeDifferences().empty()) {
      baseline.analyser.CentreZoom(row.time);
    }
    if (!outcome.from) outcome.from = row.time;
    outcome.to = row.time;
    ++outcome.rounds;
  }
  sim::SetThreadVirtualTime(std::nullopt);
  outcome.error = error;
  if (bad_rows == BadRows::kSkip) {
    outcome.skipped_rows = history.SkippedBadRows().count;
    outcome.skipped_first = history.SkippedBadRows().first;
  }
  for (Side* side : {&baseline, &candidate}) {
    side->run.Release();
    reports.Forget(side->data_id);
    side->outcome.analysis = side->analyser.Result();
  }
  outcome.changes = Changes(outcome.baseline.analysis, outcome.candidate.analysis, comparer);
  if (plots != nullptr && outcome.rounds > 0) Draw(outcome, baseline, candidate, *plots);
  return outcome;
}

}  // namespace sim::cli
