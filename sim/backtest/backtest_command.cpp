#include "sim/backtest/backtest_command.h"

#include <json/reader.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <streambuf>
#include <thread>

#include "sim/backtest/document.h"
#include "sim/backtest/fleet.h"
#include "sim/backtest/html_report.h"
#include "sim/backtest/report_router.h"
#include "sim/backtest/site_run.h"
#include "sim/host/bounded_read.h"
#include "sim/host/event_log.h"
#include "sim/host/session.h"

namespace sim::cli {
namespace {

struct BacktestOptions {
  std::vector<std::string> sites;
  std::string candidate_patch;
  std::string candidate;
  std::string format = "text";
  std::string html;
  unsigned jobs = 0;
  std::string shard;
  std::vector<std::string> merge;
  std::string plugin;
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

bool ReadPatch(const std::string& path, Json::Value& patch, std::string& error) {
  std::string text, reason;
  if (!ReadBoundedFile(path, text, reason)) {
    error = path + ": cannot be read: " + reason;
    return false;
  }
  Json::CharReaderBuilder builder;
  builder["strictRoot"] = true;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &patch, &reason)) {
    error = path + ": not JSON: " + reason;
    return false;
  }
  if (!patch.isObject()) {
    error = path + ": a merge patch of settings must be a JSON object";
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
  std::cout << (options.format == "json" ? WriteJson(document) : FormatText(document))
            << std::flush;
  return document["summary"]["sites_failed"].asInt64() > 0 ? 1 : 0;
}

int RunBacktest(const BacktestOptions& options) {
  UseUtcUnlessZoneSet();
  const fs::path start = fs::current_path();
  std::string error;
  Json::Value document;
  if (!options.merge.empty()) {
    if (!MergeDocuments(options.merge, document, error)) return Fail(error, 2);
    return Output(options, document);
  }
  CandidateSource source;
  if (!options.candidate_patch.empty()) {
    if (!ReadPatch(Absolute(options.candidate_patch, start).string(), source.patch, error)) {
      return Fail(error, 2);
    }
  } else {
    source.folder = Absolute(options.candidate, start);
    if (!fs::is_directory(source.folder)) {
      return Fail("--candidate " + options.candidate + ": not a folder", 2);
    }
  }
  Shard shard;
  if (!options.shard.empty() && !ParseShard(options.shard, shard, error)) return Fail(error, 2);
  std::vector<SiteFolder> sites;
  if (!SiteFolders(options.sites, start, sites, error)) return Fail(error, 2);
  sites = ShardOf(sites, shard);

  // Opened before the run, so that a path that cannot be written says so at once.
  std::ofstream html;
  if (!options.html.empty()) {
    html.open(Absolute(options.html, start), std::ios::binary | std::ios::trunc);
    if (!html)
      return Fail("cannot write the report " + options.html + ": " + std::strerror(errno), 2);
  }
  // The router outlives the host's receiver, which hands it the requests.
  ReportRouter reports;
  Host host;
  error = host.Load(options.plugin, start);
  if (!error.empty()) return Fail(error, 2);
  error = host.StartReceiver(reports);
  if (!error.empty()) return Fail(error);

  std::mutex setup;
  PlotKeeper plots;
  SiteRunner runner{
      host, reports, source, options.channel, setup, options.html.empty() ? nullptr : &plots};
  runner.bad_rows = options.bad_rows == "skip" ? BadRows::kSkip : BadRows::kFail;
  const unsigned jobs =
      options.jobs > 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  Discard discard;
  std::streambuf* const console = std::cout.rdbuf(&discard);
  std::vector<Json::Value> results = RunSites(runner, sites, jobs);
  std::cout.rdbuf(console);
  if (chdir(start.c_str()) != 0) return Fail("cannot return to " + start.string());
  if (!MakeDocument(std::move(results), document, error)) return Fail(error, 2);
  if (html.is_open()) {
    html << HtmlReport(document, plots.Plots());
    if (!html.flush()) return Fail("cannot write the report " + options.html);
  }
  return Output(options, document);
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
      "when every site ran, 1 when a site's settings were refused or its history could not be "
      "read (the other sites are still reported), 2 for usage errors.");
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
  backtest->add_option("--format", options->format, "text (default) or json")
      ->check(CLI::IsMember({"text", "json"}));
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
      "combine the JSON documents of shards into the document of the whole run");
  merge->type_name("FILE")->excludes(patch)->excludes(folder);
  backtest->add_option("--plugin", options->plugin,
                       "plug-in to load (default: beside this binary, then the installed one)");
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
    if (options->merge.empty() && options->candidate_patch.empty() && options->candidate.empty()) {
      throw CLI::RequiredError("--candidate-patch or --candidate");
    }
    action = [options] { return RunBacktest(*options); };
  });
}

}  // namespace sim::cli
