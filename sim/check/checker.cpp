#include "sim/check/checker.h"

#include <json/reader.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "config/setting_keys.h"
#include "sim/check/findings/families.h"
#include "sim/framework/sim_framework.h"
#include "sim/host/bounded_read.h"
#include "sim/host/event_log.h"
#include "sim/replay/replay.h"

namespace sim::cli {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Returns to the folder the check started in, also on the way out of an
// exception, so that the next site's relative paths still hold.
class Return {
 public:
  explicit Return(const fs::path& to) : to_(to) {}
  ~Return() {
    if (!to_.empty() && chdir(to_.c_str()) != 0) {
      std::cerr << "aikorvane-sim: cannot return to " << to_.string() << ": "
                << std::strerror(errno) << std::endl;
    }
  }
  Return(const Return&) = delete;
  Return& operator=(const Return&) = delete;

 private:
  fs::path to_;
};

void Unfinished(SiteReport& report, const std::string& shown_file, const std::string& why) {
  report.accepted = false;
  report.findings.push_back(
      SettingsFileFinding(shown_file, "the check could not finish: " + why, false));
  report.refusal = report.findings.back().message;
}

// The settings file's bytes; false with the finding of a file that cannot be read.
bool ReadSettingsText(SiteReport& report, const std::string& shown, const fs::path& path,
                      std::string& text) {
  std::string why;
  if (ReadBoundedFile(path.string(), text, why)) return true;
  report.findings.push_back(SettingsFileFinding(shown, why, false));
  report.refusal = report.findings.back().message;
  return false;
}

// A file under DIR/ini/, where the device searches its profile, larger than
// the simulator reads at once; empty when there is none.
std::string OversizedProfile(const fs::path& workdir, fs::path& profile) {
  std::error_code failure;
  const fs::path ini = workdir / "ini";
  if (!fs::is_directory(ini, failure)) return {};
  for (fs::recursive_directory_iterator it(ini, failure), end; !failure && it != end;
       it.increment(failure)) {
    if (it.depth() > 2) it.disable_recursion_pending();
    std::error_code entry_failure;
    if (!it->is_regular_file(entry_failure)) continue;
    const auto size = it->file_size(entry_failure);
    if (!entry_failure && size > kMaxDocumentBytes) {
      profile = fs::relative(it->path(), workdir);
      return "a file where the device searches its profile is larger than " +
             std::to_string(kMaxDocumentBytes >> 20) + " MiB (" + std::to_string(size) +
             " bytes): the check does not hand the settings to the device, which would read it "
             "whole; a profile is a few kilobytes";
    }
  }
  return {};
}

}  // namespace

Checker::Checker(Host& host, unsigned long long data_id, std::shared_ptr<EventLog> log)
    : host_(host), data_id_(data_id), log_(std::move(log)), start_(fs::current_path()) {}

SiteReport Checker::Check(const std::string& name, const fs::path& settings_path,
                          const fs::path& workdir, const std::string& shown_file,
                          const std::string& shown_workdir) {
  return Guarded(name, workdir, shown_file, shown_workdir,
                 [&](SiteReport& report, ConfiguredSite& site) {
                   if (ReadSettingsText(report, shown_file, settings_path, site.settings_text)) {
                     CheckText(report, site);
                   }
                 });
}

SiteReport Checker::CheckSettings(const std::string& name, const std::string& text,
                                  const fs::path& workdir, const std::string& shown_file,
                                  const std::string& shown_workdir) {
  return Guarded(name, workdir, shown_file, shown_workdir,
                 [&](SiteReport& report, ConfiguredSite& site) {
                   site.settings_text = text;
                   CheckText(report, site);
                 });
}

SiteReport Checker::Guarded(const std::string& name, const fs::path& workdir,
                            const std::string& shown_file, const std::string& shown_workdir,
                            const std::function<void(SiteReport&, ConfiguredSite&)>& check) {
  SiteReport report;
  report.site = name;
  ConfiguredSite site;
  site.settings_file = shown_file;
  site.shown_workdir = shown_workdir;
  site.workdir = workdir;
  try {
    check(report, site);
  } catch (const std::exception& thrown) {
    Unfinished(report, shown_file, thrown.what());
  } catch (...) {
    Unfinished(report, shown_file, "an exception of unknown type");
  }
  return report;
}

