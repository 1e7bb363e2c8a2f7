#include "sim/backtest/backtest_command.h"

#include <json/reader.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <streambuf>
#include <thread>

#include "sim/backtest/candidate_check.h"
#include "sim/backtest/document.h"
#include "sim/backtest/fleet.h"
#include "sim/backtest/html_report.h"
#include "sim/backtest/markdown.h"
#include "sim/backtest/report_router.h"
#include "sim/backtest/run_record.h"
#include "sim/backtest/site_run.h"
#include "sim/check/findings.h"
#include "sim/host/bounded_read.h"
#include "sim/host/event_log.h"
#include "sim/host/session.h"

namespace sim::cli {
namespace {

struct BacktestOptions {
  std::vector<std::string> sites;
  std::string candidate_patch;
  std::string candidate;
  bool allow_unknown_keys = false;
  bool strict = false;
  std::string format = "text";
  std::string html;
  unsigned jobs = 0;
  std::string shard;
  std::vector<std::string> merge;
  std::string plugin;
  std::string baseline_plugin, candidate_plugin;
  int channel = 0;
  std::string bad_rows = "fail";
};

// Takes the device's diagnostic lines of every thread and keeps none: a
// backtest prints nothing per round. It holds no state, so threads can
// write into it at once.
class Discard : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// The JSON reader's first error as "FILE:L:C: not JSON: what".
std::string NotJson(const std::string& file, const std::string& reason) {
  const ReaderError first = FirstReaderError(reason);
  const std::string place =
      first.line > 0 ? ":" + std::to_string(first.line) + ":" + std::to_string(first.column) : "";
  return file + place + ": not JSON: " + first.message;
}

bool ReadPatch(const std::string& path, const std::string& shown, bool allow_unknown_keys,
               Json::Value& patch, std::string& error) {
  std::string text, reason;
  if (!ReadBoundedFile(path, text, reason)) {
    error = shown + ": cannot be read: " + reason;
    return false;
  }
  Json::CharReaderBuilder builder;
  builder["strictRoot"] = true;
  // Text after the patch's value is a patch cut or pasted wrong, never
  // something to leave out unsaid.
  builder["failIfExtra"] = true;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &patch, &reason)) {
    error = NotJson(shown, reason);
    return false;
  }
  if (!patch.isObject()) {
    error = shown + ": a merge patch of settings must be a JSON object";
    return false;
  }
  const std::vector<std::string> unknown = UnknownPatchMembers(patch, text, shown);
  if (!allow_unknown_keys && !unknown.empty()) {
    for (const std::string& member : unknown) error += (error.empty() ? "" : "\n") + member;
    error += "\n(--allow-unknown-keys runs the backtest all the same)";
    return false;
  }
  return true;
}

