#pragma once

// The backtest's result as one JSON document: sites in the order of their
// names, and a summary computed from those sites alone, so that the shards of
// a fleet merged give the document that one whole run gives.

#include <json/value.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "sim/backtest/tally.h"

namespace sim::cli {

// One side of a site: whether its settings were accepted, and what its
// device did.
struct SideOutcome {
  bool accepted = false;
  Analysis analysis;
};

struct SiteOutcome {
  std::string site;
  std::string error;  // why the site could not be compared, with FILE:LINE where one is known
  std::vector<std::string> skipped;  // entries of history/ that hold none of its rows
  long long rounds = 0;
  std::optional<std::time_t> from, to;
  SideOutcome baseline, candidate;
  std::vector<Change> changes;
  // Under --bad-rows skip: the rows of the history that were no round.
  std::optional<long long> skipped_rows;
  std::vector<std::string> skipped_first;  // "FILE:LINE" of the first few
  // Per side whose device's state cannot be read, why: what needs it is left out.
  std::vector<std::string> state_unread;
};

// A span of seconds in days, hours, minutes and seconds from the largest that
// is not zero ("34m14s", "1d0h0m5s", "0s"); negative ones with "-".
std::string Duration(long long seconds);
// The same with its sign always written ("+34m14s", "-5s", "+0s").
std::string SignedDuration(long long seconds);

// A time as ISO 8601 local time with its UTC offset ("2026-11-02T04:00:00+01:00").
std::string IsoTime(std::time_t time);

Json::Value SiteJson(const SiteOutcome& site);

// Said of a build whose devices' state cannot be read.
inline constexpr const char* kStateUnread =
    "built without this simulator's layout record, so its devices' state is not read: its "
    "counts come from its framework calls; plot thresholds, the default channel and the "
    "candidate check are left out";

// A side's build as the reports name it: "PATH (VERSION, build id HEX)".
std::string PluginText(const Json::Value& plugin);
// The run's builds, when the sides differ, and each build whose state is not
// read; empty when there is nothing to say.
std::string PluginsText(const Json::Value& run);

// {"sites": sites sorted by name, "summary": ...}. False with the reason when
// two sites share a name.
bool MakeDocument(std::vector<Json::Value> sites, Json::Value& document, std::string& error);

// How much a site changes, for ordering sites: raises and reports that differ.
long long ChangeSize(const Json::Value& site);
// The sites of a document, those that change most first (as given among equals).
std::vector<const Json::Value*> SitesByChange(const Json::Value& sites);

// The document as text: a line per changed or failed site, then the fleet.
std::string FormatText(const Json::Value& document);

// The document written as the command writes it (UTF-8, indented).
std::string WriteJson(const Json::Value& document);

}  // namespace sim::cli