void Checker::CheckText(SiteReport& report, ConfiguredSite& site) {
  const std::string& shown = site.settings_file;
  const std::string& text = site.settings_text;
  Json::Value& settings = site.settings;
  std::string reader_error;
  bool parsed = false;
  try {
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    parsed = reader->parse(text.data(), text.data() + text.size(), &settings, &reader_error);
  } catch (const std::exception& thrown) {
    // The reader throws, instead of reporting, on nesting past its limit.
    reader_error = std::string(thrown.what()).find("stackLimit") != std::string::npos
                       ? "values nested deeper than the JSON reader's limit of 1000 levels"
                       : thrown.what();
  }
  if (!parsed) {
    report.findings.push_back(SettingsFileFinding(shown, reader_error, true));
    report.refusal = report.findings.back().message;
    return;
  }

  // The device reads its profile whole: one past the bound is not handed to it.
  fs::path profile;
  const std::string oversized = OversizedProfile(site.workdir, profile);
  if (!oversized.empty()) {
    const std::string shown_profile = (fs::path(site.shown_workdir) / profile).string();
    report.findings.push_back({&CodeOf(CodeId::kSettingsUnreadable), Severity::kError,
                               shown_profile, oversized, shown_profile, 0, 0});
    report.refusal = report.findings.back().message;
    return;
  }
  std::string factory_error;
  DeviceRun run(log_ ? std::vector<RunListener*>{log_.get()} : std::vector<RunListener*>{});
  if (!run.Make(host_, static_cast<unsigned int>(data_id_), settings, factory_error)) {
    throw std::runtime_error(factory_error);
  }
  OSKAIDevice& device = *run.device();

  const fs::path& workdir = site.workdir;
  Return back(start_);
  if (chdir(workdir.c_str()) != 0) {
    report.findings.push_back(SettingsFileFinding(
        shown, "cannot work in " + workdir.string() + ": " + std::strerror(errno), false));
    report.refusal = report.findings.back().message;
    return;
  }
  std::vector<std::string> uncaptured;
  {
    StdoutCapture capture;
    const SettingsOutcome outcome = run.ApplySettings(settings);
    site.accepted = outcome.accepted;
    site.refusal = outcome.error;
    for (const std::string& line : Lines(capture.Text())) {
      // With the event log on standard output its lines were captured too;
      // the device's own lines never open with a brace.
      if (!line.empty() && line[0] == '{') {
        uncaptured.push_back(line);
      } else {
        report.diagnostics.push_back(line);
      }
    }
  }
  for (const std::string& line : uncaptured) std::cout << line << '\n';
  // The framework keeps a complaint exactly when its own step refused.
  site.threw = !site.accepted && sim::LastSettingsError(device).empty();
  std::string why;
  if (!ReadDeviceState(device, site.state, why)) throw std::runtime_error(why);
  site.diagnostics = report.diagnostics;

  report.accepted = site.accepted;
  report.refusal = site.refusal;
  report.profile = ChosenProfile(report.diagnostics);
  report.findings = FindingsOf(site);
}

std::vector<Finding> UnknownKeys(const Json::Value& settings, const std::string& text,
                                 const std::string& file) {
  ConfiguredSite site;
  site.settings = settings;
  // A patch may leave "appSetting" as it is; the members beside it are still
  // checked as members beside an "appSetting".
  if (site.settings.isObject() && !site.settings.isMember(aikorvane::config::kAppSetting)) {
    site.settings[aikorvane::config::kAppSetting] = Json::Value(Json::objectValue);
  }
  site.settings_text = text;
  site.settings_file = file;
  findings::Context context(site);
  findings::SettingsKeys(context);
  findings::TopLevelKeys(context);
  findings::HostSettings(context);
  std::vector<Finding> unknown;
  for (Finding& finding : context.findings) {
    if (finding.code->id == CodeId::kUnknownKey) unknown.push_back(std::move(finding));
  }
  return unknown;
}

}  // namespace sim::cli