// Runs the sites on `jobs` threads; each result lands at its site's index.
std::vector<Json::Value> RunSites(SiteRunner& runner, const std::vector<SiteFolder>& sites,
                                  unsigned jobs) {
  std::vector<Json::Value> results(sites.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < sites.size();) {
      try {
        results[i] = SiteJson(runner.Run(sites[i]));
      } catch (const std::exception& thrown) {
        SiteOutcome failed;
        failed.site = sites[i].name;
        failed.error = std::string("the backtest of this site failed: ") + thrown.what();
        results[i] = SiteJson(failed);
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < jobs && t < sites.size(); ++t) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  return results;
}

int Output(const BacktestOptions& options, const Json::Value& document) {
  if (options.format == "json") {
    std::cout << WriteJson(document);
  } else if (options.format == "markdown") {
    std::cout << FormatMarkdown(document);
  } else {
    std::cout << FormatText(document);
  }
  std::cout << std::flush;
  return document["summary"]["sites_failed"].asInt64() > 0 ? 1 : 0;
}

// Opened before the run, so that a path that cannot be written says so at once.
bool OpenReport(const BacktestOptions& options, const fs::path& start, std::ofstream& html,
                std::string& error) {
  if (options.html.empty()) return true;
  html.open(Absolute(options.html, start), std::ios::binary | std::ios::trunc);
  if (!html) error = "cannot write the report " + options.html + ": " + std::strerror(errno);
  return static_cast<bool>(html);
}

int Finish(const BacktestOptions& options, std::ofstream& html, const Json::Value& document,
           const std::vector<std::pair<std::string, std::string>>& plots) {
  if (html.is_open()) {
    html << HtmlReport(document, plots);
    if (!html.flush()) return Fail("cannot write the report " + options.html);
  }
  return Output(options, document);
}

int MergeShards(const BacktestOptions& options, const fs::path& start) {
  std::string error;
  std::ofstream html;
  if (!OpenReport(options, start, html, error)) return Fail(error, 2);
  Json::Value document;
  std::vector<std::pair<std::string, std::string>> plots;
  if (!MergeDocuments(options.merge, document, plots, error)) return Fail(error, 2);
  return Finish(options, html, document, plots);
}

// The candidate, and its hash for the run's record; false with why.
bool ReadCandidate(const BacktestOptions& options, const fs::path& start, CandidateSource& source,
                   RunRecord& run, std::string& error) {
  if (options.candidate_patch.empty() && options.candidate.empty()) {
    // Only the builds differ: the candidate runs the site's own settings.
    source.patch = Json::Value(Json::objectValue);
    run.candidate = PatchHash(source.patch);
    return true;
  }
  if (!options.candidate_patch.empty()) {
    if (!ReadPatch(Absolute(options.candidate_patch, start).string(), options.candidate_patch,
                   options.allow_unknown_keys, source.patch, error)) {
      return false;
    }
    run.candidate = PatchHash(source.patch);
    return true;
  }
  source.folder = Absolute(options.candidate, start);
  if (!fs::is_directory(source.folder)) {
    error = "--candidate " + options.candidate + ": not a folder";
    return false;
  }
  return FolderHash(source.folder, run.candidate, error);
}

// The candidate's build is the host's own (the check runs on it); the
// baseline's is loaded beside it, or is the same one. False with why.
bool LoadPlugins(const BacktestOptions& options, const fs::path& start, Host& host,
                 const LoadedPlugin*& baseline, RunRecord& run, std::string& error) {
  const auto find = [&](const std::string& given) {
    return FindPlugin(given.empty() ? options.plugin : given, start, error);
  };
  const fs::path candidate_path = find(options.candidate_plugin);
  if (candidate_path.empty()) return false;
  const fs::path baseline_path = find(options.baseline_plugin);
  if (baseline_path.empty()) return false;
  error = host.Load(candidate_path);
  if (!error.empty()) return false;
  baseline = host.LoadAnother(baseline_path, error);
  if (baseline == nullptr) return false;
  return DescribePlugin(candidate_path, host.plugin().LayoutError(), run.candidate_plugin, error) &&
         DescribePlugin(baseline_path, baseline->LayoutError(), run.baseline_plugin, error);
}

int RunBacktest(const BacktestOptions& options) {
  UseUtcUnlessZoneSet();
  const fs::path start = fs::current_path();
  if (!options.merge.empty()) return MergeShards(options, start);
  std::string error;
  CandidateSource source;
  RunRecord run;
  if (!ReadCandidate(options, start, source, run, error)) return Fail(error, 2);
  Shard shard;
  if (!options.shard.empty() && !ParseShard(options.shard, shard, error)) return Fail(error, 2);
  std::vector<SiteFolder> sites;
  if (!SiteFolders(options.sites, start, sites, error)) return Fail(error, 2);
  for (const SiteFolder& site : sites) run.sites.push_back(site.name);
  std::sort(run.sites.begin(), run.sites.end());
  sites = ShardOf(sites, shard);
  run.shard_index = shard.index;
  run.shard_count = shard.count;
  run.time_zone = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "";
  // A row that cannot be read ends its site's history as an error.
  run.bad_rows = options.bad_rows;
  std::ofstream html;
  if (!OpenReport(options, start, html, error)) return Fail(error, 2);
  // The router outlives the host's receiver, which hands it the requests.
  ReportRouter reports;
  Host host;
  const LoadedPlugin* baseline_plugin = nullptr;
  if (!LoadPlugins(options, start, host, baseline_plugin, run, error)) return Fail(error, 2);
  error = host.StartReceiver(reports);
  if (!error.empty()) return Fail(error);

  std::mutex setup;
  PlotKeeper plots;
  // A shard's document carries its plots: the merge draws the whole run's report from them.
  const bool draw = html.is_open() || shard.count > 1;
  SiteRunner runner{host, reports, source, options.channel, setup, draw ? &plots : nullptr};
  runner.bad_rows = options.bad_rows == "skip" ? BadRows::kSkip : BadRows::kFail;
  runner.baseline_plugin = baseline_plugin;
  const unsigned jobs =
      options.jobs > 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  // The check reads the candidate's devices' state: a build without the
  // layout record has none to read, which the run's record says.
  std::vector<Json::Value> checks;
  if (run.candidate_plugin.layout_error.empty()) {
    checks =
        CheckCandidates(host, source, sites,
                        options.candidate_patch.empty() ? "no patch" : options.candidate_patch);
  }
  Discard discard;
  std::streambuf* const console = std::cout.rdbuf(&discard);
  std::vector<Json::Value> results = RunSites(runner, sites, jobs);
  std::cout.rdbuf(console);
  AddChecks(results, std::move(checks), options.strict);
  if (chdir(start.c_str()) != 0) return Fail("cannot return to " + start.string());
  Json::Value document;
  if (!MakeDocument(std::move(results), document, error)) return Fail(error, 2);
  document["run"] = RunJson(run);
  const std::vector<std::pair<std::string, std::string>> drawn = plots.Plots();
  if (shard.count > 1) {
    Json::Value& carried = document["plots"] = Json::Value(Json::objectValue);
    for (const auto& [site, svg] : drawn) carried[site] = svg;
  }
  return Finish(options, html, document, drawn);
}

}  // namespace

