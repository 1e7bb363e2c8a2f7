#include "sim/cli/report.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <set>
#include <sstream>

namespace sim::cli {
namespace {

// The value of one field of a form body ("a=1&b=2"), empty when absent.
std::string FormField(const std::string& body, const std::string& name) {
  size_t start = 0;
  while (start <= body.size()) {
    const size_t end = std::min(body.find('&', start), body.size());
    const std::string pair = body.substr(start, end - start);
    if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
    start = end + 1;
  }
  return {};
}

std::string Number(double value) {
  std::ostringstream text;
  text << std::setprecision(6) << value;
  return text.str();
}

std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace

void Analyser::Add(const Json::Value& event) {
  Analysis& analysis = analysis_;
  const std::string kind = event["event"].asString();
  const int round = event.isMember("round") ? event["round"].asInt() : 0;
  if (kind == "round") {
    analysis.rounds = std::max(analysis.rounds, round);
  } else if (kind == "LoadFromCache" && !event["result"].asBool()) {
    ++analysis.refused_caches;
  } else if (kind == "SendSP" && event["record"].isObject() && round > 0) {
    const double voltage = event["record"]["voltage"].asDouble();
    if (!analysis.first_voltage) analysis.first_voltage = voltage;
    analysis.last_voltage = voltage;
    // Enough for any plot; a long replay keeps its memory flat.
    if (analysis.voltage_by_round.size() < kMaxPlottedRounds) {
      analysis.voltage_by_round[round] = voltage;
    }
  } else if (kind == "CheckThresholdBool") {
    const Json::Value& texts = event["texts"];
    // The battery alarms and the alarm rules pass (alarm id, alarm id,
    // name, description); the limit tables pass (signal, alarm id, value,
    // message). Either way the alarm id stands second.
    const std::string id = texts[1].asString();
    const std::string name = texts[0].asString() == id ? texts[2].asString() : texts[0].asString();
    analysis.alarm_names[id] = name;
    const bool condition = event["condition"].asBool();
    bool& state = raised_[id];
    if (condition != state) {
      analysis.alarm_changes.push_back({round, id, name, condition});
      state = condition;
    }
  } else if (kind == "CheckAOReport") {
    ++analysis.change_reports[event["signal"].asString()];
  } else if (kind == "http") {
    const std::string body = event["body"].asString();
    analysis.discharge_reports.push_back({round, FormField(body, "Play"),
                                          FormField(body, "His_DCV"), event["path"].asString(),
                                          event["status"].asInt()});
  } else if (kind == "error") {
    std::string where = event["where"].asString();
    if (event.isMember("file")) {
      where = event["file"].asString() + ":" + std::to_string(event["line"].asInt());
    }
    analysis.errors.push_back(where + ": " + event["message"].asString());
  }
}

Analysis Analyser::Result() const {
  Analysis analysis = analysis_;
  for (const auto& [id, state] : raised_) {
    if (state) analysis.still_raised[id] = analysis.alarm_names[id];
  }
  return analysis;
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
  if (analysis.first_voltage) {
    out << "voltage: first " << Number(*analysis.first_voltage) << ", last "
        << Number(*analysis.last_voltage) << "\n";
  }
  out << "alarms raised and cleared: " << analysis.alarm_changes.size() << "\n";
  for (const AlarmChange& change : analysis.alarm_changes) {
    out << "  round " << change.round << ": " << (change.raised ? "raised  " : "cleared ")
        << change.id << " " << change.name << "\n";
  }
  for (const auto& [id, name] : analysis.still_raised) {
    out << "  still raised at the end: " << id << " " << name << "\n";
  }
  int reports = 0;
  for (const auto& entry : analysis.change_reports) reports += entry.second;
  out << "change-based reports sent: " << reports << "\n";
  for (const auto& [signal, count] : analysis.change_reports) {
    out << "  " << signal << ": " << count << "\n";
  }
  out << "discharge reports received: " << analysis.discharge_reports.size() << "\n";
  for (const DischargeReport& report : analysis.discharge_reports) {
    out << "  round " << report.round << ": Play=" << report.play << " His_DCV=" << report.voltage;
    if (report.status != 200) out << " (" << report.path << ", answered " << report.status << ")";
    out << "\n";
  }
  out << "errors: " << analysis.errors.size() << "\n";
  for (const std::string& error : analysis.errors) out << "  " << error << "\n";
  return out.str();
}

std::vector<Threshold> CollectThresholds(const Json::Value& settings,
                                         const std::map<std::string, std::string>& alarm_names) {
  std::vector<Threshold> thresholds;
  if (!settings.isObject()) return thresholds;
  auto number = [](const Json::Value& value, double& out) {
    if (value.isNumeric()) {
      out = value.asDouble();
      return true;
    }
    if (!value.isString()) return false;
    const std::string text = value.asString();
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(out);
  };
  const Json::Value& alarms = settings["hostSetting"]["alarms"];
  if (alarms.isObject()) {
    for (auto it = alarms.begin(); it != alarms.end(); ++it) {
      double value = 0;
      if (!it->isObject() || (*it)["level"].asInt() == 0 || !number((*it)["value"], value))
        continue;
      const auto name = alarm_names.find(it.name());
      thresholds.push_back(
          {name != alarm_names.end() && !name->second.empty() ? name->second : it.name(), value});
    }
  }
  const Json::Value& app = settings["appSetting"];
  if (app.isObject()) {
    double start = 0, end = 0;
    const bool has_start = number(app["discharge_v"], start) && start > 0.01;
    if (has_start) thresholds.push_back({"discharge start", start});
    if (has_start && number(app["discharge_v_end"], end) && end != start) {
      thresholds.push_back({"discharge end", end});
    }
  }
  const Json::Value& records = settings["thresholdSetting"];
  const bool limits = app.isObject() && app["b_mode"].asString() == "5";
  if (limits && records.isObject()) {
    for (const Json::Value& record : records) {
      if (!record.isObject()) continue;
      const std::string signal = record["SignalName"].asString();
      for (const char* key : {"UpValue", "Up2Value", "LowValue", "Low2Value"}) {
        double value = 0;
        if (number(record[key], value)) thresholds.push_back({signal + " " + key, value});
      }
    }
  }
  return thresholds;
}

std::string RenderSvg(const Analysis& analysis, const std::vector<Threshold>& thresholds) {
  // Alarm lanes sit below the chart, one per alarm that was ever raised.
  std::vector<std::string> lanes;
  for (const AlarmChange& change : analysis.alarm_changes) {
    if (std::find(lanes.begin(), lanes.end(), change.id) == lanes.end()) lanes.push_back(change.id);
  }
  const double width = 1000, left = 70, right = 250, top = 40, chart_height = 360;
  const double lane_height = 22, lanes_top = top + chart_height + 40;
  const double height = lanes_top + lane_height * static_cast<double>(lanes.size()) + 30;
  const double plot_width = width - left - right;

  const int rounds = std::max(analysis.rounds, 1);
  double low = 0, high = 1;
  bool any = false;
  auto widen = [&](double value) {
    if (!std::isfinite(value)) return;
    low = any ? std::min(low, value) : value;
    high = any ? std::max(high, value) : value;
    any = true;
  };
  for (const auto& entry : analysis.voltage_by_round) widen(entry.second);
  for (const Threshold& threshold : thresholds) widen(threshold.value);
  if (high - low < 1e-6) {
    low -= 1;
    high += 1;
  }
  const double pad = (high - low) * 0.08;
  low -= pad;
  high += pad;
  auto x_of = [&](double round) {
    return rounds <= 1 ? left + plot_width / 2
                       : left + (round - 1) / static_cast<double>(rounds - 1) * plot_width;
  };
  auto y_of = [&](double value) { return top + (high - value) / (high - low) * chart_height; };

  std::ostringstream svg;
  svg << std::fixed << std::setprecision(2);
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\" font-family=\"sans-serif\" "
      << "font-size=\"12\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg << "<text x=\"" << left << "\" y=\"24\" font-size=\"15\">aikorvane-sim: voltage by round"
      << "</text>\n";
  svg << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << plot_width << "\" height=\""
      << chart_height << "\" fill=\"none\" stroke=\"#888\"/>\n";
  // Value axis: five ticks.
  for (int i = 0; i <= 4; ++i) {
    const double value = low + (high - low) * i / 4;
    svg << "<line x1=\"" << left - 4 << "\" x2=\"" << left << "\" y1=\"" << y_of(value)
        << "\" y2=\"" << y_of(value) << "\" stroke=\"#888\"/>"
        << "<text x=\"" << left - 8 << "\" y=\"" << y_of(value) + 4 << "\" text-anchor=\"end\">"
        << Escape(Number(std::round(value * 100) / 100)) << "</text>\n";
  }
  svg << "<text x=\"" << left << "\" y=\"" << top + chart_height + 18 << "\">round 1</text>"
      << "<text x=\"" << left + plot_width << "\" y=\"" << top + chart_height + 18
      << "\" text-anchor=\"end\">round " << rounds << "</text>\n";
  // Alarm spans, shaded over the chart and drawn in their lanes.
  for (size_t lane = 0; lane < lanes.size(); ++lane) {
    const std::string& id = lanes[lane];
    const double lane_y = lanes_top + lane_height * static_cast<double>(lane);
    const auto name = analysis.alarm_names.find(id);
    svg << "<text x=\"" << left + plot_width + 8 << "\" y=\"" << lane_y + 14 << "\">"
        << Escape(id + " " + (name != analysis.alarm_names.end() ? name->second : ""))
        << "</text>\n";
    int raised_at = 0;
    auto span = [&](int from, int to) {
      const double x1 = x_of(from) - 2, x2 = x_of(to) + 2;
      svg << "<rect class=\"alarm\" x=\"" << x1 << "\" y=\"" << lane_y + 3 << "\" width=\""
          << x2 - x1 << "\" height=\"" << lane_height - 6 << "\" fill=\"#d33\"/>"
          << "<rect x=\"" << x1 << "\" y=\"" << top << "\" width=\"" << x2 - x1 << "\" height=\""
          << chart_height << "\" fill=\"#d33\" fill-opacity=\"0.06\"/>\n";
    };
    for (const AlarmChange& change : analysis.alarm_changes) {
      if (change.id != id) continue;
      if (change.raised) {
        raised_at = change.round;
      } else if (raised_at > 0) {
        span(raised_at, std::max(raised_at, change.round - 1));
        raised_at = 0;
      }
    }
    if (raised_at > 0) span(raised_at, rounds);
  }
  // Thresholds: dashed lines, labelled on the right.
  for (const Threshold& threshold : thresholds) {
    const double y = y_of(threshold.value);
    svg << "<line class=\"threshold\" x1=\"" << left << "\" x2=\"" << left + plot_width
        << "\" y1=\"" << y << "\" y2=\"" << y << "\" stroke=\"#e90\" stroke-dasharray=\"6 4\"/>"
        << "<text x=\"" << left + plot_width + 8 << "\" y=\"" << y + 4 << "\" fill=\"#a60\">"
        << Escape(threshold.label + " " + Number(threshold.value)) << "</text>\n";
  }
  // The voltage of every round.
  svg << "<polyline class=\"voltage\" fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\" "
         "points=\"";
  for (const auto& [round, voltage] : analysis.voltage_by_round) {
    if (std::isfinite(voltage)) svg << x_of(round) << "," << y_of(voltage) << " ";
  }
  svg << "\"/>\n";
  // Discharge reports: where and with which Play value they arrived.
  for (const DischargeReport& report : analysis.discharge_reports) {
    const auto voltage = analysis.voltage_by_round.find(report.round);
    if (voltage == analysis.voltage_by_round.end()) continue;
    const double x = x_of(report.round), y = y_of(voltage->second);
    svg << "<circle class=\"report\" cx=\"" << x << "\" cy=\"" << y << "\" r=\"5\" fill=\""
        << (report.play == "0" ? "#2a2" : "#c0c") << "\"><title>round " << report.round
        << " Play=" << Escape(report.play) << " His_DCV=" << Escape(report.voltage)
        << "</title></circle><text x=\"" << x << "\" y=\"" << y - 9
        << "\" text-anchor=\"middle\" font-size=\"10\">Play=" << Escape(report.play) << "</text>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace sim::cli
