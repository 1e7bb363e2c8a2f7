#include "sim/backtest/markdown.h"

#include <sstream>
#include <vector>

#include "sim/backtest/document.h"
#include "sim/report/text.h"

namespace sim::cli {
namespace {

long long Int(const Json::Value& value) {
  return value.isIntegral() ? static_cast<long long>(value.asInt64()) : 0;
}

std::string Pair(const Json::Value& pair) {
  return std::to_string(Int(pair["baseline"])) + " -> " + std::to_string(Int(pair["candidate"]));
}

void FleetTable(const Json::Value& summary, std::ostream& out) {
  out << "**" << Int(summary["sites"]) << (Int(summary["sites"]) == 1 ? " site" : " sites")
      << "**, " << Int(summary["sites_changed"]) << " changed, " << Int(summary["sites_failed"])
      << " failed, " << Int(summary["rounds"]) << " rounds.\n\n";
  out << "| alarm | raised, baseline -> candidate | sites raising it later | largest delay |\n"
         "|---|---|--:|--:|\n";
  for (const std::string& id : summary["alarms_raised"].getMemberNames()) {
    const Json::Value& pair = summary["alarms_raised"][id];
    const Json::Value& delayed = summary["alarms_delayed"][id]["delayed"];
    out << "| " << MarkdownEscaped(id + " " + pair["name"].asString()) << " | " << Pair(pair)
        << " | " << Int(delayed["sites"]) << " | "
        << (delayed.isNull() ? "" : SignedDuration(Int(delayed["largest_seconds"]))) << " |\n";
  }
  out << "| discharge reports | " << Pair(summary["discharge_reports"]) << " | | |\n\n";
}

// A change in a few words: "110610050010 raised 24 -> 26, first raised +34m14s".
std::string ChangeCell(const Json::Value& change) {
  std::string text = change["kind"].asString() == "discharge_reports"
                         ? "discharge reports"
                         : MarkdownEscaped(change["alarm"].asString()) + " raised";
  text += " " + Pair(change);
  if (change.isMember("delay_seconds")) {
    text += ", first raised " + SignedDuration(Int(change["delay_seconds"]));
  }
  return text;
}

void SiteTable(const Json::Value& sites, std::ostream& out) {
  std::vector<const Json::Value*> shown;
  for (const Json::Value* site : SitesByChange(sites)) {
    if (site->isMember("error") || !(*site)["changes"].empty()) shown.push_back(site);
  }
  if (shown.empty()) {
    out << "No site changes.\n";
    return;
  }
  out << "## Sites, by how much changes\n\n| site | rounds | changes |\n|---|--:|---|\n";
  size_t row = 0;
  for (const Json::Value* site : shown) {
    if (row++ == kMarkdownSites) break;
    std::string cell;
    if (site->isMember("error"))
      cell = "**failed:** " + MarkdownEscaped((*site)["error"].asString());
    for (const Json::Value& change : (*site)["changes"]) {
      cell += (cell.empty() ? "" : "; ") + ChangeCell(change);
    }
    out << "| " << MarkdownEscaped((*site)["site"].asString()) << " | " << Int((*site)["rounds"])
        << " | " << cell << " |\n";
  }
  if (shown.size() > kMarkdownSites) {
    const size_t rest = shown.size() - kMarkdownSites;
    out << "\nand " << rest << (rest == 1 ? " more site" : " more sites") << " with changes.\n";
  }
}

void Findings(const Json::Value& sites, std::ostream& out) {
  bool any = false;
  for (const Json::Value& site : sites) {
    for (const Json::Value& finding : site["check"]["findings"]) {
      if (!any) out << "\n## The check of the candidate settings\n\n";
      any = true;
      std::string where = finding["place"].asString();
      if (where.empty()) where = finding["file"].asString();
      out << "- " << MarkdownEscaped(site["site"].asString()) << ": "
          << MarkdownEscaped(finding["severity"].asString() + " " + finding["code"].asString() +
                             " " + where + ": " + finding["message"].asString())
          << "\n";
    }
  }
}

// A path in a code span: escaped, a file name's underscores would be copied with it.
std::string Code(const std::string& text) {
  return text.find('`') == std::string::npos ? "`" + text + "`" : MarkdownEscaped(text);
}

void Builds(const Json::Value& run, std::ostream& out) {
  const Json::Value& plugins = run["plugins"];
  const bool differ = plugins["baseline"]["build_id"] != plugins["candidate"]["build_id"];
  bool any = false;
  for (const char* side : {"baseline", "candidate"}) {
    const Json::Value& plugin = plugins[side];
    const bool unread = plugin.isObject() && !plugin["state_read"].asBool();
    if (!differ && !unread) continue;
    if (!any) out << "## Builds of the plug-in\n\n";
    any = true;
    const std::string version =
        plugin["version"].isString() ? plugin["version"].asString() : "no version reported";
    out << "- " << side << ": " << Code(plugin["path"].asString()) << " ("
        << MarkdownEscaped(version) << ", build id `" << plugin["build_id"].asString() << "`)";
    if (unread) out << ": " << kStateUnread;
    out << "\n";
  }
  if (any) out << "\n";
}

}  // namespace

std::string MarkdownEscaped(const std::string& text) {
  // Only what marks up text inside a line: escaped dates and minus signs
  // would read badly as plain text.
  static const std::string kMarkup = "\\`*_[]<>|~&";
  std::string escaped;
  for (char c : ValidUtf8(text)) {
    if (c == '\n' || c == '\r' || c == '\t') {
      escaped += ' ';
      continue;
    }
    if (kMarkup.find(c) != std::string::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string FormatMarkdown(const Json::Value& document) {
  std::ostringstream out;
  out << "# Backtest\n\n";
  // Said where it shows: a pasted report carries no standard error with it.
  if (!HoldsValidUtf8(document)) out << "Note: " << kReplacedNote << ".\n\n";
  Builds(document["run"], out);
  FleetTable(document["summary"], out);
  SiteTable(document["sites"], out);
  Findings(document["sites"], out);
  return out.str();
}

}  // namespace sim::cli
