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
#include "sim/replay/csv_trace.h"
#include "sim/host/host_events.h"
#include "sim/report/plot.h"
#include "sim/host/plugin_host.h"
#include "sim/replay/replay.h"
#include "sim/framework/sim_framework.h"

namespace sim::cli {
namespace {

// Hands a device's framework calls to its side's analysis as they come, and
// notes which alarms this round raised.
class SideSink : public sim::EventSink {
 public:
  SideSink(Analyser& analyser, RoundMarks& marks) : analyser_(analyser), marks_(marks) {}
  void Record(const OSKVDevice&, Json::Value) override {}
  bool WantsEvents() const override { return false; }
  void RecordSent(const OSKVDevice&, const unsigned char* bytes, unsigned long length) override {
    if (const auto record = DecodeRecord(bytes, length)) analyser_.RecordSent(*record);
  }
  void AlarmChecked(const OSKVDevice&, const std::string& first, const std::string& second,
                    const std::string& third, bool condition) override {
    const AlarmCall call = AlarmOf(first, second, third, condition);
    const bool was_raised = raised_[call.id];
    if (condition && !was_raised) marks_.raised.push_back(call.id);
    raised_[call.id] = condition;
    analyser_.AlarmChecked(call);
  }
  void ValueReported(const OSKVDevice&, const std::string& signal, float) override {
    analyser_.ValueReported(signal);
  }

 private:
  Analyser& analyser_;
  RoundMarks& marks_;
  std::map<std::string, bool> raised_;
};

struct Side {
  const char* role;
  SideOutcome& outcome;
  Analyser analyser;
  RoundMarks marks;
  Json::Value settings;
  fs::path workdir;
  int channel = 1;
  unsigned int data_id = 0;
  DevicePtr device;
  DeviceState state;  // as the settings left the device

  Side(const char* name, SideOutcome& result) : role(name), outcome(result) {}
};

// Settings of the candidate side: the patched baseline, or the site's folder
// under the candidate folder (with its own ini/ where it has one).
bool CandidateSettings(const CandidateSource& source, const SiteFolder& site, Side& baseline,
                       Side& candidate, std::string& error) {
  if (source.folder.empty()) {
    candidate.settings = ApplyMergePatch(baseline.settings, source.patch);
    candidate.workdir = site.folder;
    return true;
  }
  const fs::path folder = source.folder / site.name;
  std::error_code failure;
  if (!fs::is_directory(folder, failure)) {
    error = folder.string() + ": the candidate folder has no folder for this site";
    return false;
  }
  if (!ReadSettingsFile((folder / "settings.json").string(), candidate.settings, error)) {
    return false;
  }
  candidate.workdir = fs::is_directory(folder / "ini", failure) ? folder : site.folder;
  return true;
}

// A device of the side, configured in its working directory; false with why.
bool SetUp(Host& host, ReportRouter& reports, std::mutex& setup, int channel, Side& side,
           std::string& error) {
  side.data_id = reports.NewDevice();
  std::lock_guard<std::mutex> lock(setup);
  if (chdir(side.workdir.c_str()) != 0) {
    error = "cannot work in " + side.workdir.string() + ": " + std::strerror(errno);
    return false;
  }
  side.device = host.NewDevice(side.data_id, side.settings,
                               std::make_shared<SideSink>(side.analyser, side.marks), error);
  if (!side.device) return false;
  try {
    side.outcome.accepted = side.device->InitSetting(side.settings);
    if (!side.outcome.accepted) error = sim::LastSettingsError(*side.device);
  } catch (const std::exception& thrown) {
    error = thrown.what();
  } catch (...) {
    error = "unknown exception";
  }
  if (!side.outcome.accepted) {
    error = "the " + std::string(side.role) +
            " settings are refused: " + (error.empty() ? "the framework refused them" : error);
  }
  if (side.outcome.accepted) {
    std::string why;
    ReadDeviceState(*side.device, side.state, why);
    side.channel = channel > 0 ? channel : DefaultChannel(side.state);
  }
  return side.outcome.accepted;
}

// One round of the side on the row; false with why when the device throws.
bool RunRound(ReportRouter& reports, int round, const CsvRow& row, Side& side, std::string& error) {
  const int channel = row.channel.value_or(side.channel);
  side.marks.Clear();
  side.analyser.BeginRound(round, row.time, true);
  sim::SetAiReading(*side.device, channel, row.value);
  try {
    CallProcess(*side.device, static_cast<short>(aikorvane::kChannelSampleBase + channel));
  } catch (const std::exception& thrown) {
    error = "the " + std::string(side.role) + " device threw in its round: " + thrown.what();
    return false;
  }
  for (const Json::Value& report : reports.Take(side.data_id)) {
    side.analyser.Add(report);
    side.marks.discharge +=
        FieldOf(ParseForm(report["body"].asString()), aikorvane::kDischargeStateField) + " ";
  }
  side.analyser.EndRound();
  return true;
}

// The site's plot: the thresholds of both sides, the candidate's marked
// where they differ.
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
  plots.Add(ChangeSize(SiteJson(outcome)), outcome.site,
            RenderComparisonSvg(outcome.baseline.analysis, outcome.candidate.analysis, thresholds));
}

}  // namespace

SiteOutcome SiteRunner::Run(const SiteFolder& site) {
  SiteOutcome outcome;
  outcome.site = site.name;
  Side baseline("baseline", outcome.baseline), candidate("candidate", outcome.candidate);
  baseline.workdir = site.folder;
  History history;
  if (!ReadSettingsFile((site.folder / "settings.json").string(), baseline.settings,
                        outcome.error) ||
      !CandidateSettings(candidate_source, site, baseline, candidate, outcome.error) ||
      !history.Open(site.folder, outcome.error) ||
      !SetUp(host, reports, setup, channel, baseline, outcome.error) ||
      !SetUp(host, reports, setup, channel, candidate, outcome.error)) {
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
    const int round = static_cast<int>(std::min<long long>(outcome.rounds + 1, INT_MAX));
    if (!RunRound(reports, round, row, baseline, error) ||
        !RunRound(reports, round, row, candidate, error)) {
      error = site.folder.string() + ": at " + IsoTime(row.time) + ": " + error;
      break;
    }
    comparer.Compare(row.time, baseline.marks, candidate.marks);
    if (!outcome.from) outcome.from = row.time;
    outcome.to = row.time;
    ++outcome.rounds;
  }
  sim::SetThreadVirtualTime(std::nullopt);
  outcome.error = error;
  for (Side* side : {&baseline, &candidate}) {
    side->device.reset();
    reports.Forget(side->data_id);
    side->outcome.analysis = side->analyser.Result();
  }
  outcome.changes = Changes(outcome.baseline.analysis, outcome.candidate.analysis, comparer);
  if (plots != nullptr && outcome.rounds > 0) Draw(outcome, baseline, candidate, *plots);
  return outcome;
}

}  // namespace sim::cli