void AddBacktestCommand(CLI::App& app, Action& action) {
  auto options = std::make_shared<BacktestOptions>();
  CLI::App* backtest = app.add_subcommand(
      "backtest",
      "Replay each site's recorded history through two devices of the plug-in, one with the "
      "site's own settings (baseline) and one with changed settings (candidate), and say which "
      "alarms and discharge reports would change. A SITE is a folder with settings.json, its "
      "ini/ and history/*.csv (the --csv format of a replay, the files read in time order as "
      "one history). Output: a line per changed or failed site, then the fleet. Exit status: 0 "
      "when every site ran, 1 when a site's settings were refused, its history could not be "
      "read or (--strict) its candidate has a warning of the check (the other sites are still "
      "reported), 2 for usage errors.");
  backtest->add_option("SITE", options->sites, "a site folder (settings.json, ini/, history/)");
  CLI::Option* patch = backtest->add_option(
      "--candidate-patch", options->candidate_patch,
      "a JSON merge patch (RFC 7386) that makes each site's candidate settings from its own");
  patch->type_name("PATCH.json");
  CLI::Option* folder = backtest->add_option(
      "--candidate", options->candidate,
      "a folder holding DIR/<site name>/settings.json (and its ini/ where it differs)");
  folder->type_name("DIR");
  patch->excludes(folder);
  backtest->add_flag("--allow-unknown-keys", options->allow_unknown_keys,
                     "run a --candidate-patch that holds members neither the device nor the host "
                     "reads (else a usage error naming them)");
  backtest->add_flag("--strict", options->strict,
                     "fail a site whose candidate settings have a warning of the check");
  backtest
      ->add_option("--format", options->format,
                   "text (default), json, or markdown (a summary for a change request)")
      ->check(CLI::IsMember({"text", "json", "markdown"}));
  backtest->add_option("--html", options->html, "also write a self-contained HTML report")
      ->type_name("FILE");
  backtest->add_option("--jobs", options->jobs, "sites run at once (default: the cores)")
      ->check(CLI::Range(1u, 1024u));
  backtest
      ->add_option("--shard", options->shard,
                   "run only shard K of N: every N-th site by sorted name, from the K-th")
      ->type_name("K/N");
  backtest
      ->add_option("--bad-rows", options->bad_rows,
                   "a history row that cannot be read (an empty, \"-\" or \"53.5V\" reading, a "
                   "bad time): fail (default) fails the site at FILE:LINE, skip makes it no round "
                   "and counts it in the site's result")
      ->check(CLI::IsMember({"fail", "skip"}));
  CLI::Option* merge = backtest->add_option(
      "--merge", options->merge,
      "combine the JSON documents of every shard of one run into the document of the whole "
      "run (with --html, its report too)");
  merge->type_name("FILE")->excludes(patch)->excludes(folder);
  backtest->add_option("--plugin", options->plugin,
                       "plug-in to load (default: beside this binary, then the installed one)");
  backtest
      ->add_option("--baseline-plugin", options->baseline_plugin,
                   "the build of the plug-in the baseline runs (default: --plugin's)")
      ->type_name("A.so");
  backtest
      ->add_option("--candidate-plugin", options->candidate_plugin,
                   "the build of the plug-in the candidate runs (default: --plugin's); with "
                   "--baseline-plugin, two releases of the driver over the same history")
      ->type_name("B.so");
  backtest
      ->add_option("--channel", options->channel,
                   "analog input of the rows (default: each side's ai_index, else 1)")
      ->check(CLI::Range(1, kMaxChannel));
  backtest->callback([&action, options] {
    if (options->merge.empty() && options->sites.empty()) {
      throw CLI::ValidationError("SITE", "give one or more SITE folders, or --merge FILE...");
    }
    if (!options->merge.empty() && !options->sites.empty()) {
      throw CLI::ValidationError("--merge", "takes shard documents, not SITE folders");
    }
    const bool two_builds = !options->baseline_plugin.empty() || !options->candidate_plugin.empty();
    if (options->merge.empty() && options->candidate_patch.empty() && options->candidate.empty() &&
        !two_builds) {
      throw CLI::RequiredError("--candidate-patch, --candidate or --candidate-plugin");
    }
    action = [options] { return RunBacktest(*options); };
  });
}

}  // namespace sim::cli
