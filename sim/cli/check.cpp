#include "sim/cli/check.h"

#include <json/reader.h>
#include <json/writer.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "sim/cli/findings.h"
#include "sim/cli/replay.h"
#include "sim/cli/session.h"
#include "sim/framework/sim_framework.h"

namespace sim::cli {
namespace {

struct CheckOptions {
  std::vector<std::string> sites;
  std::string workdir;
  std::string plugin;
  unsigned long long data_id = 1;
  std::string format = "text";
  bool strict = false;
  bool verbose = false;
};

struct SiteReport {
  std::string site;
  bool accepted = false;
  std::string profile;  // as the device named it; empty when none
  std::string refusal;
  std::vector<Finding> findings;
  std::vector<std::string> diagnostics;

  bool Has(const std::string& severity) const {
    for (const Finding& finding : findings) {
      if (finding.severity == severity) return true;
    }
    return false;
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Configures one fresh device per site, in the site's working directory, and
// collects what it will do.
class Checker {
 public:
  Checker(Host& host, unsigned long long data_id, std::shared_ptr<EventLog> log)
      : host_(host), data_id_(data_id), log_(std::move(log)), start_(fs::current_path()) {}

  SiteReport Check(const std::string& name, const fs::path& settings_path,
                   const fs::path& workdir) {
    SiteReport report;
    report.site = name;
    errno = 0;
    std::ifstream in(settings_path, std::ios::binary);
    if (!in || fs::is_directory(settings_path)) {
      const std::string why = fs::is_directory(settings_path) ? "it is a folder"
                              : errno != 0                    ? std::strerror(errno)
                                                              : "cannot open";
      report.findings.push_back(SettingsFileFinding(settings_path.string(), why, false));
      report.refusal = report.findings.back().message;
      return report;
    }
    Json::Value settings;
    std::string reader_error;
    if (!Json::parseFromStream(Json::CharReaderBuilder(), in, &settings, &reader_error)) {
      report.findings.push_back(SettingsFileFinding(settings_path.string(), reader_error, true));
      report.refusal = report.findings.back().place + ": " + report.findings.back().message;
      return report;
    }

    std::string factory_error;
    DevicePtr device =
        host_.NewDevice(static_cast<unsigned int>(data_id_), settings, log_, factory_error);
    if (!device) throw std::runtime_error(factory_error);

    ConfiguredSite site;
    site.settings = settings;
    site.workdir = workdir;
    if (chdir(workdir.c_str()) != 0) {
      report.findings.push_back(SettingsFileFinding(
          settings_path.string(),
          "cannot work in " + workdir.string() + ": " + std::strerror(errno), false));
      report.refusal = report.findings.back().message;
      return report;
    }
    std::vector<std::string> uncaptured;
    {
      StdoutCapture capture;
      EventLog quiet(nullptr);
      site.accepted = ApplySettings(*device, log_ ? *log_ : quiet, settings,
                                    Json::Value(Json::objectValue), site.refusal);
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
    if (chdir(start_.c_str()) != 0) {
      throw std::runtime_error("cannot return to " + start_.string() + ": " + std::strerror(errno));
    }
    // The framework keeps a complaint exactly when its own step refused.
    site.threw = !site.accepted && sim::LastSettingsError(*device).empty();
    std::string why;
    if (!ReadDeviceState(*device, site.state, why)) throw std::runtime_error(why);
    site.diagnostics = report.diagnostics;

    report.accepted = site.accepted;
    report.refusal = site.refusal;
    report.profile = ChosenProfile(report.diagnostics);
    report.findings = FindingsOf(site);
    return report;
  }

 private:
  Host& host_;
  unsigned long long data_id_;
  std::shared_ptr<EventLog> log_;
  fs::path start_;
};

// Loads the plug-in for inspection; empty on success, else why not.
std::string LoadForInspection(Host& host, const std::string& given, const fs::path& start) {
  const std::string error = host.Load(given, start);
  if (!error.empty()) return error;
  if (!host.plugin().LayoutError().empty()) {
    return host.plugin().LayoutError() +
           "; check inspects devices of the plug-in built with this aikorvane-sim";
  }
  return {};
}

void WriteText(const SiteReport& report, bool verbose, std::ostream& out) {
  if (verbose) {
    for (const std::string& line : report.diagnostics) {
      out << report.site << ": device: " << line << '\n';
    }
  }
  for (const Finding& finding : report.findings) {
    out << report.site << ": " << finding.severity << ' ' << finding.code << ' ' << finding.place
        << ": " << finding.message << '\n';
  }
}

Json::Value ToJson(const SiteReport& report, bool verbose) {
  Json::Value site(Json::objectValue);
  site["site"] = report.site;
  site["accepted"] = report.accepted;
  site["profile"] = report.profile.empty() ? Json::Value() : Json::Value(report.profile);
  Json::Value& findings = site["findings"] = Json::Value(Json::arrayValue);
  for (const Finding& finding : report.findings) {
    Json::Value entry(Json::objectValue);
    entry["severity"] = finding.severity;
    entry["code"] = finding.code;
    entry["place"] = finding.place;
    entry["message"] = finding.message;
    findings.append(entry);
  }
  if (verbose) {
    Json::Value& lines = site["diagnostics"] = Json::Value(Json::arrayValue);
    for (const std::string& line : report.diagnostics) lines.append(line);
  }
  return site;
}

int RunCheck(const CheckOptions& options) {
  UseUtcUnlessZoneSet();
  const fs::path start = fs::current_path();
  const fs::path workdir = Absolute(options.workdir, start);
  if (!workdir.empty() && !fs::is_directory(workdir)) {
    return Fail("--workdir " + options.workdir + " is no folder", 2);
  }
  Host host;
  const std::string error = LoadForInspection(host, options.plugin, start);
  if (!error.empty()) return Fail(error, 2);

  Checker checker(host, options.data_id, nullptr);
  const bool json = options.format == "json";
  Json::Value sites(Json::arrayValue);
  int clean = 0;
  int warnings = 0;
  int refused = 0;
  bool strict_failure = false;
  for (const std::string& name : options.sites) {
    fs::path path = Absolute(name, start);
    if (!path.has_filename()) path = path.parent_path();
    SiteReport report;
    if (fs::is_directory(path)) {
      report = checker.Check(name, path / "settings.json", path);
    } else {
      report = checker.Check(name, path, workdir.empty() ? path.parent_path() : workdir);
    }
    if (!report.accepted) {
      ++refused;
    } else if (report.Has("warning")) {
      ++warnings;
      strict_failure = strict_failure || options.strict;
    } else {
      ++clean;
    }
    if (json) {
      sites.append(ToJson(report, options.verbose));
    } else {
      WriteText(report, options.verbose, std::cout);
    }
  }
  const int count = static_cast<int>(options.sites.size());
  if (json) {
    Json::Value document(Json::objectValue);
    document["sites"] = std::move(sites);
    Json::Value& summary = document["summary"] = Json::Value(Json::objectValue);
    summary["sites"] = count;
    summary["clean"] = clean;
    summary["warnings"] = warnings;
    summary["refused"] = refused;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    std::cout << Json::writeString(writer, document) << std::endl;
  } else {
    std::cout << count << (count == 1 ? " site: " : " sites: ") << clean << " clean, " << warnings
              << " with warnings, " << refused << " refused" << std::endl;
  }
  return refused > 0 || strict_failure ? 1 : 0;
}

}  // namespace

void AddCheckCommand(CLI::App& app, Action& action) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* check = app.add_subcommand(
      "check",
      "Check the settings of one or many sites before deployment: configures a device of the "
      "plug-in built with this aikorvane-sim for each SITE (running InitSetting as the replay "
      "does, no rounds), inspects what the configured device holds, and reports the settings "
      "that are accepted but will misbehave in the field. A plug-in built from other sources "
      "is refused. Output: one line per finding, SITE: severity code PLACE: message, then a "
      "summary line. Exit status: 0 when every site is accepted, 1 when a site is refused "
      "(with --strict also when one has a warning), 2 for usage errors or an unusable "
      "plug-in.");
  check
      ->add_option("SITE", options->sites,
                   "a settings JSON file, or a folder holding settings.json (that folder is "
                   "then the site's working directory, where its ini/ profiles are found)")
      ->required();
  check->add_option("--workdir", options->workdir,
                    "working directory of the sites given as files; profiles are found under "
                    "DIR/ini/ (default: the file's folder)");
  check
      ->add_option("--data-id", options->data_id,
                   "the device's data id, which names its id-named profiles (default 1)")
      ->check(CLI::Range(0ULL, 4294967295ULL));
  check->add_option("--plugin", options->plugin,
                    "plug-in to load (default: beside this binary, then the installed one); it "
                    "must be built from the same sources as this aikorvane-sim");
  check
      ->add_option("--format", options->format,
                   "text (default) or json: one document {\"sites\":[...],\"summary\":{...}}")
      ->check(CLI::IsMember({"text", "json"}));
  check->add_flag("--strict", options->strict, "exit with status 1 also when a site has a warning");
  check->add_flag("-v,--verbose", options->verbose,
                  "also show the device's own diagnostic lines of each site");
  check->callback([&action, options] { action = [options] { return RunCheck(*options); }; });
}

int CheckOneSite(const fs::path& settings, const fs::path& workdir, const std::string& plugin,
                 unsigned long long data_id, const std::shared_ptr<EventLog>& log,
                 std::ostream& out) {
  Host host;
  const std::string error = LoadForInspection(host, plugin, fs::current_path());
  if (!error.empty()) return Fail(error);
  Checker checker(host, data_id, log);
  const SiteReport report = checker.Check(settings.string(), settings, workdir);
  WriteText(report, false, out);
  out << (report.accepted ? "settings accepted: " : "settings refused: ") << settings.string();
  if (!report.accepted) out << ": " << report.refusal;
  out << std::endl;
  return report.accepted ? 0 : 1;
}

}  // namespace sim::cli
