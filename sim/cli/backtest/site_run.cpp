#include "sim/cli/backtest/site_run.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "sim/cli/backtest/merge_patch.h"
#include "sim/cli/backtest/report_router.h"
#include "sim/cli/csv_trace.h"
#include "sim/cli/plugin_host.h"
#include "sim/cli/replay.h"
#include "sim/framework/sim_framework.h"

namespace sim::cli {
namespace {

// Counts a device's threshold calls and change-based reports as they come.
class TallySink : public sim::EventSink {
 public:
  explicit TallySink(SideCounter& counter) : counter_(counter) {}
  void Record(const OSKVDevice&, Json::Value event) override {
    const std::string& kind = event["event"].asString();
    if (kind == "CheckThresholdBool") {
      const Json::Value& texts = event["texts"];
      // The battery rows and the alarm rules pass (alarm id, alarm id, name,
      // ...), the limit tables (signal, alarm id, value, ...): the id the
      // framework keeps the alarm under stands second.
      const std::string id = texts[1].asString();
      counter_.Alarm(id, texts[0].asString() == id ? texts[2].asString() : texts[0].asString(),
                     event["condition"].asBool());
    } else if (kind == "CheckAOReport") {
      counter_.AoReport();
    }
  }

 private:
  SideCounter& counter_;
};

struct Side {
  const char* role;
  SideTally& tally;
  SideCounter counter{tally};
  Json::Value settings;
  fs::path workdir;
  int channel = 1;
  unsigned int data_id = 0;
  DevicePtr device;

  explicit Side(const char* name, SideTally& outcome) : role(name), tally(outcome) {}
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
  side.channel = channel > 0 ? channel : DefaultChannel(side.settings);
  side.data_id = reports.NewDevice();
  std::lock_guard<std::mutex> lock(setup);
  if (chdir(side.workdir.c_str()) != 0) {
    error = "cannot work in " + side.workdir.string() + ": " + std::strerror(errno);
    return false;
  }
  side.device = host.NewDevice(side.data_id, side.settings,
                               std::make_shared<TallySink>(side.counter), error);
  if (!side.device) return false;
  try {
    side.tally.accepted = side.device->InitSetting(side.settings);
    if (!side.tally.accepted) error = sim::LastSettingsError(*side.device);
  } catch (const std::exception& thrown) {
    error = thrown.what();
  } catch (...) {
    error = "unknown exception";
  }
  if (!side.tally.accepted) {
    error = "the " + std::string(side.role) + " settings are refused: " +
            (error.empty() ? "the framework refused them" : error);
  }
  return side.tally.accepted;
}

// One round of the side on the row; false with why when the device throws.
bool RunRound(ReportRouter& reports, const CsvRow& row, Side& side, std::string& error) {
  const int channel = row.channel.value_or(side.channel);
  side.counter.BeginRound(row.time);
  sim::SetAiReading(*side.device, channel, row.value);
  try {
    CallProcess(*side.device, static_cast<short>(20000 + channel));
  } catch (const std::exception& thrown) {
    error = "the " + std::string(side.role) + " device threw in its round: " + thrown.what();
    return false;
  }
  for (const std::string& play : reports.Take(side.data_id)) side.counter.DischargeReport(play);
  return true;
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
    if (!RunRound(reports, row, baseline, error) || !RunRound(reports, row, candidate, error)) {
      error = site.folder.string() + ": at " + IsoTime(row.time) + ": " + error;
      break;
    }
    comparer.Compare(row.time, baseline.counter.ThisRound(), candidate.counter.ThisRound());
    if (!outcome.from) outcome.from = row.time;
    outcome.to = row.time;
    ++outcome.rounds;
  }
  sim::SetThreadVirtualTime(std::nullopt);
  outcome.error = error;
  for (Side* side : {&baseline, &candidate}) {
    if (outcome.to) side->counter.Finish(*outcome.to);
    side->device.reset();
    reports.Forget(side->data_id);
  }
  outcome.changes = Changes(outcome.baseline, outcome.candidate, comparer);
  return outcome;
}

}  // namespace sim::cli
