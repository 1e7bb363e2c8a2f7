#include "sim/report/summary.h"

#include <iomanip>
#include <sstream>

#include "config/device_contract.h"
#include "sim/report/text.h"

namespace sim::cli {
namespace {

// "round 12 (2026-01-05 00:00:11)", the time only on the virtual clock.
std::string At(const Analysis& analysis, const RoundAt& at) {
  std::string text = "round " + std::to_string(at.round);
  if (analysis.on_clock) text += " (" + LocalTimeText(at.time) + ")";
  return text;
}

Json::Value AtJson(const Analysis& analysis, const std::optional<RoundAt>& at) {
  if (!at) return Json::Value();
  Json::Value json(Json::objectValue);
  json["round"] = at->round;
  json["time"] = analysis.on_clock ? Json::Value(LocalTimeText(at->time)) : Json::Value();
  return json;
}

void WriteAlarms(const Analysis& analysis, std::ostream& out) {
  out << "alarms raised and cleared: " << analysis.alarm_changes.size() + analysis.changes_not_kept
      << "\n";
  size_t shown = 0;
  for (const AlarmChange& change : analysis.alarm_changes) {
    if (shown++ == kSummaryListed) break;
    out << "  " << (analysis.on_clock ? LocalTimeText(change.at.time) + " " : "") << "round "
        << change.at.round << ": " << (change.raised ? "raised  " : "cleared ") << change.id << " "
        << change.name << "\n";
  }
  const long long more = static_cast<long long>(analysis.alarm_changes.size()) +
                         analysis.changes_not_kept - static_cast<long long>(kSummaryListed);
  if (more > 0) out << "  ... " << more << " more (each alarm's counts below)\n";
  for (const auto& [id, stats] : analysis.alarms) {
    if (stats.raises == 0) continue;
    out << "  " << id << " " << stats.name << ": raised " << stats.raises
        << (stats.raises == 1 ? " time" : " times") << ", first at "
        << At(analysis, *stats.first_raise);
    if (stats.last_clear) out << ", last cleared at " << At(analysis, *stats.last_clear);
    if (analysis.on_clock) out << ", " << DurationText(stats.seconds_raised) << " raised in all";
    out << " (" << stats.rounds_raised << (stats.rounds_raised == 1 ? " round)" : " rounds)");
    if (stats.flapping > 0) {
      out << ", " << stats.flapping << (stats.flapping == 1 ? " raise" : " raises")
          << " within a minute of a clear";
    }
    out << "\n";
  }
  for (const auto& [id, stats] : analysis.alarms) {
    if (stats.raised_since) {
      out << "  still raised at the end: " << id << " " << stats.name << " (since "
          << At(analysis, *stats.raised_since) << ")\n";
    }
  }
}

void WriteDischarges(const Analysis& analysis, std::ostream& out) {
  const std::vector<Discharge> discharges = GroupDischarges(analysis.discharge_reports);
  out << "discharge reports received: " << analysis.discharge_reports.size() << " in "
      << discharges.size() << (discharges.size() == 1 ? " discharge\n" : " discharges\n");
  size_t shown = 0;
  for (const Discharge& discharge : discharges) {
    if (shown++ == kSummaryListed) {
      out << "  ... " << discharges.size() - kSummaryListed << " more discharges\n";
      break;
    }
    out << "  discharge " << shown << ": ";
    if (discharge.start.play == aikorvane::kDischargeRunning) {
      out << "start at " << At(analysis, discharge.start.at)
          << " Play=1 His_DCV=" << discharge.start.voltage << ", " << discharge.progress
          << " progress report" << (discharge.progress == 1 ? "" : "s") << ", ";
    }
    if (discharge.end) {
      out << "end at " << At(analysis, discharge.end->at)
          << " Play=0 His_DCV=" << discharge.end->voltage;
    } else {
      out << "not ended";
    }
    out << "\n";
  }
  for (const DischargeReport& report : analysis.discharge_reports) {
    if (report.status == 200) continue;
    out << "  " << At(analysis, report.at) << ": Play=" << report.play
        << " His_DCV=" << report.voltage << " (" << report.path << ", answered " << report.status
        << ")\n";
  }
}

}  // namespace

std::string DurationText(long long seconds) {
  std::ostringstream text;
  if (seconds < 0) {
    text << '-';
    seconds = -seconds;
  }
  const long long hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
  if (hours > 0) text << hours << 'h' << std::setw(2) << std::setfill('0');
  if (hours > 0 || minutes > 0) text << minutes << 'm' << std::setw(2) << std::setfill('0');
  text << rest << 's';
  return text.str();
}

std::vector<Discharge> GroupDischarges(const std::vector<DischargeReport>& reports) {
  std::vector<Discharge> discharges;
  bool open = false;
  for (const DischargeReport& report : reports) {
    if (report.play == aikorvane::kDischargeEnded) {
      if (!open) discharges.push_back({report, 0, std::nullopt});
      discharges.back().end = report;
      open = false;
    } else if (open) {
      ++discharges.back().progress;
    } else {
      discharges.push_back({report, 0, std::nullopt});
      open = true;
    }
  }
  return discharges;
}

std::string FormatSummary(const Analysis& analysis) {
  std::ostringstream out;
  out << "== aikorvane-sim summary\n";
  // A refused cache record takes a round number but runs no round.
  out << "rounds: " << analysis.rounds - analysis.refused_caches;
  if (analysis.refused_caches > 0) {
    out << " (and " << analysis.refused_caches << " cache record"
        << (analysis.refused_caches == 1 ? "" : "s") << " refused)";
  }
  out << "\n";
  if (analysis.on_clock && analysis.first_round) {
    out << "clock: " << LocalTimeText(analysis.first_round->time) << " to "
        << LocalTimeText(analysis.last_round->time) << "\n";
  }
  if (analysis.first_voltage) {
    out << "voltage: first " << ShortNumber(*analysis.first_voltage) << ", last "
        << ShortNumber(*analysis.last_voltage) << "\n";
  }
  WriteAlarms(analysis, out);
  int reports = 0;
  for (const auto& entry : analysis.change_reports) reports += entry.second;
  out << "change-based reports sent: " << reports << "\n";
  for (const auto& [signal, count] : analysis.change_reports) {
    out << "  " << signal << ": " << count << "\n";
  }
  WriteDischarges(analysis, out);
  out << "errors: " << analysis.errors.size() << "\n";
  for (const std::string& error : analysis.errors) out << "  " << error << "\n";
  return out.str();
}

Json::Value SummaryJson(const Analysis& analysis) {
  Json::Value json(Json::objectValue);
  json["rounds"] = analysis.rounds - analysis.refused_caches;
  json["refused_caches"] = analysis.refused_caches;
  json["first_round"] = AtJson(analysis, analysis.first_round);
  json["last_round"] = AtJson(analysis, analysis.last_round);
  json["first_voltage"] =
      analysis.first_voltage ? Json::Value(*analysis.first_voltage) : Json::Value();
  json["last_voltage"] =
      analysis.last_voltage ? Json::Value(*analysis.last_voltage) : Json::Value();
  json["alarm_changes"] =
      static_cast<Json::UInt64>(analysis.alarm_changes.size() + analysis.changes_not_kept);
  Json::Value& alarms = json["alarms"] = Json::Value(Json::arrayValue);
  for (const auto& [id, stats] : analysis.alarms) {
    Json::Value alarm(Json::objectValue);
    alarm["id"] = id;
    alarm["name"] = stats.name;
    alarm["raises"] = stats.raises;
    alarm["first_raise"] = AtJson(analysis, stats.first_raise);
    alarm["last_clear"] = AtJson(analysis, stats.last_clear);
    alarm["seconds_raised"] = analysis.on_clock
                                  ? Json::Value(static_cast<Json::Int64>(stats.seconds_raised))
                                  : Json::Value();
    alarm["rounds_raised"] = stats.rounds_raised;
    alarm["flapping"] = stats.flapping;
    alarm["raised_at_end"] = stats.raised_since.has_value();
    alarms.append(alarm);
  }
  Json::Value& change = json["change_reports"] = Json::Value(Json::objectValue);
  for (const auto& [signal, count] : analysis.change_reports) change[signal] = count;
  auto report_json = [&analysis](const DischargeReport& report) {
    Json::Value value = AtJson(analysis, report.at);
    value["play"] = report.play;
    value["voltage"] = report.voltage;
    value["status"] = report.status;
    return value;
  };
  Json::Value& discharges = json["discharges"] = Json::Value(Json::arrayValue);
  for (const Discharge& discharge : GroupDischarges(analysis.discharge_reports)) {
    Json::Value entry(Json::objectValue);
    entry["start"] = discharge.start.play == aikorvane::kDischargeRunning
                         ? report_json(discharge.start)
                         : Json::Value();
    entry["progress"] = discharge.progress;
    entry["end"] = discharge.end ? report_json(*discharge.end) : Json::Value();
    discharges.append(entry);
  }
  json["discharge_reports"] = static_cast<Json::UInt64>(analysis.discharge_reports.size());
  Json::Value& errors = json["errors"] = Json::Value(Json::arrayValue);
  for (const std::string& error : analysis.errors) errors.append(error);
  return json;
}

}  // namespace sim::cli
