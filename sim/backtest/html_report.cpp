#include "sim/backtest/html_report.h"

#include <algorithm>
#include <map>
#include <sstream>

#include "sim/backtest/document.h"
#include "sim/report/text.h"

namespace sim::cli {
namespace {

constexpr const char* kStyle = R"(
body { font-family: 'Noto Sans CJK SC', 'WenQuanYi Micro Hei', sans-serif; margin: 2em; color: #222; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.6em; text-align: left; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
tr.changed td:first-child { font-weight: bold; }
tr.failed td { background: #fee; }
section { margin-top: 2.5em; }
svg { max-width: 100%; height: auto; border: 1px solid #eee; }
div.plots { display: flex; gap: 0.5em; } div.plots svg { width: 50%; }
.less { color: #070; } .more { color: #a00; }
)";

std::string Html(const std::string& text) { return XmlEscaped(text); }

std::string Number(const Json::Value& value) { return std::to_string(value.asInt64()); }

// "12 → 0", coloured by which way it moves.
std::string Pair(const Json::Value& pair) {
  const long long baseline = pair["baseline"].asInt64(), candidate = pair["candidate"].asInt64();
  const char* kind = candidate < baseline ? "less" : candidate > baseline ? "more" : "";
  return "<td class=\"n\">" + std::to_string(baseline) + "</td><td class=\"n " + kind + "\">" +
         std::to_string(candidate) + "</td>";
}

// "+34m14s": how much later the candidate first raises; empty for no number.
std::string Delay(const Json::Value& seconds) {
  if (!seconds.isNumeric()) return "";
  // A median of an even count may fall on a half second: whole seconds shown, as in the text.
  const long long value = static_cast<long long>(seconds.asDouble());
  return value == 0 ? Duration(0) : SignedDuration(value);
}

// "2026-03-27T16:01:43+00:00 → 16:35:57+00:00": the candidate's date only
// where it is another day.
std::string FirstRaised(const Json::Value& first) {
  const std::string baseline = first["baseline"].asString();
  std::string candidate = first["candidate"].asString();
  if (baseline.size() > 11 && candidate.size() > 11 &&
      baseline.compare(0, 11, candidate, 0, 11) == 0) {
    candidate.erase(0, 11);
  }
  return baseline + " \u2192 " + candidate;
}

void FleetTable(const Json::Value& summary, std::ostream& out) {
  out << "<h2>Fleet</h2>\n<p>" << Number(summary["sites"]) << " sites, "
      << Number(summary["sites_changed"]) << " changed, " << Number(summary["sites_failed"])
      << " failed, " << Number(summary["rounds"]) << " rounds.</p>\n";
  out << "<table><tr><th>alarm id</th><th>name</th><th>raised, baseline</th>"
         "<th>raised, candidate</th><th>sites delayed</th><th>largest delay</th>"
         "<th>median delay</th></tr>\n";
  for (const std::string& id : summary["alarms_raised"].getMemberNames()) {
    const Json::Value& pair = summary["alarms_raised"][id];
    out << "<tr><td>" << Html(id) << "</td><td>" << Html(pair["name"].asString()) << "</td>"
        << Pair(pair);
    const Json::Value& delayed = summary["alarms_delayed"][id]["delayed"];
    if (delayed.isObject()) {
      out << "<td class=\"n\">" << Number(delayed["sites"]) << "</td><td class=\"n\">"
          << Delay(delayed["largest_seconds"]) << "</td><td class=\"n\">"
          << Delay(delayed["median_seconds"]) << "</td>";
    } else {
      out << "<td></td><td></td><td></td>";
    }
    out << "</tr>\n";
  }
  out << "<tr><td colspan=\"2\">discharge reports</td>" << Pair(summary["discharge_reports"])
      << "<td colspan=\"3\"></td></tr>\n<tr><td colspan=\"2\">change-based reports</td>"
      << Pair(summary["ao_reports"]) << "<td colspan=\"3\"></td></tr>\n</table>\n";
}

void SiteTable(const std::vector<const Json::Value*>& sites, std::ostream& out) {
  out << "<h2>Sites, by how much changes</h2>\n<table><tr><th>site</th><th>rounds</th>"
         "<th>from</th><th>to</th><th>changes</th></tr>\n";
  for (const Json::Value* site : sites) {
    const bool failed = site->isMember("error");
    const bool changed = !(*site)["changes"].empty();
    out << "<tr"
        << (failed    ? " class=\"failed\""
            : changed ? " class=\"changed\""
                      : "")
        << "><td>" << Html((*site)["site"].asString()) << "</td><td class=\"n\">"
        << Number((*site)["rounds"]) << "</td><td>" << Html((*site)["from"].asString())
        << "</td><td>" << Html((*site)["to"].asString()) << "</td><td>"
        << (failed ? Html((*site)["error"].asString()) : std::to_string((*site)["changes"].size()))
        << "</td></tr>\n";
  }
  out << "</table>\n";
}

void List(const char* title, const Json::Value& items, std::ostream& out) {
  if (items.empty()) return;
  out << "<p>" << title << ":</p>\n<ul>\n";
  for (const Json::Value& item : items) out << "<li>" << Html(item.asString()) << "</li>\n";
  out << "</ul>\n";
}

// Per alarm either side raised: raises, time raised and flapping of each side.
void AlarmTable(const Json::Value& site, std::ostream& out) {
  const Json::Value& baseline = site["baseline"]["alarms"];
  const Json::Value& candidate = site["candidate"]["alarms"];
  std::vector<std::string> ids;
  if (baseline.isObject()) ids = baseline.getMemberNames();
  if (candidate.isObject()) {
    for (const std::string& id : candidate.getMemberNames()) {
      if (!baseline.isMember(id)) ids.push_back(id);
    }
  }
  if (ids.empty()) return;
  std::sort(ids.begin(), ids.end());
  out << "<table class=\"alarms\"><tr><th>alarm</th><th colspan=\"2\">raised</th>"
         "<th colspan=\"2\">time raised</th><th colspan=\"2\">flapping</th></tr>\n"
         "<tr><th></th><th>baseline</th><th>candidate</th><th>baseline</th><th>candidate</th>"
         "<th>baseline</th><th>candidate</th></tr>\n";
  for (const std::string& id : ids) {
    const Json::Value& one = baseline[id];
    const Json::Value& other = candidate[id];
    const std::string name =
        one.isMember("name") ? one["name"].asString() : other["name"].asString();
    const auto pair = [&](const char* key) {
      Json::Value both;
      both["baseline"] = one[key].isNumeric() ? one[key] : Json::Value(0);
      both["candidate"] = other[key].isNumeric() ? other[key] : Json::Value(0);
      return both;
    };
    const auto duration = [](const Json::Value& side) {
      return "<td class=\"n\">" +
             (side["seconds_raised"].isNumeric() ? Duration(side["seconds_raised"].asInt64())
                                                 : std::string("0s")) +
             "</td>";
    };
    out << "<tr><td>" << Html(id + " " + name) << "</td>" << Pair(pair("raised")) << duration(one)
        << duration(other) << Pair(pair("flapping")) << "</tr>\n";
  }
  out << "</table>\n";
}

void SiteSection(const Json::Value& site, const std::string* svg, std::ostream& out) {
  out << "<section><h3>" << Html(site["site"].asString()) << "</h3>\n";
  if (site.isMember("error")) out << "<p>" << Html(site["error"].asString()) << "</p>\n";
  if (site["partial"].asBool()) {
    out << "<p>Partial: the figures cover the rounds before the site failed.</p>\n";
  }
  List("Skipped in history/", site["skipped"], out);
  Json::Value findings(Json::arrayValue);
  for (const Json::Value& finding : site["check"]["findings"]) {
    findings.append(finding["severity"].asString() + " " + finding["code"].asString() + " " +
                    finding["place"].asString() + ": " + finding["message"].asString());
  }
  List("The check of the candidate settings", findings, out);
  if (!site["changes"].empty()) {
    out << "<table><tr><th>change</th><th>alarm</th><th>baseline</th><th>candidate</th>"
           "<th>first raised</th><th>delay</th><th>first differences</th></tr>\n";
    for (const Json::Value& change : site["changes"]) {
      const Json::Value& first = change["first_raised"];
      out << "<tr><td>" << Html(change["kind"].asString()) << "</td><td>"
          << Html(change["alarm"].asString() + " " + change["name"].asString()) << "</td>"
          << Pair(change) << "<td>";
      if (first.isObject()) out << Html(FirstRaised(first));
      out << "</td><td class=\"n\">" << Delay(change["delay_seconds"]) << "</td><td>";
      for (const Json::Value& time : change["first_differences"]) {
        out << Html(time.asString()) << "<br>";
      }
      out << "</td></tr>\n";
    }
    out << "</table>\n";
  }
  AlarmTable(site, out);
  if (svg != nullptr) out << "<div class=\"plots\">" << *svg << "</div>\n";
  out << "</section>\n";
}

}  // namespace

void PlotKeeper::Add(long long change_size, const std::string& site, std::string svg) {
  std::lock_guard<std::mutex> lock(mutex_);
  plots_.push_back({change_size, site, std::move(svg)});
  if (plots_.size() >= 2 * kPlottedSites) Trim();
}

void PlotKeeper::Trim() {
  std::sort(plots_.begin(), plots_.end(), [](const Plot& a, const Plot& b) {
    return a.size != b.size ? a.size > b.size : a.site < b.site;
  });
  if (plots_.size() > kPlottedSites) plots_.resize(kPlottedSites);
}

std::vector<std::pair<std::string, std::string>> PlotKeeper::Plots() {
  std::lock_guard<std::mutex> lock(mutex_);
  Trim();
  std::vector<std::pair<std::string, std::string>> plots;
  for (Plot& plot : plots_) plots.emplace_back(plot.site, std::move(plot.svg));
  plots_.clear();
  return plots;
}

std::string HtmlReport(const Json::Value& document,
                       const std::vector<std::pair<std::string, std::string>>& plots) {
  const std::map<std::string, std::string> by_site(plots.begin(), plots.end());
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<title>aikorvane-sim backtest</title>\n<style>"
      << kStyle
      << "</style>\n</head>\n<body>\n<h1>Backtest: baseline and candidate settings</h1>\n";
  Json::Value checked = document;
  if (RepairUtf8(checked) > 0) out << "<p>Some names: " << kReplacedNote << ".</p>\n";
  // Which build each side ran, when they differ, and a build whose state is not read.
  std::istringstream builds(PluginsText(document["run"]));
  for (std::string line; std::getline(builds, line);) out << "<p>" << Html(line) << "</p>\n";
  FleetTable(document["summary"], out);
  const auto sites = SitesByChange(document["sites"]);
  SiteTable(sites, out);
  out << "<h2>Plots</h2>\n<p>Voltage of the baseline (lowest and highest per column), "
         "thresholds dashed, and a lane per side for each alarm: red baseline, blue candidate. "
         "Discharge reports: rings for the baseline, diamonds for the candidate; each marker and "
         "lane names its side and time when pointed at. Beside each whole history, the hour "
         "either side of the first difference, each raise drawn on its own. The "
      << kPlottedSites << " sites that change most are drawn.</p>\n";
  for (const Json::Value* site : sites) {
    const auto plot = by_site.find((*site)["site"].asString());
    if (plot != by_site.end() || site->isMember("error") || !(*site)["changes"].empty() ||
        !(*site)["skipped"].empty() || !(*site)["check"]["findings"].empty()) {
      SiteSection(*site, plot != by_site.end() ? &plot->second : nullptr, out);
    }
  }
  out << "</body>\n</html>\n";
  return out.str();
}

}  // namespace sim::cli
