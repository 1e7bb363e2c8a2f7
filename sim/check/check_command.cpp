#include "sim/check/check_command.h"

#include <json/writer.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "sim/check/check_output.h"
#include "sim/check/checker.h"
#include "sim/check/findings.h"
#include "sim/host/event_log.h"
#include "sim/host/session.h"
#include "sim/host/site_folders.h"
#include "sim/replay/replay.h"
#include "sim/report/text.h"

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
  std::string min_severity = "note";
  bool list_codes = false;
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

// A folder as the user named it, without trailing slashes ("" stays "").
std::string Folder(std::string name) {
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  return name;
}

// The sites as named on the command line, with each folder of sites (no
// settings.json of its own, site folders below) replaced by its sites. Any
// other folder stays as given, so a site folder missing its settings is
// still said as such.
std::vector<std::string> SitesOf(const std::vector<std::string>& given, const fs::path& start) {
  std::vector<std::string> sites;
  for (const std::string& name : given) {
    const fs::path path = Absolute(name, start);
    std::error_code failure;
    std::vector<SiteFolder> below;
    if (fs::is_directory(path, failure) &&
        !fs::exists(fs::symlink_status(path / "settings.json", failure))) {
      below = SitesBelow(path);
    }
    if (below.empty()) {
      sites.push_back(name);
      continue;
    }
    const std::string folder = Folder(name);
    for (const SiteFolder& site : below) {
      sites.push_back((folder == "/" ? "" : folder) + "/" + site.name);
    }
  }
  return sites;
}

int RunCheck(const CheckOptions& options) {
  if (options.list_codes) {
    WriteCodes(std::cout);
    std::cout.flush();
    return 0;
  }
  if (options.sites.empty()) return Fail("check: give at least one SITE (or --list-codes)", 2);
  Severity least = Severity::kNote;
  ParseSeverity(options.min_severity, least);
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
  const std::vector<std::string> names = SitesOf(options.sites, start);
  for (const std::string& name : names) {
    fs::path path = Absolute(name, start);
    if (!path.has_filename()) path = path.parent_path();
    SiteReport report;
    std::error_code failure;
    if (fs::is_directory(path, failure)) {
      const std::string folder = Folder(name);
      report = checker.Check(name, path / "settings.json", path,
                             (folder == "/" ? "" : folder) + "/settings.json", folder);
    } else {
      const std::string shown_workdir =
          options.workdir.empty() ? fs::path(name).parent_path().string() : Folder(options.workdir);
      report = checker.Check(name, path, workdir.empty() ? path.parent_path() : workdir, name,
                             shown_workdir);
    }
    if (!report.accepted) {
      ++refused;
    } else if (report.Has(Severity::kWarning)) {
      ++warnings;
      strict_failure = strict_failure || options.strict;
    } else {
      ++clean;
    }
    if (json) {
      sites.append(ToJson(report, options.verbose, least));
    } else {
      WriteText(report, options.verbose, least, std::cout);
    }
  }
  const int count = static_cast<int>(names.size());
  if (json) {
    Json::Value document(Json::objectValue);
    document["sites"] = std::move(sites);
    Json::Value& summary = document["summary"] = Json::Value(Json::objectValue);
    summary["sites"] = count;
    summary["clean"] = clean;
    summary["warnings"] = warnings;
    summary["refused"] = refused;
    std::size_t repaired = 0;
    std::cout << JsonText(document, "", &repaired) << std::endl;
    if (repaired > 0) std::cerr << "aikorvane-sim: check: " << kReplacedNote << std::endl;
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
      "is refused. Output: one finding per line (long messages go on over indented lines), "
      "FILE:LINE:COL: severity code PLACE: message (the site's name where no file is known), "
      "then a summary line. Exit status: 0 when every site is accepted, 1 when a site is refused "
      "(with --strict also when one has a warning), 2 for usage errors or an unusable "
      "plug-in.");
  check->add_option("SITE", options->sites,
                    "a settings JSON file, a folder holding settings.json (that folder is then "
                    "the site's working directory, where its ini/ profiles are found), or a "
                    "folder of such site folders, each checked as a site");
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
  check
      ->add_option("--min-severity", options->min_severity,
                   "note (default), warning or error: leave out findings below it (the summary "
                   "and the exit status still count every finding)")
      ->check(CLI::IsMember({"note", "warning", "error"}));
  check->add_flag("--list-codes", options->list_codes,
                  "print every finding code with its severity, summary and section of "
                  "docs/configuration.md, and exit");
  check->callback([&action, options] { action = [options] { return RunCheck(*options); }; });
}

int CheckOneSite(const OneSiteCheck& request) {
  const fs::path start = fs::current_path();
  UseUtcUnlessZoneSet();
  fs::path settings = Absolute(request.settings, start);
  fs::path workdir = Absolute(request.workdir, start);
  fs::path scenario = Absolute(request.scenario, start);
  if (!scenario.empty() && !fs::is_directory(scenario)) {
    return Fail("--check takes a scenario folder, not the trace " + request.scenario, 2);
  }
  if (scenario.empty() && settings.empty()) scenario = ExamplesFolder() / "default";
  if (settings.empty()) settings = scenario / "settings.json";
  if (workdir.empty()) workdir = scenario.empty() ? start : scenario;
  if (fs::is_directory(settings)) {
    return Fail("--settings " + settings.string() + " is a folder, not a settings file", 2);
  }
  std::ofstream events_file;
  const bool events_to_stdout = request.events == "-";
  if (!request.events.empty() && !events_to_stdout) {
    events_file.open(Absolute(request.events, start), std::ios::binary | std::ios::trunc);
    if (!events_file) {
      return Fail("cannot write the event log " + request.events + ": " + std::strerror(errno), 2);
    }
  }
  std::ostream& out = events_to_stdout ? std::cerr : std::cout;
  auto log = std::make_shared<EventLog>(events_to_stdout         ? &std::cout
                                        : request.events.empty() ? nullptr
                                                                 : &events_file);
  Host host;
  const std::string error = LoadForInspection(host, request.plugin, start);
  if (!error.empty()) return Fail(error);
  Checker checker(host, request.data_id, log);
  const SiteReport report =
      checker.Check(settings.string(), settings, workdir, settings.string(), workdir.string());
  WriteText(report, false, Severity::kNote, out);
  out << (report.accepted ? "settings accepted: " : "settings refused: ") << settings.string();
  if (!report.accepted) out << ": " << report.refusal;
  out << std::endl;
  return report.accepted ? 0 : 1;
}

}  // namespace sim::cli
