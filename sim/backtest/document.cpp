#include "sim/backtest/document.h"

#include <json/writer.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "config/device_contract.h"
#include "sim/report/summary.h"
#include "sim/report/text.h"

namespace sim::cli {
namespace {

Json::Value TimeOrNull(const std::optional<std::time_t>& time) {
  return time ? Json::Value(IsoTime(*time)) : Json::Value();
}

Json::Value Count(long long count) { return Json::Value(static_cast<Json::Int64>(count)); }

Json::Value SideJson(const SideOutcome& side) {
  Json::Value json(Json::objectValue);
  json["accepted"] = side.accepted;
  Json::Value& alarms = json["alarms"] = Json::Value(Json::objectValue);
  for (const auto& [id, alarm] : side.analysis.alarms) {
    if (alarm.raises == 0) continue;  // checked every round, never raised
    Json::Value& entry = alarms[id];
    entry["name"] = alarm.name;
    entry["raised"] = alarm.raises;
    entry["seconds_raised"] = Count(alarm.seconds_raised);
    entry["flapping"] = alarm.flapping;
    entry["first_raised"] = IsoTime(alarm.first_raise->time);
    entry["last_cleared"] =
        alarm.last_clear ? Json::Value(IsoTime(alarm.last_clear->time)) : Json::Value();
  }
  long long start = 0, progress = 0, end = 0;
  for (const Discharge& discharge : GroupDischarges(side.analysis.discharge_reports)) {
    start += discharge.start.play == aikorvane::kDischargeRunning;
    progress += discharge.progress;
    end += discharge.end.has_value();
  }
  json["discharge_reports"] = Count(static_cast<long long>(side.analysis.discharge_reports.size()));
  Json::Value& discharge = json["discharge"];
  discharge["start"] = Count(start);
  discharge["progress"] = Count(progress);
  discharge["end"] = Count(end);
  long long reports = 0;
  for (const auto& entry : side.analysis.change_reports) reports += entry.second;
  json["ao_reports"] = Count(reports);
  return json;
}

long long Int(const Json::Value& value) {
  return value.isIntegral() ? static_cast<long long>(value.asInt64()) : 0;
}

// Adds a site's per-side count into the summary's {"baseline","candidate"} pair.
void AddPair(Json::Value& pair, long long baseline, long long candidate) {
  pair["baseline"] = Count(Int(pair["baseline"]) + baseline);
  pair["candidate"] = Count(Int(pair["candidate"]) + candidate);
}

// Per alarm, the sites whose candidate raises it later than the baseline does.
// Taken from each site's own delay, so that merged shards give the median of
// the whole fleet.
Json::Value DelaySummary(std::map<std::string, std::vector<long long>>& delays,
                         const Json::Value& alarms) {
  Json::Value summary(Json::objectValue);
  for (auto& [id, seconds] : delays) {
    std::sort(seconds.begin(), seconds.end());
    const size_t n = seconds.size();
    Json::Value& entry = summary[id];
    entry["name"] = alarms[id]["name"];
    Json::Value& delayed = entry["delayed"];
    delayed["sites"] = Count(static_cast<long long>(n));
    delayed["largest_seconds"] = Count(seconds.back());
    const long long twice = seconds[(n - 1) / 2] + seconds[n / 2];
    delayed["median_seconds"] =
        twice % 2 == 0 ? Count(twice / 2) : Json::Value(static_cast<double>(twice) / 2);
  }
  return summary;
}

Json::Value Summary(const std::vector<Json::Value>& sites) {
  Json::Value summary(Json::objectValue);
  long long failed = 0, changed = 0, rounds = 0;
  Json::Value alarms(Json::objectValue);
  Json::Value discharge(Json::objectValue), ao(Json::objectValue);
  AddPair(discharge, 0, 0);
  AddPair(ao, 0, 0);
  std::map<std::string, std::vector<long long>> delays;  // alarm id -> the sites' delays
  for (const Json::Value& site : sites) {
    // A failed site's figures, partial at best, stay in its own result.
    if (site.isMember("error")) {
      ++failed;
      continue;
    }
    if (!site["changes"].empty()) ++changed;
    rounds += Int(site["rounds"]);
    const Json::Value& baseline = site["baseline"];
    const Json::Value& candidate = site["candidate"];
    for (const Json::Value* side : {&baseline, &candidate}) {
      for (const std::string& id : (*side)["alarms"].getMemberNames()) {
        const long long raised = Int((*side)["alarms"][id]["raised"]);
        Json::Value& pair = alarms[id];
        if (pair.isNull()) {
          pair["name"] = (*side)["alarms"][id]["name"];
          AddPair(pair, 0, 0);
        }
        if (side == &baseline) {
          AddPair(pair, raised, 0);
        } else {
          AddPair(pair, 0, raised);
        }
      }
    }
    for (const Json::Value& change : site["changes"]) {
      if (Int(change["delay_seconds"]) > 0) {
        delays[change["alarm"].asString()].push_back(Int(change["delay_seconds"]));
      }
    }
    AddPair(discharge, Int(baseline["discharge_reports"]), Int(candidate["discharge_reports"]));
    AddPair(ao, Int(baseline["ao_reports"]), Int(candidate["ao_reports"]));
  }
  summary["sites"] = Count(static_cast<long long>(sites.size()));
  summary["sites_changed"] = Count(changed);
  summary["sites_failed"] = Count(failed);
  summary["rounds"] = Count(rounds);
  summary["alarms_raised"] = alarms;
  summary["alarms_delayed"] = DelaySummary(delays, alarms);
  summary["discharge_reports"] = discharge;
  summary["ao_reports"] = ao;
  return summary;
}

std::string Times(const Json::Value& times) {
  std::string text;
  for (const Json::Value& time : times) text += (text.empty() ? "" : ", ") + time.asString();
  return text;
}

// "2026-03-27 16:01:43" of an ISO time; only its clock time when the day is
// that of same_day_as.
std::string ClockText(const std::string& iso, const std::string& same_day_as = "") {
  if (iso.size() < 19) return iso;
  if (same_day_as.compare(0, 10, iso, 0, 10) == 0) return iso.substr(11, 8);
  return iso.substr(0, 10) + " " + iso.substr(11, 8);
}

// One side's time raised and flapping of the alarm, or zeros when it never raised it.
void SideFigures(const Json::Value& alarm, long long& seconds, long long& flapping) {
  seconds = Int(alarm["seconds_raised"]);
  flapping = Int(alarm["flapping"]);
}

std::string ChangeText(const Json::Value& change, const Json::Value& site) {
  const std::string kind = change["kind"].asString();
  std::ostringstream out;
  if (kind == "discharge_reports") {
    out << "discharge reports ";
  } else {
    out << change["alarm"].asString() << " " << change["name"].asString() << ": raised ";
  }
  out << Int(change["baseline"]) << " -> " << Int(change["candidate"]);
  if (kind == "alarm_only_baseline") out << ", no longer raised";
  if (kind == "alarm_only_candidate") out << ", newly raised";
  if (kind == "alarm_times") out << ", in other rounds";
  if (change.isMember("first_raised")) {
    const std::string baseline = change["first_raised"]["baseline"].asString();
    out << ", first raised " << ClockText(baseline) << " -> "
        << ClockText(change["first_raised"]["candidate"].asString(), baseline) << " ("
        << SignedDuration(Int(change["delay_seconds"])) << ")";
  }
  if (kind != "discharge_reports") {
    const std::string id = change["alarm"].asString();
    long long b_seconds, b_flapping, c_seconds, c_flapping;
    SideFigures(site["baseline"]["alarms"][id], b_seconds, b_flapping);
    SideFigures(site["candidate"]["alarms"][id], c_seconds, c_flapping);
    out << ", time raised " << Duration(b_seconds) << " -> " << Duration(c_seconds) << ", flapping "
        << b_flapping << " -> " << c_flapping;
  }
  out << " (first differences: " << Times(change["first_differences"]) << ")";
  return out.str();
}

// A finding of the check as the check writes it, on one line.
std::string FindingText(const Json::Value& finding) {
  std::string text = finding["file"].asString();
  if (finding.isMember("line")) text += ":" + std::to_string(finding["line"].asInt());
  if (finding.isMember("column")) text += ":" + std::to_string(finding["column"].asInt());
  text += ": " + finding["severity"].asString() + " " + finding["code"].asString();
  const std::string place = finding["place"].asString();
  if (!place.empty() && place != finding["file"].asString()) text += " " + place;
  return text + ": " + finding["message"].asString();
}

}  // namespace

std::string Duration(long long seconds) {
  const long long magnitude = std::llabs(seconds);
  const long long parts[] = {magnitude / 86400, magnitude / 3600 % 24, magnitude / 60 % 60,
                             magnitude % 60};
  const char units[] = {'d', 'h', 'm', 's'};
  std::string text;
  for (size_t i = 0; i < 4; ++i) {
    // From the largest unit that is not zero on, so that 1h0m5s keeps its place values.
    if (parts[i] == 0 && text.empty() && i < 3) continue;
    text += std::to_string(parts[i]) + units[i];
  }
  return seconds < 0 ? "-" + text : text;
}

std::string SignedDuration(long long seconds) {
  return seconds < 0 ? Duration(seconds) : "+" + Duration(seconds);
}

std::string IsoTime(std::time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff;
  const long minutes = std::labs(offset) / 60;
  char zone[48];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return std::string(text) + zone;
}

std::string PluginText(const Json::Value& plugin) {
  const std::string version =
      plugin["version"].isString() ? plugin["version"].asString() : "no version reported";
  return plugin["path"].asString() + " (" + version + ", build id " +
         plugin["build_id"].asString() + ")";
}

std::string PluginsText(const Json::Value& run) {
  const Json::Value& plugins = run["plugins"];
  std::string text;
  if (plugins["baseline"]["build_id"] != plugins["candidate"]["build_id"]) {
    text = "plug-ins: baseline " + PluginText(plugins["baseline"]) + ", candidate " +
           PluginText(plugins["candidate"]) + "\n";
  }
  for (const char* side : {"baseline", "candidate"}) {
    if (!plugins[side].isObject() || plugins[side]["state_read"].asBool()) continue;
    text += std::string(side) + " plug-in " + plugins[side]["path"].asString() + ": " +
            kStateUnread + "\n";
  }
  return text;
}

Json::Value SiteJson(const SiteOutcome& site) {
  Json::Value json(Json::objectValue);
  json["site"] = site.site;
  if (!site.error.empty()) json["error"] = site.error;
  // A failed site's figures cover the rounds before it failed, not its history.
  if (!site.error.empty() && site.rounds > 0) json["partial"] = true;
  if (!site.skipped.empty()) {
    Json::Value& skipped = json["skipped"] = Json::Value(Json::arrayValue);
    for (const std::string& entry : site.skipped) skipped.append(entry);
  }
  json["rounds"] = Count(site.rounds);
  json["from"] = TimeOrNull(site.from);
  json["to"] = TimeOrNull(site.to);
  if (site.skipped_rows) {
    json["skipped_rows"] = Count(*site.skipped_rows);
    json["skipped_first"] = Json::Value(Json::arrayValue);
    for (const std::string& where : site.skipped_first) json["skipped_first"].append(where);
  }
  if (!site.state_unread.empty()) {
    Json::Value& unread = json["state_unread"] = Json::Value(Json::arrayValue);
    for (const std::string& why : site.state_unread) unread.append(why);
  }
  json["baseline"] = SideJson(site.baseline);
  json["candidate"] = SideJson(site.candidate);
  Json::Value& changes = json["changes"] = Json::Value(Json::arrayValue);
  for (const Change& change : site.changes) {
    Json::Value entry(Json::objectValue);
    entry["kind"] = change.kind;
    if (!change.alarm.empty()) {
      entry["alarm"] = change.alarm;
      entry["name"] = change.name;
    }
    entry["baseline"] = Count(change.baseline);
    entry["candidate"] = Count(change.candidate);
    Json::Value& times = entry["first_differences"] = Json::Value(Json::arrayValue);
    for (std::time_t time : change.first_differences) times.append(IsoTime(time));
    if (change.baseline_first && change.candidate_first) {
      entry["first_raised"]["baseline"] = IsoTime(*change.baseline_first);
      entry["first_raised"]["candidate"] = IsoTime(*change.candidate_first);
      entry["delay_seconds"] = Count(*change.candidate_first - *change.baseline_first);
    }
    changes.append(entry);
  }
  return json;
}

bool MakeDocument(std::vector<Json::Value> sites, Json::Value& document, std::string& error) {
  std::sort(sites.begin(), sites.end(), [](const Json::Value& a, const Json::Value& b) {
    return a["site"].asString() < b["site"].asString();
  });
  for (size_t i = 1; i < sites.size(); ++i) {
    if (sites[i]["site"] == sites[i - 1]["site"]) {
      error = "site " + sites[i]["site"].asString() + " is given twice";
      return false;
    }
  }
  document = Json::Value(Json::objectValue);
  Json::Value& list = document["sites"] = Json::Value(Json::arrayValue);
  for (const Json::Value& site : sites) list.append(site);
  document["summary"] = Summary(sites);
  return true;
}

long long ChangeSize(const Json::Value& site) {
  long long size = 0;
  for (const Json::Value& change : site["changes"]) {
    size += 1 + std::llabs(Int(change["baseline"]) - Int(change["candidate"]));
  }
  return size;
}

std::vector<const Json::Value*> SitesByChange(const Json::Value& sites) {
  std::vector<const Json::Value*> ordered;
  for (const Json::Value& site : sites) ordered.push_back(&site);
  std::stable_sort(ordered.begin(), ordered.end(), [](const Json::Value* a, const Json::Value* b) {
    return ChangeSize(*a) > ChangeSize(*b);
  });
  return ordered;
}

std::string FormatText(const Json::Value& document) {
  std::ostringstream out;
  out << PluginsText(document["run"]);
  for (const Json::Value& site : document["sites"]) {
    const std::string name = site["site"].asString();
    if (site.isMember("error")) out << name << ": error: " << site["error"].asString() << "\n";
    for (const Json::Value& entry : site["skipped"]) {
      out << name << ": skipped " << entry.asString() << "\n";
    }
    for (const Json::Value& finding : site["check"]["findings"]) {
      out << name << ": candidate: " << FindingText(finding) << "\n";
    }
    if (Int(site["skipped_rows"]) > 0) {
      const long long skipped = Int(site["skipped_rows"]);
      out << name << ": " << skipped << (skipped == 1 ? " bad row" : " bad rows")
          << " skipped, first at";
      for (const Json::Value& where : site["skipped_first"]) out << " " << where.asString();
      out << "\n";
    }
    const std::string changes = site["partial"].asBool() ? name + " (partial): " : name + ": ";
    for (const Json::Value& change : site["changes"]) {
      out << changes << ChangeText(change, site) << "\n";
    }
  }
  const Json::Value& summary = document["summary"];
  out << "fleet: " << Int(summary["sites"]) << " sites, " << Int(summary["sites_changed"])
      << " changed, " << Int(summary["sites_failed"]) << " failed, " << Int(summary["rounds"])
      << " rounds\n";
  for (const std::string& id : summary["alarms_raised"].getMemberNames()) {
    const Json::Value& pair = summary["alarms_raised"][id];
    out << "  " << id << " " << pair["name"].asString() << ": raised " << Int(pair["baseline"])
        << " -> " << Int(pair["candidate"]);
    const Json::Value& delayed = summary["alarms_delayed"][id]["delayed"];
    if (!delayed.isNull()) {
      out << ", raised later at " << Int(delayed["sites"])
          << (Int(delayed["sites"]) == 1 ? " site" : " sites") << ", by up to "
          << SignedDuration(Int(delayed["largest_seconds"])) << ", median "
          << SignedDuration(static_cast<long long>(delayed["median_seconds"].asDouble()));
    }
    out << "\n";
  }
  const Json::Value& discharge = summary["discharge_reports"];
  out << "  discharge reports: " << Int(discharge["baseline"]) << " -> "
      << Int(discharge["candidate"]) << "\n";
  return out.str();
}

std::string WriteJson(const Json::Value& document) {
  std::size_t repaired = 0;
  std::string text = JsonText(document, " ", &repaired) + "\n";
  if (repaired > 0) std::cerr << "aikorvane-sim: backtest: JSON: " << kReplacedNote << std::endl;
  return text;
}

}  // namespace sim::cli
